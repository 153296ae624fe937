#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "OS/host/unc.h"
#include "OS/osio.h"
#include "support/testing.h"

using namespace Korvane;
using kvtest::ScopedFault;
using kvtest::ScopedRecordedRoot;
using kvtest::TempDir;

namespace fs = std::filesystem;

namespace {

std::string Text(cKV_String const& s) { return static_cast<char const*>(s); }

std::string SysText(int code) { return Text(osGetSysErrorStr(code)); }

void ExpectReport(cKV_Error const& e, std::string const& text) {
  EXPECT_EQ(e.GetCode(), 3);
  EXPECT_STREQ(e.GetUnit(), ".\\osio");
  EXPECT_EQ(Text(e.GetText()), text);
}

std::string SysText(kvtest::Err kind) { return SysText(kvtest::HostError(kind)); }
using kvtest::Err;

// `path` with the host's separator where it has '/'.
std::string Sep(std::string path) {
  for (char& c : path)
    if (c == '/') c = kvtest::HostSeparator();
  return path;
}

// Makes a fresh tree under `root`: names ending in '/' are directories, the
// others files.
void MakeTree(std::string const& root, std::vector<std::string> const& entries) {
  fs::remove_all(kvtest::U8Path(root));
  fs::create_directories(kvtest::U8Path(root));
  for (auto const& e : entries) {
    fs::create_directories(kvtest::U8Path(root + "/" + e).parent_path());
    if (e.back() != '/') kvtest::WriteFile(root + "/" + e, "x");
  }
}

TEST(DirNames, ExistenceKindAndDeletingFiles) {
  TempDir dir;
  std::string file = dir / "f.txt", dangling = dir / "dangling";
  kvtest::WriteFile(file, "x");
  // Links where the host shows them: one that leads nowhere, one to a directory.
  std::string why;
  bool links = kvtest::MakeSymlink("nowhere", dangling, why) && kvtest::MakeSymlink(dir.Path(), dir / "todir", why);
  if (!links) std::printf("[ NO LINKS ] %s\n", why.c_str());
  std::vector<std::tuple<std::string, bool, bool>> names = {
      {file, true, false},           {dir.Path(), true, true}, {dir.Path() + "/", true, true},
      {dir / "missing", false, false}, {"", false, false},     {dir / std::string(5000, 'z'), false, false}};
  if (links) names.insert(names.end(), {{dir / "todir", true, true}, {dangling, true, false}});
  for (auto const& [path, exists, isDir] : names) {
    EXPECT_EQ(osFileIsExist(path.c_str()), exists) << path;
    EXPECT_EQ(osIsDirectory(path.c_str()), isDir) << path;
  }
  EXPECT_FALSE(osFileIsExist(nullptr));
  EXPECT_FALSE(osIsDirectory(nullptr));

  cKV_Error err;
  EXPECT_TRUE(osDeleteFile(&err, file.c_str()));
  EXPECT_TRUE(!links || osDeleteFile(&err, dangling.c_str()));
  EXPECT_TRUE(err.IsNotError());
  EXPECT_FALSE(osDeleteFile(&err, file.c_str()));
  ExpectReport(err, "Failed to delete file [" + file + "]. " + SysText(Err::kNotFound));
  EXPECT_FALSE(osDeleteFile(&err, dir.Path().c_str()));
  ExpectReport(err, "Failed to delete file [" + dir.Path() + "]. " + SysText(Err::kIsDir));
  // Root may delete anything; a refusal comes through the seam.
  kvtest::WriteFile(file, "x");
  {
    ScopedFault fault("io.unlink", kvtest::HostError(Err::kAccess));
    EXPECT_FALSE(osDeleteFile(&err, file.c_str()));
  }
  ExpectReport(err, "Failed to delete file [" + file + "]. " + SysText(Err::kAccess));
  EXPECT_TRUE(osFileIsExist(file.c_str()));
}

TEST(DirCreate, SingleLevelsParentsAndEveryReport) {
  TempDir dir;
  cKV_Error err;
  kvtest::WriteFile(dir / "file", "");
  std::string const nested = dir.Path() + "/a\\b/c/", made = "Failed to create directory ";
  // path, parents, io.mkdir passes before and refusals, report
  std::tuple<std::string, bool, unsigned, unsigned, std::string> const failures[] = {
      {"", true, 0, 0, "Directory with empty name can not be created"},
      {nested, false, 0, 0, made + nested + ". " + SysText(Err::kPathNotFound)},
      // No separator left to go up: the short report.
      {"kvos-no-such-dir-here", true, 0, 1, made + "kvos-no-such-dir-here"},
      {"kvos-no-such-dir-here", false, 0, 1, made + "kvos-no-such-dir-here. " + SysText(Err::kAccess)},
      // Going up past the only separator ends at the empty parent.
      {"/kvos-no-such-dir-here", true, 0, 10, "Directory with empty name can not be created"},
      // A deeper level failing leaves the parents that were made: p and q
      // fail for want of a parent, r is made; then q is refused.
      {dir / "r/q/p", true, 3, 1, made + dir / "r/q. " + SysText(Err::kAccess)},
  };
  for (auto const& [path, parents, skip, refusals, report] : failures) {
    ScopedFault fault("io.mkdir", kvtest::HostError(Err::kAccess), skip, refusals);
    EXPECT_FALSE(osCreateDirectory(&err, path.c_str(), parents)) << path.substr(0, 200);
    ExpectReport(err, report);
  }
  EXPECT_TRUE(osIsDirectory((dir / "r").c_str()));
  EXPECT_FALSE(osIsDirectory((dir / "r/q").c_str()));
  EXPECT_FALSE(osCreateDirectory(&err, nullptr, false));
  ExpectReport(err, "Directory with empty name can not be created");

  err.Reset();
  EXPECT_TRUE(osCreateDirectory(nullptr, dir.Path().c_str(), false));
  EXPECT_TRUE(osCreateDirectory(&err, dir.Path().c_str(), true));
  EXPECT_TRUE(err.IsNotError());
  // A backslash separates as a slash does, in every step.
  EXPECT_TRUE(osCreateDirectory(&err, nested.c_str(), true));
  EXPECT_TRUE(osIsDirectory((dir / "a/b/c").c_str()));
  // Where a backslash can be part of a name, no such name was made.
  if (kvtest::HostSeparator() == '/') {
    EXPECT_FALSE(osFileIsExist((dir.Path() + "/a\\b").c_str()));
  }
}

TEST(DirDelete, TreesWithAndWithoutTheFlagAndWhatStays) {
  TempDir dir;
  cKV_Error err;
  std::string root = dir / "tree", outside = dir / "outside";
  MakeTree(outside, {"keep.txt"});
  MakeTree(root, {"a/b/c/deep.txt", "e/", "top.txt", "a/\xC3\xA9t\xC3\xA9.txt"});
  std::string why;
  if (!kvtest::MakeSymlink(outside, root + "/a/link", why)) std::printf("[ NO LINKS ] %s\n", why.c_str());

  // Without the flag: the plain entries and an empty subdirectory go, a
  // non-empty subdirectory is reported and the tree itself stays.
  EXPECT_FALSE(osDeleteDirectory(&err, root.c_str(), false));
  ExpectReport(err, "dir [" + root + Sep("/a") + "] " + SysText(Err::kNotEmpty) + "\n");
  EXPECT_FALSE(osFileIsExist((root + "/top.txt").c_str()));
  EXPECT_FALSE(osFileIsExist((root + "/e").c_str()));
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
  EXPECT_FALSE(osDeleteDirectory(&err, (dir / "plain").c_str(), true));
  ExpectReport(err, "Failed to delete file [" + dir / "plain" + "]. " + SysText(Err::kNotFound));

  // Items that stay are reported one line each, in the order met.
  // Deletes the tree while `point` fails with `error`.
  auto deleteFailing = [&](char const* point, int error, std::string const& report) {
    ScopedFault fault(point, error, 0, 100);
    EXPECT_FALSE(osDeleteDirectory(&err, root.c_str(), true));
    ExpectReport(err, report);
  };
  // One file in the whole tree, so that the one refused deletion is its.
  MakeTree(root, {"a/b/stuck.txt", "a/empty/", "e1/", "e2/e3/"});
  deleteFailing("io.unlink", kvtest::HostError(Err::kAccess), "file [" + root + Sep("/a/b/stuck.txt") + "] " + SysText(Err::kAccess) + "\n");
  // Everything else went; the directories on the way to the file stayed.
  EXPECT_TRUE(osFileIsExist((root + "/a/b/stuck.txt").c_str()));
  for (char const* gone : {"/a/empty", "/e1", "/e2"}) EXPECT_FALSE(osFileIsExist((root + gone).c_str())) << gone;

  // The directory itself refusing to go is reported with its separator.
  MakeTree(root, {"gone"});
  deleteFailing("io.rmdir", kvtest::HostError(Err::kBusy), "dir [" + root + Sep("/") + "] " + SysText(Err::kBusy) + "\n");
  EXPECT_FALSE(osFileIsExist((root + "/gone").c_str()));
  // A directory that vanishes while it is listed: nothing to list, and the
  // removal that follows says why.
  {
    ScopedFault vanished("io.opendir", kvtest::HostError(Err::kPathNotFound));
    deleteFailing("io.rmdir", kvtest::HostError(Err::kPathNotFound), "dir [" + root + Sep("/") + "] " + SysText(Err::kPathNotFound) + "\n");
  }
  EXPECT_TRUE(osDeleteDirectory(&err, root.c_str(), true));
}

TEST(DirTime, ModificationTimesRoundTrip) {
  TempDir dir;
  std::string file = dir / "t", missing = dir / "missing";
  kvtest::WriteFile(file, "t");
  cKV_Error err;
  unsigned int time = 1;
  for (unsigned int set : {0u, 4000000000u}) {  // the second beyond 2038
    ASSERT_TRUE(osSetFileTime(&err, file.c_str(), set));
    ASSERT_TRUE(osGetFileTime(&err, file.c_str(), time));
    EXPECT_EQ(time, set);
  }
  EXPECT_TRUE(err.IsNotError());

  time = 5;
  EXPECT_FALSE(osGetFileTime(&err, missing.c_str(), time));
  ExpectReport(err, "File not found:" + missing);
  EXPECT_FALSE(osGetFileTime(nullptr, nullptr, time));
  // Times a 32-bit count cannot hold are not passed on cut.
  ASSERT_TRUE(kvtest::SetModTime(file, -100));
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

TEST(DirFind, MasksFollowTheOriginalWildcardRulesAndHandlesNeverLeak) {
  TempDir dir;
  std::vector<std::string> files{"a.txt", "B.TXT", "c.log", "noext", ".hidden", "r\xC3\xA9sum\xC3\xA9.txt", "x.tar.gz", "ab"};
  MakeTree(dir.Path(), files);
  MakeTree(dir / "sub", {"s.log"});
  using Names = std::set<std::string>;
  Names all(files.begin(), files.end());
  all.insert({".", "..", "sub"});
  std::pair<std::string, Names> const cases[] = {
      {"*", all}, {"*.*", all}, {"*.txt", {"a.txt", "B.TXT", "r\xC3\xA9sum\xC3\xA9.txt"}}, {"?.txt", {"a.txt", "B.TXT"}},
      {"??", {"..", "ab"}}, {"NOEXT.*", {"noext"}}, {"*.gz", {"x.tar.gz"}}, {"x*z", {"x.tar.gz"}},
      {"R\xC3\xA9SUM\xC3\xA9.txt", {"r\xC3\xA9sum\xC3\xA9.txt"}}, {"r\xC3\x89sum\xC3\x89.txt", {}},  // only ASCII letters fold
      {"sub/*.log", {"s.log"}},
  };
  for (auto const& [mask, names] : cases) EXPECT_EQ(FindAll(dir.Path(), mask.c_str()), names) << mask;
  EXPECT_EQ(FindAll(dir.Path() + "/", "*"), all);

  // Folding at the alphabet's ends, and not beside them: '@' and '[' border
  // the capitals, '`' and '{' the small letters.
  std::string const ends = dir / "ends";
  MakeTree(ends, {"Zone.az", "alpha.AZ", "@at", "[br"});
  std::pair<std::string, Names> const folds[] = {
      {"zONE.*", {"Zone.az"}}, {"ALPHA.az", {"alpha.AZ"}}, {"*.AZ", {"Zone.az", "alpha.AZ"}},
      {"*z", {"Zone.az", "alpha.AZ"}}, {"a*", {"alpha.AZ"}}, {"`at", {}}, {"{br", {}}, {"@AT", {"@at"}}};
  for (auto const& [mask, names] : folds) EXPECT_EQ(FindAll(ends, mask.c_str()), names) << mask;

  // Nothing matches, or nothing to read: null, and the name untouched.
  cKV_String name("untouched");
  EXPECT_EQ(osFileFindFirst(dir.Path().c_str(), "*.none", name), nullptr);
  EXPECT_EQ(osFileFindFirst((dir / "missing").c_str(), "*", name), nullptr);
  EXPECT_EQ(Text(name), "untouched");

  // Handles never leak, and survive a directory that vanishes.
  std::string sub = dir / "many";
  fs::create_directories(kvtest::U8Path(sub));
  for (int i = 0; i < 50; ++i) kvtest::WriteFile(sub + "/f" + std::to_string(i), "");
  int const descriptors = kvtest::OpenFileCount();
  for (int i = 0; i < 20; ++i) {
    // The pattern, the mask and the handle's own state.
    for (unsigned skip = 0; skip < 3; ++skip) {
      ScopedFault fault("alloc", ENOMEM, skip);
      EXPECT_EQ(osFileFindFirst(sub.c_str(), "*", name), nullptr);
    }
  }
  EXPECT_EQ(kvtest::OpenFileCount(), descriptors);

  void* find = osFileFindFirst(sub.c_str(), "*", name);
  ASSERT_NE(find, nullptr);
  // Where the host keeps a directory while it is searched, its entries
  // still go.
  std::error_code ignored;
  fs::remove_all(kvtest::U8Path(sub), ignored);
  int more = 0;
  while (osFileFindNext(find, name) && more < 1000) ++more;
  EXPECT_LT(more, 1000);
  osFileFindEnd(find);
  EXPECT_EQ(kvtest::OpenFileCount(), descriptors);
}

// Path strings and network paths.

TEST(PathString, NamesExtensionsSeparatorsAndUniPaths) {
  std::tuple<char const*, char const*, char const*, char const*> const cases[] = {
      {"C:\\a\\b.txt", "b.txt", "C:\\a\\", "txt"},         {"C:\\a\\", "C:\\a\\", "C:\\a\\", ""},
      {"b.txt", "b.txt", "", "txt"},                       {"a/b", "b", "a/", ""},
      {"x.tar.gz", "x.tar.gz", "", "gz"},                  {".profile", ".profile", "", "profile"},
      {"name.", "name.", "", ""},                          {"/", "/", "/", ""},
      {"", "", "", ""},                                    {nullptr, "", "", ""},
      {"dir/caf\xC3\xA9.t\xFFt", "caf\xC3\xA9.t\xFFt", "dir/", "t\xFFt"},
  };
  for (auto const& [path, name, folder, ext] : cases) {
    SCOPED_TRACE(path == nullptr ? "null" : std::string(path).substr(0, 100));
    EXPECT_EQ(Text(osExtractFilename(path)), name);
    EXPECT_EQ(Text(osExtractFilepath(path)), folder);
    EXPECT_EQ(Text(osExtractFileExt(path)), ext);
  }

  // Changing extensions and separators.
  std::tuple<char const*, char const*, char const*> const exts[] = {
      {"C:\\a\\b.txt", "log", "C:\\a\\b.log"}, {"C:\\a.d\\b", "log", "C:\\a.d\\b.log"},
      {"b.tar.gz", "zip", "b.tar.zip"},        {"b.txt", "", "b."},
      {"dir.v2/file", "o", "dir.v2/file.o"},   {"a.b", nullptr, "a."},
  };
  for (auto const& [path, ext, result] : exts) {
    cKV_String s(path);
    osChangeFileExt(s, ext);
    EXPECT_EQ(Text(s), result) << path;
  }
  cKV_String s("keep.txt");
  {
    ScopedFault fault("alloc", ENOMEM);
    osChangeFileExt(s, "log");
  }
  EXPECT_EQ(Text(s), "keep.txt");

  std::tuple<void (*)(cKV_String&), char const*, std::string> const slashes[] = {
      {osEnsureCorrectDirSlash, "C:\\a/b\\c", Sep("C:/a/b/c")}, {osEnsureCorrectDirSlash, "", ""},
      {osEnsureTrailingSlash, "C:\\a\\", "C:\\a\\"},       {osEnsureTrailingSlash, "C:/a", "C:/a" + Sep("/")},
      {osEnsureNoTrailingSlash, "", ""},                   {osEnsureNoTrailingSlash, "/", ""},
      {osEnsureNoTrailingSlash, "C:\\a\\\\", "C:\\a\\"},  // only the last one goes
  };
  for (auto const& [fix, path, result] : slashes) {
    cKV_String p(path);
    fix(p);
    EXPECT_EQ(Text(p), result) << path;
  }

  // Uni paths.
  for (auto [path, uni] : {std::pair<char const*, bool>{"host|C:\\x", true}, {"name", true}, {"", true},
                           {nullptr, true}, {"C:\\x|y", false}, {"a\\b", false}, {"a/b", false}})
    EXPECT_EQ(osIsUniPath(path), uni) << (path ? path : "null");

  std::tuple<char const*, bool, char const*, char const*> const decodes[] = {
      {"host|C:\\x", true, "host", "C:\\x"}, {"|x", true, "", "x"},       {"host|", true, "host", ""},
      {"name", true, "name", ""},            {"a|b|c/d", true, "a", "b|c/d"}, {"", true, "", ""},
      {"a\\b|c", false, "untouched", "untouched"}, {"a/b", false, "untouched", "untouched"},
  };
  for (auto const& [text, ok, first, second] : decodes) {
    cKV_String a("untouched"), b("untouched");
    EXPECT_EQ(osDecodeUniPath(text, a, b), ok) << text;
    EXPECT_EQ(Text(a), first) << text;
    EXPECT_EQ(Text(b), second) << text;
    EXPECT_TRUE(a.Cmp(first) && b.Cmp(second)) << text;  // parts hold a buffer, also empty ones
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


// Recorded answers of a network provider: a mapped drive M: for
// \\fs1\data, a provider that answers with a name without its server part,
// and each refusal that is reported.
host::UncAnswer RecordedProvider(char const* path, char* full, std::size_t fullCap, char* universal,
                                 std::size_t universalCap) {
  std::string const p(path), asFull = "M:\\" + p.substr(std::min<std::size_t>(p.size(), 3));
  std::snprintf(full, fullCap, "%s", asFull.c_str());
  universal[0] = '\0';
  if (p.rfind("M:\\", 0) == 0) {
    std::snprintf(universal, universalCap, "\\\\fs1\\data\\%s", p.c_str() + 3);
    return host::UncAnswer::kFound;
  }
  if (p == "S:\\") {
    std::snprintf(universal, universalCap, "\\\\solo");
    return host::UncAnswer::kFound;
  }
  if (p == "B:\\x") {
    std::snprintf(universal, universalCap, "fs1\\data\\x");
    return host::UncAnswer::kFound;
  }
  if (p == "D:\\x") return host::UncAnswer::kBadDevice;
  if (p == "P:\\x") return host::UncAnswer::kConnectionUnavailable;
  if (p == "N:\\x") return host::UncAnswer::kNotSupported;
  return host::UncAnswer::kNoAnswer;
}

struct ScopedProvider {
  ScopedProvider() { host::SetUncProvider(RecordedProvider); }
  ~ScopedProvider() { host::SetUncProvider(nullptr); }
};

TEST(PathUnc, NetworkProviderAnswers) {
  ScopedProvider recorded;
  cKV_Error err;
  std::string const prefix = "Failed to convert [";
  // path, server and path on it (or the report; none: false quietly)
  std::tuple<char const*, char const*, char const*, std::string> const cases[] = {
      {"M:\\reports\\x.txt", "fs1", "data\\reports\\x.txt", ""},
      {"S:\\", "solo", "", ""},
      {"B:\\x", nullptr, nullptr, prefix + "B:\\x] to UNC path: Invalid data received from WNetGetUniversalName:fs1\\data\\x"},
      {"D:\\x", nullptr, nullptr, prefix + "M:\\x] to UNC path: ERROR_BAD_DEVICE (The string is invalid path.)"},
      {"P:\\x", nullptr, nullptr,
       prefix + "M:\\x] to UNC path: ERROR_CONNECTION_UNAVAIL (There is no current connection to the remote device, "
                "but there is a remembered (persistent) connection to it.)"},
      {"N:\\x", nullptr, nullptr,
       prefix + "M:\\x] to UNC path: ERROR_NOT_SUPPORTED (Network provider does not support UNC names)"},
      {"C:\\local", nullptr, nullptr, ""},
  };
  for (auto const& [path, host, onHost, report] : cases) {
    SCOPED_TRACE(path);
    err.Reset();
    cKV_String server("s"), onServer("p");
    EXPECT_EQ(osConvertToUnc(&err, path, server, onServer), host != nullptr);
    EXPECT_EQ(Text(server) + " " + Text(onServer), host ? std::string(host) + " " + onHost : "s p");
    EXPECT_EQ(Text(err.GetText()), report);
    EXPECT_EQ(err.GetCode(), report.empty() ? 0 : 3);
  }
  // The outputs may be the input.
  cKV_String self("M:\\a\\b"), other;
  ASSERT_TRUE(osConvertToUnc(nullptr, self, self, other));
  EXPECT_EQ(Text(self) + " " + Text(other), "fs1 data\\a\\b");
}

}  // namespace
