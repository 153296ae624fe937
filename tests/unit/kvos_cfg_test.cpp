// kvos cfg as its users see it: edits keep what they do not touch, and a
// file is never left half-written or silently shortened.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "support/testing.h"

using namespace kvtest;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

bool HasTempLeft(TempDir const& dir) {
  for (auto const& entry : std::filesystem::directory_iterator(dir.Path()))
    if (entry.path().filename().string().find(".kvos-") != std::string::npos) return true;
  return false;
}

// "status output| error text" of a run (without "| " when nothing went to
// the error output).
std::string Kvos(std::vector<std::string> args) {
  args.insert(args.begin(), "cfg");
  auto r = RunKvos(args);
  return std::to_string(r.status) + " " + r.out + (r.err.empty() ? "" : "| " + r.err);
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
  // The blank line before [Disk] was in the area of [Log]; the comment now
  // sets [Disk] off.
  EXPECT_EQ(ReadFile(file), "# app settings\n[Net]\nhost = example.org # who\n# end of net\n[Disk]\npath = /var/x y\n");

  // Missing things are failures with a message, and change nothing.
  std::string before = ReadFile(file);
  for (auto const& args : std::vector<std::vector<std::string>>{
           {"get", file, "None", "x"}, {"get", file, "Net", "none"}, {"del", file, "None"},
           {"del", file, "Net", "none"}, {"list", file, "None"}, {"get", dir / "missing.cfg", "a", "b"}})
    EXPECT_THAT(Kvos(args), StartsWith("1 | kvos cfg: "));
  EXPECT_THAT(Kvos({"get", dir.Path(), "a", "b"}), AllOf(StartsWith("1 | kvos cfg: "), HasSubstr("Is a directory")));
  EXPECT_EQ(ReadFile(file), before);

  EXPECT_FALSE(HasTempLeft(dir));
}

TEST(KvosCfg, RejectsWhatTheFileCannotHold) {
  TempDir dir;
  std::string file = dir / "app.cfg";
  WriteFile(file, "[S]\nk = v\n");
  for (auto const& args : std::vector<std::vector<std::string>>{
           {"set", file, "S", "k", "a # b"}, {"set", file, "S", "k", " padded"}, {"set", file, "S", "k", "\"quoted\""},
           {"set", file, "S", "1k", "v"}, {"set", file, "S S", "k", "v"}, {"get", file, "S"},
           {"set", file, "S", "k", "v", "--comment", "x\ny"}, {"set", file, "S", "k", "v", "--comment"}})
    EXPECT_THAT(Kvos(args), AllOf(StartsWith("2 | "), HasSubstr("Usage: kvos cfg")));
  EXPECT_EQ(ReadFile(file), "[S]\nk = v\n");
  EXPECT_THAT(Kvos({"--help"}), StartsWith("0 Usage: kvos cfg"));
}

TEST(KvosCfg, NeverWritesBackWhatTheReaderWouldLose) {
  TempDir dir;
  std::pair<std::string, int> const cases[] = {
      {"[S]\na = 1\n[a b]\nb = 2\n", 3},                        // the reader stops
      {"[S]\n# " + std::string(40000, 'x') + "\nb = 2\n", 2},  // split into two lines
      {std::string("[S]\na = 1\nb = 2\0tail\n", 20), 3},       // NUL byte
  };
  std::string file = dir / "lossy.cfg";
  for (auto const& [text, line] : cases) {
    WriteFile(file, text);
    std::string where = "lossy.cfg:" + std::to_string(line) + ":";
    EXPECT_THAT(Kvos({"set", file, "S", "a", "9"}), AllOf(StartsWith("1 | "), HasSubstr(where)));
    EXPECT_THAT(Kvos({"del", file, "S"}), StartsWith("1 "));
    EXPECT_EQ(ReadFile(file), text);
    EXPECT_THAT(Kvos({"check", file}), AllOf(StartsWith("1 "), HasSubstr(where)));
  }

  // Reading stops early: get still answers from what was read, and warns.
  std::string partial = dir / "partial.cfg";
  WriteFile(partial, "[S]\na = 1\n[a b]\n[T]\nb = 2\n");
  EXPECT_THAT(Kvos({"get", partial, "S", "a"}), AllOf(StartsWith("0 1\n| "), HasSubstr("partial.cfg:3")));
  EXPECT_THAT(Kvos({"get", partial, "T", "b"}),
              AllOf(StartsWith("1 | kvos cfg: "), HasSubstr("reading stops at line 3")));

  // A quoted value with '#' reads fine but cannot be written as it is.
  std::string quoted = dir / "quoted.cfg";
  WriteFile(quoted, "[S]\nk = \"a # b\"\n");
  EXPECT_EQ(Kvos({"get", quoted, "S", "k"}), "0 a # b\n");
  EXPECT_THAT(Kvos({"check", quoted}), StartsWith("0 "));
  EXPECT_THAT(Kvos({"set", quoted, "S", "other", "1"}), AllOf(StartsWith("1 | "), HasSubstr("would read back as")));
  EXPECT_EQ(ReadFile(quoted), "[S]\nk = \"a # b\"\n");

  WriteFile(dir / "fine.cfg", "# c\r\n[S]\r\na = 1\r\n");
  EXPECT_THAT(Kvos({"check", dir / "fine.cfg"}), AllOf(StartsWith("0 "), HasSubstr("read whole: 3 lines, 3 records")));
  EXPECT_FALSE(HasTempLeft(dir));
}

TEST(KvosCfg, ReplacesTheFileOnlyWhole) {
  TempDir dir;
  // Mode, line ends and the file behind a symbolic link are kept.
  std::string target = dir / "real.cfg", link = dir / "link.cfg";
  WriteFile(target, "[S]\r\na = 1\r\n");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  ASSERT_EQ(symlink("real.cfg", link.c_str()), 0);
  ASSERT_EQ(Kvos({"set", link, "S", "b", "2"}), "0 ");
  EXPECT_EQ(ReadFile(target), "[S]\r\na = 1\r\nb = 2\r\n");
  struct stat st;
  EXPECT_TRUE(lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  EXPECT_TRUE(stat(target.c_str(), &st) == 0 && (st.st_mode & 07777) == 0640u) << std::oct << st.st_mode;

  // A full disk while the new copy is written: the old file stays intact.
  // The file size limit makes the host refuse the write as a full disk
  // would; its signal is ignored so the write fails with an error.
  std::string file = dir / "big.cfg";
  std::string text = "[S]\n";
  for (int i = 0; i < 100; ++i) text += "key" + std::to_string(i) + " = value number " + std::to_string(i) + "\n";
  WriteFile(file, text);
  auto r = kvtest::Run({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"", KVOS_TOOL_PATH, "cfg", "set",
                        file, "S", "extra", "1"});
  EXPECT_THAT(std::to_string(r.status) + " " + r.err, AllOf(StartsWith("1 "), HasSubstr("the file is unchanged")));
  EXPECT_EQ(ReadFile(file), text);
  EXPECT_FALSE(HasTempLeft(dir));

  // Edits at the same time each keep their change.
  std::string shared = dir / "shared.cfg";
  std::vector<std::thread> editors;
  std::vector<int> status(8, -1);
  for (int i = 0; i < 8; ++i)
    editors.emplace_back(
        [&, i] { status[i] = RunKvos({"cfg", "set", shared, "S", "k" + std::to_string(i), "v"}).status; });
  for (auto& t : editors) t.join();
  EXPECT_THAT(status, ::testing::Each(0));
  std::string listed = RunKvos({"cfg", "list", shared, "S"}).out;
  for (int i = 0; i < 8; ++i) EXPECT_THAT(listed, HasSubstr("k" + std::to_string(i) + " = v\n"));
}

}  // namespace
