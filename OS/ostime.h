// Time values: the nanosecond time cKV_SysTime, the seconds-and-milliseconds
// time tTimeb, local calendar time cKV_DateTime, and every text form of a
// time that the library prints.
#ifndef KV_OS_OSTIME_H
#define KV_OS_OSTIME_H

#include "OS/osbase.h"
#include "OS/osstring.h"

namespace Korvane {

// Nanoseconds as an unsigned 64-bit count: an absolute time (since
// 1970-01-01 00:00:00 UTC) or a duration. A plain value: copied bit for bit,
// arithmetic wraps modulo 2^64, comparisons are unsigned. The default
// constructor leaves the value unset.
//
// Integer operands are 64-bit: write `t + 5LL`, not `t + 5` (an int operand
// is ambiguous between the member operators and the built-in ones reached
// through the conversions).
struct KV_OS_API cKV_SysTime {
  // Marks an unbounded time (about 292 years).
  static constexpr unsigned long long Infinity = 0x7FFFFFFFFFFFFFFFULL;

  cKV_SysTime() = default;
  cKV_SysTime(cKV_SysTime const&) = default;
  cKV_SysTime& operator=(cKV_SysTime const&) = default;
  // sec * 10^9 + nsec; nsec may exceed one second and simply adds.
  cKV_SysTime(unsigned int sec, unsigned int nsec) { Set(sec, nsec); }
  cKV_SysTime(unsigned long long bits) : value(bits) {}  // NOLINT: implicit by design
  void Set(unsigned int sec, unsigned int nsec) {
    value = static_cast<unsigned long long>(sec) * 1000000000ULL + nsec;
  }
  cKV_SysTime& operator=(long long bits) {
    value = static_cast<unsigned long long>(bits);
    return *this;
  }
  cKV_SysTime& operator=(unsigned long long bits) {
    value = bits;
    return *this;
  }

  operator long long() const { return static_cast<long long>(value); }  // NOLINT: implicit by design
  operator unsigned long long() const { return value; }                 // NOLINT: implicit by design

  bool IsZero() const { return value == 0; }
  bool IsNotZero() const { return value != 0; }
  bool IsInfinity() const { return value == Infinity; }

  bool operator==(cKV_SysTime const& other) const { return value == other.value; }
  bool operator==(long long bits) const { return value == static_cast<unsigned long long>(bits); }
  bool operator==(unsigned long long bits) const { return value == bits; }
  bool operator<(cKV_SysTime const& other) const { return value < other.value; }
  bool operator<=(cKV_SysTime const& other) const { return value <= other.value; }
  bool operator>(cKV_SysTime const& other) const { return value > other.value; }
  bool operator>=(cKV_SysTime const& other) const { return value >= other.value; }

  cKV_SysTime operator+(cKV_SysTime const& other) const { return cKV_SysTime(value + other.value); }
  cKV_SysTime operator+(long long bits) const { return cKV_SysTime(value + static_cast<unsigned long long>(bits)); }
  cKV_SysTime operator-(cKV_SysTime const& other) const { return cKV_SysTime(value - other.value); }
  cKV_SysTime operator-(long long const& bits) const {
    return cKV_SysTime(value - static_cast<unsigned long long>(bits));
  }
  cKV_SysTime& operator+=(cKV_SysTime const& other) {
    value += other.value;
    return *this;
  }
  cKV_SysTime& operator+=(long long bits) {
    value += static_cast<unsigned long long>(bits);
    return *this;
  }
  cKV_SysTime& operator+=(unsigned long long bits) {
    value += bits;
    return *this;
  }
  cKV_SysTime& operator-=(cKV_SysTime const& other) {
    value -= other.value;
    return *this;
  }
  cKV_SysTime& operator-=(long long bits) {
    value -= static_cast<unsigned long long>(bits);
    return *this;
  }
  cKV_SysTime& operator-=(unsigned long long bits) {
    value -= bits;
    return *this;
  }

  // The value (as unsigned) scaled by `factor`, truncated toward zero to a
  // signed 64-bit count whose bits become the new value. Results beyond the
  // signed 64-bit range saturate (so dividing by zero gives Infinity); a
  // result that is not a number gives 0.
  cKV_SysTime operator*(double factor) const;
  cKV_SysTime operator/(double factor) const;

  // A negative count moves the time back (wrapping below 0).
  void AddMilliseconds(int ms) {
    value += static_cast<unsigned long long>(static_cast<long long>(ms) * 1000000LL);
  }
  // Whole seconds, low 32 bits.
  unsigned int GetSeconds() const { return static_cast<unsigned int>(value / 1000000000ULL); }
  // Whole milliseconds modulo 2^32 (not the milliseconds within the second).
  unsigned int GetMilliseconds() const { return static_cast<unsigned int>(value / 1000000ULL); }
  // Nanoseconds within the second.
  unsigned int GetFracNanoseconds() const { return static_cast<unsigned int>(value % 1000000000ULL); }

  // The current UTC time from the host's real-time clock, a multiple of
  // 100 ns; 0 when the clock cannot be read.
  void GetSysTime();
  // Milliseconds from this time until now, modulo 2^32 (a time later than
  // now gives the wrapped difference).
  unsigned int GetTiming() const;

  // The value as a duration: "H:MM:SS.nnnnnnnnn", hours not reduced to a day.
  cKV_String FormatTime() const;
  // The UTC time of day of the value: "H:MM:SS", hour not zero-padded.
  cKV_String FormatTimeShort() const;
  // Local date and time to the millisecond: "YYYY/MM/DD hh:mm:ss.mmm".
  cKV_String ToString() const;

  unsigned long long value;
};

// Seconds (signed 32-bit) and milliseconds within the second (0..999). A
// plain value; the default constructor leaves both fields unset. Sums and
// products wrap in 32 bits as on the original 32-bit host.
//
// Where a count or a result is negative, this library keeps the milliseconds
// in 0..999 by borrowing from the seconds (floor division): `t = -1` gives
// -1 s 999 ms, and GetMilliseconds() of that is -1 again. A scaled time
// beyond the 32-bit seconds saturates (with 0 ms); one that is not a number
// (0 / 0.0, say) is 0 s 0 ms.
struct KV_OS_API tTimeb {
  tTimeb() = default;
  tTimeb(tTimeb const&) = default;
  tTimeb& operator=(tTimeb const&) = default;
  // Any millisecond count is folded into whole seconds.
  tTimeb(int sec, unsigned int ms);
  // `ms` milliseconds.
  tTimeb& operator=(int ms);

  // Seconds (signed) first, then milliseconds.
  bool operator==(tTimeb const& other) const { return seconds == other.seconds && milliseconds == other.milliseconds; }
  bool operator<(tTimeb const& other) const {
    return seconds < other.seconds || (seconds == other.seconds && milliseconds < other.milliseconds);
  }
  bool operator>(tTimeb const& other) const { return other < *this; }

  tTimeb operator+(tTimeb const& other) const;
  // Adds whole seconds (not milliseconds).
  tTimeb operator+(int sec) const;
  // A later time subtracted from an earlier one gives negative seconds with
  // milliseconds still in 0..999.
  tTimeb operator-(tTimeb const& other) const;
  tTimeb operator*(double factor) const;
  tTimeb operator/(double factor) const;

  void AddMilliseconds(int ms);
  // seconds * 1000 + milliseconds in 32-bit arithmetic.
  int GetMilliseconds() const;

  // The current time from the host's clock at millisecond resolution
  // (seconds are the low 32 bits of the count since 1970); 0 s 0 ms when the
  // clock cannot be read.
  void GetTime();
  // Milliseconds from this time until now; 0 when this time is now or later.
  // Signed 32-bit: spans beyond about 24.8 days are not representable.
  int GetTiming() const;
  // Local date and time: "YYYY/MM/DD hh:mm:ss.mmm". Negative seconds are
  // times before 1970. Empty when the host cannot give the local time.
  cKV_String ToString() const;

  int seconds;
  unsigned short milliseconds;
};

// Calendar fields of a local time. No weekday and no zone field. A plain
// value; the default constructor leaves the fields unset.
//
// Local time, here and in every text below, is that of the host's zone
// database for the zone that TZ names (the system's zone without TZ). A
// change of TZ takes effect at the next tzset().
struct KV_OS_API cKV_DateTime {
  cKV_DateTime() = default;
  cKV_DateTime(cKV_DateTime const&) = default;
  cKV_DateTime& operator=(cKV_DateTime const&) = default;
  // The local calendar fields of `time`; the nanoseconds keep the whole
  // sub-second part. When the host cannot give the local time the fields
  // are those of UTC.
  cKV_DateTime& operator=(cKV_SysTime const& time);

  // The UTC time of these local fields plus the nanoseconds field. False,
  // with `time` untouched, unless year (1601..30827), month, day, hour,
  // minute and second form a real date and time (a leap second is not one).
  // Times before 1970 wrap below 0.
  //
  // Where a daylight-saving change repeats a local hour, the first
  // occurrence (the earlier instant) is given. A local time in an hour that
  // a change skips is read with the offset in force before the change: in
  // New York 02:30 on the spring-forward night gives the instant that is
  // 03:30 daylight time, one hour after 01:30.
  //
  // A time converted to calendar fields and back is unchanged, except in the
  // second occurrence of a repeated hour.
  bool ToSysTime(cKV_SysTime& time) const;
  // "YYYY/MM/DD hh:mm:ss.mmm" (milliseconds truncated from the nanoseconds).
  cKV_String ToString() const;

  unsigned short year;
  unsigned char month;   // 1..12
  unsigned char day;     // 1..31
  unsigned char hour;    // 0..23
  unsigned char minute;  // 0..59
  unsigned char second;  // 0..59
  unsigned int nanoseconds;
};

// The current local time in the 25-character asctime layout with a
// two-digit day and English names whatever the locale, line feed included:
// "Sat Mar 07 14:05:09 2009\n". Empty when the host cannot give the local
// time.
KV_OS_API cKV_String osGetLocalTimeStr();
// The current local time as "hh:mm:ss"; empty when the host cannot give the
// local time.
KV_OS_API cKV_String osGetLocalShortTimeStr();
// The current time in whole seconds since 1970-01-01 00:00:00 UTC, modulo
// 2^32 (valid until 2106); 0xFFFFFFFF when the clock cannot be read.
KV_OS_API unsigned int osGetSysTime();
// t1 - t2 in seconds; both are taken as the unsigned counts that
// osGetSysTime returns.
KV_OS_API double osGetSysTimeDiff(unsigned int t1, unsigned int t2);

}  // namespace Korvane

#endif
