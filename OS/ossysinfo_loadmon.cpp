// The system load monitor.
#include "OS/host/error.h"
#include "OS/host/memory.h"
#include "OS/host/sysinfo.h"
#include "OS/internal/report.h"
#include "OS/internal/sysinfo.h"
#include "OS/ossysinfo.h"

namespace Korvane {

using sysinfo::kUnit;

iKV_SysLoadMon::~iKV_SysLoadMon() = default;

iKV_SysLoadMon* iKV_SysLoadMon::Create(cKV_Error* error, int mask) {
  cSysLoadMon* monitor = host::New<cSysLoadMon>();
  if (monitor == nullptr) {
    KV_REPORT(error, 7, kUnit, "Failed to allocate memory. Requested size:%d", static_cast<int>(sizeof(cSysLoadMon)));
    return nullptr;
  }
  if (!monitor->Init(error, mask)) {
    delete monitor;
    return nullptr;
  }
  return monitor;
}

cSysLoadMon::cSysLoadMon()
    : _ramAvail(0),
      _swapAvail(0),
      _swapMax(0),
      _statFile(-1),
      _memFile(-1),
      _prevTotal(0),
      _prevIdle(0),
      _curTotal(0),
      _curIdle(0) {}

cSysLoadMon::cSysLoadMon(cSysLoadMon const& other)
    : iKV_SysLoadMon(other),
      _ramAvail(other._ramAvail),
      _swapAvail(other._swapAvail),
      _swapMax(other._swapMax),
      _statFile(-1),
      _memFile(-1),
      _prevTotal(other._prevTotal),
      _prevIdle(other._prevIdle),
      _curTotal(other._curTotal),
      _curIdle(other._curIdle) {}

cSysLoadMon& cSysLoadMon::operator=(cSysLoadMon const& other) {
  // What the host keeps open for each monitor stays its own: a copy never
  // releases another monitor's.
  iKV_SysLoadMon::operator=(other);
  _ramAvail = other._ramAvail;
  _swapAvail = other._swapAvail;
  _swapMax = other._swapMax;
  _prevTotal = other._prevTotal;
  _prevIdle = other._prevIdle;
  _curTotal = other._curTotal;
  _curIdle = other._curIdle;
  return *this;
}

cSysLoadMon::~cSysLoadMon() { Done(); }

void cSysLoadMon::Done() {
  host::ReleaseSample(_statFile);
  host::ReleaseSample(_memFile);
}

void cSysLoadMon::_SampleCpu() {
  if (!host::SystemCpuTimes(_statFile, _curTotal, _curIdle)) {
    _curTotal = 0;
    _curIdle = 0;
  }
}

bool cSysLoadMon::Init(cKV_Error* error, int mask) {
  Done();
  _mask = mask;
  _ramAvail = 0;
  _swapAvail = 0;
  _swapMax = 0;
  if (_mask & eCpuLoad) _SampleCpu();
  return Collect(error);
}

bool cSysLoadMon::Collect(cKV_Error* error) {
  if (_mask & eCpuLoad) {
    _prevTotal = _curTotal;
    _prevIdle = _curIdle;
    _SampleCpu();
  }
  if (_mask & (eRamAvail | eSwapAvail | eSwapMax)) {
    sysinfo::MemFigures figures;
    if (!host::SystemMemory(_memFile, figures)) {
      int code = host::LastError();
      return KV_REPORT(error, 1, kUnit, "GlobalMemoryStatusEx failed: %s",
                       static_cast<char const*>(osGetSysErrorStr(code)));
    }
    _ramAvail = static_cast<long long>(figures.available);
    _swapAvail = static_cast<long long>(figures.swapFree);
    _swapMax = static_cast<long long>(figures.swapTotal);
  }
  return true;
}

int cSysLoadMon::GetCpuLoad(cKV_Error* error) {
  if (!(_mask & eCpuLoad)) {
    KV_REPORT(error, 1, kUnit, "Value is not requested");
    return 0;
  }
  // Signed differences: a sample behind the previous one (a zero sample, when
  // the times could not be read) still gives the ratio of its differences.
  long long total = static_cast<long long>(_curTotal - _prevTotal);
  long long idle = static_cast<long long>(_curIdle - _prevIdle);
  if (total == 0) return 0;
  double load = static_cast<double>(total - idle) / static_cast<double>(total) * 100.0 + 0.5;
  if (load > 100.0) return 100;
  if (load < 0.0) return 0;
  return static_cast<int>(load);
}

long long cSysLoadMon::GetRamAvail(cKV_Error* error) {
  if (!(_mask & eRamAvail)) {
    KV_REPORT(error, 1, kUnit, "Value is not requested");
    return 0;
  }
  return _ramAvail;
}

long long cSysLoadMon::GetSwapAvail(cKV_Error* error) {
  if (!(_mask & eSwapAvail)) {
    KV_REPORT(error, 1, kUnit, "Value is not requested");
    return 0;
  }
  return _swapAvail;
}

long long cSysLoadMon::GetSwapMax(cKV_Error* error) {
  if (!(_mask & eSwapMax)) {
    KV_REPORT(error, 1, kUnit, "Value is not requested");
    return 0;
  }
  return _swapMax;
}

}  // namespace Korvane
