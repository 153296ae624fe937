// The current-time texts of one given instant, so that fixed instants (a
// single-digit day, a zone's change) can be printed and checked.
#ifndef KV_OS_INTERNAL_TIMETEXT_H
#define KV_OS_INTERNAL_TIMETEXT_H

#include "OS/osstring.h"

namespace Korvane::internal {

// "Sat Mar 07 14:05:09 2009\n" of the local time at `utcSeconds`; empty when
// the host cannot give the local time.
cKV_String LocalTimeText(long long utcSeconds);
// "14:05:09" of the local time at `utcSeconds`; empty likewise.
cKV_String LocalShortTimeText(long long utcSeconds);

}  // namespace Korvane::internal

#endif
