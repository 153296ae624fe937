// kvos cfg: reads and edits sectioned configuration files. An edit
// rewrites only the lines it names (cfg_edit.h) and replaces the file only
// by a complete, checked new copy (cfg_file.h).
#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "cfg_edit.h"
#include "cfg_file.h"
#include "command.h"

namespace kvos {
namespace {

using Korvane::cKV_CfgRecord;
using cfg::Document;
using cfg::EditResult;
using cfg::Outcome;

int Run(Args const& args);

Command const kCommand{
    "cfg", "read and edit sectioned configuration files",
    "Usage: kvos cfg get FILE SECTION NAME\n"
    "       kvos cfg set FILE SECTION NAME VALUE [--comment TEXT]\n"
    "       kvos cfg del FILE SECTION [NAME]\n"
    "       kvos cfg list FILE [SECTION]\n"
    "       kvos cfg check FILE\n"
    "\n"
    "get    prints the value of parameter NAME in the first section SECTION\n"
    "       as the reader takes it, warning when its line reads otherwise\n"
    "       than it looks.\n"
    "set    sets the parameter, creating the section, the parameter or the\n"
    "       file as needed; --comment replaces the parameter's comment (an\n"
    "       empty TEXT removes it).\n"
    "del    removes parameter NAME of the first section SECTION; without NAME\n"
    "       the section: its header, its parameters and the comments in it,\n"
    "       but not the comment block that leads into the next section.\n"
    "list   prints the section names, or the parameters of one section.\n"
    "check  lists the lines that keep kvos cfg from editing the file (exit\n"
    "       status 1), and notes lines that read otherwise than they look.\n"
    "\n"
    "Names are matched without regard to the case of A-Z. get, list and\n"
    "check read any input, once: a pipe as well (/dev/stdin).\n"
    "\n"
    "An edit rewrites only the lines it names: the changed parameter, the\n"
    "new section or parameter (with the file's line ends), the removed\n"
    "lines. Every other line stays as it was, byte for byte: spacing,\n"
    "comments, line ends, a byte order mark, lines the reader cannot use.\n"
    "\n"
    "An edit is refused, leaving the file unchanged, when the file cannot be\n"
    "edited safely: a line the reader rejects (it stops reading there), a\n"
    "carriage return without a line feed, a NUL byte, UTF-16 text, a line\n"
    "the edit would rewrite that does not say what the reader takes from it\n"
    "('key: value', 'name value') or would delete although its name reads\n"
    "shorter than it looks ('log.level = 3' as the parameter 'log'), or a\n"
    "line longer than the 32767 bytes the reader takes at once that the edit\n"
    "would cut, rewrite or put a parameter under. VALUE and TEXT must read\n"
    "back as given: no line break, no blank at either end, no '#' in VALUE,\n"
    "no double quote at either end of it, and with a TEXT, no unpaired\n"
    "double quote in it.\n"
    "\n"
    "Only regular files are edited, directly or through symbolic links;\n"
    "directories, devices, pipes, sockets, dangling links, the made-up files\n"
    "of /proc and /sys and files with more than one hard link are refused.\n"
    "An edit needs permission to write the file and its directory. The file\n"
    "is replaced by a complete new copy beside it, and only if it did not\n"
    "change since it was read. The copy keeps the file's mode, its access\n"
    "control list and other extended attributes, its owner where the process\n"
    "may set it (as root) and its group where the user belongs to it;\n"
    "otherwise they are the user's. Edits of one file by kvos take turns\n"
    "(one that waits more than a second for a lock says so). An interrupted\n"
    "edit leaves the file unchanged. The copy has no name until it is\n"
    "complete where the file system allows it (most local ones do), so an\n"
    "edit killed meanwhile leaves nothing behind; elsewhere the next edit of\n"
    "the file removes what a killed edit left.\n"
    "\n"
    "On Windows an edit refuses the host's device names (CON, NUL, AUX, PRN,\n"
    "COM1-9, LPT1-9, with any extension), streams of files (a ':' after\n"
    "the drive), files with the read-only attribute, directories and files\n"
    "with more than one hard link, and a\n"
    "file that another program holds open without letting it be written or\n"
    "replaced. The copy replaces the file through ReplaceFileW, which keeps\n"
    "its access control list, attributes and creation time; edits take\n"
    "turns through a lock that no other program's reads or writes meet.\n"
    "Ctrl-C or Ctrl-Break while the copy exists cancels the edit and leaves\n"
    "the file as it was. /dev/stdin names standard input there too.\n",
    Run};
KVOS_COMMAND(kCommand);

struct Parsed {
  Args positional;
  bool hasComment = false;
  std::string comment;
};

// Splits the arguments after the subcommand; -1 when they are fine, else
// the exit status of the usage error already reported.
int Parse(Args const& args, bool takesComment, Parsed& out) {
  bool options = true;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string const& a = args[i];
    if (options && a == "--") {
      options = false;
    } else if (options && a.rfind("--", 0) == 0) {
      if (takesComment && a == "--comment") {
        if (i + 1 >= args.size()) return UsageError(kCommand, "--comment needs a TEXT");
        out.hasComment = true;
        out.comment = args[++i];
      } else if (takesComment && a.rfind("--comment=", 0) == 0) {
        out.hasComment = true;
        out.comment = a.substr(10);
      } else {
        return UsageError(kCommand, "unknown option " + a.substr(0, a.find('=')));
      }
    } else {
      out.positional.push_back(a);
    }
  }
  if (!out.positional.empty() && out.positional[0].empty()) return UsageError(kCommand, "FILE must not be empty");
  return -1;
}

std::string Where(std::string const& file, int line) { return file + ":" + std::to_string(line) + ": "; }

// Reads an input for get, list and check, warning about what the reader
// does not read as it stands.
bool Load(std::string const& file, Document& doc, int& status, bool withNotes = false) {
  std::string bytes, why;
  if (!cfg::ReadInput(file, bytes, why)) {
    status = Failure(kCommand, "cannot read " + file + ": " + why);
    return false;
  }
  if (!doc.Load(std::move(bytes), withNotes)) {
    status = Failure(kCommand, "out of memory");
    return false;
  }
  return true;
}

void WarnIfMisread(std::string const& file, Document const& doc) {
  int shown = 0;
  for (cfg::Finding const& f : doc.Findings())
    if (f.blocking && shown++ < 3)
      std::fprintf(stderr, "kvos cfg: warning: %s%s\n", Where(file, f.line).c_str(), f.text.c_str());
}

std::string SectionNotFound(std::string const& file, std::string const& section, Document const& doc) {
  std::string text = "no section [" + section + "] in " + file;
  if (doc.StopLine() > 0) text += " (reading stops at line " + std::to_string(doc.StopLine()) + ")";
  return text;
}

std::string ParamNotFound(std::string const& file, std::string const& section, std::string const& name) {
  return "no parameter " + name + " in section [" + section + "] of " + file;
}

int Get(Args const& args) {
  Parsed p;
  if (int rc = Parse(args, false, p); rc >= 0) return rc;
  if (p.positional.size() != 3) return UsageError(kCommand, "get takes FILE SECTION NAME");
  std::string const& file = p.positional[0];
  Document doc;
  int status = kOk;
  if (!Load(file, doc, status)) return status;
  WarnIfMisread(file, doc);
  auto const& records = doc.Records();
  cKV_CfgRecord* section = records.FindSection(p.positional[1].c_str());
  if (section == nullptr) return Failure(kCommand, SectionNotFound(file, p.positional[1], doc));
  cKV_CfgRecord* param = records.FindParam(section, p.positional[2].c_str());
  if (param == nullptr) return Failure(kCommand, ParamNotFound(file, p.positional[1], p.positional[2]));
  // The value is what the reader takes from the line; say when a person
  // would read the line otherwise.
  for (cKV_CfgRecord const* record : {section, param})
    if (cfg::Finding note = doc.NoteOn(record); note.line > 0)
      std::fprintf(stderr, "kvos cfg: warning: %s%s\n", Where(file, note.line).c_str(), note.text.c_str());
  std::printf("%s\n", static_cast<char const*>(param->GetValue()));
  return kOk;
}

int List(Args const& args) {
  Parsed p;
  if (int rc = Parse(args, false, p); rc >= 0) return rc;
  if (p.positional.size() != 1 && p.positional.size() != 2) return UsageError(kCommand, "list takes FILE [SECTION]");
  std::string const& file = p.positional[0];
  Document doc;
  int status = kOk;
  if (!Load(file, doc, status)) return status;
  WarnIfMisread(file, doc);
  auto const& records = doc.Records();
  if (p.positional.size() == 1) {
    for (cKV_CfgRecord* r = records.GetFirst(); r != nullptr; r = records.GetNext(r))
      if (r->GetType() == Korvane::eCfgSection) std::printf("%s\n", static_cast<char const*>(r->GetName()));
    return kOk;
  }
  cKV_CfgRecord* section = records.FindSection(p.positional[1].c_str());
  if (section == nullptr) return Failure(kCommand, SectionNotFound(file, p.positional[1], doc));
  for (cKV_CfgRecord* r = records.GetNext(section); r != nullptr && r->GetType() != Korvane::eCfgSection;
       r = records.GetNext(r))
    if (r->GetType() == Korvane::eCfgParam)
      std::printf("%s = %s\n", static_cast<char const*>(r->GetName()), static_cast<char const*>(r->GetValue()));
  return kOk;
}

int Check(Args const& args) {
  Parsed p;
  if (int rc = Parse(args, false, p); rc >= 0) return rc;
  if (p.positional.size() != 1) return UsageError(kCommand, "check takes FILE");
  std::string const& file = p.positional[0];
  Document doc;
  int status = kOk;
  if (!Load(file, doc, status, true)) return status;
  std::size_t notes = 0;
  for (cfg::Finding const& f : doc.Findings()) {
    std::printf("%s%s%s\n", Where(file, f.line).c_str(), f.blocking ? "" : "note: ", f.text.c_str());
    notes += f.blocking ? 0 : 1;
  }
  if (doc.Omitted() > 0) std::printf("%s: %zu more lines to report, not shown\n", file.c_str(), doc.Omitted());
  if (doc.Blocking() != nullptr) {
    std::printf("%s: not read as it stands; kvos cfg does not edit it\n", file.c_str());
    return kFailed;
  }
  std::printf("%s: read whole: %d lines, %u records", file.c_str(), doc.LineCount(), doc.RecordCount());
  notes += doc.Omitted();
  if (notes > 0) std::printf(", %zu note%s", notes, notes == 1 ? "" : "s");
  std::printf("\n");
  return kOk;
}

// Runs one edit on the file, from opening it to replacing it.
template <class EditFn>
int Edit(std::string const& file, std::string const& section, std::string const* name, bool mayCreate, EditFn edit) {
  for (int attempt = 0;; ++attempt) {
    cfg::FileEdit f;
    std::string why;
    auto waiting = [&file] { std::fprintf(stderr, "kvos cfg: waiting for %s, which another program has locked\n", file.c_str()); };
    if (f.Open(file, mayCreate, why, waiting) != cfg::Status::kOk)
      return Failure(kCommand, "cannot edit " + file + ": " + why);
    Document doc;
    if (!doc.Load(f.Bytes())) return Failure(kCommand, "out of memory; the file is unchanged");
    EditResult r = edit(doc);
    switch (r.outcome) {
      case Outcome::kChanged:
        break;
      case Outcome::kUnchanged:
        return kOk;
      case Outcome::kNoSection:
        return Failure(kCommand, SectionNotFound(file, section, doc));
      case Outcome::kNoParam:
        return Failure(kCommand, ParamNotFound(file, section, name != nullptr ? *name : ""));
      case Outcome::kRefused:
        return Failure(kCommand, (r.line > 0 ? Where(file, r.line) : "cannot edit " + file + ": ") + r.reason +
                                     (f.Exists() ? "; the file is unchanged" : ""));
      case Outcome::kNoMemory:
        return Failure(kCommand, "out of memory; the file is unchanged");
    }
    cfg::Status status = f.Replace(doc.NewText(), why);
    if (status == cfg::Status::kOk) return kOk;
    if (status == cfg::Status::kAgain && attempt < 10) continue;
    if (status == cfg::Status::kAgain) why = "other programs keep creating it";
    return Failure(kCommand, "cannot write " + file + ": " + why);
  }
}

int Set(Args const& args) {
  Parsed p;
  if (int rc = Parse(args, true, p); rc >= 0) return rc;
  if (p.positional.size() != 4) return UsageError(kCommand, "set takes FILE SECTION NAME VALUE [--comment TEXT]");
  std::string const& file = p.positional[0];
  std::string const& section = p.positional[1];
  std::string const& name = p.positional[2];
  std::string const& value = p.positional[3];
  char const* const kNameRule = "must be letters, digits, '_', '-' or bytes above 127, not starting with a digit";
  if (!cfg::IsName(section)) return UsageError(kCommand, std::string("SECTION ") + kNameRule);
  if (!cfg::IsName(name)) return UsageError(kCommand, std::string("NAME ") + kNameRule);
  if (std::string problem = cfg::ValueProblem(value); !problem.empty())
    return UsageError(kCommand, "VALUE cannot be stored as given: " + problem);
  if (std::string problem = cfg::CommentProblem(p.comment); p.hasComment && !problem.empty())
    return UsageError(kCommand, "the comment cannot be stored as given: " + problem);
  if (p.hasComment && !p.comment.empty() && std::count(value.begin(), value.end(), '"') % 2 != 0)
    return UsageError(kCommand, "VALUE cannot be stored with a comment: after its unpaired double quote, the "
                                "reader would take the comment for part of the value");
  std::string const* comment = p.hasComment ? &p.comment : nullptr;
  return Edit(file, section, &name, true,
              [&](Document& doc) { return doc.Set(section, name, value, comment); });
}

int Del(Args const& args) {
  Parsed p;
  if (int rc = Parse(args, false, p); rc >= 0) return rc;
  if (p.positional.size() != 2 && p.positional.size() != 3) return UsageError(kCommand, "del takes FILE SECTION [NAME]");
  std::string const& section = p.positional[1];
  std::string const* name = p.positional.size() == 3 ? &p.positional[2] : nullptr;
  return Edit(p.positional[0], section, name, false, [&](Document& doc) { return doc.Delete(section, name); });
}

int Run(Args const& args) {
  if (args.empty()) return UsageError(kCommand, "missing subcommand");
  try {
    if (args[0] == "get") return Get(args);
    if (args[0] == "set") return Set(args);
    if (args[0] == "del") return Del(args);
    if (args[0] == "list") return List(args);
    if (args[0] == "check") return Check(args);
  } catch (std::bad_alloc const&) {
    return Failure(kCommand, "out of memory; no file was changed");
  }
  if (args[0].rfind("--", 0) == 0) return UsageError(kCommand, "unknown option " + args[0].substr(0, args[0].find('=')));
  return UsageError(kCommand, "unknown subcommand '" + args[0] + "'");
}

}  // namespace
}  // namespace kvos
