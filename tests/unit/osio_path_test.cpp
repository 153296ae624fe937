#include <sys/statfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "OS/osio.h"
#include "support/testing.h"

using namespace Korvane;
using kvtest::ScopedFault;
using kvtest::ScopedRecordedRoot;

namespace {

std::string Text(cKV_String const& s) { return static_cast<char const*>(s); }

void ExpectReport(cKV_Error const& e, std::string const& text) {
  EXPECT_EQ(e.GetCode(), 3);
  EXPECT_STREQ(e.GetUnit(), ".\\osio");
  EXPECT_EQ(Text(e.GetText()), text);
}

std::string Recorded(char const* table) { return std::string(KVOS_TEST_DATA_DIR) + "/osio/" + table; }

TEST(PathString, NameFolderAndExtensionWithBothSeparators) {
  std::string const longFolder = std::string(5000, 'd') + "/", longPath = longFolder + std::string(5000, 'f') + ".e";
  struct {
    char const *path, *name, *folder, *ext;
  } const cases[] = {
      {"C:\\a\\b.txt", "b.txt", "C:\\a\\", "txt"},         {"C:\\a\\", "C:\\a\\", "C:\\a\\", ""},
      {"b.txt", "b.txt", "", "txt"},                       {"a/b", "b", "a/", ""},
      {"/usr/lib\\x.so.1", "x.so.1", "/usr/lib\\", "1"},   {"C:\\a.d\\b", "b", "C:\\a.d\\", ""},
      {"x.tar.gz", "x.tar.gz", "", "gz"},                  {".profile", ".profile", "", "profile"},
      {"name.", "name.", "", ""},                          {"/", "/", "/", ""},
      {"", "", "", ""},                                    {nullptr, "", "", ""},
      {"dir/caf\xC3\xA9.t\xFFt", "caf\xC3\xA9.t\xFFt", "dir/", "t\xFFt"},
      {longPath.c_str(), longPath.c_str() + 5001, longFolder.c_str(), "e"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.path == nullptr ? "null" : std::string(c.path).substr(0, 100));
    EXPECT_EQ(Text(osExtractFilename(c.path)), c.name);
    EXPECT_EQ(Text(osExtractFilepath(c.path)), c.folder);
    EXPECT_EQ(Text(osExtractFileExt(c.path)), c.ext);
  }
}

TEST(PathString, ChangingExtensionsAndSeparators) {
  struct {
    char const *path, *ext, *result;
  } const cases[] = {
      {"C:\\a\\b.txt", "log", "C:\\a\\b.log"}, {"C:\\a.d\\b", "log", "C:\\a.d\\b.log"},
      {"b.tar.gz", "zip", "b.tar.zip"},        {"b.txt", "", "b."},
      {"b.txt", ".x", "b..x"},                 {"", "cfg", ".cfg"},
      {"dir.v2/file", "o", "dir.v2/file.o"},   {"a.b", nullptr, "a."},
  };
  for (auto const& c : cases) {
    cKV_String s(c.path);
    osChangeFileExt(s, c.ext);
    EXPECT_EQ(Text(s), c.result) << c.path;
  }
  cKV_String s("keep.txt");
  {
    ScopedFault fault("alloc", ENOMEM);
    osChangeFileExt(s, "log");
  }
  EXPECT_EQ(Text(s), "keep.txt");

  struct {
    void (*fix)(cKV_String&);
    char const *path, *result;
  } const slashes[] = {
      {osEnsureCorrectDirSlash, "C:\\a/b\\c", "C:/a/b/c"}, {osEnsureCorrectDirSlash, "", ""},
      {osEnsureTrailingSlash, "", ""},                     {osEnsureTrailingSlash, "C:/a/", "C:/a/"},
      {osEnsureTrailingSlash, "C:\\a\\", "C:\\a\\"},       {osEnsureTrailingSlash, "C:/a", "C:/a/"},
      {osEnsureNoTrailingSlash, "", ""},                   {osEnsureNoTrailingSlash, "/", ""},
      {osEnsureNoTrailingSlash, "C:\\a\\\\", "C:\\a\\"},  // only the last one goes
  };
  for (auto const& c : slashes) {
    cKV_String p(c.path);
    c.fix(p);
    EXPECT_EQ(Text(p), c.result) << c.path;
  }
}

TEST(PathString, UniPathsEncodeAndDecode) {
  for (auto [path, uni] : {std::pair<char const*, bool>{"host|C:\\x", true}, {"name", true}, {"", true},
                           {nullptr, true}, {"C:\\x|y", false}, {"a\\b", false}, {"a/b", false}})
    EXPECT_EQ(osIsUniPath(path), uni) << (path ? path : "null");

  struct {
    char const* text;
    bool ok;
    char const *first, *second;
  } const cases[] = {
      {"host|C:\\x", true, "host", "C:\\x"}, {"|x", true, "", "x"},       {"host|", true, "host", ""},
      {"name", true, "name", ""},            {"a|b|c/d", true, "a", "b|c/d"}, {"", true, "", ""},
      {"a\\b|c", false, "untouched", "untouched"}, {"a/b", false, "untouched", "untouched"},
  };
  for (auto const& c : cases) {
    cKV_String a("untouched"), b("untouched");
    EXPECT_EQ(osDecodeUniPath(c.text, a, b), c.ok) << c.text;
    EXPECT_EQ(Text(a), c.first) << c.text;
    EXPECT_EQ(Text(b), c.second) << c.text;
  }
  cKV_String keepA("A"), keepB("B");
  {
    ScopedFault fault("alloc", ENOMEM);
    EXPECT_FALSE(osDecodeUniPath("first|second", keepA, keepB));
  }
  EXPECT_EQ(Text(keepA) + Text(keepB), "AB");

  cKV_String encoded;
  osEncodeUniPath("srv", "/var/log/x|y", encoded);
  EXPECT_EQ(Text(encoded), "srv|/var/log/x|y");
  osEncodeUniPath(nullptr, nullptr, encoded);
  EXPECT_EQ(Text(encoded), "|");
  // Inputs that are the outputs themselves.
  cKV_String self("left|right"), other;
  osEncodeUniPath(self, "more", self);
  EXPECT_EQ(Text(self), "left|right|more");
  ASSERT_TRUE(osDecodeUniPath(self, self, other));
  EXPECT_EQ(Text(self), "left");
  EXPECT_EQ(Text(other), "right|more");
}

TEST(PathUnc, TextFormsAreSplitWithoutAskingTheHost) {
  for (auto [path, unc] : {std::pair<char const*, bool>{"\\\\srv\\x", true}, {"//srv/x", true}, {"\\/srv", true},
                           {"\\\\?\\C:\\x", false}, {"\\x", false}, {"", false}, {nullptr, false}})
    EXPECT_EQ(osIsUncPath(path), unc) << (path ? path : "null");

  cKV_Error err;
  cKV_String server("s"), path("p");
  // Reading the mount table would fail: none of these may need it.
  ScopedFault noTable("io.hostfile", EIO, 0, 100);
  ASSERT_TRUE(osConvertToUnc(&err, "\\\\srv\\share\\dir\\f.txt", server, path));
  EXPECT_EQ(Text(server) + " " + Text(path), "srv share\\dir\\f.txt");
  ASSERT_TRUE(osConvertToUnc(&err, "\\\\srv", server, path));
  EXPECT_EQ(Text(server) + " " + Text(path), "srv ");
  EXPECT_TRUE(err.IsNotError());
  EXPECT_EQ(noTable.Failures(), 0u);

  for (char const* bad : {"//srv/x", "\\/srv\\x", "/\\srv"}) {
    EXPECT_FALSE(osConvertToUnc(&err, bad, server, path));
    ExpectReport(err, std::string("Failed to convert [") + bad + "] to UNC path: Invalid path");
  }
  EXPECT_EQ(Text(server), "srv");  // failures write nothing

  cKV_String self("\\\\host\\vol\\x");
  ASSERT_TRUE(osConvertToUnc(nullptr, self, self, path));
  EXPECT_EQ(Text(self) + " " + Text(path), "host vol\\x");
}

TEST(PathUnc, NetworkMountsFromTheMountTable) {
  ScopedRecordedRoot root(Recorded("network"));
  struct {
    char const *local, *server, *onServer;  // no server: not on a network mount
  } const cases[] = {
      {"/mnt/fs1/reports/x.txt", "fs1", "data/reports/x.txt"}, {"/mnt/fs1", "fs1", "data"},
      {"/mnt/fs1/", "fs1", "data"},                              {"/mnt/fs1/a/../b/./c", "fs1", "data/b/c"},
      {"/mnt/x/../fs1//y", "fs1", "data/y"},                     {"/mnt/fs1\\docs\\a.txt", "fs1", "data/docs/a.txt"},
      {"/home/users/bob/notes.txt", "nas.example.org", "export/home/bob/notes.txt"},
      {"/srv/reports/q1.pdf", "fs1", "data/reports/2024/q1.pdf"}, {"/mnt/old share/f", "oldbox", "vol/a b/f"},
      {"/mnt/deep/src/main.c", "fs3", "team/projects/alpha/src/main.c"}, {"/mnt/v6/x", "fd00::5", "vol/x"},
      // Local file systems, also where they sit on or hide a network mount.
      {"/mnt/fs1/scratch/a", nullptr, nullptr}, {"/mnt/fs10/x", nullptr, nullptr}, {"/mnt/stack/x", nullptr, nullptr},
      {"/etc/passwd", nullptr, nullptr},        {"/", nullptr, nullptr},           {"", nullptr, nullptr},
  };
  cKV_Error err;
  for (auto const& c : cases) {
    cKV_String server("s"), onServer("p");
    EXPECT_EQ(osConvertToUnc(&err, c.local, server, onServer), c.server != nullptr) << c.local;
    EXPECT_EQ(Text(server) + " " + Text(onServer), c.server ? std::string(c.server) + " " + c.onServer : "s p");
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
  struct {
    char const *table, *path;
    std::string report;
  } const sources[] = {
      {"badsource", "/mnt/bad/x", "Failed to convert [/mnt/bad/x" + bad + "fs9share"},
      {"badsource", "/mnt/badnfs/y", "Failed to convert [/mnt/badnfs/y" + bad + "noserverpart"},
      {"local", "/tmp/x", ""},
      {"local", "/data/a/b", ""},
  };
  for (auto const& c : sources) {
    ScopedRecordedRoot root(Recorded(c.table));
    err.Reset();
    EXPECT_FALSE(osConvertToUnc(&err, c.path, server, onServer)) << c.path;
    EXPECT_EQ(err.GetCode(), c.report.empty() ? 0 : 3);
    EXPECT_EQ(Text(err.GetText()), c.report);
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
