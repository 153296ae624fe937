// Failure reports: every site names its unit and its own line.
#ifndef KV_OS_INTERNAL_REPORT_H
#define KV_OS_INTERNAL_REPORT_H

#include "OS/oserror.h"

// KV_REPORT(err, code, unit, format, ...): fills *err (when err is not null)
// and evaluates to false for every non-zero code.
#define KV_REPORT(err, code, unit, ...) \
  ::Korvane::cKV_Error::SetFormat((err), (code), (unit), __LINE__, __VA_ARGS__)

#endif
