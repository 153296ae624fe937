#include "OS/ossysinfo.h"

#include <cstring>

#include "OS/host/sysinfo.h"
#include "OS/internal/sysinfo.h"

namespace Korvane {

namespace {

// Written once by the load sequence before any caller runs, read-only after.
constinit sysinfo::HostDescription g_description = {};

}  // namespace

char const* const cKV_SysInfo::_linux = "Linux";
char const* const cKV_SysInfo::_win = "Windows";
char const* const cKV_SysInfo::_unkn = "Unknown";

namespace sysinfo {

void LoadDescription() noexcept { DescribeHost(g_description); }

void UnloadDescription() noexcept { g_description = HostDescription{}; }

}  // namespace sysinfo

int cKV_SysInfo::GetCpuCount() { return g_description.cpuCount; }

int cKV_SysInfo::GetCpuSpeed() { return g_description.cpuSpeed; }

cKV_String cKV_SysInfo::GetCpuName() { return cKV_String(g_description.cpuName); }

unsigned long long cKV_SysInfo::GetRamSize() { return g_description.ramSize; }

cKV_String cKV_SysInfo::GetOsLongName() { return cKV_String(g_description.osLongName); }

cKV_String cKV_SysInfo::GetOsShortName() { return cKV_String(g_description.osShortName); }

eKV_HostType cKV_SysInfo::GetHostType() { return static_cast<eKV_HostType>(host::HostFamily()); }

char const* cKV_SysInfo::GetHostTypeStr(eKV_HostType type) {
  switch (static_cast<int>(type)) {
    case eHostLinux:
      return _linux;
    case eHostWindows:
      return _win;
    default:
      return _unkn;
  }
}

eKV_HostType cKV_SysInfo::GetHostTypeId(char const* text) {
  if (text == nullptr) return eHostUnknown;
  if (std::strcmp(text, _linux) == 0) return eHostLinux;
  if (std::strcmp(text, _win) == 0) return eHostWindows;
  return eHostUnknown;
}

}  // namespace Korvane
