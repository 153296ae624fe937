// kvos cfg where only Windows shows it: reserved device names, the
// read-only attribute, hard links, a file that another program holds without letting
// it be replaced, '\' paths and drive letters, access lists kept, and the
// edit's copies held by open handles.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cfg_file.h"
#include "support/testing.h"

using kvtest::ReadFile;
using kvtest::RunKvos;
using kvtest::TempDir;
using kvtest::WriteFile;

namespace {

std::wstring Wide(std::string const& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), n);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

std::string Backslashed(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

bool HasCopyLeft(std::string const& dir) {
  for (auto const& entry : std::filesystem::directory_iterator(kvtest::U8Path(dir)))
    if (entry.path().filename().string().find(".kvos-") != std::string::npos) return true;
  return false;
}

TEST(KvosCfgWindows, ReservedDeviceNamesAreRefusedWherever) {
  TempDir dir;
  // In any directory, in any case, with an extension or trailing blanks:
  // the host takes them for its devices.
  for (std::string const name : {"NUL", "con", "Com1", "lpt9", "nul.cfg", "AUX ", "CONOUT$", "\\\\.\\NUL"}) {
    std::string const path = name.rfind("\\\\", 0) == 0 ? name : dir / name;
    auto r = RunKvos({"cfg", "set", path, "s", "k", "v"});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_NE(r.err.find("it is a device"), std::string::npos) << name << ": " << r.err;
  }
  // Names that merely begin like one are files like any other.
  for (std::string const name : {"CONFIG.cfg", "com10.cfg", "nul_x.cfg", "LPT.cfg"}) {
    auto r = RunKvos({"cfg", "set", dir / name, "s", "k", "v"});
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    EXPECT_EQ(ReadFile(dir / name), "[s]\nk = v\n") << name;
  }
  EXPECT_FALSE(HasCopyLeft(dir.Path()));
}

// A ':' after the drive names a stream of a file, or with nothing after
// it (CON:) a device. Nothing is made, not even the copy's stream host.
TEST(KvosCfgWindows, StreamNamesAreRefusedAndDriveColonsAreNot) {
  TempDir dir;
  std::string const file = dir / "app.cfg";
  WriteFile(file, "[s]\nk = 1\n");
  for (std::string const name : {"app.cfg:extra", "app.cfg:", "new.cfg:x", "app.cfg::$DATA", ":x"}) {
    auto r = RunKvos({"cfg", "set", dir / name, "s", "k", "2"});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_NE(r.err.find("names a stream"), std::string::npos) << name << ": " << r.err;
  }
  for (std::string const name : {"CON:", "nul:", "com1.ini:"}) {
    auto r = RunKvos({"cfg", "set", dir / name, "s", "k", "2"});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_NE(r.err.find("it is a device"), std::string::npos) << name << ": " << r.err;
  }
  EXPECT_EQ(ReadFile(file), "[s]\nk = 1\n");
  std::vector<std::string> names;
  for (auto const& entry : std::filesystem::directory_iterator(kvtest::U8Path(dir.Path())))
    names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"app.cfg"});
  // The drive's own colon, also after the long-path prefix, is no stream.
  std::string const whole = Backslashed(file);
  ASSERT_EQ(whole[1], ':') << whole;
  EXPECT_EQ(RunKvos({"cfg", "set", whole, "s", "k", "3"}).status, 0);
  auto prefixed = RunKvos({"cfg", "set", "\\\\?\\" + whole, "s", "k", "4"});
  EXPECT_EQ(prefixed.status, 0) << prefixed.err;
  EXPECT_EQ(ReadFile(file), "[s]\nk = 4\n");
}

// The host finds a file by a name in other case, with trailing dots or
// blanks; the edit keeps the name the file has.
TEST(KvosCfgWindows, AnEditKeepsTheFilesOwnName) {
  TempDir dir;
  std::string const file = dir / "App.cfg";
  WriteFile(file, "[s]\nk = 0\n");
  int value = 0;
  for (std::string const spelt : {"APP.CFG", "app.cfg", "App.cfg.", "aPP.cfg  ", "App.cfg"}) {
    auto r = RunKvos({"cfg", "set", dir / spelt, "s", "k", std::to_string(++value)});
    EXPECT_EQ(r.status, 0) << spelt << ": " << r.err;
    std::vector<std::string> names;
    for (auto const& entry : std::filesystem::directory_iterator(kvtest::U8Path(dir.Path())))
      names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"App.cfg"}) << spelt;
    EXPECT_EQ(ReadFile(file), "[s]\nk = " + std::to_string(value) + "\n") << spelt;
  }
  // A new file takes the name as given.
  EXPECT_EQ(RunKvos({"cfg", "set", dir / "NEW.cfg", "s", "k", "1"}).status, 0);
  EXPECT_EQ(ReadFile(dir / "NEW.cfg"), "[s]\nk = 1\n");
}

// A symbolic link `name` in `dir` to `target`, where the host makes one
// (Wine reports success and makes none).
bool MakeLink(std::string const& dir, std::string const& name, std::string const& target, bool isDir) {
  std::string const link = Backslashed(dir + "/" + name);
  CreateSymbolicLinkW(Wide(link).c_str(), Wide(Backslashed(target)).c_str(),
                      (isDir ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  return GetFileAttributesW(Wide(link).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Through a link to the file or to its directory, the file is edited where
// it is and the links stay links; the file was lost and the link replaced.
TEST(KvosCfgWindows, EditsThroughLinksReachTheFileAndKeepTheLinks) {
  TempDir dir;
  ASSERT_TRUE(CreateDirectoryW(Wide(dir / "sub").c_str(), nullptr));
  std::string const target = dir / "sub/target.ini";
  WriteFile(target, "[s]\nk = 1\n");
  if (!MakeLink(dir.Path(), "link.ini", "sub/target.ini", false) || !MakeLink(dir.Path(), "dirlink", "sub", true)) {
    std::printf("[ HOST ] no symbolic links here\n");
    return;
  }
  auto viaFile = RunKvos({"cfg", "set", dir / "link.ini", "s", "k", "2"});
  EXPECT_EQ(viaFile.status, 0) << viaFile.err;
  auto viaDir = RunKvos({"cfg", "set", Backslashed(dir / "dirlink/TARGET.ini"), "s", "j", "3"});
  EXPECT_EQ(viaDir.status, 0) << viaDir.err;
  EXPECT_EQ(ReadFile(target), "[s]\nk = 2\nj = 3\n");
  std::vector<std::string> names;
  for (auto const& entry : std::filesystem::directory_iterator(kvtest::U8Path(dir / "sub")))
    names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"target.ini"});
  // The link still leads to the file: what the file says, it says.
  WriteFile(target, "[s]\nk = 9\n");
  EXPECT_EQ(RunKvos({"cfg", "get", dir / "link.ini", "s", "k"}).out, "9\n");
  EXPECT_EQ(RunKvos({"cfg", "get", dir / "dirlink/target.ini", "s", "k"}).out, "9\n");
  EXPECT_FALSE(HasCopyLeft(dir.Path()));
}

TEST(KvosCfgWindows, ReadOnlyFilesDirectoriesAndHeldFilesStayAsTheyWere) {
  TempDir dir;
  std::string const file = dir / "app.cfg";
  WriteFile(file, "[s]\nk = 1\n");
  ASSERT_TRUE(SetFileAttributesW(Wide(file).c_str(), FILE_ATTRIBUTE_READONLY));
  auto ro = RunKvos({"cfg", "set", file, "s", "k", "2"});
  EXPECT_EQ(ro.status, 1);
  EXPECT_NE(ro.err.find("read-only"), std::string::npos) << ro.err;
  EXPECT_EQ(ReadFile(file), "[s]\nk = 1\n");
  // Reading it is fine.
  EXPECT_EQ(RunKvos({"cfg", "get", file, "s", "k"}).out, "1\n");
  ASSERT_TRUE(SetFileAttributesW(Wide(file).c_str(), FILE_ATTRIBUTE_NORMAL));

  // Another program holds it open and lets others read and write, but not
  // delete or rename it: the copy cannot take its place, the file stays.
  HANDLE holder = CreateFileW(Wide(file).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  auto held = RunKvos({"cfg", "set", file, "s", "k", "3"});
  EXPECT_EQ(held.status, 1);
  EXPECT_NE(held.err.find("the file is unchanged"), std::string::npos) << held.err;
  CloseHandle(holder);
  EXPECT_EQ(ReadFile(file), "[s]\nk = 1\n");
  // One that lets nobody write it is refused at once.
  holder = CreateFileW(Wide(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  auto denied = RunKvos({"cfg", "set", file, "s", "k", "4"});
  EXPECT_EQ(denied.status, 1);
  EXPECT_NE(denied.err.find("another program holds it open"), std::string::npos) << denied.err;
  CloseHandle(holder);
  EXPECT_EQ(ReadFile(file), "[s]\nk = 1\n");

  // A second name for the file: replacing it would part the two.
  std::string const second = dir / "second.cfg";
  if (CreateHardLinkW(Wide(second).c_str(), Wide(file).c_str(), nullptr)) {
    auto linked = RunKvos({"cfg", "set", file, "s", "k", "6"});
    EXPECT_EQ(linked.status, 1);
    EXPECT_NE(linked.err.find("2 hard links"), std::string::npos) << linked.err;
    EXPECT_EQ(ReadFile(second), "[s]\nk = 1\n");
    ASSERT_TRUE(DeleteFileW(Wide(second).c_str()));
  } else {
    std::printf("[ HOST ] no hard links here (CreateHardLinkW: %lu)\n", GetLastError());
  }

  auto isDir = RunKvos({"cfg", "set", dir.Path(), "s", "k", "v"});
  EXPECT_EQ(isDir.status, 1);
  EXPECT_NE(isDir.err.find("it is a directory"), std::string::npos) << isDir.err;
  EXPECT_FALSE(HasCopyLeft(dir.Path()));
  // And then the edit goes through.
  EXPECT_EQ(RunKvos({"cfg", "set", file, "s", "k", "5"}).status, 0);
  EXPECT_EQ(ReadFile(file), "[s]\nk = 5\n");
}

TEST(KvosCfgWindows, BackslashPathsDriveLettersAndNonAsciiNames) {
  TempDir dir;
  std::string const base = Backslashed(dir.Path());
  ASSERT_TRUE(base.size() > 3 && base[1] == ':' && base[2] == '\\') << base;
  // Backslashes, forward slashes and a mix name the same file.
  std::string const file = base + "\\sub\\app.cfg";
  ASSERT_TRUE(CreateDirectoryW(Wide(base + "\\sub").c_str(), nullptr));
  EXPECT_EQ(RunKvos({"cfg", "set", file, "s", "a", "1"}).status, 0);
  std::string slashed = file;
  for (char& c : slashed)
    if (c == '\\') c = '/';
  EXPECT_EQ(RunKvos({"cfg", "set", slashed, "s", "b", "2"}).status, 0);
  EXPECT_EQ(ReadFile(file), "[s]\na = 1\nb = 2\n");
  // The drive letter in either case.
  std::string lower = file;
  lower[0] = static_cast<char>(lower[0] >= 'A' && lower[0] <= 'Z' ? lower[0] - 'A' + 'a' : lower[0] - 'a' + 'A');
  EXPECT_EQ(RunKvos({"cfg", "set", lower, "s", "c", "3"}).status, 0);
  EXPECT_EQ(RunKvos({"cfg", "get", file, "s", "c"}).out, "3\n");
  // Names in any script, through the UTF-16 command line.
  std::string const greek = dir / "\xCE\xB1\xCF\x81\xCF\x87\xCE\xB5\xCE\xAF\xCE\xBF.cfg";
  auto made = RunKvos({"cfg", "set", greek, "\xCE\xB1", "k", "\xE2\x82\xAC"});
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(ReadFile(greek), "[\xCE\xB1]\nk = \xE2\x82\xAC\n");
  EXPECT_EQ(RunKvos({"cfg", "get", greek, "\xCE\xB1", "k"}).out, "\xE2\x82\xAC\n");
  EXPECT_FALSE(HasCopyLeft(dir.Path()));
}

TEST(KvosCfgWindows, TheReplacementKeepsTheFilesAttributes) {
  TempDir dir;
  std::string const file = dir / "app.cfg";
  WriteFile(file, "[s]\nk = 1\n");
  ASSERT_TRUE(SetFileAttributesW(Wide(file).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  auto r = RunKvos({"cfg", "set", file, "s", "k", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(file), "[s]\nk = 2\n");
  DWORD attributes = GetFileAttributesW(Wide(file).c_str());
  EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u) << attributes;
  EXPECT_FALSE(HasCopyLeft(dir.Path()));
}

// In-process: a copy that an edit holds open is no abandoned one.
TEST(KvosCfgFileWindows, CopiesThatNoEditHoldsAreRemoved) {
  TempDir dir;
  std::string const file = dir / "app.cfg";
  WriteFile(file, "[a]\n");
  std::string const dead = kvos::cfg::CopyName("app.cfg", "AbC123"), live = kvos::cfg::CopyName("app.cfg", "LiVe00");
  std::string const other = kvos::cfg::CopyName("other.cfg", "AbC123");
  WriteFile(dir / dead, "[a]\nhalf");
  WriteFile(dir / live, "[a]\nbusy");
  WriteFile(dir / other, "x");
  WriteFile(dir / (dead + "x"), "x");
  // Held as an edit holds its copy: no sharing at all.
  HANDLE holder = CreateFileW(Wide(dir / live).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  kvos::cfg::FileEdit edit;
  std::string why;
  ASSERT_EQ(edit.Open(file, false, why), kvos::cfg::Status::kOk) << why;
  EXPECT_FALSE(std::filesystem::exists(kvtest::U8Path(dir / dead)));
  EXPECT_TRUE(std::filesystem::exists(kvtest::U8Path(dir / live)));
  EXPECT_TRUE(std::filesystem::exists(kvtest::U8Path(dir / other)));
  EXPECT_TRUE(std::filesystem::exists(kvtest::U8Path(dir / (dead + "x"))));
  EXPECT_EQ(edit.Replace("[a]\nx = 1\n", why), kvos::cfg::Status::kOk) << why;
  EXPECT_EQ(ReadFile(file), "[a]\nx = 1\n");
  CloseHandle(holder);
}

// An edit that makes the file holds no lock, so it cannot tell a copy
// that a live edit has closed and is about to rename from an abandoned
// one: it leaves both. The next edit that holds the file's lock removes
// the abandoned one.
TEST(KvosCfgFileWindows, OnlyALockedEditRemovesCopies) {
  TempDir dir;
  std::string const file = dir / "app.cfg";
  std::string const closed = kvos::cfg::CopyName("app.cfg", "ClOsEd");
  WriteFile(dir / closed, "[a]\nx = 2\n");
  {
    kvos::cfg::FileEdit make;
    std::string why;
    ASSERT_EQ(make.Open(file, true, why), kvos::cfg::Status::kOk) << why;
    EXPECT_FALSE(make.Exists());
    EXPECT_TRUE(std::filesystem::exists(kvtest::U8Path(dir / closed)));
    ASSERT_EQ(make.Replace("[a]\n", why), kvos::cfg::Status::kOk) << why;
    EXPECT_TRUE(std::filesystem::exists(kvtest::U8Path(dir / closed)));
  }
  kvos::cfg::FileEdit edit;
  std::string why;
  ASSERT_EQ(edit.Open(file, false, why), kvos::cfg::Status::kOk) << why;
  EXPECT_EQ(edit.Bytes(), "[a]\n");
  EXPECT_FALSE(std::filesystem::exists(kvtest::U8Path(dir / closed)));
}

}  // namespace
