// kvos cfg: reads and edits sectioned configuration files, keeping their
// comments and order. A file is replaced only by a complete new copy in the
// same directory followed by a rename, and only when the reader has read
// all of it and the copy reads back as the records it was written from.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "OS/oscfg.h"
#include "OS/oserror.h"
#include "command.h"

namespace kvos {
namespace {

using Korvane::cKV_CfgFile;
using Korvane::cKV_CfgRecord;
using Korvane::cKV_Error;

int Run(Args const& args);

Command const kCommand{
    "cfg", "read and edit sectioned configuration files",
    "Usage: kvos cfg get FILE SECTION NAME\n"
    "       kvos cfg set FILE SECTION NAME VALUE [--comment TEXT]\n"
    "       kvos cfg del FILE SECTION [NAME]\n"
    "       kvos cfg list FILE [SECTION]\n"
    "       kvos cfg check FILE\n"
    "\n"
    "get    prints the value of parameter NAME in the first section SECTION.\n"
    "set    sets the parameter, creating the section, the parameter or the\n"
    "       file as needed; --comment replaces the parameter's comment.\n"
    "del    removes the first section SECTION with everything in it, or only\n"
    "       its parameter NAME.\n"
    "list   prints the section names, or the parameters of one section.\n"
    "check  tells whether the whole file can be read, and which lines keep\n"
    "       the reader from reading it as it stands.\n"
    "\n"
    "Names are matched without regard to the case of A-Z. Comments, blank\n"
    "lines and the order of everything are kept. set and del refuse to write\n"
    "a file back that the reader cannot read whole, or whose new text would\n"
    "not read back as written; the old file is replaced only by a complete\n"
    "new copy, so a failure leaves it as it was.\n",
    Run};
KVOS_COMMAND(kCommand);

// The reader takes at most this many bytes of a line at a time and parses
// each piece as a line of its own.
constexpr std::size_t kPiece = 32767;

struct Problem {
  int line;
  std::string text;
};

// A configuration file as the library reads it, with what the reader would
// lose of it.
struct Loaded {
  std::string path;  // symbolic links resolved, so a rename replaces the file itself
  bool exists = false;
  bool crlf = false;  // every line ends in CR LF
  struct stat st {};
  std::vector<int> pieceLine;  // line number of every piece the reader reads
  std::vector<std::string> lines;
  std::vector<Problem> problems;
  int stopLine = 0;  // the line that stops the reader, 0 if none
  unsigned records = 0;
  cKV_CfgFile cfg;
};

bool ReadAll(std::string const& path, std::string& bytes, int& error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    error = EISDIR;
    return false;
  }
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      close(fd);
      return false;
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  return true;
}

// Loads `file`; a missing file is an empty one when `mayBeNew`. Returns an
// exit status other than kOk on failure, with the message printed.
int Load(std::string const& file, bool mayBeNew, Loaded& out) {
  char resolved[PATH_MAX];
  out.path = realpath(file.c_str(), resolved) != nullptr ? resolved : file;
  std::string bytes;
  int error = 0;
  if (!ReadAll(out.path, bytes, error)) {
    if (error == ENOENT && mayBeNew) return kOk;
    return Failure(kCommand, "cannot read " + file + ": " + std::strerror(error));
  }
  out.exists = true;
  stat(out.path.c_str(), &out.st);

  std::size_t crlfEnds = 0, lfEnds = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    std::size_t lf = bytes.find('\n', at);
    std::size_t end = lf == std::string::npos ? bytes.size() : lf + 1;
    std::string line = bytes.substr(at, end - at);
    int number = static_cast<int>(out.lines.size()) + 1;
    if (lf != std::string::npos) {
      ++lfEnds;
      if (lf > at && bytes[lf - 1] == '\r') ++crlfEnds;
    }
    std::size_t pieces = (line.size() + kPiece - 1) / kPiece;
    for (std::size_t i = 0; i < pieces; ++i) out.pieceLine.push_back(number);
    if (pieces > 1)
      out.problems.push_back({number, "longer than " + std::to_string(kPiece) + " bytes: the reader splits it into " +
                                          std::to_string(pieces) + " lines"});
    if (line.find('\0') != std::string::npos)
      out.problems.push_back({number, "holds a NUL byte: the reader ignores the rest of the line"});
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    out.lines.push_back(line);
    at = end;
  }
  out.crlf = lfEnds > 0 && crlfEnds == lfEnds;

  cKV_Error err;
  if (!out.cfg.ReadFile(err, out.path.c_str()))
    return Failure(kCommand, "cannot read " + file + ": " + static_cast<char const*>(err.GetText()));
  out.records = out.cfg.GetList().GetCount();
  if (out.records > out.pieceLine.size()) return Failure(kCommand, file + " changed while it was read");
  if (out.records < out.pieceLine.size()) {
    out.stopLine = out.pieceLine[out.records];
    out.problems.push_back({out.stopLine, "the reader stops here, and the lines after it are not read: " +
                                              Excerpt(out.lines[static_cast<std::size_t>(out.stopLine) - 1])});
  }
  return kOk;
}

void WarnIfPartial(std::string const& file, Loaded const& f) {
  if (f.stopLine > 0)
    std::fprintf(stderr, "kvos cfg: warning: %s:%d: reading stops at this line; the lines after it are not seen\n",
                 file.c_str(), f.stopLine);
}

std::string Describe(cKV_CfgRecord const* r) {
  if (r == nullptr) return "nothing";
  std::string text;
  switch (r->GetType()) {
    case Korvane::eCfgSection:
      text = "section [" + std::string(r->GetName()) + "]";
      break;
    case Korvane::eCfgParam:
      text = "parameter '" + std::string(r->GetName()) + "' with value '" + std::string(r->GetValue()) + "'";
      break;
    default:
      return "comment '" + Excerpt(std::string(r->GetComment())) + "'";
  }
  if (r->GetComment().Length() > 0) text += " and comment '" + Excerpt(std::string(r->GetComment())) + "'";
  return text;
}

bool Same(cKV_CfgRecord const* a, cKV_CfgRecord const* b) {
  return a->GetType() == b->GetType() && a->GetName() == b->GetName() && a->GetValue() == b->GetValue() &&
         a->GetComment() == b->GetComment();
}

bool IsBlankLine(cKV_CfgRecord const* r) {
  return r->GetType() == Korvane::eCfgComment && r->GetComment().Length() == 0;
}

// Compares what was written with what reads back. The writer adds blank
// lines before sections, so blank lines are left out of the comparison;
// nothing else may differ.
bool ReadsBackSame(cKV_CfgFile const& written, cKV_CfgFile const& back, std::string& why) {
  cKV_CfgRecord* a = written.GetFirst();
  cKV_CfgRecord* b = back.GetFirst();
  for (;;) {
    while (a != nullptr && IsBlankLine(a)) a = written.GetNext(a);
    while (b != nullptr && IsBlankLine(b)) b = back.GetNext(b);
    if (a == nullptr && b == nullptr) return true;
    if (a == nullptr || b == nullptr || !Same(a, b)) {
      why = "the " + Describe(a) + " would read back as " + Describe(b);
      return false;
    }
    a = written.GetNext(a);
    b = back.GetNext(b);
  }
}

bool ConvertToCrlf(std::string const& path) {
  std::string bytes;
  int error = 0;
  if (!ReadAll(path, bytes, error)) return false;
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 16);
  for (char c : bytes) {
    if (c == '\n') out += '\r';
    out += c;
  }
  int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n = write(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return close(fd) == 0;
}

// Holds back the usual interrupts while the new copy exists, so that it
// is either renamed into place or removed.
class InterruptsHeld {
 public:
  InterruptsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, s);
    sigprocmask(SIG_BLOCK, &held, &_old);
  }
  ~InterruptsHeld() { sigprocmask(SIG_SETMASK, &_old, nullptr); }
  InterruptsHeld(InterruptsHeld const&) = delete;
  InterruptsHeld& operator=(InterruptsHeld const&) = delete;

 private:
  sigset_t _old;
};

// Serialises edits by kvos in one directory: without it, two edits at once
// would each write back what they read and one of them would be lost while
// both report success. The file itself cannot carry the lock, since every
// edit replaces it.
class EditLock {
 public:
  explicit EditLock(std::string const& file) {
    char resolved[PATH_MAX];
    std::string path = realpath(file.c_str(), resolved) != nullptr ? resolved : file;
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    _fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A directory that cannot be opened fails the edit later, with a reason.
    if (_fd >= 0)
      while (flock(_fd, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~EditLock() {
    if (_fd >= 0) close(_fd);
  }
  EditLock(EditLock const&) = delete;
  EditLock& operator=(EditLock const&) = delete;

 private:
  int _fd = -1;
};

// Replaces the file with the records of `f` through a new copy beside it.
int WriteBack(std::string const& file, Loaded& f) {
  InterruptsHeld held;
  std::string dir = ".", base = f.path;
  std::size_t slash = f.path.rfind('/');
  if (slash != std::string::npos) {
    dir = slash == 0 ? "/" : f.path.substr(0, slash);
    base = f.path.substr(slash + 1);
  }
  std::string temp = (dir == "/" ? "" : dir) + "/." + base + ".kvos-XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return Failure(kCommand, "cannot create a new file in " + dir + ": " + std::strerror(errno));
  temp = name.data();
  mode_t mode;
  if (f.exists) {
    mode = f.st.st_mode & 07777;
    if (fchown(fd, f.st.st_uid, f.st.st_gid) != 0) {
      // Not the owner: the new file stays ours, as any editor's would.
    }
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd, mode);
  close(fd);

  auto fail = [&](std::string const& why) {
    unlink(temp.c_str());
    return Failure(kCommand, "cannot write " + file + ": " + why + (f.exists ? "; the file is unchanged" : ""));
  };

  cKV_Error err;
  errno = 0;
  if (!f.cfg.WriteFile(err, temp.c_str())) {
    std::string why = static_cast<char const*>(err.GetText());
    if (errno != 0) why += std::string(" (") + std::strerror(errno) + ")";
    return fail(why);
  }
  if (f.crlf && !ConvertToCrlf(temp)) return fail(std::string("cannot keep the CR LF line ends: ") + std::strerror(errno));

  cKV_CfgFile back;
  if (!back.ReadFile(err, temp.c_str())) return fail(static_cast<char const*>(err.GetText()));
  std::string why;
  if (!ReadsBackSame(f.cfg, back, why)) return fail("the file format cannot hold it: " + why);

  int tfd = open(temp.c_str(), O_RDONLY | O_CLOEXEC);
  if (tfd < 0 || fsync(tfd) != 0) {
    int e = errno;
    if (tfd >= 0) close(tfd);
    return fail(std::strerror(e));
  }
  close(tfd);
  if (rename(temp.c_str(), f.path.c_str()) != 0) return fail(std::strerror(errno));
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return kOk;
}

// Refuses to write back a file that the reader would not reproduce.
int CheckWritable(std::string const& file, Loaded const& f) {
  if (f.problems.empty()) return kOk;
  Problem const& p = f.problems.front();
  return Failure(kCommand, file + ":" + std::to_string(p.line) + ": " + p.text +
                               "; writing the file back would lose data, so it is left unchanged (see 'kvos cfg "
                               "check')");
}

bool IsNameChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c >= 128;
}

// Names that the file format can hold: name characters, no leading digit.
bool IsName(std::string const& name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  for (unsigned char c : name)
    if (!IsNameChar(c)) return false;
  return true;
}

bool HasEdgeBlank(std::string const& text) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  return !text.empty() && (blank(text.front()) || blank(text.back()));
}

std::string SectionNotFound(std::string const& file, std::string const& section, Loaded const& f) {
  std::string text = "no section [" + section + "] in " + file;
  if (f.stopLine > 0) text += " (reading stops at line " + std::to_string(f.stopLine) + ")";
  return text;
}

int Get(Args const& args) {
  if (args.size() != 4) return UsageError(kCommand, "get takes FILE SECTION NAME");
  Loaded f;
  if (int rc = Load(args[1], false, f)) return rc;
  WarnIfPartial(args[1], f);
  cKV_CfgRecord* section = f.cfg.FindSection(args[2].c_str());
  if (section == nullptr) return Failure(kCommand, SectionNotFound(args[1], args[2], f));
  cKV_CfgRecord* param = f.cfg.FindParam(section, args[3].c_str());
  if (param == nullptr) return Failure(kCommand, "no parameter " + args[3] + " in section [" + args[2] + "] of " + args[1]);
  std::printf("%s\n", static_cast<char const*>(param->GetValue()));
  return kOk;
}

int Set(Args const& args) {
  Args rest;
  bool hasComment = false;
  std::string comment;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--comment") {
      if (i + 1 >= args.size()) return UsageError(kCommand, "--comment needs a TEXT");
      hasComment = true;
      comment = args[++i];
    } else {
      rest.push_back(args[i]);
    }
  }
  if (rest.size() != 4) return UsageError(kCommand, "set takes FILE SECTION NAME VALUE [--comment TEXT]");
  std::string const& file = rest[0];
  std::string const& sectionName = rest[1];
  std::string const& name = rest[2];
  std::string const& value = rest[3];
  if (!IsName(sectionName))
    return UsageError(kCommand, "SECTION must be letters, digits, '_', '-' or bytes above 127, not starting with a digit");
  if (!IsName(name))
    return UsageError(kCommand, "NAME must be letters, digits, '_', '-' or bytes above 127, not starting with a digit");
  if (value.find_first_of("#\r\n") != std::string::npos || HasEdgeBlank(value) ||
      (!value.empty() && (value.front() == '"' || value.back() == '"')))
    return UsageError(kCommand,
                      "VALUE cannot be stored as given: it must hold no '#' or line break and neither begin nor end "
                      "with a blank or a double quote");
  if (hasComment && (comment.find_first_of("\r\n") != std::string::npos || HasEdgeBlank(comment)))
    return UsageError(kCommand, "the comment must hold no line break and neither begin nor end with a blank");

  EditLock lock(file);
  Loaded f;
  if (int rc = Load(file, true, f)) return rc;
  if (int rc = CheckWritable(file, f)) return rc;
  cKV_CfgRecord* section = f.cfg.SetSect(sectionName.c_str(), false, nullptr);
  if (section == nullptr || !f.cfg.SetParam(section, name.c_str(), value.c_str(), hasComment ? comment.c_str() : nullptr))
    return Failure(kCommand, "out of memory");
  return WriteBack(file, f);
}

int Del(Args const& args) {
  if (args.size() != 3 && args.size() != 4) return UsageError(kCommand, "del takes FILE SECTION [NAME]");
  EditLock lock(args[1]);
  Loaded f;
  if (int rc = Load(args[1], false, f)) return rc;
  if (int rc = CheckWritable(args[1], f)) return rc;
  cKV_CfgRecord* section = f.cfg.FindSection(args[2].c_str());
  if (section == nullptr) return Failure(kCommand, SectionNotFound(args[1], args[2], f));
  if (args.size() == 4) {
    if (!f.cfg.DelParam(section, args[3].c_str()))
      return Failure(kCommand, "no parameter " + args[3] + " in section [" + args[2] + "] of " + args[1]);
  } else {
    f.cfg.DelSect(args[2].c_str());
  }
  return WriteBack(args[1], f);
}

int List(Args const& args) {
  if (args.size() != 2 && args.size() != 3) return UsageError(kCommand, "list takes FILE [SECTION]");
  Loaded f;
  if (int rc = Load(args[1], false, f)) return rc;
  WarnIfPartial(args[1], f);
  if (args.size() == 2) {
    for (cKV_CfgRecord* r = f.cfg.GetFirst(); r != nullptr; r = f.cfg.GetNext(r))
      if (r->GetType() == Korvane::eCfgSection) std::printf("%s\n", static_cast<char const*>(r->GetName()));
    return kOk;
  }
  cKV_CfgRecord* section = f.cfg.FindSection(args[2].c_str());
  if (section == nullptr) return Failure(kCommand, SectionNotFound(args[1], args[2], f));
  for (cKV_CfgRecord* r = f.cfg.GetNext(section); r != nullptr && r->GetType() != Korvane::eCfgSection;
       r = f.cfg.GetNext(r))
    if (r->GetType() == Korvane::eCfgParam)
      std::printf("%s = %s\n", static_cast<char const*>(r->GetName()), static_cast<char const*>(r->GetValue()));
  return kOk;
}

int Check(Args const& args) {
  if (args.size() != 2) return UsageError(kCommand, "check takes FILE");
  Loaded f;
  if (int rc = Load(args[1], false, f)) return rc;
  for (Problem const& p : f.problems) std::printf("%s:%d: %s\n", args[1].c_str(), p.line, p.text.c_str());
  if (!f.problems.empty()) {
    std::printf("%s: not read as it stands\n", args[1].c_str());
    return kFailed;
  }
  std::printf("%s: read whole: %zu lines, %u records\n", args[1].c_str(), f.lines.size(), f.records);
  return kOk;
}

int Run(Args const& args) {
  if (args.empty()) return UsageError(kCommand, "missing subcommand");
  if (args[0] == "get") return Get(args);
  if (args[0] == "set") return Set(args);
  if (args[0] == "del") return Del(args);
  if (args[0] == "list") return List(args);
  if (args[0] == "check") return Check(args);
  return UsageError(kCommand, "unknown subcommand '" + args[0] + "'");
}

}  // namespace
}  // namespace kvos
