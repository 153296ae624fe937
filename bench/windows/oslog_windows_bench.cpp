// Records per second of a file log on Windows, against what a caller of
// the host alone writes: the same record composed with the local time and
// the thread id, appended with one WriteFile under a critical section. And
// the floor: one WriteFile of a record composed once.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "OS/oslog.h"

using Korvane::cKV_Log;

namespace {

// 100 bytes of message.
std::string const kMessage = std::string(94, 'm') + " 12345";

std::string Path(char const* name) {
  wchar_t temp[MAX_PATH];
  DWORD n = GetTempPathW(MAX_PATH, temp);
  std::string path;
  for (DWORD i = 0; i < n; ++i) path += static_cast<char>(temp[i]);  // ASCII under Wine and CI
  return path + name;
}

HANDLE OpenAppend(std::string const& path) {
  return CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

cKV_Log* g_log = nullptr;

void BM_LogFile(benchmark::State& state) {
  std::string path = Path("kvos-bench-kv.log");
  if (state.thread_index() == 0) {
    DeleteFileA(path.c_str());
    g_log = cKV_Log::Create(nullptr, path.c_str());
  }
  for (auto _ : state) cKV_Log::Log(g_log, 2, "bench.cpp", 42, "%s", kMessage.c_str());
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    delete g_log;
    DeleteFileA(path.c_str());
  }
}
BENCHMARK(BM_LogFile)->Threads(1)->Threads(4)->UseRealTime();

HANDLE g_file = INVALID_HANDLE_VALUE;
CRITICAL_SECTION g_lock;

// The same record layout by hand: local time, thread id, one append.
void BM_NativeLogFile(benchmark::State& state) {
  std::string path = Path("kvos-bench-native.log");
  if (state.thread_index() == 0) {
    InitializeCriticalSection(&g_lock);
    g_file = OpenAppend(path);
  }
  static char const* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static char const* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (auto _ : state) {
    char record[512];
    SYSTEMTIME t;
    GetLocalTime(&t);
    int n = std::snprintf(record, sizeof record, "%s %s %02u %02u:%02u:%02u %u\n [%lX] LEVEL:%d FILE:%s[%d]\n MSG:%s\n\n",
                          kDays[t.wDayOfWeek], kMonths[t.wMonth - 1], t.wDay, t.wHour, t.wMinute, t.wSecond, t.wYear,
                          GetCurrentThreadId(), 2, "bench.cpp", 42, kMessage.c_str());
    DWORD written;
    EnterCriticalSection(&g_lock);
    WriteFile(g_file, record, static_cast<DWORD>(n), &written, nullptr);
    LeaveCriticalSection(&g_lock);
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    CloseHandle(g_file);
    DeleteCriticalSection(&g_lock);
    DeleteFileA(path.c_str());
  }
}
BENCHMARK(BM_NativeLogFile)->Threads(1)->Threads(4)->UseRealTime();

// The floor: one append of a record composed once.
void BM_WriteOnly(benchmark::State& state) {
  std::string path = Path("kvos-bench-raw.log");
  std::string record = "Sat Mar 07 14:05:09 2009\n [1A4] LEVEL:2 FILE:bench.cpp[42]\n MSG:" + kMessage + "\n\n";
  HANDLE file = OpenAppend(path);
  for (auto _ : state) {
    DWORD written;
    benchmark::DoNotOptimize(WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr));
  }
  state.SetItemsProcessed(state.iterations());
  CloseHandle(file);
  DeleteFileA(path.c_str());
}
BENCHMARK(BM_WriteOnly)->UseRealTime();

void BM_LogDropped(benchmark::State& state) {
  std::string path = Path("kvos-bench-dropped.log");
  if (state.thread_index() == 0) g_log = cKV_Log::Create(nullptr, path.c_str());
  for (auto _ : state) cKV_Log::Log(g_log, 3, "bench.cpp", 42, "%s", kMessage.c_str());
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    delete g_log;
    DeleteFileA(path.c_str());
  }
}
BENCHMARK(BM_LogDropped)->Threads(1)->UseRealTime();

}  // namespace
