// The log where only Windows shows it: its handle, sharing the file with
// writers, readers and renamers that open it themselves, '\' in directory
// names, and the log directory chosen from WDIR.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "OS/osio.h"
#include "OS/oslog.h"
#include "support/testing.h"
#include "unit/oslog_records.h"

using Korvane::cKV_Log;
using kvtest::ReadFile;
using kvtest::Records;
using kvtest::TempDir;

namespace {

std::wstring Wide(std::string const& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), n);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

// The handle of this process that is open on `path`, or null: the host's
// handle values are multiples of 4 from the bottom of the table.
HANDLE HandleOn(std::string const& path) {
  HANDLE probe = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE |
                             FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  BY_HANDLE_FILE_INFORMATION want, info;
  if (probe == INVALID_HANDLE_VALUE) return nullptr;
  BOOL known = GetFileInformationByHandle(probe, &want);
  HANDLE found = nullptr;
  for (std::uintptr_t value = 4; known && found == nullptr && value < (1u << 16); value += 4) {
    HANDLE h = reinterpret_cast<HANDLE>(value);
    DWORD flags;
    if (h == probe || !GetHandleInformation(h, &flags) || GetFileType(h) != FILE_TYPE_DISK) continue;
    if (GetFileInformationByHandle(h, &info) && info.dwVolumeSerialNumber == want.dwVolumeSerialNumber &&
        info.nFileIndexHigh == want.nFileIndexHigh && info.nFileIndexLow == want.nFileIndexLow)
      found = h;
  }
  CloseHandle(probe);
  return found;
}

// Wine places an append at the end that it last saw, so appends of two
// handles at once overwrite each other there (the library's logs serialise
// theirs; a program that does not cannot be helped).
bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(LogWindows, OwnHandleAppendsAndIsNotInherited) {
  TempDir dir;
  std::string const path = dir / "own.log";
  cKV_Log* log = cKV_Log::Create(nullptr, path.c_str());
  cKV_Log::Log(log, 0, "f", 1, "one");
  HANDLE h = HandleOn(path);
  ASSERT_NE(h, nullptr);
  DWORD flags = ~0u;
  ASSERT_TRUE(GetHandleInformation(h, &flags));
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
  delete log;
  EXPECT_EQ(HandleOn(path), nullptr);
  // Line feeds only, as on every host: the file is no text-mode stream.
  std::string const text = ReadFile(path);
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 11), "\n MSG:one\n\n");
}

TEST(LogWindows, SharesTheFileWithWritersReadersAndRenamers) {
  TempDir dir;
  std::string const path = dir / "shared.log", moved = dir / "moved.log";
  cKV_Log* log = cKV_Log::Create(nullptr, path.c_str());
  // Another program's appending writer, opened directly: neither may refuse
  // the other, and each write lands at the end as it is then.
  HANDLE other = CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE |
                             FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE) << GetLastError();
  constexpr int kRecords = 2000;
  std::string const foreign = "Thu Jan 01 00:00:00 1970\n [1] LEVEL:0 FILE:other[0]\n MSG:foreign\n\n";
  auto foreignRecord = [&] {
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(other, foreign.data(), static_cast<DWORD>(foreign.size()), &done, nullptr));
  };
  if (UnderWine()) {
    std::printf("[ WINE ] appends of two handles at once are not whole under Wine: the other writer takes turns\n");
    for (int n = 0; n < kRecords; ++n) {
      cKV_Log::Log(log, 0, "log", n, "record %d", n);
      foreignRecord();
    }
  } else {
    std::thread writer([&] {
      for (int n = 0; n < kRecords; ++n) foreignRecord();
    });
    for (int n = 0; n < kRecords; ++n) cKV_Log::Log(log, 0, "log", n, "record %d", n);
    writer.join();
  }
  CloseHandle(other);

  // A reader meanwhile, and a rename (rotation) of the open file: the log
  // keeps writing to the file under its new name.
  HANDLE reader = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                              FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE) << GetLastError();
  CloseHandle(reader);
  ASSERT_TRUE(MoveFileExW(Wide(path).c_str(), Wide(moved).c_str(), 0)) << GetLastError();
  cKV_Log::Log(log, 0, "log", kRecords, "record %d", kRecords);
  delete log;

  int own = 0, theirs = 0;
  for (auto const& r : Records(ReadFile(moved))) {
    if (r.file == "other") {
      ++theirs;
      EXPECT_EQ(r.message, "foreign");
    } else {
      EXPECT_EQ(r.message, "record " + std::to_string(own));
      EXPECT_EQ(r.line, own);
      ++own;
    }
  }
  EXPECT_EQ(own, kRecords + 1);
  EXPECT_EQ(theirs, kRecords);
  // The name is free again: a new log makes a new file there.
  cKV_Log* again = cKV_Log::Create(nullptr, path.c_str());
  cKV_Log::Log(again, 0, "f", 1, "new");
  delete again;
  EXPECT_EQ(Records(ReadFile(path)).size(), 1u);
}

TEST(LogWindows, BackslashesInDirectoryNames) {
  TempDir dir;
  std::string base = dir.Path();
  for (char& c : base)
    if (c == '/') c = '\\';
  // Either separator, mixed, with and without a trailing one: the file
  // lands in the same place, named with '\'.
  struct Case {
    std::string base;
    char const* sub;
  } const cases[] = {{base, "a\\b"}, {base + "\\", "a/b"}, {base + "/", "a\\b\\"}};
  int n = 0;
  for (auto const& c : cases) {
    SCOPED_TRACE(c.base + " + " + c.sub);
    Korvane::cKV_Error err;
    cKV_Log* log = cKV_Log::Create(&err, c.base.c_str(), c.sub, "p", "name", nullptr);
    ASSERT_NE(log, nullptr) << err.GetText();
    cKV_Log::Log(log, 0, "f", n++, "here");
    delete log;
  }
  std::vector<kvtest::Record> records = Records(ReadFile(base + "\\a\\b\\p_name.log"));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2].line, 2);
}

// The log directory chosen from WDIR; `temp` is the process's temporary
// directory as the host gives it.
std::string LogDirFor(char const* wdir) {
  kvtest::SetEnv("WDIR", wdir);
  std::string dir(static_cast<char const*>(Korvane::osGetLogDir()));
  kvtest::SetEnv("WDIR", nullptr);
  return dir;
}

TEST(LogWindows, LogDirectoryFromWdirWithDriveLettersAndBothSeparators) {
  TempDir tree;
  wchar_t temp[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  ASSERT_TRUE(n > 0 && n <= MAX_PATH);
  char tempText[4 * MAX_PATH];
  WideCharToMultiByte(CP_UTF8, 0, temp, -1, tempText, sizeof tempText, nullptr, nullptr);
  std::string const inTemp = std::string(tempText) + "TLQ_Logs\\";
  std::string root = tree.Path();
  for (char& c : root)
    if (c == '/') c = '\\';
  ASSERT_TRUE(root.size() > 3 && root[1] == ':' && root[2] == '\\') << root;  // a drive letter
  std::string slashed = root;
  for (char& c : slashed)
    if (c == '\\') c = '/';
  std::string const app = root + "\\app", fresh = root + "\\fresh";
  ASSERT_TRUE(CreateDirectoryW(Wide(app).c_str(), nullptr));

  EXPECT_EQ(LogDirFor(nullptr), inTemp);
  EXPECT_EQ(LogDirFor(""), inTemp);
  EXPECT_EQ(LogDirFor(app.c_str()), app + "\\Logs");
  EXPECT_EQ(LogDirFor((slashed + "/app/").c_str()), app + "\\Logs");
  EXPECT_EQ(LogDirFor((root + "\\missing;" + app).c_str()), app + "\\Logs");
  EXPECT_EQ(GetFileAttributesW(Wide(root + "\\missing").c_str()), INVALID_FILE_ATTRIBUTES);
  // Nothing usable: the first is made, without its Logs folder.
  EXPECT_EQ(LogDirFor((fresh + ";" + root + "\\other").c_str()), fresh + "\\Logs");
  EXPECT_NE(GetFileAttributesW(Wide(fresh).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(Wide(fresh + "\\Logs").c_str()), INVALID_FILE_ATTRIBUTES);
  // A drive root keeps its separator once.
  std::string const drive = root.substr(0, 3);
  EXPECT_EQ(LogDirFor(drive.c_str()), drive + "Logs");
  EXPECT_EQ(LogDirFor(root.substr(0, 2).c_str()), root.substr(0, 2) + "\\Logs");
  // A device name is no directory, and is not made.
  EXPECT_EQ(LogDirFor("NUL"), inTemp);
}

}  // namespace
