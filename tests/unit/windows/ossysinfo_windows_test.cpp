// The description of a Windows machine, its load and the process
// statistics, against what the host itself answers.
#include <windows.h>

#include <gtest/gtest.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "OS/ossysinfo.h"
#include "support/testing.h"

using namespace Korvane;

namespace {

std::string Utf8(std::wstring const& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
  return out;
}

bool RegistryText(wchar_t const* key, wchar_t const* value, std::string& text) {
  wchar_t buf[512];
  DWORD size = sizeof buf;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_SZ, nullptr, buf, &size) != ERROR_SUCCESS) return false;
  text = Utf8(buf);
  return true;
}

OSVERSIONINFOEXW RealVersion() {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  auto query = reinterpret_cast<LONG(WINAPI*)(OSVERSIONINFOEXW*)>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  if (query == nullptr || query(&info) != 0) ADD_FAILURE() << "RtlGetVersion";
  return info;
}

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

unsigned long long Units(FILETIME const& t) {
  return static_cast<unsigned long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

// Keeps one processor busy until `cpu` of this thread's processor time is used.
void Spin(std::chrono::milliseconds cpu) {
  volatile unsigned long long sink = 0;
  for (;;) {
    FILETIME c, e, k, u;
    GetThreadTimes(GetCurrentThread(), &c, &e, &k, &u);
    if (Units(k) + Units(u) >= static_cast<unsigned long long>(cpu.count()) * 10000ULL) return;
    for (int i = 0; i < 100000; ++i) sink = sink + static_cast<unsigned long long>(i);
  }
}

TEST(SysInfoWindows, DescribesTheLiveHost) {
  EXPECT_EQ(cKV_SysInfo::GetHostType(), eHostWindows);
  EXPECT_EQ(cKV_SysInfo::GetCpuCount(), static_cast<int>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS)));
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
  EXPECT_EQ(cKV_SysInfo::GetRamSize(), memory.ullTotalPhys);

  // The processor: brand text, then the identifier; the speed only with both.
  wchar_t const* key = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
  std::string brand, identifier;
  std::string cpu(cKV_SysInfo::GetCpuName());
  if (RegistryText(key, L"ProcessorNameString", brand) && RegistryText(key, L"Identifier", identifier)) {
    EXPECT_EQ(cpu, brand + ": " + identifier);
    DWORD mhz = 0, size = sizeof mhz;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, key, L"~MHz", RRF_RT_REG_DWORD, nullptr, &mhz, &size), ERROR_SUCCESS);
    EXPECT_EQ(cKV_SysInfo::GetCpuSpeed(), static_cast<int>(mhz));
  } else {
    EXPECT_EQ(cpu, brand.empty() ? "x86" : brand);
    EXPECT_EQ(cKV_SysInfo::GetCpuSpeed(), 0);
  }
}

// The names follow the rules on the numbers that the host really runs,
// not on the Windows 8 that GetVersionEx shows to programs without a
// compatibility manifest.
TEST(SysInfoWindows, NamesTheRealVersion) {
  OSVERSIONINFOEXW v = RealVersion();
  SYSTEM_INFO native{};
  GetNativeSystemInfo(&native);
  bool x64 = native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
  std::string shortName(cKV_SysInfo::GetOsShortName()), longName(cKV_SysInfo::GetOsLongName());
  SCOPED_TRACE(std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion) + " type " +
               std::to_string(v.wProductType));

  // The numbers show in the name of every version newer than the table.
  if (v.dwMajorVersion > 6 || (v.dwMajorVersion == 6 && v.dwMinorVersion > 1)) {
    std::string number = std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion);
    std::string tail = x64 ? " x64" : "";
    if (v.wProductType == VER_NT_WORKSTATION) {
      tail += (v.wSuiteMask & VER_SUITE_PERSONAL) ? " Home" : " Prof";
      EXPECT_EQ(shortName, "WinNT " + number + tail);
      EXPECT_EQ(longName.rfind("Microsoft Windows NT " + number + tail, 0), 0u) << longName;
    } else if (v.wProductType == VER_NT_SERVER) {
      EXPECT_EQ(shortName.rfind("WinNT " + number + tail + " ", 0), 0u) << shortName;
    }
  }
  if (v.wServicePackMajor != 0)
    EXPECT_EQ(longName.substr(longName.size() - 4), " SP" + std::to_string(v.wServicePackMajor));
  else
    EXPECT_EQ(longName.find(" SP"), std::string::npos) << longName;
  EXPECT_EQ(longName.find(" TS") != std::string::npos, (v.wSuiteMask & VER_SUITE_TERMINAL) != 0) << longName;

  // What GetVersionEx says, where it differs, is not what was named.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  OSVERSIONINFOW told{};
  told.dwOSVersionInfoSize = sizeof told;
  ASSERT_TRUE(GetVersionExW(&told));
#pragma GCC diagnostic pop
  if (told.dwMajorVersion != v.dwMajorVersion || told.dwMinorVersion != v.dwMinorVersion) {
    std::string lie = std::to_string(told.dwMajorVersion) + "." + std::to_string(told.dwMinorVersion);
    EXPECT_EQ(shortName.find(lie), std::string::npos) << shortName;
  }
}

// A copy of this program that the host starts as another version: Wine
// lets the user pick the version a program sees, per program name.
TEST(SysInfoWindows, NamesEachVersionTheHostReports) {
  if (!UnderWine()) GTEST_SKIP() << "only Wine lets a test choose the version a program sees";
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  kvtest::TempDir dir;
  std::string copy = dir / "kvos-version-probe.exe";
  ASSERT_TRUE(CopyFileW(self, kvtest::U8Path(copy).c_str(), FALSE));
  HKEY key;
  wchar_t const* path = L"Software\\Wine\\AppDefaults\\kvos-version-probe.exe";
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  // The names that each version must get, by the numbers the probe was
  // shown (Wine's tables decide which name gives which numbers).
  struct Named {
    char const* numbers;
    char const* names;
  } const expected[] = {
      {"6.1 1 1", "Win7 x64 Prof|Microsoft Windows 7 x64 Professional SP1"},
      {"6.1 3 1", "Win2008R2 x64 Server|Microsoft Windows 2008 R2 x64 Server SP1"},
      {"6.0 1 2", "Vista x64 Prof|Microsoft Windows Vista x64 Professional SP2"},
      {"5.2 3 2", "Win2003R2 x64 Server|Microsoft Windows 2003 R2 x64 Server SP2"},
      {"10.0 1 0", "WinNT 10.0 x64 Prof|Microsoft Windows NT 10.0 x64 Professional"},
  };
  std::vector<std::string> seen;
  for (wchar_t const* version : {L"win7", L"win2008r2", L"vista", L"win2003", L"win10"}) {
    std::wstring value = version;
    ASSERT_EQ(RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<BYTE const*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    kvtest::RunResult r = kvtest::Run(
        {copy, "--gtest_also_run_disabled_tests", "--gtest_filter=SysInfoWindows.DISABLED_PrintsTheNames"});
    auto between = [&](char const* open, char const* close) {
      auto from = r.out.find(open), to = r.out.find(close);
      return from != std::string::npos && to != std::string::npos
                 ? r.out.substr(from + std::strlen(open), to - from - std::strlen(open))
                 : std::string("?");
    };
    std::string numbers = between("numbers<", ">numbers"), names = between("names<", ">names");
    SCOPED_TRACE(Utf8(version) + ": " + numbers);
    auto named = std::find_if(std::begin(expected), std::end(expected),
                              [&](Named const& n) { return numbers == n.numbers; });
    ASSERT_NE(named, std::end(expected)) << r.out;
    EXPECT_EQ(names, named->names);
    seen.push_back(numbers);
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()) - seen.begin(), 5) << "each version was shown";
  RegCloseKey(key);
  RegDeleteKeyW(HKEY_CURRENT_USER, path);
}

TEST(SysInfoWindows, DISABLED_PrintsTheNames) {
  OSVERSIONINFOEXW v = RealVersion();
  std::printf("numbers<%lu.%lu %u %u>numbers\n", v.dwMajorVersion, v.dwMinorVersion, v.wProductType,
              v.wServicePackMajor);
  std::printf("names<%s|%s>names\n", static_cast<char const*>(cKV_SysInfo::GetOsShortName()),
              static_cast<char const*>(cKV_SysInfo::GetOsLongName()));
}

TEST(SysLoadMonWindows, SamplesTheHostsTimesAndMemory) {
  cKV_Error err;
  std::unique_ptr<iKV_SysLoadMon> mon(iKV_SysLoadMon::Create(&err, 15));
  ASSERT_NE(mon, nullptr) << err.GetText();
  // One thread busy for a while loads the machine, whoever else runs.
  Spin(std::chrono::milliseconds(200));
  ASSERT_TRUE(mon->Collect(&err));
  int load = mon->GetCpuLoad(&err);
  EXPECT_GT(load, 0);
  EXPECT_LE(load, 100);
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
  EXPECT_GT(mon->GetRamAvail(&err), 0);
  EXPECT_LE(static_cast<unsigned long long>(mon->GetRamAvail(&err)), memory.ullTotalPhys);
  EXPECT_EQ(static_cast<unsigned long long>(mon->GetSwapMax(&err)), memory.ullTotalPageFile);
  EXPECT_LE(mon->GetSwapAvail(&err), mon->GetSwapMax(&err));

  // A memory query that fails names the host's reason and keeps the figures.
  long long before = mon->GetSwapMax(nullptr);
  {
    kvtest::ScopedFault fails("sysinfo.memory", ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(mon->Collect(&err));
  }
  EXPECT_EQ(std::string(err.GetText()),
            "GlobalMemoryStatusEx failed: " + std::string(osGetSysErrorStr(ERROR_INVALID_PARAMETER)));
  EXPECT_EQ(mon->GetSwapMax(nullptr), before);
  // Processor times that cannot be read give a sample of zeros, not a
  // failure: the interval back to it, either way, spans the host's whole
  // uptime, so the load is the average since the host started.
  FILETIME idle, kernel, user;
  auto sinceBoot = [&] {
    EXPECT_TRUE(GetSystemTimes(&idle, &kernel, &user));
    double total = static_cast<double>(Units(kernel) + Units(user));
    return (total - static_cast<double>(Units(idle))) / total * 100.0;
  };
  {
    kvtest::ScopedFault fails("sysinfo.cputimes", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(mon->Collect(&err));
  }
  EXPECT_NEAR(mon->GetCpuLoad(nullptr), sinceBoot(), 1.0);
  EXPECT_TRUE(mon->Collect(&err));
  EXPECT_NEAR(mon->GetCpuLoad(nullptr), sinceBoot(), 1.0);
}

TEST(ProcStatMonWindows, SpinningThreadAndFreshMemory) {
  cKV_Error err;
  std::unique_ptr<iKV_ProcStatMon> mon(iKV_ProcStatMon::Create(&err));
  ASSERT_NE(mon, nullptr) << err.GetText();
  // One processor busy for the interval: the monitor's figure is the
  // host's own processor time over the wall time of all processors,
  // whatever else the machine runs meanwhile.
  FILETIME c, e, k, u, w0, w1;
  ASSERT_TRUE(GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u));
  GetSystemTimeAsFileTime(&w0);
  unsigned long long cpu0 = Units(k) + Units(u);
  ASSERT_TRUE(mon->Collect(&err));
  Spin(std::chrono::milliseconds(300));
  ASSERT_TRUE(mon->Collect(&err));
  ASSERT_TRUE(GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u));
  GetSystemTimeAsFileTime(&w1);
  double share = static_cast<double>(Units(k) + Units(u) - cpu0) /
                 (static_cast<double>(Units(w1) - Units(w0)) * cKV_SysInfo::GetCpuCount()) * 100.0;
  int load = mon->GetProcCpuLoad(&err);
  EXPECT_GT(load, 0);
  EXPECT_NEAR(load, share, 3.0);

  // Fresh memory, touched: the working set grows by it and the host counts
  // the faults of its pages (Wine counts none, so only the size is sure).
  constexpr std::size_t kBytes = 64 << 20;
  PROCESS_MEMORY_COUNTERS before{};
  before.cb = sizeof before;
  ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before));
  char* block = static_cast<char*>(VirtualAlloc(nullptr, kBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(block, nullptr);
  for (std::size_t i = 0; i < kBytes; i += 4096) block[i] = 1;
  ASSERT_TRUE(mon->Collect(&err));
  PROCESS_MEMORY_COUNTERS after{};
  after.cb = sizeof after;
  ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after));
  EXPECT_GE(mon->GetProcMemoryLoad(), before.WorkingSetSize + kBytes / 2);
  EXPECT_LE(mon->GetProcMemoryLoad(), after.WorkingSetSize);
  EXPECT_LE(static_cast<unsigned>(mon->GetProcPageFaultCount()), after.PageFaultCount - before.PageFaultCount);
  EXPECT_NEAR(static_cast<double>(osGetCurProcVMSize()), static_cast<double>(after.WorkingSetSize), kBytes / 4);
  VirtualFree(block, 0, MEM_RELEASE);

  // Host refusals, each with its own text.
  struct {
    char const* point;
    char const* text;
  } const refusals[] = {{"sysinfo.proctime", "GetProcessTimes failed. "},
                        {"sysinfo.procmemory", "GetProcessMemoryInfo failed. "}};
  for (auto const& r : refusals) {
    kvtest::ScopedFault fails(r.point, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(mon->Collect(&err));
    EXPECT_EQ(std::string(err.GetText()), r.text + std::string(osGetSysErrorStr(ERROR_ACCESS_DENIED)));
  }
  {
    kvtest::ScopedFault fails("sysinfo.proctime", ERROR_ACCESS_DENIED);
    cKV_Error created;
    EXPECT_EQ(iKV_ProcStatMon::Create(&created), nullptr);
    EXPECT_EQ(std::string(created.GetText()), "GetProcessTimes failed. " +
                                                  std::string(osGetSysErrorStr(ERROR_ACCESS_DENIED)));
  }
  kvtest::ScopedFault fails("sysinfo.procmemory", ERROR_ACCESS_DENIED);
  EXPECT_EQ(osGetCurProcVMSize(), 0u);
}

TEST(ProcessTimeWindows, OwnOtherAndNone) {
  Spin(std::chrono::milliseconds(100));
  cKV_SysTime own;
  osGetProcessTime(own);
  FILETIME c, e, k, u;
  ASSERT_TRUE(GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u));
  unsigned long long hostNs = (Units(k) + Units(u)) * 100;
  EXPECT_GE(hostNs, static_cast<unsigned long long>(own));
  EXPECT_GE(static_cast<unsigned long long>(own), 100000000ULL);

  // By identifier: this process, as the host counts it.
  cKV_SysTime byId = 7ULL;
  ASSERT_TRUE(osGetProcessTime(GetCurrentProcessId(), byId));
  EXPECT_GE(static_cast<unsigned long long>(byId), static_cast<unsigned long long>(own));
  EXPECT_EQ(static_cast<unsigned long long>(byId) % 100, 0u);

  // No such process: false, the time untouched. Times that cannot be read:
  // false and 0.
  cKV_SysTime untouched = 1234ULL;
  for (unsigned pid : {0u, 0xFFFFFFF0u})
    EXPECT_FALSE(osGetProcessTime(pid, untouched)) << pid;
  EXPECT_EQ(static_cast<unsigned long long>(untouched), 1234ULL);
  {
    kvtest::ScopedFault fails("sysinfo.proctime", ERROR_ACCESS_DENIED, 0, 2);
    EXPECT_FALSE(osGetProcessTime(GetCurrentProcessId(), untouched));
    EXPECT_EQ(static_cast<unsigned long long>(untouched), 0ULL);
    osGetProcessTime(own);
    EXPECT_EQ(static_cast<unsigned long long>(own), 0ULL);
  }

  // This host does not enumerate or name processes.
  cKV_String name("kept");
  EXPECT_FALSE(iKV_ProcInfo::GetName(GetCurrentProcessId(), name));
  EXPECT_STREQ(name, "kept");
}

}  // namespace
