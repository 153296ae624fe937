#include <sys/statfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "OS/osio.h"
#include "support/testing.h"

using namespace Korvane;
using kvtest::ScopedFault;
using kvtest::ScopedRecordedRoot;

namespace {

std::string Text(cKV_String const& s) { return std::string(static_cast<char const*>(s)); }

std::string Recorded(char const* table) { return std::string(KVOS_TEST_DATA_DIR) + "/osio/" + table; }

TEST(PathString, NameFolderAndExtensionWithBothSeparators) {
  struct {
    char const* path;
    char const* name;
    char const* folder;
    char const* ext;
  } const cases[] = {
      {"C:\\a\\b.txt", "b.txt", "C:\\a\\", "txt"},
      {"C:\\a\\", "C:\\a\\", "C:\\a\\", ""},
      {"b.txt", "b.txt", "", "txt"},
      {"a/b", "b", "a/", ""},
      {"/usr/lib\\x.so.1", "x.so.1", "/usr/lib\\", "1"},
      {"C:\\a.d\\b", "b", "C:\\a.d\\", ""},
      {"x.tar.gz", "x.tar.gz", "", "gz"},
      {".profile", ".profile", "", "profile"},
      {"name.", "name.", "", ""},
      {"/", "/", "/", ""},
      {"", "", "", ""},
      {"dir/caf\xC3\xA9.t\xFFt", "caf\xC3\xA9.t\xFFt", "dir/", "t\xFFt"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Text(osExtractFilename(c.path)), c.name);
    EXPECT_EQ(Text(osExtractFilepath(c.path)), c.folder);
    EXPECT_EQ(Text(osExtractFileExt(c.path)), c.ext);
  }
  EXPECT_EQ(Text(osExtractFilename(nullptr)), "");
  EXPECT_EQ(Text(osExtractFilepath(nullptr)), "");
  EXPECT_EQ(Text(osExtractFileExt(nullptr)), "");
  std::string longPath = std::string(5000, 'd') + "/" + std::string(5000, 'f') + ".ext";
  EXPECT_EQ(Text(osExtractFileExt(longPath.c_str())), "ext");
  EXPECT_EQ(osExtractFilepath(longPath.c_str()).Length(), 5001u);
}

TEST(PathString, ChangingExtensionsAndSeparators) {
  struct {
    char const* path;
    char const* ext;
    char const* result;
  } const cases[] = {
      {"C:\\a\\b.txt", "log", "C:\\a\\b.log"}, {"C:\\a.d\\b", "log", "C:\\a.d\\b.log"},
      {"b.tar.gz", "zip", "b.tar.zip"},        {"b.txt", "", "b."},
      {"b.txt", ".x", "b..x"},                 {"", "cfg", ".cfg"},
      {"dir.v2/file", "o", "dir.v2/file.o"},
  };
  for (auto const& c : cases) {
    cKV_String s(c.path);
    osChangeFileExt(s, c.ext);
    EXPECT_EQ(Text(s), c.result) << c.path;
  }
  cKV_String s("a.b");
  osChangeFileExt(s, nullptr);
  EXPECT_EQ(Text(s), "a.");
  s = "keep.txt";
  {
    ScopedFault fault("alloc", ENOMEM);
    osChangeFileExt(s, "log");
  }
  EXPECT_EQ(Text(s), "keep.txt");

  cKV_String p("C:\\a/b\\c");
  osEnsureCorrectDirSlash(p);
  EXPECT_EQ(Text(p), "C:/a/b/c");
  cKV_String none;
  osEnsureCorrectDirSlash(none);
  osEnsureTrailingSlash(none);
  osEnsureNoTrailingSlash(none);
  EXPECT_EQ(Text(none), "");
  for (char const* kept : {"C:/a/", "C:\\a\\"}) {
    cKV_String t(kept);
    osEnsureTrailingSlash(t);
    EXPECT_EQ(Text(t), kept);
  }
  cKV_String t("C:/a");
  osEnsureTrailingSlash(t);
  EXPECT_EQ(Text(t), "C:/a/");
  cKV_String n("C:\\a\\\\");
  osEnsureNoTrailingSlash(n);
  EXPECT_EQ(Text(n), "C:\\a\\");  // only the last one goes
  cKV_String root("/");
  osEnsureNoTrailingSlash(root);
  EXPECT_EQ(Text(root), "");
}

TEST(PathString, UniPathsEncodeAndDecode) {
  EXPECT_TRUE(osIsUniPath("host|C:\\x"));
  EXPECT_TRUE(osIsUniPath("name"));
  EXPECT_TRUE(osIsUniPath(""));
  EXPECT_TRUE(osIsUniPath(nullptr));
  EXPECT_FALSE(osIsUniPath("C:\\x|y"));
  EXPECT_FALSE(osIsUniPath("a\\b"));
  EXPECT_FALSE(osIsUniPath("a/b"));

  cKV_String first("untouched"), second("untouched too");
  EXPECT_FALSE(osDecodeUniPath("a\\b|c", first, second));
  EXPECT_FALSE(osDecodeUniPath("a/b", first, second));
  EXPECT_EQ(Text(first), "untouched");
  EXPECT_EQ(Text(second), "untouched too");

  struct {
    char const* text;
    char const* first;
    char const* second;
  } const cases[] = {
      {"host|C:\\x", "host", "C:\\x"}, {"|x", "", "x"},        {"host|", "host", ""},
      {"name", "name", ""},            {"a|b|c/d", "a", "b|c/d"}, {"", "", ""},
  };
  for (auto const& c : cases) {
    cKV_String a("a much longer previous text"), b("a much longer previous text");
    ASSERT_TRUE(osDecodeUniPath(c.text, a, b)) << c.text;
    EXPECT_EQ(Text(a), c.first) << c.text;
    EXPECT_EQ(Text(b), c.second) << c.text;
  }

  cKV_String encoded;
  osEncodeUniPath("srv", "/var/log/x|y", encoded);
  EXPECT_EQ(Text(encoded), "srv|/var/log/x|y");
  osEncodeUniPath(nullptr, nullptr, encoded);
  EXPECT_EQ(Text(encoded), "|");

  // Inputs that are the outputs themselves.
  cKV_String self("left|right");
  osEncodeUniPath(self, "more", self);
  EXPECT_EQ(Text(self), "left|right|more");
  cKV_String other;
  ASSERT_TRUE(osDecodeUniPath(self, self, other));
  EXPECT_EQ(Text(self), "left");
  EXPECT_EQ(Text(other), "right|more");

  cKV_String keepA("A"), keepB("B");
  {
    ScopedFault fault("alloc", ENOMEM);
    EXPECT_FALSE(osDecodeUniPath("first|second", keepA, keepB));
  }
  EXPECT_EQ(Text(keepA), "A");
  EXPECT_EQ(Text(keepB), "B");
}

TEST(PathUnc, TextFormsAreSplitWithoutAskingTheHost) {
  EXPECT_TRUE(osIsUncPath("\\\\srv\\x"));
  EXPECT_TRUE(osIsUncPath("//srv/x"));
  EXPECT_TRUE(osIsUncPath("\\/srv"));
  EXPECT_FALSE(osIsUncPath("\\\\?\\C:\\x"));
  EXPECT_FALSE(osIsUncPath("\\x"));
  EXPECT_FALSE(osIsUncPath(""));
  EXPECT_FALSE(osIsUncPath(nullptr));

  cKV_Error err;
  cKV_String server("s"), path("p");
  // Reading the mount table would fail: none of these may need it.
  ScopedFault noTable("io.hostfile", EIO, 0, 100);
  ASSERT_TRUE(osConvertToUnc(&err, "\\\\srv\\share\\dir\\f.txt", server, path));
  EXPECT_EQ(Text(server), "srv");
  EXPECT_EQ(Text(path), "share\\dir\\f.txt");
  ASSERT_TRUE(osConvertToUnc(&err, "\\\\srv", server, path));
  EXPECT_EQ(Text(server), "srv");
  EXPECT_EQ(Text(path), "");
  EXPECT_TRUE(err.IsNotError());
  EXPECT_EQ(noTable.Failures(), 0u);

  for (char const* bad : {"//srv/x", "\\/srv\\x", "/\\srv"}) {
    EXPECT_FALSE(osConvertToUnc(&err, bad, server, path));
    EXPECT_EQ(err.GetCode(), 3);
    EXPECT_STREQ(err.GetUnit(), ".\\osio");
    EXPECT_EQ(Text(err.GetText()), std::string("Failed to convert [") + bad + "] to UNC path: Invalid path");
  }
  EXPECT_EQ(Text(server), "srv");  // failures write nothing

  cKV_String self("\\\\host\\vol\\x");
  ASSERT_TRUE(osConvertToUnc(nullptr, self, self, path));
  EXPECT_EQ(Text(self), "host");
  EXPECT_EQ(Text(path), "vol\\x");
}

TEST(PathUnc, NetworkMountsFromTheMountTable) {
  ScopedRecordedRoot root(Recorded("network"));
  struct {
    char const* local;
    char const* server;
    char const* onServer;
  } const cases[] = {
      {"/mnt/fs1/reports/x.txt", "fs1", "data/reports/x.txt"},
      {"/mnt/fs1", "fs1", "data"},
      {"/mnt/fs1/", "fs1", "data"},
      {"/mnt/fs1/a/../b/./c", "fs1", "data/b/c"},
      {"/mnt/x/../fs1//y", "fs1", "data/y"},
      {"/mnt/fs1\\docs\\a.txt", "fs1", "data/docs/a.txt"},
      {"/home/users/bob/notes.txt", "nas.example.org", "export/home/bob/notes.txt"},
      {"/srv/reports/q1.pdf", "fs1", "data/reports/2024/q1.pdf"},
      {"/mnt/old share/f", "oldbox", "vol/a b/f"},
      {"/mnt/v6/x", "fd00::5", "vol/x"},
      {"/mnt/deep/src/main.c", "fs3", "team/projects/alpha/src/main.c"},
  };
  cKV_Error err;
  for (auto const& c : cases) {
    cKV_String server, onServer;
    ASSERT_TRUE(osConvertToUnc(&err, c.local, server, onServer)) << c.local;
    EXPECT_EQ(Text(server), c.server) << c.local;
    EXPECT_EQ(Text(onServer), c.onServer) << c.local;
  }
  // Local file systems, also where they sit on or hide a network mount.
  for (char const* local : {"/mnt/fs1/scratch/a", "/mnt/fs10/x", "/mnt/stack/x", "/etc/passwd", "/", ""}) {
    cKV_String server("s"), onServer("p");
    EXPECT_FALSE(osConvertToUnc(&err, local, server, onServer)) << local;
    EXPECT_EQ(Text(server), "s");
    EXPECT_EQ(Text(onServer), "p");
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
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string point;
    for (char const* p = cwd; *p != '\0'; ++p)
      point += *p == ' ' ? std::string("\\040") : std::string(1, *p);
    kvtest::TempDir table;
    ASSERT_EQ(system(("mkdir -p '" + table.Path() + "/proc/self'").c_str()), 0);
    kvtest::WriteFile(table / "proc/self/mountinfo",
                      "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                      "2 1 0:40 / " + point + " rw shared:2 - cifs //rel/share rw\n");
    ScopedRecordedRoot root(table.Path());
    ASSERT_TRUE(osConvertToUnc(&err, "sub/../f.txt", server, onServer));
    EXPECT_EQ(Text(server), "rel");
    EXPECT_EQ(Text(onServer), "share/f.txt");
    ScopedFault noCwd("io.getcwd", ERANGE);
    EXPECT_FALSE(osConvertToUnc(&err, "f.txt", server, onServer));
    EXPECT_TRUE(err.IsNotError());
  }
  {
    ScopedRecordedRoot root(Recorded("badsource"));
    EXPECT_FALSE(osConvertToUnc(&err, "/mnt/bad/x", server, onServer));
    EXPECT_EQ(err.GetCode(), 3);
    EXPECT_EQ(Text(err.GetText()),
              "Failed to convert [/mnt/bad/x] to UNC path: Invalid data received from WNetGetUniversalName:fs9share");
    EXPECT_FALSE(osConvertToUnc(&err, "/mnt/badnfs/y", server, onServer));
    EXPECT_EQ(Text(err.GetText()),
              "Failed to convert [/mnt/badnfs/y] to UNC path: Invalid data received from "
              "WNetGetUniversalName:noserverpart");
  }
  {
    ScopedRecordedRoot root(Recorded("local"));
    err.Reset();
    EXPECT_FALSE(osConvertToUnc(&err, "/tmp/x", server, onServer));
    EXPECT_FALSE(osConvertToUnc(&err, "/data/a/b", server, onServer));
    EXPECT_TRUE(err.IsNotError());
  }
}

TEST(PathUnc, LocalPathsOfThisMachine) {
  kvtest::TempDir dir;
  struct statfs fs;
  ASSERT_EQ(statfs(dir.Path().c_str(), &fs), 0);
  if (fs.f_type == 0x6969 || fs.f_type == static_cast<decltype(fs.f_type)>(0xFF534D42) ||
      fs.f_type == static_cast<decltype(fs.f_type)>(0xFE534D42))
    GTEST_SKIP() << "the temporary directory lies on a network file system";
  cKV_Error err;
  cKV_String server("s"), onServer("p");
  EXPECT_FALSE(osConvertToUnc(&err, (dir / "x").c_str(), server, onServer));
  std::string longPath = dir.Path() + "/" + std::string(8000, 'q');
  EXPECT_FALSE(osConvertToUnc(&err, longPath.c_str(), server, onServer));
  EXPECT_TRUE(err.IsNotError());
  EXPECT_EQ(Text(server), "s");
}

}  // namespace
