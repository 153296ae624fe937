// The host's error numbers and texts: GetLastError and FormatMessage.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "OS/oserror.h"

namespace {

// The system's own description of `code`, as FormatMessage gives it.
std::string SystemText(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out;
  if (n > 0) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(bytes));
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), bytes, nullptr, nullptr);
  }
  if (text != nullptr) LocalFree(text);
  return out;
}

TEST(Error, SystemErrorTextIsFormatMessageTrimmedOfLineEnds) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Korvane::osGetSysError(), 2);

  bool endedInLineBreak = false;
  // Several numbers, each with the system's text less its trailing CR/LF;
  // what else ends the text (a full stop, a space) stays.
  for (DWORD code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_DISK_FULL}) {
    std::string raw = SystemText(code);
    ASSERT_FALSE(raw.empty()) << code;
    std::string trimmed = raw;
    while (!trimmed.empty() && (trimmed.back() == '\r' || trimmed.back() == '\n')) trimmed.pop_back();
    std::string got(Korvane::osGetSysErrorStr(static_cast<int>(code)));
    EXPECT_EQ(got, "GetLastError()=" + std::to_string(code) + " [" + trimmed + "]");
    EXPECT_EQ(got.find_first_of("\r\n"), std::string::npos) << got;
    endedInLineBreak = endedInLineBreak || trimmed.size() < raw.size();
  }
  // The system's texts end in a line break: the trimming was exercised.
  EXPECT_TRUE(endedInLineBreak);
  // Numbers without a description give an empty string, not "[]".
  EXPECT_TRUE(Korvane::osGetSysErrorStr(-1) == "" && Korvane::osGetSysErrorStr(0x7FFF0000) == "");

  // Reading the text does not disturb the thread's last error.
  SetLastError(ERROR_ACCESS_DENIED);
  Korvane::osGetSysErrorStr(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace
