#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "OS/osio.h"
#include "support/testing.h"

using namespace Korvane;
using kvtest::ScopedFault;
using kvtest::TempDir;

namespace fs = std::filesystem;

namespace {

std::string Text(cKV_String const& s) { return std::string(static_cast<char const*>(s)); }

std::string SysText(int code) { return Text(osGetSysErrorStr(code)); }

void ExpectReport(cKV_Error const& e, std::string const& text) {
  EXPECT_EQ(e.GetCode(), 3);
  EXPECT_STREQ(e.GetUnit(), ".\\osio");
  EXPECT_EQ(Text(e.GetText()), text);
}

int OpenDescriptors() {
  int count = 0;
  for (auto const& entry : fs::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

// Names of a directory in the order the host lists them.
std::vector<std::string> ListingOrder(std::string const& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d))
    if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
  closedir(d);
  return names;
}

TEST(DirNames, ExistenceKindAndDeletingFiles) {
  TempDir dir;
  std::string file = dir / "f.txt";
  kvtest::WriteFile(file, "x");
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
  ASSERT_EQ(symlink(dir.Path().c_str(), (dir / "todir").c_str()), 0);

  EXPECT_TRUE(osFileIsExist(file.c_str()));
  EXPECT_TRUE(osFileIsExist(dir.Path().c_str()));
  EXPECT_TRUE(osFileIsExist((dir / "dangling").c_str()));
  EXPECT_FALSE(osFileIsExist((dir / "missing").c_str()));
  EXPECT_FALSE(osFileIsExist(""));
  EXPECT_FALSE(osFileIsExist(nullptr));
  EXPECT_TRUE(osIsDirectory(dir.Path().c_str()));
  EXPECT_TRUE(osIsDirectory((dir.Path() + "/").c_str()));
  EXPECT_TRUE(osIsDirectory((dir / "todir").c_str()));
  EXPECT_FALSE(osIsDirectory(file.c_str()));
  EXPECT_FALSE(osIsDirectory((dir / "dangling").c_str()));
  EXPECT_FALSE(osIsDirectory(nullptr));
  std::string longName = dir.Path() + "/" + std::string(5000, 'z');
  EXPECT_FALSE(osFileIsExist(longName.c_str()));

  cKV_Error err;
  EXPECT_TRUE(osDeleteFile(&err, file.c_str()));
  EXPECT_FALSE(osFileIsExist(file.c_str()));
  EXPECT_TRUE(err.IsNotError());
  EXPECT_FALSE(osDeleteFile(&err, file.c_str()));
  ExpectReport(err, "Failed to delete file [" + file + "]. " + SysText(ENOENT));
  EXPECT_FALSE(osDeleteFile(&err, dir.Path().c_str()));
  ExpectReport(err, "Failed to delete file [" + dir.Path() + "]. " + SysText(EISDIR));
  EXPECT_TRUE(osDeleteFile(&err, (dir / "dangling").c_str()));

  // Root may delete anything; a refusal comes through the seam.
  kvtest::WriteFile(file, "x");
  {
    ScopedFault fault("io.unlink", EACCES);
    EXPECT_FALSE(osDeleteFile(&err, file.c_str()));
  }
  ExpectReport(err, "Failed to delete file [" + file + "]. " + SysText(EACCES));
  EXPECT_TRUE(osFileIsExist(file.c_str()));
}

TEST(DirCreate, SingleLevelsParentsAndEveryReport) {
  TempDir dir;
  cKV_Error err;
  EXPECT_TRUE(osCreateDirectory(nullptr, dir.Path().c_str(), false));
  EXPECT_TRUE(osCreateDirectory(&err, dir.Path().c_str(), true));
  EXPECT_TRUE(err.IsNotError());

  EXPECT_FALSE(osCreateDirectory(&err, "", true));
  ExpectReport(err, "Directory with empty name can not be created");
  EXPECT_FALSE(osCreateDirectory(&err, nullptr, false));
  ExpectReport(err, "Directory with empty name can not be created");

  // Missing parents without and with the flag, both separators.
  std::string nested = dir.Path() + "/a\\b/c/";
  EXPECT_FALSE(osCreateDirectory(&err, nested.c_str(), false));
  ExpectReport(err, "Failed to create directory " + nested + ". " + SysText(ENOENT));
  // To the host a backslash is part of a name: "a\b" is one directory.
  EXPECT_TRUE(osCreateDirectory(&err, nested.c_str(), true));
  EXPECT_TRUE(osIsDirectory((dir.Path() + "/a\\b/c").c_str()));
  std::string deep = dir.Path() + "/x/y/z/";
  EXPECT_TRUE(osCreateDirectory(&err, deep.c_str(), true));
  EXPECT_TRUE(osIsDirectory(deep.c_str()));
  // The record may keep the report of a failed attempt on the way up.
  ExpectReport(err, "Failed to create directory " + dir.Path() + "/x/y. " + SysText(ENOENT));

  // A file in the way.
  kvtest::WriteFile(dir / "file", "");
  std::string blocked = dir.Path() + "/file/sub";
  EXPECT_FALSE(osCreateDirectory(&err, blocked.c_str(), true));
  ExpectReport(err, "Failed to create directory " + dir.Path() + "/file. " + SysText(EEXIST));

  // No separator left to go up: the short report.
  {
    ScopedFault fault("io.mkdir", EACCES);
    EXPECT_FALSE(osCreateDirectory(&err, "kvos-no-such-dir-here", true));
  }
  ExpectReport(err, "Failed to create directory kvos-no-such-dir-here");
  {
    ScopedFault fault("io.mkdir", EACCES);
    EXPECT_FALSE(osCreateDirectory(&err, "kvos-no-such-dir-here", false));
  }
  ExpectReport(err, "Failed to create directory kvos-no-such-dir-here. " + SysText(EACCES));
  // Going up past the only separator ends at the empty parent.
  {
    ScopedFault fault("io.mkdir", EACCES, 0, 10);
    EXPECT_FALSE(osCreateDirectory(&err, "/kvos-no-such-dir-here", true));
  }
  ExpectReport(err, "Directory with empty name can not be created");
  // A deeper level failing leaves the parents that were made.
  {
    // The first three attempts are real: p and q fail for want of a
    // parent, r is made; then q is refused.
    ScopedFault fault("io.mkdir", EACCES, 3);
    std::string chain = dir.Path() + "/r/q/p";
    EXPECT_FALSE(osCreateDirectory(&err, chain.c_str(), true));
    ExpectReport(err, "Failed to create directory " + dir.Path() + "/r/q. " + SysText(EACCES));
  }
  EXPECT_TRUE(osIsDirectory((dir / "r").c_str()));
  EXPECT_FALSE(osIsDirectory((dir / "r/q").c_str()));
}

TEST(DirCreate, PathsLongerThanTheHostTakesNeitherCrashNorHang) {
  TempDir dir;
  cKV_Error err;
  // 64 KiB of two-byte levels, far more levels than a stack of calls could
  // take one frame each for; a file in the way ends the walk cheaply.
  kvtest::WriteFile(dir / "file", "");
  std::string path = dir / "file";
  while (path.size() < 65536) path += "/d";
  EXPECT_FALSE(osCreateDirectory(&err, path.c_str(), true));
  ExpectReport(err, "Failed to create directory " + dir / "file" + ". " + SysText(EEXIST));
  EXPECT_FALSE(osCreateDirectory(&err, path.c_str(), false));
  ExpectReport(err, "Failed to create directory " + path + ". " + SysText(ENAMETOOLONG));
}

TEST(DirDelete, TreesWithAndWithoutTheFlag) {
  TempDir dir;
  cKV_Error err;
  std::string root = dir / "tree";
  fs::create_directories(root + "/a/b/c");
  fs::create_directories(root + "/e");
  kvtest::WriteFile(root + "/top.txt", "1");
  kvtest::WriteFile(root + "/a/b/c/deep.txt", "2");
  kvtest::WriteFile(root + "/a/\xE9t\xE9.txt", "3");
  std::string outside = dir / "outside";
  fs::create_directories(outside);
  kvtest::WriteFile(outside + "/keep.txt", "k");
  ASSERT_EQ(symlink(outside.c_str(), (root + "/a/link").c_str()), 0);

  // Without the flag: the plain entries go, a non-empty subdirectory is
  // reported and the tree itself stays.
  EXPECT_FALSE(osDeleteDirectory(&err, root.c_str(), false));
  std::string aLine = "dir [" + root + "/a] " + SysText(ENOTEMPTY) + "\n";
  std::string e = root + "/e";
  ExpectReport(err, aLine);
  EXPECT_FALSE(osFileIsExist((root + "/top.txt").c_str()));
  EXPECT_FALSE(osFileIsExist(e.c_str()));  // an empty subdirectory goes
  EXPECT_TRUE(osIsDirectory((root + "/a/b/c").c_str()));

  // With the flag everything goes; a link is removed, not followed.
  err.Reset();
  EXPECT_TRUE(osDeleteDirectory(&err, (root + "/").c_str(), true));
  EXPECT_TRUE(err.IsNotError());
  EXPECT_FALSE(osFileIsExist(root.c_str()));
  EXPECT_TRUE(osFileIsExist((outside + "/keep.txt").c_str()));

  // A path that names a file deletes the file; a missing one is reported.
  kvtest::WriteFile(dir / "plain", "p");
  EXPECT_TRUE(osDeleteDirectory(&err, (dir / "plain").c_str(), true));
  EXPECT_FALSE(osFileIsExist((dir / "plain").c_str()));
  EXPECT_FALSE(osDeleteDirectory(&err, (dir / "plain").c_str(), true));
  ExpectReport(err, "Failed to delete file [" + dir / "plain" + "]. " + SysText(ENOENT));
  EXPECT_FALSE(osDeleteDirectory(&err, "", true));
  ExpectReport(err, "Failed to delete file []. " + SysText(ENOENT));

  // A link to a directory given as the path: the link goes, the target stays.
  std::string link = dir / "link";
  ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);
  EXPECT_TRUE(osDeleteDirectory(&err, (link + "/").c_str(), true));
  EXPECT_FALSE(osFileIsExist(link.c_str()));
  EXPECT_TRUE(osFileIsExist((outside + "/keep.txt").c_str()));
}

TEST(DirDelete, ItemsThatStayAreReportedInTheOrderMet) {
  TempDir dir;
  cKV_Error err;
  // One file in the whole tree, so that the one refused deletion is its.
  std::string root = dir / "tree";
  fs::create_directories(root + "/a/b");
  fs::create_directories(root + "/a/empty");
  fs::create_directories(root + "/e1");
  fs::create_directories(root + "/e2/e3");
  kvtest::WriteFile(root + "/a/b/stuck.txt", "s");
  {
    ScopedFault fault("io.unlink", EACCES, 0, 100);
    EXPECT_FALSE(osDeleteDirectory(&err, root.c_str(), true));
  }
  ExpectReport(err, "file [" + root + "/a/b/stuck.txt] " + SysText(EACCES) + "\n");
  // Everything else went; the directories on the way to the file stayed.
  EXPECT_TRUE(osFileIsExist((root + "/a/b/stuck.txt").c_str()));
  EXPECT_FALSE(osFileIsExist((root + "/a/empty").c_str()));
  EXPECT_FALSE(osFileIsExist((root + "/e1").c_str()));
  EXPECT_FALSE(osFileIsExist((root + "/e2").c_str()));

  // Several failures: one line each, in listing order, sub-trees in place.
  fs::remove_all(root);
  fs::create_directories(root + "/sub");
  for (char const* name : {"f1", "f2", "f3"}) kvtest::WriteFile(root + "/" + name, "x");
  kvtest::WriteFile(root + "/sub/inner", "x");
  std::string expected;
  for (auto const& name : ListingOrder(root)) {
    if (name == "sub")
      expected += "file [" + root + "/sub/inner] " + SysText(EPERM) + "\n";
    else
      expected += "file [" + root + "/" + name + "] " + SysText(EPERM) + "\n";
  }
  {
    ScopedFault fault("io.unlink", EPERM, 0, 100);
    EXPECT_FALSE(osDeleteDirectory(&err, root.c_str(), true));
  }
  ExpectReport(err, expected);

  // The directory itself refusing to go is reported with its separator.
  fs::remove_all(root);
  fs::create_directories(root);
  kvtest::WriteFile(root + "/gone", "x");
  {
    ScopedFault fault("io.rmdir", EBUSY);
    EXPECT_FALSE(osDeleteDirectory(&err, root.c_str(), true));
  }
  ExpectReport(err, "dir [" + root + "/] " + SysText(EBUSY) + "\n");
  EXPECT_FALSE(osFileIsExist((root + "/gone").c_str()));

  // A directory that vanishes while it is listed: nothing to list, and the
  // removal that follows says why.
  {
    ScopedFault fault("io.opendir", ENOENT);
    ScopedFault gone("io.rmdir", ENOENT);
    EXPECT_FALSE(osDeleteDirectory(&err, root.c_str(), true));
  }
  ExpectReport(err, "dir [" + root + "/] " + SysText(ENOENT) + "\n");
  EXPECT_TRUE(osDeleteDirectory(&err, root.c_str(), true));
}

TEST(DirTime, ModificationTimesRoundTrip) {
  TempDir dir;
  std::string file = dir / "t";
  kvtest::WriteFile(file, "t");
  cKV_Error err;
  unsigned int time = 1;
  ASSERT_TRUE(osSetFileTime(&err, file.c_str(), 0));
  ASSERT_TRUE(osGetFileTime(&err, file.c_str(), time));
  EXPECT_EQ(time, 0u);
  ASSERT_TRUE(osSetFileTime(&err, file.c_str(), 4000000000u));  // beyond 2038
  ASSERT_TRUE(osGetFileTime(&err, file.c_str(), time));
  EXPECT_EQ(time, 4000000000u);
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_atime, 4000000000);
  EXPECT_TRUE(err.IsNotError());

  std::string missing = dir / "missing";
  time = 5;
  EXPECT_FALSE(osGetFileTime(&err, missing.c_str(), time));
  ExpectReport(err, "File not found:" + missing);
  EXPECT_EQ(time, 5u);
  EXPECT_FALSE(osSetFileTime(&err, missing.c_str(), 1));
  ExpectReport(err, "File not found:" + missing);
  EXPECT_FALSE(osGetFileTime(nullptr, nullptr, time));

  // Times a 32-bit count cannot hold are not passed on cut.
  struct timespec before[2] = {{-100, 0}, {-100, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), before, 0), 0);
  EXPECT_FALSE(osGetFileTime(&err, file.c_str(), time));
  EXPECT_EQ(time, 5u);
}

std::set<std::string> FindAll(std::string const& dir, char const* mask) {
  std::set<std::string> names;
  cKV_String name;
  void* find = osFileFindFirst(dir.c_str(), mask, name);
  if (find == nullptr) return names;
  do names.insert(Text(name));
  while (osFileFindNext(find, name));
  osFileFindEnd(find);
  EXPECT_EQ(find, nullptr);
  return names;
}

TEST(DirFind, MasksFollowTheOriginalWildcardRules) {
  TempDir dir;
  for (char const* name : {"a.txt", "B.TXT", "c.log", "noext", ".hidden", "r\xE9sum\xE9.txt", "x.tar.gz", "ab"})
    kvtest::WriteFile(dir / name, "");
  fs::create_directories(dir / "sub");
  kvtest::WriteFile(dir / "sub/s.log", "");

  using Names = std::set<std::string>;
  Names all{".", "..", "a.txt", "B.TXT", "c.log", "noext", ".hidden", "r\xE9sum\xE9.txt", "x.tar.gz", "ab", "sub"};
  EXPECT_EQ(FindAll(dir.Path(), "*"), all);
  EXPECT_EQ(FindAll(dir.Path(), "*.*"), all);
  EXPECT_EQ(FindAll(dir.Path() + "/", "*"), all);
  EXPECT_EQ(FindAll(dir.Path(), "*.txt"), (Names{"a.txt", "B.TXT", "r\xE9sum\xE9.txt"}));
  EXPECT_EQ(FindAll(dir.Path(), "?.txt"), (Names{"a.txt", "B.TXT"}));
  EXPECT_EQ(FindAll(dir.Path(), "??"), (Names{"..", "ab"}));
  EXPECT_EQ(FindAll(dir.Path(), "NOEXT.*"), (Names{"noext"}));
  EXPECT_EQ(FindAll(dir.Path(), "*.gz"), (Names{"x.tar.gz"}));
  EXPECT_EQ(FindAll(dir.Path(), "x*z"), (Names{"x.tar.gz"}));
  EXPECT_EQ(FindAll(dir.Path(), "R\xE9SUM\xE9.txt"), (Names{"r\xE9sum\xE9.txt"}));  // only ASCII folds
  EXPECT_EQ(FindAll(dir.Path(), "r\xC9sum\xC9.txt"), Names{});
  EXPECT_EQ(FindAll(dir.Path(), "sub/*.log"), (Names{"s.log"}));

  // Nothing matches, or nothing to read: null, and the name untouched.
  cKV_String name("untouched");
  EXPECT_EQ(osFileFindFirst(dir.Path().c_str(), "*.none", name), nullptr);
  EXPECT_EQ(osFileFindFirst((dir / "missing").c_str(), "*", name), nullptr);
  EXPECT_EQ(osFileFindFirst((dir / "a.txt").c_str(), "*", name), nullptr);
  EXPECT_EQ(osFileFindFirst(nullptr, nullptr, name), nullptr);
  EXPECT_EQ(Text(name), "untouched");
  EXPECT_FALSE(osFileFindNext(nullptr, name));
  void* none = nullptr;
  osFileFindEnd(none);
  EXPECT_EQ(none, nullptr);
}

TEST(DirFind, HandlesNeverLeakAndSurviveAVanishingDirectory) {
  TempDir dir;
  std::string sub = dir / "sub";
  fs::create_directories(sub);
  for (int i = 0; i < 50; ++i) kvtest::WriteFile(sub + "/f" + std::to_string(i), "");
  int const descriptors = OpenDescriptors();
  cKV_String name;
  for (int i = 0; i < 20; ++i) {
    void* find = osFileFindFirst(sub.c_str(), "*.none", name);
    EXPECT_EQ(find, nullptr);
    find = osFileFindFirst(sub.c_str(), "f1*", name);
    ASSERT_NE(find, nullptr);
    osFileFindEnd(find);
    // The pattern, the mask and the handle's own state.
    for (unsigned skip = 0; skip < 3; ++skip) {
      ScopedFault fault("alloc", ENOMEM, skip);
      EXPECT_EQ(osFileFindFirst(sub.c_str(), "*", name), nullptr);
    }
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);

  void* find = osFileFindFirst(sub.c_str(), "*", name);
  ASSERT_NE(find, nullptr);
  fs::remove_all(sub);
  int more = 0;
  while (osFileFindNext(find, name) && more < 1000) ++more;
  EXPECT_LT(more, 1000);
  osFileFindEnd(find);
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

}  // namespace
