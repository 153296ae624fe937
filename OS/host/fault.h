// Fault injection for the host seam.
//
// Every host operation that can fail (and every allocation the library
// reports on) passes a named fault point. A test arms a point to make a later
// pass fail with a chosen error number; with nothing armed a pass costs one
// relaxed atomic load, so the points stay compiled into the shipped library
// and the tests exercise exactly the objects that ship.
#ifndef KV_OS_HOST_FAULT_H
#define KV_OS_HOST_FAULT_H

#include <atomic>
#include <cstddef>

namespace Korvane::host {

extern std::atomic<int> g_faultsArmed;

int FaultHit(char const* point) noexcept;

// The error number to fail with at this pass of `point`, or 0 to go on.
inline int Fault(char const* point) noexcept {
  return g_faultsArmed.load(std::memory_order_relaxed) == 0 ? 0 : FaultHit(point);
}

// Arms `point`: after `skip` passes, the next `count` passes fail with
// `error`. Unless `anyThread` is set, only passes on the arming thread count,
// so concurrent tests cannot trip each other's faults.
void FaultArm(char const* point, int error, unsigned skip = 0, unsigned count = 1,
              bool anyThread = false) noexcept;
void FaultDisarm(char const* point) noexcept;
void FaultClear() noexcept;
// How many passes of `point` failed since it was armed.
unsigned FaultFailures(char const* point) noexcept;

// Recorded host files: files that describe the host (/proc, /sys, /etc) are
// opened through MapHostPath, which a test redirects into a directory of
// recorded copies. Null restores the live host.
void SetRecordedRoot(char const* dir) noexcept;
// `path` as it is to be opened now: `path` itself, or the recorded copy
// written into `buf`. Null when the mapped path does not fit into `cap`.
char const* MapHostPath(char const* path, char* buf, std::size_t cap) noexcept;

}  // namespace Korvane::host

#endif
