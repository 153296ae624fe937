/// \file
/// The description of the machine, and monitors of the system's load and of
/// the calling process's statistics.
#ifndef KV_OS_OSSYSINFO_H
#define KV_OS_OSSYSINFO_H

#include "OS/osbase.h"
#include "OS/oserror.h"
#include "OS/osstring.h"
#include "OS/ostime.h"

namespace Korvane {

/// The framework's array template; this unit only names it.
/// \tparam T the element type.
template <class T>
class ctKV_Array;

/// Host families; the values are character codes.
enum eKV_HostType {
  /// Linux ('L').
  eHostLinux = 76,    // 'L'
  /// Any other host ('U').
  eHostUnknown = 85,  // 'U'
  /// Windows ('W').
  eHostWindows = 87   // 'W'
};

/// The machine as it was when the library was loaded. The description is
/// gathered once, before any caller can run, and only read afterwards, from
/// any thread.
///
/// On Linux:
/// - the processor count is the number of online logical processors;
/// - the processor name is the model text of the first processor, as the
///   host stores it (leading blanks included), then ": " and an identifier
///   of architecture, family, model and stepping (as far as the host gives
///   them), e.g. "AMD EPYC 7B13: x86_64 Family 25 Model 1 Stepping 0";
/// - the speed is the nominal clock in MHz where the kernel knows it, else
///   the highest clock, else the clock that /proc/cpuinfo shows; it is read
///   only when the name and the identifier could be;
/// - the memory size is the total physical memory in bytes;
/// - the short name is the distribution's name and version ("Debian GNU/Linux
///   12"), the long name its full name followed by ", kernel RELEASE MACHINE".
/// Whatever cannot be read keeps its default: "x86", speed 0, memory 0, and
/// the names "Linux" and "Linux unknown".
class KV_OS_API cKV_SysInfo {
 public:
  /// Does nothing: all of the description is static.
  /// \return this object.
  cKV_SysInfo& operator=(cKV_SysInfo const&) { return *this; }

  /// \return the number of logical processors.
  static int GetCpuCount();
  /// \return the processor clock in MHz, 0 when unknown.
  static int GetCpuSpeed();
  /// \return the processor's name and identifier ("x86" when unknown).
  static cKV_String GetCpuName();
  /// \return the total physical memory in bytes, 0 when unknown.
  static unsigned long long GetRamSize();
  /// \return the operating system's full name ("Linux unknown" when
  ///   unknown).
  static cKV_String GetOsLongName();
  /// \return the operating system's short name ("Linux" when unknown).
  static cKV_String GetOsShortName();

  /// \return the host family: eHostLinux in this build.
  static eKV_HostType GetHostType();
  /// \param type a host family.
  /// \return "Linux", "Windows", or "Unknown" for any other value.
  static char const* GetHostTypeStr(eKV_HostType type);
  /// \param text a host family's name, exact and case-sensitive.
  /// \return eHostLinux for "Linux", eHostWindows for "Windows", anything
  ///   else (a null text included) eHostUnknown.
  static eKV_HostType GetHostTypeId(char const* text);

  /// Enumerating the processes is left to the framework, whose array type
  /// this is.
  /// \param ids left untouched.
  /// \return 0.
  static unsigned int EnumProcesses(ctKV_Array<unsigned int>& ids);

 private:
  cKV_SysInfo() = default;  // the library describes the machine; callers never make one

  static char const* const _linux;
  static char const* const _win;
  static char const* const _unkn;
};

/// Samples the whole machine's load: the processor load over the interval
/// between the two latest samples, the available physical memory and the
/// available and total swap. The caller names the values it wants in a mask
/// at creation (unknown bits are ignored), calls Collect periodically and
/// reads the values after each call. A monitor belongs to one thread at a
/// time. Failures are reported with code 1 and unit ".\ossysinfo".
class KV_OS_API iKV_SysLoadMon {
 public:
  /// Bits of the requested-values mask.
  enum {
    /// The processor load.
    eCpuLoad = 1,
    /// The available physical memory.
    eRamAvail = 2,
    /// The available swap.
    eSwapAvail = 4,
    /// The total swap.
    eSwapMax = 8
  };

  /// A new monitor that has taken its first samples. Release with delete.
  /// \param error gets code 7 when it cannot be allocated, otherwise what
  ///   Init reported; may be null.
  /// \param mask the values wanted, an or of eCpuLoad, eRamAvail,
  ///   eSwapAvail and eSwapMax; unknown bits are ignored.
  /// \return the monitor, or null.
  static iKV_SysLoadMon* Create(cKV_Error* error, int mask);

  /// Copies the mask.
  /// \param other the monitor copied.
  iKV_SysLoadMon(iKV_SysLoadMon const& other) : _mask(other._mask) {}
  /// Copies the mask.
  /// \param other the monitor copied.
  /// \return this monitor.
  iKV_SysLoadMon& operator=(iKV_SysLoadMon const& other) {
    _mask = other._mask;
    return *this;
  }
  /// Releases the monitor's host resources.
  virtual ~iKV_SysLoadMon();

  /// Starts the monitor over with a new mask and takes its first samples.
  /// \param error gets the reason of a failure; may be null.
  /// \param mask the values wanted.
  /// \return whether the samples were taken.
  virtual bool Init(cKV_Error* error, int mask) = 0;
  /// Takes a new sample of the values in the mask.
  /// \param error gets the reason of a failure; may be null.
  /// \return whether the sample was taken.
  virtual bool Collect(cKV_Error* error) = 0;
  /// The processor load of the interval between the two latest samples.
  /// \param error gets "Value is not requested" when eCpuLoad is not in
  ///   the mask; may be null.
  /// \return percent, 0 to 100; 0 when not requested.
  virtual int GetCpuLoad(cKV_Error* error) = 0;
  /// The available physical memory at the latest sample.
  /// \param error gets "Value is not requested" when eRamAvail is not in
  ///   the mask; may be null.
  /// \return bytes; 0 when not requested.
  virtual long long GetRamAvail(cKV_Error* error) = 0;
  /// The available swap at the latest sample.
  /// \param error gets "Value is not requested" when eSwapAvail is not in
  ///   the mask; may be null.
  /// \return bytes; 0 when not requested.
  virtual long long GetSwapAvail(cKV_Error* error) = 0;
  /// The total swap at the latest sample.
  /// \param error gets "Value is not requested" when eSwapMax is not in the
  ///   mask; may be null.
  /// \return bytes; 0 when not requested.
  virtual long long GetSwapMax(cKV_Error* error) = 0;
  /// Releases the monitor's host resources; the next sample takes them
  /// again.
  virtual void Done() = 0;

 protected:
  /// A monitor that wants no values.
  iKV_SysLoadMon() : _mask(0) {}

  /// The values wanted, an or of eCpuLoad, eRamAvail, eSwapAvail and
  /// eSwapMax.
  int _mask;
};

/// The Linux monitor. The processor load comes from the cumulative processor
/// times of /proc/stat (the idle share includes waiting for I/O; time stolen
/// by a hypervisor counts as busy), the memory figures from /proc/meminfo:
/// the kernel's estimate of memory available for new work (what free(1)
/// shows as available), free and total swap.
///
/// The monitor keeps its two host files open between samples and takes each
/// sample into fixed buffers, so sampling allocates nothing. A processor
/// sample that cannot be taken counts as zero times and is not reported; a
/// memory sample that cannot be taken fails Collect with "GlobalMemoryStatusEx
/// failed: %s" and keeps the earlier values.
///
/// Copies take the mask, the samples and the values, but never the open
/// files: each monitor opens its own at its next sample, so no file is closed
/// twice.
class KV_OS_API cSysLoadMon : public iKV_SysLoadMon {
 public:
  /// A monitor that wants no values and has no files open.
  cSysLoadMon();
  /// Copies the mask, the samples and the values, not the open files.
  /// \param other the monitor copied.
  cSysLoadMon(cSysLoadMon const& other);
  /// Copies the mask, the samples and the values, not the open files.
  /// \param other the monitor copied.
  /// \return this monitor.
  cSysLoadMon& operator=(cSysLoadMon const& other);
  /// Closes the monitor's files.
  ~cSysLoadMon() override;

  /// Releases the files of an earlier Init, stores the mask, takes a
  /// processor sample (mask bit 1) and then a first Collect; the first
  /// interval is only as long as Init itself.
  /// \param error gets what Collect reports; may be null.
  /// \param mask the values wanted.
  /// \return the result of the first Collect.
  bool Init(cKV_Error* error, int mask) override;
  /// Takes a new sample of the values in the mask.
  /// \param error gets "GlobalMemoryStatusEx failed: %s" when the memory
  ///   sample cannot be taken (the earlier values stay); may be null.
  /// \return whether the sample was taken.
  bool Collect(cKV_Error* error) override;
  /// Busy share of the last interval, rounded: (total - idle) / total * 100
  /// + 0.5 over the signed differences of the two samples, truncated and
  /// clamped to 0..100; 0 for an interval without time. A sample behind the
  /// previous one (a zero sample included) keeps the same rule.
  /// \param error gets "Value is not requested" when eCpuLoad is not in
  ///   the mask; may be null.
  /// \return percent, 0 to 100.
  int GetCpuLoad(cKV_Error* error) override;
  /// \param error gets "Value is not requested" when eRamAvail is not in
  ///   the mask; may be null.
  /// \return the memory available for new work at the latest sample, in
  ///   bytes.
  long long GetRamAvail(cKV_Error* error) override;
  /// \param error gets "Value is not requested" when eSwapAvail is not in
  ///   the mask; may be null.
  /// \return the free swap at the latest sample, in bytes.
  long long GetSwapAvail(cKV_Error* error) override;
  /// \param error gets "Value is not requested" when eSwapMax is not in the
  ///   mask; may be null.
  /// \return the total swap at the latest sample, in bytes.
  long long GetSwapMax(cKV_Error* error) override;
  /// Closes the monitor's files; the next sample opens them again.
  void Done() override;

 private:
  void _SampleCpu();

  long long _ramAvail;
  long long _swapAvail;
  long long _swapMax;
  int _statFile;     // /proc/stat, -1 when not open
  int _memFile;      // /proc/meminfo, -1 when not open
  unsigned long long _prevTotal;  // 100-ns units
  unsigned long long _prevIdle;
  unsigned long long _curTotal;
  unsigned long long _curIdle;
};

/// Watches the calling process: its processor load in percent of the whole
/// machine over the interval between the two latest samples, the page faults
/// it took in that interval, and its resident size. A monitor belongs to one
/// thread at a time; it holds no host resource. Failures are reported with
/// code 1 and unit ".\ossysinfo".
class KV_OS_API iKV_ProcStatMon {
 public:
  /// A new monitor whose first interval starts when the process started, so
  /// that the first Collect gives the average since then. Release with
  /// delete.
  /// \param error gets code 7 when the monitor cannot be allocated,
  ///   otherwise what its start reported; may be null.
  /// \return the monitor, or null when it cannot be made.
  static iKV_ProcStatMon* Create(cKV_Error* error);

  /// Establishes the interface only.
  iKV_ProcStatMon() = default;
  /// Establishes the interface only.
  iKV_ProcStatMon(iKV_ProcStatMon const&) = default;
  /// Does nothing.
  /// \return this monitor.
  iKV_ProcStatMon& operator=(iKV_ProcStatMon const&) { return *this; }
  /// Does nothing more.
  virtual ~iKV_ProcStatMon();

  /// Takes a new sample; the previous one moves back.
  /// \param error gets the reason of a failure; may be null.
  /// \return whether the sample was taken.
  virtual bool Collect(cKV_Error* error) = 0;
  /// The process's processor load over the interval between the two latest
  /// samples.
  /// \param error gets the reason of a failure; may be null.
  /// \return percent of all processors, 0 to 100.
  virtual int GetProcCpuLoad(cKV_Error* error) = 0;
  /// \return the page faults of the interval between the two latest
  ///   samples.
  virtual int GetProcPageFaultCount() = 0;
  /// \return the resident size at the latest sample, in bytes.
  virtual unsigned long long GetProcMemoryLoad() = 0;
};

/// The Linux monitor: processor time from the process's CPU clock, page
/// faults from its resource usage (minor and major together, as the original
/// host counts them), the resident size from /proc/self/statm, and sample
/// times from the host's boot-time clock, on which the kernel also dates the
/// process's start (it does not jump when the wall clock is set).
///
/// Before the first Collect every figure is 0. Copies copy every field.
class KV_OS_API cProcStatMon : public iKV_ProcStatMon {
 public:
  /// A monitor with every figure 0.
  cProcStatMon();
  /// Copies every field.
  cProcStatMon(cProcStatMon const&) = default;
  /// Copies every field.
  /// \return this monitor.
  cProcStatMon& operator=(cProcStatMon const&) = default;

  /// Starts the current sample at the process's start, with no processor
  /// time.
  /// \param error gets "GetProcessTimes failed. %s" when the start cannot
  ///   be read; may be null.
  /// \return whether the start was read.
  bool Init(cKV_Error* error);
  /// Takes a new sample; the previous sample has moved either way.
  /// \param error gets "GetProcessTimes failed. %s" when the processor time
  ///   cannot be read, "GetProcessMemoryInfo failed. %s" when the memory
  ///   figures cannot; may be null.
  /// \return whether the sample was taken.
  bool Collect(cKV_Error* error) override;
  /// cpu time / (processors * wall time) * 100 + 0.5 over the interval,
  /// truncated and clamped to 0..100.
  /// \param error gets "Failed to calculate" when no time passed between
  ///   the samples; may be null.
  /// \return percent of all processors; 0 when no time passed.
  int GetProcCpuLoad(cKV_Error* error) override;
  /// \return the faults of the last interval, minor and major together.
  int GetProcPageFaultCount() override;
  /// \return the resident size at the latest sample, in bytes.
  unsigned long long GetProcMemoryLoad() override;

 private:
  unsigned long long _prevTime;  // 100-ns units
  unsigned long long _curTime;
  unsigned long long _prevCpu;   // 100-ns units
  unsigned long long _curCpu;
  unsigned int _prevFaults;
  unsigned int _curFaults;
  unsigned long long _workingSet;  // bytes
};

/// Static queries about processes.
class KV_OS_API iKV_ProcInfo {
 public:
  /// Does nothing: the queries are static.
  /// \return this object.
  iKV_ProcInfo& operator=(iKV_ProcInfo const&) { return *this; }
  /// The name under which the kernel knows a process.
  /// \param pid the process id.
  /// \param name gets what ps shows, at most 15 characters.
  /// \return false, with `name` untouched, when there is no such process.
  static bool GetName(unsigned int pid, cKV_String& name);
};

/// The calling process's processor time, all its threads together.
/// \param time gets a duration in multiples of 100 ns; 0 when the host
///   cannot tell it.
KV_OS_API void osGetProcessTime(cKV_SysTime& time);
/// The processor time of a process, all its threads together.
/// \param pid the process id.
/// \param time gets a duration in multiples of 100 ns.
/// \return false with `time` untouched when there is no such process (0 and
///   identifiers beyond the host's range included); false with `time` 0
///   when its times cannot be read.
KV_OS_API bool osGetProcessTime(unsigned int pid, cKV_SysTime& time);

/// \return the calling process's resident size in bytes; 0 when it cannot
///   be read.
KV_OS_API unsigned long long osGetCurProcVMSize();

}  // namespace Korvane

#endif
