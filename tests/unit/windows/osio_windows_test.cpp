// Files on Windows: native sharing against handles that the host opened
// directly, names in UTF-16, long names, the separator, the console wait.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "OS/osio.h"
#include "OS/windows/wide.h"
#include "support/testing.h"

using namespace Korvane;
using kvtest::TempDir;

namespace {

void* const kInvalid = osInvalidFileHandle();

std::wstring W(std::string const& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string Text(cKV_String const& s) { return static_cast<char const*>(s); }

HANDLE HostOpen(std::string const& path, DWORD access, DWORD share) {
  return CreateFileW(W(path).c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(WindowsFiles, SharingIsTheHostsOwnAgainstHandlesOpenedDirectly) {
  TempDir dir;
  std::string path = dir / "shared.txt";
  kvtest::WriteFile(path, "content");

  // A reader that lets others read only: our readers get in, our writers not.
  HANDLE reader = HostOpen(path, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  void* f = osFileOpen(path.c_str(), 1, 0x300);
  EXPECT_NE(f, kInvalid);
  osFileClose(f);
  EXPECT_EQ(osFileOpen(path.c_str(), 2, 0x300), kInvalid);
  EXPECT_EQ(osGetSysError(), ERROR_SHARING_VIOLATION);
  // Nor may ours refuse the reader that is already there.
  EXPECT_EQ(osFileOpen(path.c_str(), 1, 0x200), kInvalid);
  // A refused create leaves the file as it was.
  EXPECT_EQ(osFileOpen(path.c_str(), 2 | 4, 0x300), kInvalid);
  CloseHandle(reader);
  EXPECT_EQ(kvtest::ReadFile(path), "content");

  // Ours refuses everything: the host refuses its own opens too, and lets
  // them in once ours is closed.
  f = osFileOpen(path.c_str(), 1, 0);
  ASSERT_NE(f, kInvalid);
  HANDLE other = HostOpen(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  osFileClose(f);
  other = HostOpen(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);
  CloseHandle(other);

  // Handles are never inherited by children.
  f = osFileOpen(path.c_str(), 1, 0x300);
  DWORD flags = 0;
  ASSERT_TRUE(GetHandleInformation(static_cast<HANDLE>(f), &flags));
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
  osFileClose(f);
}

TEST(WindowsFiles, NamesAreUtf8AndInvalidOnesAreRefusedWithoutTrace) {
  TempDir dir;
  // The same bytes name the same file: the host sees "café".
  std::string cafe = dir / "caf\xC3\xA9.txt";
  void* f = osFileOpen(cafe.c_str(), 3 | 4, 0x300);
  ASSERT_NE(f, kInvalid);
  osFileClose(f);
  EXPECT_NE(GetFileAttributesW((W(dir.Path()) + L"\\caf\u00E9.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(osFileIsExist(cafe.c_str()));

  // Invalid UTF-8 is a clear failure, and nothing is made under another name.
  cKV_Error err;
  for (std::string bad : {"\xE9t\xE9", "a\xC3", "\xC0\xAF", "\xED\xA0\x80"}) {
    std::string path = dir / bad;
    EXPECT_EQ(osFileOpen(path.c_str(), 3 | 4, 0x300), kInvalid) << bad;
    EXPECT_EQ(osGetSysError(), ERROR_NO_UNICODE_TRANSLATION) << bad;
    EXPECT_FALSE(osCreateDirectory(&err, path.c_str(), false)) << bad;
    EXPECT_FALSE(osFileIsExist(path.c_str())) << bad;
  }
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((W(dir.Path()) + L"\\*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  int entries = 0;
  do ++entries;
  while (FindNextFileW(find, &data));
  FindClose(find);
  EXPECT_EQ(entries, 3);  // ".", ".." and café
}

TEST(WindowsFiles, NamesBeyondTheClassicLimitWork) {
  TempDir dir;
  // Three levels of 100 characters: past MAX_PATH both for the directory
  // (less 12) and for the file in it.
  std::string deep = dir.Path();
  for (char c : {'a', 'b', 'c'}) deep += "\\" + std::string(100, c);
  cKV_Error err;
  ASSERT_TRUE(osCreateDirectory(&err, deep.c_str(), true)) << Text(err.GetText());
  EXPECT_TRUE(osIsDirectory(deep.c_str()));
  std::string file = deep + "\\" + std::string(60, 'f') + ".txt";
  ASSERT_GT(file.size(), static_cast<std::size_t>(MAX_PATH));
  void* f = osFileOpen(file.c_str(), 3 | 4, 0);
  ASSERT_NE(f, kInvalid);
  unsigned int n = 0;
  EXPECT_TRUE(osFileWrite(f, reinterpret_cast<unsigned char const*>("long"), 4, n));
  osFileClose(f);
  cKV_String text;
  EXPECT_TRUE(osReadFileTxt(&err, file.c_str(), text, 100));
  EXPECT_EQ(Text(text), "long");
  // The host agrees, through its own long form.
  EXPECT_NE(GetFileAttributesW((L"\\\\?\\" + W(file)).c_str()), INVALID_FILE_ATTRIBUTES);
  // Found by a search, and the whole tree goes.
  cKV_String name;
  void* search = osFileFindFirst(deep.c_str(), "*.txt", name);
  ASSERT_NE(search, nullptr);
  EXPECT_EQ(Text(name), std::string(60, 'f') + ".txt");
  osFileFindEnd(search);
  EXPECT_TRUE(osDeleteDirectory(&err, (dir.Path() + "\\" + std::string(100, 'a')).c_str(), true));
  EXPECT_FALSE(osFileIsExist(file.c_str()));
}

// What the host is handed: names past the classic limit in the long form,
// absolute; others as they are. Wine takes long names either way, so the
// form is checked here rather than through a failure.
TEST(WindowsFiles, LongNamesAreHandedToTheHostInTheirLongForm) {
  std::string const part(100, 'p');
  std::string const relative = part + "\\" + part + "\\" + part;
  std::wstring cwd(MAX_PATH * 4, L'\0');
  cwd.resize(GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data()));
  if (cwd.back() != L'\\') cwd += L'\\';
  struct {
    std::string name;
    bool directory;
    std::wstring handed;
  } const cases[] = {
      {"short.txt", false, L"short.txt"},
      {relative.substr(0, MAX_PATH - 1), false, W(relative.substr(0, MAX_PATH - 1))},
      {relative.substr(0, MAX_PATH), false, L"\\\\?\\" + cwd + W(relative.substr(0, MAX_PATH))},
      // A directory to be made has 12 characters less.
      {relative.substr(0, MAX_PATH - 13), true, W(relative.substr(0, MAX_PATH - 13))},
      {relative.substr(0, MAX_PATH - 12), true, L"\\\\?\\" + cwd + W(relative.substr(0, MAX_PATH - 12))},
      {"C:/" + relative, false, L"\\\\?\\C:\\" + W(relative)},
      {"\\\\srv\\share\\" + relative, false, L"\\\\?\\UNC\\srv\\share\\" + W(relative)},
      {"\\\\?\\C:\\" + relative, false, L"\\\\?\\C:\\" + W(relative)},  // already long: as it is
  };
  for (auto const& c : cases) {
    win::WidePath handed(c.name.c_str(), c.directory);
    ASSERT_TRUE(handed.Ok()) << c.name.size();
    EXPECT_TRUE(handed.Get() == c.handed) << c.name.size() << (c.directory ? " directory" : " file");
  }
  EXPECT_FALSE(win::WidePath("bad\xFF").Ok());
}

TEST(WindowsFiles, SeparatorsDrivesAndNetworkNames) {
  cKV_String p("C:/a/b");
  osEnsureCorrectDirSlash(p);
  EXPECT_EQ(Text(p), "C:\\a\\b");
  osEnsureTrailingSlash(p);
  EXPECT_EQ(Text(p), "C:\\a\\b\\");
  cKV_String q("C:/x/");
  osEnsureTrailingSlash(q);  // either separator counts as one
  EXPECT_EQ(Text(q), "C:/x/");

  // Drive forms are the host's: a drive root is a directory.
  EXPECT_TRUE(osIsDirectory("C:\\"));
  EXPECT_TRUE(osIsDirectory("C:/"));
  EXPECT_FALSE(osFileIsExist("C:\\kvos-no-such-file"));
  // \\?\ names are the host's long form, not network names.
  EXPECT_FALSE(osIsUncPath("\\\\?\\C:\\x"));
  EXPECT_TRUE(osIsDirectory("\\\\?\\C:\\"));
}

// The host's own network provider: a path on a local drive has no network
// name, and that is no failure.
TEST(WindowsFiles, LocalPathsHaveNoNetworkName) {
  TempDir dir;
  cKV_Error err;
  cKV_String server("s"), onServer("p");
  EXPECT_FALSE(osConvertToUnc(&err, dir.Path().c_str(), server, onServer));
  EXPECT_FALSE(osConvertToUnc(&err, "C:\\windows", server, onServer));
  EXPECT_TRUE(err.IsNotError()) << Text(err.GetText());
  EXPECT_EQ(Text(server) + Text(onServer), "sp");
}

// Puts `in` in place of standard input for the scope.
class ScopedStdin {
 public:
  explicit ScopedStdin(HANDLE in) : _saved(GetStdHandle(STD_INPUT_HANDLE)) { SetStdHandle(STD_INPUT_HANDLE, in); }
  ~ScopedStdin() { SetStdHandle(STD_INPUT_HANDLE, _saved); }

 private:
  HANDLE _saved;
};

std::string KeyWithin(unsigned int ms) {
  char key = 0;
  return osWaitForConsoleInput(ms, key) ? std::string(1, key) : "none";
}

TEST(WindowsConsole, PipesAndMissingInput) {
  void* readEnd = nullptr;
  void* writeEnd = nullptr;
  ASSERT_TRUE(kvtest::MakePipe(readEnd, writeEnd));
  {
    ScopedStdin in(static_cast<HANDLE>(readEnd));
    EXPECT_EQ(KeyWithin(20), "none");
    ASSERT_TRUE(kvtest::WritePipe(writeEnd, "q\r\nz"));
    std::string keys;
    for (int i = 0; i < 4; ++i) keys += KeyWithin(0);
    EXPECT_EQ(keys, "q\n\nz");
    EXPECT_EQ(KeyWithin(10), "none");
    kvtest::ClosePipeEnd(writeEnd);
    EXPECT_EQ(KeyWithin(10), "none");  // the writer gone: nothing, no error
  }
  kvtest::ClosePipeEnd(readEnd);
  ScopedStdin none(nullptr);
  EXPECT_EQ(KeyWithin(10), "none");
}

}  // namespace
