// Process statistics: the process statistics monitor and the queries about
// processes.
#include <cerrno>
#include <climits>
#include <cstring>

#include "OS/host/error.h"
#include "OS/host/memory.h"
#include "OS/host/sysinfo.h"
#include "OS/internal/report.h"
#include "OS/internal/sysinfo.h"
#include "OS/ossysinfo.h"

namespace Korvane {

using sysinfo::kUnit;

namespace {

// Reports the failed host call of `what` with the host's own reason.
bool ReportHost(cKV_Error* error, int line, char const* what) {
  int code = host::LastError();
  return KV_REPORT_AT(error, 1, kUnit, line, "%s failed. %s", what, static_cast<char const*>(osGetSysErrorStr(code)));
}

bool ResidentBytes(unsigned long long& bytes) {
  char statm[256];
  long n = host::ReadSysFileOnce("/proc/self/statm", statm, sizeof statm);
  if (n < 0) return false;
  unsigned long long pages;
  if (!sysinfo::ParseResidentPages(statm, pages)) {
    host::SetLastError(EBADMSG);
    return false;
  }
  bytes = pages * static_cast<unsigned long long>(host::PageSize());
  return true;
}

}  // namespace

unsigned int cKV_SysInfo::EnumProcesses(ctKV_Array<unsigned int>&) { return 0; }

iKV_ProcStatMon::~iKV_ProcStatMon() = default;

iKV_ProcStatMon* iKV_ProcStatMon::Create(cKV_Error* error) {
  cProcStatMon* monitor = host::New<cProcStatMon>();
  if (monitor == nullptr) {
    KV_REPORT(error, 7, kUnit, "Failed to allocate memory. Requested size:%d",
              static_cast<int>(sizeof(cProcStatMon)));
    return nullptr;
  }
  if (!monitor->Init(error)) {
    delete monitor;
    return nullptr;
  }
  return monitor;
}

cProcStatMon::cProcStatMon()
    : _prevTime(0), _curTime(0), _prevCpu(0), _curCpu(0), _prevFaults(0), _curFaults(0), _workingSet(0) {}

bool cProcStatMon::Init(cKV_Error* error) {
  _curFaults = 0;
  char stat[1024];
  long n = host::ReadSysFileOnce("/proc/self/stat", stat, sizeof stat);
  unsigned long long ticks;
  long hz = host::ClockTicksPerSecond();
  if (n < 0) return ReportHost(error, __LINE__, "GetProcessTimes");
  if (hz <= 0 || !sysinfo::ParseProcessStart(stat, ticks)) {
    host::SetLastError(EBADMSG);
    return ReportHost(error, __LINE__, "GetProcessTimes");
  }
  auto perSecond = static_cast<unsigned long long>(hz);
  _curTime = ticks / perSecond * 10000000ULL + ticks % perSecond * 10000000ULL / perSecond;
  _curCpu = 0;
  return true;
}

bool cProcStatMon::Collect(cKV_Error* error) {
  _prevTime = _curTime;
  _prevCpu = _curCpu;
  _prevFaults = _curFaults;

  unsigned long long cpuNs, nowNs;
  if (!host::SelfCpuTimeNs(cpuNs) || !host::BootClockNs(nowNs)) return ReportHost(error, __LINE__, "GetProcessTimes");
  _curTime = nowNs / 100;
  _curCpu = cpuNs / 100;

  unsigned long long minor, major, resident;
  if (!host::SelfPageFaults(minor, major) || !ResidentBytes(resident))
    return ReportHost(error, __LINE__, "GetProcessMemoryInfo");
  _curFaults = static_cast<unsigned int>(minor + major);  // a 32-bit count, as the original host keeps it
  _workingSet = resident;
  return true;
}

int cProcStatMon::GetProcCpuLoad(cKV_Error* error) {
  auto wall = static_cast<long long>(_curTime - _prevTime);
  auto cpu = static_cast<long long>(_curCpu - _prevCpu);
  if (wall <= 0) {
    KV_REPORT(error, 1, kUnit, "Failed to calculate");
    return 0;
  }
  auto span = static_cast<unsigned long long>(cKV_SysInfo::GetCpuCount()) * static_cast<unsigned long long>(wall);
  double load = static_cast<double>(cpu) / static_cast<double>(span) * 100.0 + 0.5;
  if (load > 100.0) return 100;
  if (load < 0.0) return 0;
  return static_cast<int>(load);
}

int cProcStatMon::GetProcPageFaultCount() { return static_cast<int>(_curFaults - _prevFaults); }

unsigned long long cProcStatMon::GetProcMemoryLoad() { return _workingSet; }

bool iKV_ProcInfo::GetName(unsigned int pid, cKV_String& name) {
  if (pid == 0 || pid > INT_MAX) return false;
  // The id of a thread of another process opens that thread's files too: it
  // names a process only when it is its own thread group.
  char path[64];
  sysinfo::TextBuf p(path, sizeof path);
  p.Appendf("/proc/%u/status", pid);
  char status[512];
  unsigned long long group = 0;
  char const* end = nullptr;
  char const* value = host::ReadSysFileOnce(path, status, sizeof status) > 0
                          ? sysinfo::FindField(status, "Tgid", ':', &end)
                          : nullptr;
  if (value == nullptr || !sysinfo::ParseUnsigned(value, end, group) || group != pid) return false;
  p.Clear();
  p.Appendf("/proc/%u/comm", pid);
  char comm[64];
  long n = host::ReadSysFileOnce(path, comm, sizeof comm);
  if (n <= 0 || comm[n - 1] != '\n') return false;
  comm[n - 1] = '\0';
  name = comm;
  return std::strcmp(name, comm) == 0;  // false when no memory could be had for the copy
}

// The original host counts processor time in 100-ns units; the times keep
// that grain.
void osGetProcessTime(cKV_SysTime& time) {
  unsigned long long ns;
  time = host::SelfCpuTimeNs(ns) ? ns / 100 * 100 : 0ULL;
}

bool osGetProcessTime(unsigned int pid, cKV_SysTime& time) {
  int clock;
  if (pid == 0 || pid > INT_MAX || !host::OpenProcessClock(static_cast<int>(pid), clock)) return false;
  unsigned long long ns;
  if (!host::ReadProcessClockNs(clock, ns)) {
    time = 0ULL;
    return false;
  }
  time = ns / 100 * 100;
  return true;
}

unsigned long long osGetCurProcVMSize() {
  unsigned long long bytes;
  return ResidentBytes(bytes) ? bytes : 0;
}

}  // namespace Korvane
