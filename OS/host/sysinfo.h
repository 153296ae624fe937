// Host operations behind the system description and the load monitors.
// Times are in 100-ns units unless the name says otherwise.
#ifndef KV_OS_HOST_SYSINFO_H
#define KV_OS_HOST_SYSINFO_H

#include <cstddef>

namespace Korvane::sysinfo {
struct MemFigures;
}

namespace Korvane::host {

// The host family the library was built for: 'L' or 'W'.
int HostFamily() noexcept;

// A load monitor's samples. `keep` is the monitor's slot for whatever the
// host keeps open between samples (-1 for nothing yet); ReleaseSample gives
// it back and sets it to -1.
//
// The machine's cumulative processor times: `total` covers every state,
// `idle` the time spent idle. False when the host does not tell them.
bool SystemCpuTimes(int& keep, unsigned long long& total, unsigned long long& idle) noexcept;
// Available physical memory, available and total swap (page file); false
// with the host's last error set.
bool SystemMemory(int& keep, sysinfo::MemFigures& figures) noexcept;
void ReleaseSample(int& keep) noexcept;

// The clock on which ProcessStartTime dates the start of the calling
// process, and when it started; false with the host's last error set.
bool SampleClock(unsigned long long& now) noexcept;
bool ProcessStartTime(unsigned long long& start) noexcept;

// The calling process's processor time (all its threads, living and
// ended) in nanoseconds.
bool SelfCpuTimeNs(unsigned long long& ns) noexcept;

// The calling process's page faults (the host's 32-bit count) and its
// working set (resident size) in bytes; false with the last error set.
bool SelfMemory(unsigned int& faults, unsigned long long& workingSet) noexcept;
bool SelfWorkingSet(unsigned long long& bytes) noexcept;

// The processor time of another process in nanoseconds: 1 when read, 0
// when the process exists but its times cannot be read, -1 when there is no
// such process (or it cannot be opened).
int ProcessCpuTimeNs(unsigned int pid, unsigned long long& ns) noexcept;

// The name of the process `pid` into `name` (NUL-terminated); false where
// the host does not name processes or there is no such process.
bool ProcessName(unsigned int pid, char* name, std::size_t cap) noexcept;

}  // namespace Korvane::host

#endif
