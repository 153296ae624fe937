// Failure reports: every site names its unit and its own line.
#ifndef KV_OS_INTERNAL_REPORT_H
#define KV_OS_INTERNAL_REPORT_H

#include <atomic>

#include "OS/oserror.h"

namespace Korvane::internal {

// Tests watch which messages the library reports, to see that each one is
// reached by some test. With no watcher a report costs one atomic load.
// A watcher must leave the host's error number as it found it: the report's
// arguments are read after it ran.
using ReportWatcher = void (*)(char const* unit, char const* format) noexcept;
inline constinit std::atomic<ReportWatcher> g_reportWatcher{nullptr};

inline void NoteReport(char const* unit, char const* format) noexcept {
  if (ReportWatcher watcher = g_reportWatcher.load(std::memory_order_acquire)) watcher(unit, format);
}

}  // namespace Korvane::internal

// KV_REPORT(err, code, unit, format, ...): fills *err (when err is not null)
// and evaluates to false for every non-zero code. The format must be a
// literal: it is the message text that the watcher sees.
#define KV_REPORT(err, code, unit, format, ...) \
  KV_REPORT_AT(err, code, unit, __LINE__, format __VA_OPT__(, ) __VA_ARGS__)

// The same for a helper that reports on behalf of the line that called it.
#define KV_REPORT_AT(err, code, unit, line, format, ...)   \
  (::Korvane::internal::NoteReport((unit), "" format ""), \
   ::Korvane::cKV_Error::SetFormat((err), (code), (unit), (line), format __VA_OPT__(, ) __VA_ARGS__))

#endif
