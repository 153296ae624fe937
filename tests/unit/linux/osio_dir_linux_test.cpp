// Directories and paths on Linux: the log directory from WDIR and the
// temporary directory, network paths from the mount table.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "OS/osio.h"
#include "support/testing.h"

using namespace Korvane;
using kvtest::ScopedFault;
using kvtest::ScopedRecordedRoot;
using kvtest::TempDir;

namespace {

std::string Text(cKV_String const& s) { return static_cast<char const*>(s); }

// The log directory chosen from WDIR, through a real directory tree.
std::string LogDirFor(char const* wdir) {
  wdir == nullptr ? unsetenv("WDIR") : setenv("WDIR", wdir, 1);
  std::string dir(static_cast<char const*>(osGetLogDir()));
  unsetenv("WDIR");
  return dir;
}

TEST(LogDir, ListedCandidatesInOrderAndTheTemporaryForm) {
  TempDir temp, tree;  // the temporary directory of the process; where the candidates live
  setenv("TMPDIR", temp.Path().c_str(), 1);
  std::string const inTemp = temp.Path() + "/TLQ_Logs/", app = tree / "app", missing = tree / "missing",
                    fresh = tree / "fresh", file = tree / "file";
  ASSERT_TRUE(osCreateDirectory(nullptr, app.c_str(), false));
  kvtest::WriteFile(file, "x");
  // In order: a row may rely on what the rows before it made.
  // WDIR, the directory chosen, one that must be made, ones that must not be
  std::tuple<std::string, std::string, std::string, std::vector<std::string>> const cases[] = {
      {"", inTemp, "", {inTemp}},
      // One candidate, with or without its separator, in either spelling.
      {app, app + "/Logs", "", {app + "/Logs"}},
      {app + "/", app + "/Logs", "", {}}, {tree.Path() + "\\app\\", app + "/Logs", "", {}},
      // The first candidate that exists wins; the missing ones are not made.
      {missing + ";" + app, app + "/Logs", "", {missing}},
      // Nothing exists: the first candidate alone is made, without parents.
      {fresh + ";" + missing, fresh + "/Logs", fresh, {missing, fresh + "/Logs"}},
      {tree / "a/b/c", inTemp, "", {tree / "a"}},
      // A trailing ';' ends the list: the candidate before it is still made.
      {tree / "trailing;", tree / "trailing/Logs", tree / "trailing", {}},
      // A leading ';' is the start of the first candidate (";/...", a
      // relative name that does not exist and cannot be made).
      {";" + app, inTemp, "", {}},
      // ";;" makes the second ';' part of the next candidate, which then does
      // not exist; so the first candidate is made.
      {missing + ";;" + app, missing + "/Logs", missing, {}},
      // The last ';' of ";;" at the end is a candidate of its own, ";"; it is
      // not made, being no first candidate.
      {tree / "other;;", tree / "other/Logs", tree / "other", {";"}},
      // Candidates that cannot serve: a file, names too long for the host.
      {file, inTemp, "", {}}, {std::string(100000, 'y'), inTemp, "", {}},
  };
  EXPECT_EQ(LogDirFor(nullptr), inTemp);
  for (auto const& [wdir, chosen, made, notMade] : cases) {
    SCOPED_TRACE(wdir.substr(0, 200));
    EXPECT_EQ(LogDirFor(wdir.c_str()), chosen);
    EXPECT_TRUE(made.empty() || osIsDirectory(made.c_str())) << made;
    for (auto const& path : notMade) EXPECT_FALSE(osIsDirectory(path.c_str())) << path;
  }
  EXPECT_EQ(kvtest::ReadFile(file), "x");

  // Without a usable TMPDIR the temporary form is /tmp's.
  setenv("TMPDIR", file.c_str(), 1);
  EXPECT_EQ(LogDirFor(nullptr), "/tmp/TLQ_Logs/");
  unsetenv("TMPDIR");
}

std::string Recorded(char const* table) { return std::string(KVOS_TEST_DATA_DIR) + "/osio/" + table; }

TEST(PathUnc, NetworkMountsFromTheMountTable) {
  ScopedRecordedRoot root(Recorded("network"));
  // No server: not on a network mount.
  std::tuple<char const*, char const*, char const*> const cases[] = {
      {"/mnt/fs1/reports/x.txt", "fs1", "data/reports/x.txt"}, {"/mnt/fs1", "fs1", "data"},
      {"/mnt/fs1/", "fs1", "data"},                              {"/mnt/fs1/a/../b/./c", "fs1", "data/b/c"},
      {"/home/users/bob/notes.txt", "nas.example.org", "export/home/bob/notes.txt"},
      {"/srv/reports/q1.pdf", "fs1", "data/reports/2024/q1.pdf"}, {"/mnt/old share/f", "oldbox", "vol/a b/f"},
      {"/mnt/deep/src/main.c", "fs3", "team/projects/alpha/src/main.c"}, {"/mnt/v6/x", "fd00::5", "vol/x"},
      // Local file systems, also where they sit on or hide a network mount.
      {"/mnt/fs1/scratch/a", nullptr, nullptr}, {"/mnt/fs10/x", nullptr, nullptr}, {"/mnt/stack/x", nullptr, nullptr},
      {"/etc/passwd", nullptr, nullptr},        {"/", nullptr, nullptr},           {"", nullptr, nullptr},
  };
  cKV_Error err;
  for (auto const& [local, host, onHost] : cases) {
    cKV_String server("s"), onServer("p");
    EXPECT_EQ(osConvertToUnc(&err, local, server, onServer), host != nullptr) << local;
    EXPECT_EQ(Text(server) + " " + Text(onServer), host ? std::string(host) + " " + onHost : "s p");
  }
  EXPECT_TRUE(err.IsNotError());

  // Without a mount table there is no answer, and no report.
  cKV_String server, onServer;
  ScopedFault fault("io.hostfile", EACCES);
  EXPECT_FALSE(osConvertToUnc(&err, "/mnt/fs1/x", server, onServer));
  EXPECT_TRUE(err.IsNotError());
}

TEST(PathUnc, RelativePathsAndUnreadableSources) {
  cKV_Error err;
  cKV_String server, onServer;
  {
    // A network mount on the current directory, whatever it is.
    std::string point;
    for (char c : std::filesystem::current_path().string())
      point += c == ' ' ? std::string("\\040") : std::string(1, c);
    kvtest::TempDir table;
    std::filesystem::create_directories(table / "proc/self");
    kvtest::WriteFile(table / "proc/self/mountinfo", "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n2 1 0:40 / " + point +
                                                         " rw shared:2 - cifs //rel/share rw\n");
    ScopedRecordedRoot root(table.Path());
    ASSERT_TRUE(osConvertToUnc(&err, "sub/../f.txt", server, onServer));
    EXPECT_EQ(Text(server) + " " + Text(onServer), "rel share/f.txt");
    ScopedFault noCwd("io.getcwd", ERANGE);
    EXPECT_FALSE(osConvertToUnc(&err, "f.txt", server, onServer));
    EXPECT_TRUE(err.IsNotError());
  }
  std::string const bad = "] to UNC path: Invalid data received from WNetGetUniversalName:";
  std::tuple<char const*, char const*, std::string> const sources[] = {
      {"badsource", "/mnt/bad/x", "Failed to convert [/mnt/bad/x" + bad + "fs9share"},
      {"badsource", "/mnt/badnfs/y", "Failed to convert [/mnt/badnfs/y" + bad + "noserverpart"},
      {"local", "/tmp/x", ""},
      {"local", "/data/a/b", ""},
  };
  for (auto const& [table, path, report] : sources) {
    ScopedRecordedRoot root(Recorded(table));
    err.Reset();
    EXPECT_FALSE(osConvertToUnc(&err, path, server, onServer)) << path;
    EXPECT_EQ(err.GetCode(), report.empty() ? 0 : 3);
    EXPECT_EQ(Text(err.GetText()), report);
  }
}

namespace fs = std::filesystem;

void ExpectReport(cKV_Error const& e, std::string const& text) {
  EXPECT_EQ(e.GetCode(), 3);
  EXPECT_STREQ(e.GetUnit(), ".\\osio");
  EXPECT_EQ(Text(e.GetText()), text);
}

std::string SysText(int code) { return Text(osGetSysErrorStr(code)); }

// A path walked as mkdir -p walks it: ".." steps go through the directory
// that the file system finds, so the steps before them are made too (the
// Windows host resolves ".." in the text and makes only what remains).
TEST(DirCreate, ParentsAsMkdirPMakesThem) {
  TempDir dir;
  cKV_Error err;
  std::string const base = dir.Path();
  // path, then the directories that must exist afterwards; none of them
  // did before. "." and ".." steps exist once their parent does; a
  // backslash is a separator in a missing parent as in the rest.
  std::pair<std::string, std::vector<std::string>> const made[] = {
      {base + "/a/./b", {"a", "a/b"}},
      {base + "/p/../q", {"p", "q"}},
      {base + "/t/.", {"t"}},
      {base + "/u/v/..", {"u/v"}},
      {base + "/./w/./x/../y/", {"w/x", "w/y"}},
      {base + "/mk2/a\\b", {"mk2/a/b"}},
      {base + "\\bs1\\bs2\\", {"bs1/bs2"}},
      {base + "//dd///ee", {"dd/ee"}},
  };
  for (auto const& [path, dirs] : made) {
    EXPECT_TRUE(osCreateDirectory(&err, path.c_str(), true)) << path << ": " << Text(err.GetText());
    for (auto const& d : dirs) EXPECT_TRUE(osIsDirectory((dir / d).c_str())) << path << " made " << d;
    // Once made, the same call finds it and reports nothing.
    err.Reset();
    EXPECT_TRUE(osCreateDirectory(&err, path.c_str(), true)) << path;
    EXPECT_TRUE(err.IsNotError()) << path;
  }
  // No name holding a backslash was made on the way.
  for (auto const& entry : fs::recursive_directory_iterator(base))
    EXPECT_EQ(entry.path().string().find('\\'), std::string::npos) << entry.path();

  // Without the flag a backslash separates too, and a "." or ".." step
  // names what is there.
  EXPECT_TRUE(osCreateDirectory(&err, (base + "/a\\single").c_str(), false));
  EXPECT_TRUE(osIsDirectory((dir / "a/single").c_str()));
  EXPECT_TRUE(osCreateDirectory(&err, (base + "/a/..").c_str(), false));
  // A file in the way of a step is still refused, reported in the caller's
  // spelling at the step that could not be made.
  kvtest::WriteFile(dir / "file", "");
  EXPECT_FALSE(osCreateDirectory(&err, (base + "\\file\\.\\sub").c_str(), true));
  ExpectReport(err, "Failed to create directory " + base + "\\file. " + SysText(EEXIST));
  EXPECT_FALSE(osCreateDirectory(&err, (base + "/file/../x").c_str(), false));
  ExpectReport(err, "Failed to create directory " + base + "/file/../x. " + SysText(ENOTDIR));

  // Without memory for the walk only the directory itself can be tried.
  std::pair<std::string, bool> const withoutMemory[] = {
      {base + "/a/b", true}, {base + "/alone", true}, {base + "/n1/n2", false}};  // there, made, not made
  for (auto const& [path, made] : withoutMemory) {
    ScopedFault noMemory("alloc", ENOMEM);
    EXPECT_EQ(osCreateDirectory(&err, path.c_str(), true), made) << path;
    EXPECT_EQ(noMemory.Failures(), 1u);
  }
  ExpectReport(err, "Failed to create directory " + base + "/n1/n2. " + SysText(ENOENT));
  EXPECT_TRUE(osIsDirectory((dir / "alone").c_str()));

  // Another process making a step at the same moment: the step is there,
  // which is what was asked.
  {
    ScopedFault raced("io.mkdir", EEXIST, 1, 1);  // the second mkdir
    EXPECT_TRUE(osCreateDirectory(&err, (base + "/r1/r2").c_str(), true));
  }
  EXPECT_TRUE(osIsDirectory((dir / "r1/r2").c_str()));
}

TEST(DirCreate, LongPathsReportTheLevelThatFailed) {
  TempDir dir;
  cKV_Error err;
  kvtest::WriteFile(dir / "file", "");
  std::string const made = "Failed to create directory ";
  // 64 KiB of two-byte levels, far more than a stack of calls could take one
  // frame each for; the file in the way ends the walk cheaply.
  std::string longPath = dir / "file";
  while (longPath.size() < 65536) longPath += "/d";
  EXPECT_FALSE(osCreateDirectory(&err, longPath.c_str(), true));
  EXPECT_EQ(Text(err.GetText()), made + dir / "file. " + Text(osGetSysErrorStr(EEXIST)));
  EXPECT_FALSE(osCreateDirectory(&err, longPath.c_str(), false));
  EXPECT_EQ(Text(err.GetText()), made + longPath + ". " + Text(osGetSysErrorStr(ENAMETOOLONG)));
}

}  // namespace
