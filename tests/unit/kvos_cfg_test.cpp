// kvos cfg as its users see it: edits change only what they name, a file is
// never damaged, split from its other names or handed to another owner,
// and a refusal says why and leaves everything as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <tuple>
#include <vector>

#include "support/testing.h"

using namespace kvtest;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

// The most the reader takes of a line at once.
constexpr std::size_t kPiece = 32767;

bool HasCopyLeft(std::string const& dir) {
  for (auto const& entry : std::filesystem::directory_iterator(dir))
    if (entry.path().filename().string().find(".kvos-") != std::string::npos) return true;
  return false;
}

// "status output| error text" of a run (without "| " when nothing went to
// the error output).
std::string Said(RunResult const& r) { return std::to_string(r.status) + " " + r.out + (r.err.empty() ? "" : "| " + r.err); }

std::string Kvos(std::vector<std::string> args, std::string const& input = "") {
  args.insert(args.begin(), "cfg");
  return Said(RunKvos(args, input));
}

std::vector<std::string> Lines(std::string const& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

// How two texts differ: the lines of the one run that differs, as
// "-old lines|+new lines" counts and the first line where they differ.
struct Diff {
  std::size_t at, gone, added;
};
// A last line without line end counts as ended (it gains one when lines
// are added after it).
Diff Compare(std::string const& before, std::string const& after) {
  std::vector<std::string> a = Lines(before), b = Lines(after);
  for (auto* lines : {&a, &b})
    if (!lines->empty() && lines->back().back() != '\n') lines->back() += "\n";
  std::size_t head = 0, tail = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
  while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) ++tail;
  return {head, a.size() - head - tail, b.size() - head - tail};
}

TEST(KvosCfg, ReadsAndEditsKeepingCommentsAndOrder) {
  TempDir dir;
  std::string file = dir / "app.cfg";
  WriteFile(file, "# app settings\n[Net]\nport = 80 # default\n# end of net\n[Log]\nlevel = 2\n");
  EXPECT_EQ(Kvos({"get", file, "net", "PORT"}), "0 80\n");
  EXPECT_EQ(Kvos({"set", file, "Net", "port", "8080"}), "0 ");
  EXPECT_TRUE(Kvos({"set", file, "Net", "host", "example.org", "--comment", "who"}) == "0 " &&
              Kvos({"set", file, "Disk", "path", "/var/x y"}) == "0 ");
  EXPECT_EQ(ReadFile(file),
            "# app settings\n[Net]\nport = 8080 # default\nhost = example.org # who\n# end of net\n[Log]\n"
            "level = 2\n\n[Disk]\npath = /var/x y\n");
  EXPECT_EQ(Kvos({"list", file}), "0 Net\nLog\nDisk\n");
  EXPECT_EQ(Kvos({"list", file, "NET"}), "0 port = 8080\nhost = example.org\n");

  EXPECT_TRUE(Kvos({"del", file, "Net", "port"}) == "0 " && Kvos({"del", file, "log"}) == "0 ");
  // The blank line that set [Disk] off stays with it.
  EXPECT_EQ(ReadFile(file), "# app settings\n[Net]\nhost = example.org # who\n# end of net\n\n[Disk]\npath = /var/x y\n");
  // Setting what is already there leaves the file alone.
  std::string const id = FileId(file);
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(Kvos({"set", file, "disk", "PATH", "/var/x y"}), "0 ");
  EXPECT_EQ(FileId(file), id);
  // An empty comment removes the comment.
  EXPECT_EQ(Kvos({"set", file, "Net", "host", "example.org", "--comment", ""}), "0 ");
  EXPECT_THAT(ReadFile(file), HasSubstr("[Net]\nhost = example.org\n# end of net\n"));

  // Missing things are failures with a message, and change nothing.
  std::string before = ReadFile(file);
  for (auto const& args : std::vector<std::vector<std::string>>{
           {"get", file, "None", "x"}, {"get", file, "Net", "none"}, {"del", file, "None"},
           {"del", file, "Net", "none"}, {"list", file, "None"}, {"get", dir / "missing.cfg", "a", "b"},
           {"del", dir / "missing.cfg", "a"}})
    EXPECT_THAT(Kvos(args), StartsWith("1 | kvos cfg: "));
  EXPECT_THAT(Kvos({"get", dir.Path(), "a", "b"}), AllOf(StartsWith("1 | kvos cfg: "), HasSubstr("Is a directory")));
  EXPECT_EQ(ReadFile(file), before);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.cfg"));
  EXPECT_FALSE(HasCopyLeft(dir.Path()));
}

TEST(KvosCfg, ArgumentsThatCannotBeStoredAreUsageErrors) {
  TempDir dir;
  std::string file = dir / "app.cfg";
  WriteFile(file, "[S]\nk = v\n");
  for (auto const& args : std::vector<std::vector<std::string>>{
           {"set", file, "S", "k", "a # b"}, {"set", file, "S", "k", " padded"}, {"set", file, "S", "k", "padded\t"},
           {"set", file, "S", "k", "\"quoted"}, {"set", file, "S", "k", "line\nfeed"}, {"set", file, "S", "1k", "v"},
           {"set", file, "S S", "k", "v"}, {"set", file, "S", "a.b", "v"}, {"get", file, "S"},
           {"set", file, "S", "k", "v", "--comment", "x\ny"}, {"set", file, "S", "k", "v", "--comment", " x"},
           {"set", file, "S", "k", "v", "--comment"}, {"set", file, "S", "k", "a\"b", "--comment", "c"},
           {"set", file, "S", "k", "a\"b\"c\"d", "--comment=c"}, {"set", "", "s", "n", "v"}, {"get", "", "s", "n"},
           {"del", "", "s"}, {"list", ""}, {"check", ""}, {"frobnicate", file}})
    EXPECT_THAT(Kvos(args), AllOf(StartsWith("2 | "), HasSubstr("Usage: kvos cfg")));
  // Options it does not know, wherever they stand; after "--" they are data.
  for (auto const& args : std::vector<std::vector<std::string>>{{"set", file, "S", "k", "v", "--frob"},
                                                                {"--frob"},
                                                                {"get", "--comment", "c", file, "S", "k"},
                                                                {"list", file, "--frob=1"},
                                                                {"check", "--dry-run", file}}) {
    std::string said = Kvos(args);
    EXPECT_THAT(said, StartsWith("2 | kvos cfg: unknown option --")) << args.back();
    EXPECT_THAT(said, AllOf(HasSubstr(args.back() == "--frob=1" ? "--frob\n" : ""), HasSubstr("Usage: kvos cfg")));
  }
  EXPECT_EQ(ReadFile(file), "[S]\nk = v\n");
  EXPECT_EQ(Kvos({"set", file, "S", "k", "--comment=first", "--", "--v"}), "0 ");
  EXPECT_EQ(ReadFile(file), "[S]\nk = --v # first\n");
  // Paired double quotes inside a value leave the comment alone.
  EXPECT_EQ(Kvos({"set", file, "S", "k", "a\"b\"c", "--comment", "second"}), "0 ");
  EXPECT_EQ(Kvos({"get", file, "S", "k"}), "0 a\"b\"c\n");
  EXPECT_THAT(Kvos({"--help"}), AllOf(StartsWith("0 Usage: kvos cfg"), HasSubstr("its group where the user belongs")));
}

TEST(KvosCfg, RefusesWhatItCannotEditSafelyAndSaysWhere) {
  TempDir dir;
  struct Case {
    std::string text;
    std::vector<std::string> edit;
    int line;
  } const cases[] = {
      {"[S]\na = 1\n[a b]\nb = 2\n", {"set", "S", "a", "9"}, 3},   // the reader stops there
      {std::string("[S]\na = 1\nb = 2\0tail\n", 20), {"del", "S"}, 3},  // NUL byte
      {"[net]\rport = 80\rhost = h\r", {"set", "net", "port", "81"}, 1},  // lone CR line ends
      {std::string("\xFF\xFE[\0S\0]\0\n\0", 10), {"set", "S", "a", "1"}, 1},  // UTF-16
  };
  std::string file = dir / "bad.cfg";
  for (auto const& c : cases) {
    WriteFile(file, c.text);
    std::string where = "bad.cfg:" + std::to_string(c.line) + ":";
    std::vector<std::string> args = {c.edit[0], file};
    args.insert(args.end(), c.edit.begin() + 1, c.edit.end());
    EXPECT_THAT(Kvos(args), AllOf(StartsWith("1 | "), HasSubstr(where), HasSubstr("the file is unchanged")));
    EXPECT_EQ(ReadFile(file), c.text);
    EXPECT_THAT(Kvos({"check", file}), AllOf(StartsWith("1 "), HasSubstr(where), HasSubstr("not read as it stands")));
  }
  // A line that does not say what the reader takes from it is not
  // rewritten, but it does not keep other edits from being made.
  for (std::string const line : {"name value", "log.level = 3", "key: value"}) {
    std::string const name = line.substr(0, line.find_first_of(" .:"));
    WriteFile(file, "[S]\n" + line + "\nx = 1\n");
    EXPECT_THAT(Kvos({"set", file, "S", name, "v"}),
                AllOf(StartsWith("1 | "), HasSubstr("bad.cfg:2: '" + line + "' reads as the parameter '" + name + "'")));
    // get answers what the reader takes from it, and says so.
    EXPECT_EQ(Kvos({"get", file, "S", name}), "0 \n| kvos cfg: warning: " + file + ":2: '" + line +
                                                    "' reads as the parameter '" + name + "' with an empty value and the comment '" +
                                                    line.substr(name.size() + (line[name.size()] == ' ')) +
                                                    "', which is not what it seems to say\n");
    EXPECT_EQ(Kvos({"get", file, "S", "x"}), "0 1\n");
    EXPECT_EQ(Kvos({"set", file, "S", "x", "2"}), "0 ");
    EXPECT_EQ(ReadFile(file), "[S]\n" + line + "\nx = 2\n");
    EXPECT_THAT(Kvos({"check", file}), AllOf(HasSubstr("bad.cfg:2: note: '" + line + "' reads as the parameter"),
                                             HasSubstr("read whole: 3 lines, 3 records, 1 note\n")));
  }

  // Reading stops early: get still answers from what was read, and warns.
  std::string partial = dir / "partial.cfg";
  WriteFile(partial, "[S]\na = 1\n[a b]\n[T]\nb = 2\n");
  EXPECT_THAT(Kvos({"get", partial, "S", "a"}), AllOf(StartsWith("0 1\n| "), HasSubstr("partial.cfg:3")));
  EXPECT_THAT(Kvos({"get", partial, "T", "b"}),
              AllOf(StartsWith("1 | kvos cfg: "), HasSubstr("reading stops at line 3")));

  // A value longer than the reader's piece is cut, and get says so.
  WriteFile(file, "[S]\nlong = " + std::string(40000, 'v') + "\n");
  RunResult cut = RunKvos({"cfg", "get", file, "S", "long"});
  EXPECT_EQ(cut.out, std::string(kPiece - 7, 'v') + "\n");
  EXPECT_EQ(cut.err, "kvos cfg: warning: " + file + ":2: the line is 40008 bytes long and the reader reads it as 2 lines of "
                     "at most 32767 bytes\n");

  // A header that only the reader sees, in the middle of a long comment.
  WriteFile(file, "[S]\n# " + std::string(kPiece - 2, 'c') + "[ghost]\nk = 1\n");
  RunResult ghost = RunKvos({"cfg", "get", file, "ghost", "k"});
  EXPECT_EQ(ghost.out, "1\n");
  EXPECT_EQ(ghost.err, "kvos cfg: warning: " + file + ":2: the line is 32775 bytes long and the reader reads it as 2 lines of "
                       "at most 32767 bytes\n");
  EXPECT_THAT(Kvos({"set", file, "ghost", "k", "2"}),
              AllOf(StartsWith("1 | kvos cfg: " + file + ":2: the header [ghost] is only what the reader makes of part of "
                               "a longer line"),
                    HasSubstr("the file is unchanged")));

  // Long lines and quoted values are kept as they are around an edit.
  std::string kept = "[S]\r\n# " + std::string(40000, 'x') + "\r\nk = \"a # b\"\r\n";
  WriteFile(file, kept);
  EXPECT_EQ(Kvos({"set", file, "S", "other", "1"}), "0 ");
  EXPECT_EQ(ReadFile(file), kept + "other = 1\r\n");
  EXPECT_EQ(Kvos({"get", file, "S", "k"}), "0 a # b\n");
  EXPECT_FALSE(HasCopyLeft(dir.Path()));
}

// Every command over configuration files of the kinds people have: the
// editable ones change only in the lines an edit names, the others are
// refused whole.
TEST(KvosCfg, RealWorldFilesSurviveEveryCommand) {
  struct Sample {
    char const* name;
    bool editable;
    char const* section;
    char const* param;
    char const* value;
  } const samples[] = {
      {"app_settings.ini", true, "Import", "Extensions", "jpg,jpeg,png,cr2,nef"},
      {"backup-agent.service", true, "Service", "RestartSec", "30"},
      {"display.cfg", true, "display", "height", "1080"},
      {"game_server.cfg", true, "server", "port", "27015"},
      {"legacy_win.ini", true, "drivers", "timer", "timer.drv"},
      {"my.cnf", true, "mysqld", "max_connections", "151"},
      {"notepad_bom.ini", true, "Window", "Left", "120"},
      {"smb.conf", true, "homes", "browseable", "no"},
      {"tox.ini", true, "testenv", "commands", "pytest --cov=sorter {posargs}"},
      {"editorconfig", false, "", "", ""},
      {"gitconfig", false, "user", "email", "anna@example.org"},
      {"viewer.desktop", false, "", "", ""},
  };
  TempDir dir;
  std::size_t seen = 0;
  for (auto const& entry : std::filesystem::directory_iterator(KVOS_TEST_DATA_DIR "/cfg")) {
    ++seen;
    std::string name = entry.path().filename().string();
    auto sample = std::find_if(std::begin(samples), std::end(samples),
                               [&](Sample const& s) { return name == s.name; });
    ASSERT_NE(sample, std::end(samples)) << name << " has no entry here";
    SCOPED_TRACE(name);
    std::string const original = ReadFile(entry.path().string());
    std::string const file = dir / name;
    auto fresh = [&] { WriteFile(file, original); };
    fresh();

    EXPECT_THAT(Kvos({"check", file}), StartsWith(sample->editable ? "0 " : "1 "));
    EXPECT_THAT(Kvos({"list", file}), StartsWith("0 "));
    if (*sample->section != '\0') {
      EXPECT_EQ(Kvos({"get", file, sample->section, sample->param}).substr(0, std::strlen(sample->value) + 3),
                std::string("0 ") + sample->value + "\n");
      EXPECT_THAT(Kvos({"list", file, sample->section}), StartsWith("0 "));
    }
    if (!sample->editable) {
      for (auto const& args : std::vector<std::vector<std::string>>{
               {"set", file, "S", "k", "v"}, {"del", file, "user"}, {"del", file, "user", "name"}})
        EXPECT_THAT(Kvos(args), AllOf(StartsWith("1 | "), HasSubstr("the file is unchanged")));
      EXPECT_EQ(ReadFile(file), original);
      continue;
    }
    std::string const section = sample->section, param = sample->param;
    std::size_t const lines = Lines(original).size();

    ASSERT_EQ(Kvos({"set", file, section, param, "changed value"}), "0 ");
    Diff d = Compare(original, ReadFile(file));
    EXPECT_TRUE(d.gone == 1 && d.added == 1) << d.gone << " " << d.added;
    EXPECT_EQ(Kvos({"get", file, section, param}), "0 changed value\n");

    fresh();
    ASSERT_EQ(Kvos({"set", file, section, "added_key", "1", "--comment", "by kvos"}), "0 ");
    d = Compare(original, ReadFile(file));
    EXPECT_TRUE(d.gone == 0 && d.added == 1) << d.gone << " " << d.added;
    EXPECT_EQ(Kvos({"get", file, section, "added_key"}), "0 1\n");

    fresh();
    ASSERT_EQ(Kvos({"set", file, "added_section", "k", "v"}), "0 ");
    std::string grown = ReadFile(file);
    d = Compare(original, grown);
    EXPECT_TRUE(d.at == lines && d.gone == 0) << d.at << " " << d.gone;
    EXPECT_THAT(Kvos({"list", file}), HasSubstr("\nadded_section\n"));
    EXPECT_EQ(grown.back() == '\n', original.back() == '\n');

    fresh();
    ASSERT_EQ(Kvos({"del", file, section, param}), "0 ");
    d = Compare(original, ReadFile(file));
    EXPECT_TRUE(d.gone == 1 && d.added == 0) << d.gone << " " << d.added;

    fresh();
    std::string sections = RunKvos({"cfg", "list", file}).out;
    ASSERT_EQ(Kvos({"del", file, section}), "0 ");
    d = Compare(original, ReadFile(file));
    EXPECT_TRUE(d.gone >= 1 && d.added == 0) << d.gone << " " << d.added;
    EXPECT_NE(Lines(original)[d.at].find("[" + section + "]"), std::string::npos);
    EXPECT_EQ(Lines(RunKvos({"cfg", "list", file}).out).size(), Lines(sections).size() - 1);
    EXPECT_FALSE(HasCopyLeft(dir.Path()));
  }
  EXPECT_EQ(seen, std::size(samples));
}

// Standard input, a pipe here, read once by the name scripts use for it.
TEST(KvosCfg, ReadsStandardInputAsDevStdin) {
  std::string const text = "[a]\nx = 1\n";
  EXPECT_EQ(Kvos({"get", "/dev/stdin", "a", "x"}, text), "0 1\n");
  EXPECT_EQ(Kvos({"list", "/dev/stdin", "a"}, text), "0 x = 1\n");
  EXPECT_EQ(Kvos({"check", "/dev/stdin"}, text), "0 /dev/stdin: read whole: 2 lines, 2 records\n");
  EXPECT_THAT(Kvos({"get", "/dev/stdin", "a", "y"}, text), StartsWith("1 | kvos cfg: "));
}

// Edits of one file by many programs at once, the first of them making
// it: each gets its turn, none is lost, no copy is left.
TEST(KvosCfg, ConcurrentEditsTakeTurns) {
  TempDir dir;
  std::string const shared = dir / "shared.cfg";
  constexpr int kEditors = 12;
  std::vector<std::thread> editors;
  std::vector<RunResult> results(kEditors);
  for (int i = 0; i < kEditors; ++i)
    editors.emplace_back([&, i] { results[i] = RunKvos({"cfg", "set", shared, "S", "k" + std::to_string(i), "v"}); });
  for (auto& t : editors) t.join();
  for (auto const& r : results) EXPECT_EQ(r.status, 0) << r.err;
  std::string listed = RunKvos({"cfg", "list", shared, "S"}).out;
  for (int i = 0; i < kEditors; ++i) EXPECT_THAT(listed, HasSubstr("k" + std::to_string(i) + " = v\n"));
  EXPECT_FALSE(HasCopyLeft(dir.Path()));
}

}  // namespace
