// Process statistics: the process statistics monitor and the queries about
// processes.
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
  if (!host::ProcessStartTime(_curTime)) return ReportHost(error, __LINE__, "GetProcessTimes");
  _curCpu = 0;
  return true;
}

bool cProcStatMon::Collect(cKV_Error* error) {
  _prevTime = _curTime;
  _prevCpu = _curCpu;
  _prevFaults = _curFaults;

  unsigned long long cpuNs, now;
  if (!host::SelfCpuTimeNs(cpuNs) || !host::SampleClock(now)) return ReportHost(error, __LINE__, "GetProcessTimes");
  _curTime = now;
  _curCpu = cpuNs / 100;

  unsigned int faults;
  unsigned long long workingSet;
  if (!host::SelfMemory(faults, workingSet)) return ReportHost(error, __LINE__, "GetProcessMemoryInfo");
  _curFaults = faults;
  _workingSet = workingSet;
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
  char text[64];
  if (!host::ProcessName(pid, text, sizeof text)) return false;
  name = text;
  return std::strcmp(name, text) == 0;  // false when no memory could be had for the copy
}

// The original host counts processor time in 100-ns units; the times keep
// that grain.
void osGetProcessTime(cKV_SysTime& time) {
  unsigned long long ns;
  time = host::SelfCpuTimeNs(ns) ? ns / 100 * 100 : 0ULL;
}

bool osGetProcessTime(unsigned int pid, cKV_SysTime& time) {
  unsigned long long ns;
  int found = host::ProcessCpuTimeNs(pid, ns);
  if (found < 0) return false;
  if (found == 0) {
    time = 0ULL;
    return false;
  }
  time = ns / 100 * 100;
  return true;
}

unsigned long long osGetCurProcVMSize() {
  unsigned long long bytes;
  return host::SelfWorkingSet(bytes) ? bytes : 0;
}

}  // namespace Korvane
