// kvos cfg as its users see it: edits keep what they do not touch, and a
// file is never left half-written or silently shortened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/testing.h"

using namespace kvtest;

namespace {

bool HasTempLeft(TempDir const& dir) {
  for (auto const& entry : std::filesystem::directory_iterator(dir.Path()))
    if (entry.path().filename().string().find(".kvos-") != std::string::npos) return true;
  return false;
}

// "status output" of a run, with the error text after a failure.
std::string Kvos(std::vector<std::string> args) {
  args.insert(args.begin(), "cfg");
  auto r = RunKvos(args);
  return std::to_string(r.status) + " " + r.out + (r.status == 0 ? "" : "| " + r.err);
}

TEST(KvosCfg, ReadsAndEditsKeepingCommentsAndOrder) {
  TempDir dir;
  std::string file = dir / "app.cfg";
  WriteFile(file, "# app settings\n[Net]\nport = 80 # default\n# end of net\n[Log]\nlevel = 2\n");
  EXPECT_EQ(Kvos({"get", file, "net", "PORT"}), "0 80\n");
  EXPECT_EQ(Kvos({"set", file, "Net", "port", "8080"}), "0 ");
  EXPECT_EQ(Kvos({"set", file, "Net", "host", "example.org", "--comment", "who"}), "0 ");
  EXPECT_EQ(Kvos({"set", file, "Disk", "path", "/var/x y"}), "0 ");
  EXPECT_EQ(ReadFile(file),
            "# app settings\n[Net]\nport = 8080 # default\nhost = example.org # who\n# end of net\n[Log]\n"
            "level = 2\n\n[Disk]\npath = /var/x y\n");
  EXPECT_EQ(Kvos({"list", file}), "0 Net\nLog\nDisk\n");
  EXPECT_EQ(Kvos({"list", file, "NET"}), "0 port = 8080\nhost = example.org\n");

  EXPECT_EQ(Kvos({"del", file, "Net", "port"}), "0 ");
  EXPECT_EQ(Kvos({"del", file, "log"}), "0 ");
  // The blank line before [Disk] was in the area of [Log]; the comment now
  // sets [Disk] off.
  EXPECT_EQ(ReadFile(file), "# app settings\n[Net]\nhost = example.org # who\n# end of net\n[Disk]\npath = /var/x y\n");

  // Missing things are failures with a message, and change nothing.
  std::string before = ReadFile(file);
  for (auto const& args : std::vector<std::vector<std::string>>{{"get", file, "None", "x"},
                                                                {"get", file, "Net", "none"},
                                                                {"del", file, "None"},
                                                                {"del", file, "Net", "none"},
                                                                {"list", file, "None"},
                                                                {"get", dir / "missing.cfg", "a", "b"}}) {
    EXPECT_EQ(Kvos(args).rfind("1 | kvos cfg: ", 0), 0u) << Kvos(args);
  }
  std::string directory = Kvos({"get", dir.Path(), "a", "b"});
  EXPECT_EQ(directory.rfind("1 | kvos cfg: ", 0), 0u) << directory;
  EXPECT_NE(directory.find("Is a directory"), std::string::npos);
  EXPECT_EQ(ReadFile(file), before);

  // set makes a new file.
  std::string fresh = dir / "new.cfg";
  EXPECT_EQ(Kvos({"set", fresh, "S", "k", ""}), "0 ");
  EXPECT_EQ(ReadFile(fresh), "[S]\nk = \n");
  EXPECT_FALSE(HasTempLeft(dir));
}

TEST(KvosCfg, RejectsWhatTheFileCannotHold) {
  TempDir dir;
  std::string file = dir / "app.cfg";
  WriteFile(file, "[S]\nk = v\n");
  for (auto const& args : std::vector<std::vector<std::string>>{
           {"cfg", "set", file, "S", "k", "a # b"},
           {"cfg", "set", file, "S", "k", " padded"},
           {"cfg", "set", file, "S", "k", "\"quoted\""},
           {"cfg", "set", file, "S", "1k", "v"},
           {"cfg", "set", file, "S S", "k", "v"},
           {"cfg", "set", file, "S", "k", "v", "--comment", "x\ny"},
           {"cfg", "set", file, "S", "k", "v", "--comment"},
           {"cfg", "get", file, "S"}}) {
    auto r = RunKvos(args);
    EXPECT_EQ(r.status, 2) << args[1] << " " << (args.size() > 5 ? args[5] : "");
    EXPECT_NE(r.err.find("Usage: kvos cfg"), std::string::npos);
  }
  EXPECT_EQ(ReadFile(file), "[S]\nk = v\n");
  auto help = RunKvos({"cfg", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: kvos cfg", 0), 0u);
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
    auto set = RunKvos({"cfg", "set", file, "S", "a", "9"});
    EXPECT_EQ(set.status, 1);
    EXPECT_NE(set.err.find(where), std::string::npos) << set.err;
    EXPECT_EQ(RunKvos({"cfg", "del", file, "S"}).status, 1);
    EXPECT_EQ(ReadFile(file), text);
    auto check = RunKvos({"cfg", "check", file});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find(where), std::string::npos) << check.out;
  }

  // Reading stops early: get still answers from what was read, and warns.
  std::string partial = dir / "partial.cfg";
  WriteFile(partial, "[S]\na = 1\n[a b]\n[T]\nb = 2\n");
  auto get = RunKvos({"cfg", "get", partial, "S", "a"});
  EXPECT_EQ(get.status, 0);
  EXPECT_EQ(get.out, "1\n");
  EXPECT_NE(get.err.find("partial.cfg:3"), std::string::npos);
  std::string later = Kvos({"get", partial, "T", "b"});
  EXPECT_EQ(later.rfind("1 | kvos cfg: ", 0), 0u) << later;
  EXPECT_NE(later.find("reading stops at line 3"), std::string::npos);

  // A quoted value with '#' reads fine but cannot be written as it is.
  std::string quoted = dir / "quoted.cfg";
  WriteFile(quoted, "[S]\nk = \"a # b\"\n");
  EXPECT_EQ(Kvos({"get", quoted, "S", "k"}), "0 a # b\n");
  EXPECT_EQ(Kvos({"check", quoted}).substr(0, 2), "0 ");
  std::string set = Kvos({"set", quoted, "S", "other", "1"});
  EXPECT_EQ(set.substr(0, 2), "1 ");
  EXPECT_NE(set.find("would read back as"), std::string::npos) << set;
  EXPECT_EQ(ReadFile(quoted), "[S]\nk = \"a # b\"\n");

  EXPECT_EQ(Kvos({"check", dir / "nothing.cfg"}).substr(0, 2), "1 ");
  WriteFile(dir / "fine.cfg", "# c\r\n[S]\r\na = 1\r\n");
  std::string fine = Kvos({"check", dir / "fine.cfg"});
  EXPECT_EQ(fine.substr(0, 2), "0 ");
  EXPECT_NE(fine.find("read whole: 3 lines, 3 records"), std::string::npos) << fine;
  EXPECT_FALSE(HasTempLeft(dir));
}

TEST(KvosCfg, ReplacesTheFileOnlyWhole) {
  TempDir dir;
  // Mode, line ends and the file behind a symbolic link are kept.
  std::string target = dir / "real.cfg";
  std::string link = dir / "link.cfg";
  WriteFile(target, "[S]\r\na = 1\r\n");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  ASSERT_EQ(symlink("real.cfg", link.c_str()), 0);
  ASSERT_EQ(RunKvos({"cfg", "set", link, "S", "b", "2"}).status, 0);
  EXPECT_EQ(ReadFile(target), "[S]\r\na = 1\r\nb = 2\r\n");
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // A full disk while the new copy is written: the old file stays intact.
  // The file size limit makes the host refuse the write as a full disk
  // would; its signal is ignored so the write fails with an error.
  std::string file = dir / "big.cfg";
  std::string text = "[S]\n";
  for (int i = 0; i < 100; ++i) text += "key" + std::to_string(i) + " = value number " + std::to_string(i) + "\n";
  WriteFile(file, text);
  auto r = kvtest::Run({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"", KVOS_TOOL_PATH, "cfg", "set",
                        file, "S", "extra", "1"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("the file is unchanged"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(file), text);
  EXPECT_FALSE(HasTempLeft(dir));
}

}  // namespace
