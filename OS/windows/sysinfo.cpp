// The description of the machine, its load and the process statistics on
// Windows.
//
// The description is gathered in DllMain (see load.cpp): everything used
// here comes from kernel32 and advapi32, both imported by the DLL and so
// set up before it, and from ntdll, which every process has.
#include <windows.h>

#include <psapi.h>

#include <cstring>

#include "OS/host/fault.h"
#include "OS/windows/fault.h"
#include "OS/host/sysinfo.h"
#include "OS/internal/sysinfo.h"
#include "OS/windows/wide.h"

namespace Korvane {

namespace {

unsigned long long Units(FILETIME const& t) {
  return static_cast<unsigned long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

bool Failed(char const* point) { return win::Injected(point); }

// A string value of an open key as UTF-8; false when it is missing, is no
// string or does not fit.
bool RegistryText(HKEY key, wchar_t const* name, char* out, std::size_t cap) {
  wchar_t text[257];
  DWORD type = 0, size = sizeof text - sizeof(wchar_t);
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return false;
  text[size / sizeof(wchar_t)] = L'\0';  // the host does not promise a terminator
  return win::ToUtf8(text, out, cap);
}

void DescribeProcessor(sysinfo::HostDescription& d) {
  sysinfo::TextBuf name(d.cpuName, sizeof d.cpuName);
  name.Assign("x86");
  d.cpuSpeed = 0;
  // Every processor group counts: the process times that the monitors
  // divide by this number do too.
  DWORD count = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  if (count == 0) {
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    count = info.dwNumberOfProcessors;
  }
  d.cpuCount = count > 0 ? static_cast<int>(count) : 1;

  HKEY key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
    return;
  // The speed is read only when both texts were: name and identifier.
  char text[3 * 256];
  if (RegistryText(key, L"ProcessorNameString", text, sizeof text)) {
    name.Assign(text);  // as stored, leading blanks included
    if (RegistryText(key, L"Identifier", text, sizeof text)) {
      name.Append(": ");
      name.Append(text);
      DWORD mhz = 0, type = 0, size = sizeof mhz;
      if (::RegQueryValueExW(key, L"~MHz", nullptr, &type, reinterpret_cast<BYTE*>(&mhz), &size) == ERROR_SUCCESS &&
          type == REG_DWORD && size == sizeof mhz && mhz <= 0x7FFFFFFF)
        d.cpuSpeed = static_cast<int>(mhz);
    }
  }
  ::RegCloseKey(key);
}

// GetVersionEx tells a program without a compatibility manifest that it
// runs on Windows 8 whatever the host is; ntdll's query gives the real
// numbers, and GetVersionEx stands in only where that query is missing.
using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);

void NameSystem(sysinfo::HostDescription& d) {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  sysinfo::WinVersion v{};
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  auto rtlGetVersion =
      ntdll != nullptr ? reinterpret_cast<RtlGetVersionFn>(
                             reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, "RtlGetVersion")))
                       : nullptr;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!Failed("sysinfo.version")) {
    if (rtlGetVersion != nullptr && rtlGetVersion(&info) == 0) {
      v.extended = true;
    } else if (::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
      v.extended = true;
    } else {
      info = OSVERSIONINFOEXW{};
      info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
      v.basic = ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) != 0;
    }
  }
#pragma GCC diagnostic pop
  char servicePack[3 * 128 + 1] = "";
  if (v.extended || v.basic) {
    v.platform = info.dwPlatformId;
    v.major = info.dwMajorVersion;
    v.minor = info.dwMinorVersion;
    info.szCSDVersion[127] = L'\0';
    win::ToUtf8(info.szCSDVersion, servicePack, sizeof servicePack);
    v.servicePack = servicePack;
    if (v.extended) {
      v.servicePackMajor = info.wServicePackMajor;
      v.suiteMask = info.wSuiteMask;
      v.productType = info.wProductType;
    }
  }
  SYSTEM_INFO native{};
  ::GetNativeSystemInfo(&native);
  v.x64 = native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;

  char productType[3 * 80];
  if (v.basic) {
    HKEY key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions", 0, KEY_READ,
                        &key) == ERROR_SUCCESS) {
      if (RegistryText(key, L"ProductType", productType, sizeof productType)) v.registryProductType = productType;
      ::RegCloseKey(key);
    }
  }
  sysinfo::NameWindows(v, d.osShortName, sizeof d.osShortName, d.osLongName, sizeof d.osLongName);
}

}  // namespace

namespace sysinfo {

void DescribeHost(HostDescription& d) noexcept {
  std::strcpy(d.osLongName, "Windows unknown");
  std::strcpy(d.osShortName, "Windows");
  DescribeProcessor(d);
  NameSystem(d);
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  d.ramSize = !Failed("sysinfo.memory") && ::GlobalMemoryStatusEx(&memory) ? memory.ullTotalPhys : 0;
}

}  // namespace sysinfo

namespace host {

int HostFamily() noexcept { return 'W'; }

// The host keeps nothing open between samples.
bool SystemCpuTimes(int&, unsigned long long& total, unsigned long long& idle) noexcept {
  FILETIME idleTime, kernelTime, userTime;
  if (Failed("sysinfo.cputimes") || !::GetSystemTimes(&idleTime, &kernelTime, &userTime)) return false;
  // The kernel time includes the idle time.
  total = Units(kernelTime) + Units(userTime);
  idle = Units(idleTime);
  return true;
}

bool SystemMemory(int&, sysinfo::MemFigures& figures) noexcept {
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  if (Failed("sysinfo.memory") || !::GlobalMemoryStatusEx(&memory)) return false;
  figures.total = memory.ullTotalPhys;
  figures.available = memory.ullAvailPhys;
  figures.swapTotal = memory.ullTotalPageFile;
  figures.swapFree = memory.ullAvailPageFile;
  return true;
}

void ReleaseSample(int& keep) noexcept { keep = -1; }

bool SampleClock(unsigned long long& now) noexcept {
  FILETIME t;
  ::GetSystemTimeAsFileTime(&t);
  now = Units(t);
  return true;
}

bool ProcessStartTime(unsigned long long& start) noexcept {
  FILETIME creation, exit, kernel, user;
  if (Failed("sysinfo.proctime") || !::GetProcessTimes(::GetCurrentProcess(), &creation, &exit, &kernel, &user))
    return false;
  start = Units(creation);
  return true;
}

bool SelfCpuTimeNs(unsigned long long& ns) noexcept {
  FILETIME creation, exit, kernel, user;
  if (Failed("sysinfo.proctime") || !::GetProcessTimes(::GetCurrentProcess(), &creation, &exit, &kernel, &user))
    return false;
  ns = (Units(kernel) + Units(user)) * 100;
  return true;
}

bool SelfMemory(unsigned int& faults, unsigned long long& workingSet) noexcept {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (Failed("sysinfo.procmemory") || !::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters))
    return false;
  faults = counters.PageFaultCount;
  workingSet = counters.WorkingSetSize;
  return true;
}

bool SelfWorkingSet(unsigned long long& bytes) noexcept {
  unsigned int faults;
  return SelfMemory(faults, bytes);
}

int ProcessCpuTimeNs(unsigned int pid, unsigned long long& ns) noexcept {
  if (Failed("sysinfo.procopen")) return -1;
  // The limited right is the one that the host grants for other users'
  // processes too, and all that reading times needs.
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return -1;
  FILETIME creation, exit, kernel, user;
  bool read = !Failed("sysinfo.proctime") && ::GetProcessTimes(process, &creation, &exit, &kernel, &user);
  DWORD error = ::GetLastError();
  ::CloseHandle(process);
  ::SetLastError(error);
  if (!read) return 0;
  ns = (Units(kernel) + Units(user)) * 100;
  return 1;
}

// The host's processes are not named through this library.
bool ProcessName(unsigned int, char*, std::size_t) noexcept { return false; }

}  // namespace host

}  // namespace Korvane
