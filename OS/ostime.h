/// \file
/// Time values: the nanosecond time cKV_SysTime, the seconds-and-milliseconds
/// time tTimeb, local calendar time cKV_DateTime, and every text form of a
/// time that the library prints.
#ifndef KV_OS_OSTIME_H
#define KV_OS_OSTIME_H

#include "OS/osbase.h"
#include "OS/osstring.h"

namespace Korvane {

/// Nanoseconds as an unsigned 64-bit count: an absolute time (since
/// 1970-01-01 00:00:00 UTC) or a duration. A plain value: copied bit for bit,
/// arithmetic wraps modulo 2^64, comparisons are unsigned. The default
/// constructor leaves the value unset.
///
/// Integer operands are 64-bit: write `t + 5LL`, not `t + 5` (an int operand
/// is ambiguous between the member operators and the built-in ones reached
/// through the conversions).
struct KV_OS_API cKV_SysTime {
  /// Marks an unbounded time (about 292 years).
  static constexpr unsigned long long Infinity = 0x7FFFFFFFFFFFFFFFULL;

  /// Leaves the value unset.
  cKV_SysTime() = default;
  /// Copies the value.
  cKV_SysTime(cKV_SysTime const&) = default;
  /// Copies the value.
  /// \return this time.
  cKV_SysTime& operator=(cKV_SysTime const&) = default;
  /// sec * 10^9 + nsec.
  /// \param sec whole seconds.
  /// \param nsec nanoseconds; they may exceed one second and simply add.
  cKV_SysTime(unsigned int sec, unsigned int nsec) { Set(sec, nsec); }
  /// A time of that many nanoseconds.
  /// \param bits the count.
  cKV_SysTime(unsigned long long bits) : value(bits) {}  // NOLINT: implicit by design
  /// Sets sec * 10^9 + nsec.
  /// \param sec whole seconds.
  /// \param nsec nanoseconds; they may exceed one second and simply add.
  void Set(unsigned int sec, unsigned int nsec) {
    value = static_cast<unsigned long long>(sec) * 1000000000ULL + nsec;
  }
  /// Sets the count.
  /// \param bits the count, taken as its 64-bit pattern.
  /// \return this time.
  cKV_SysTime& operator=(long long bits) {
    value = static_cast<unsigned long long>(bits);
    return *this;
  }
  /// Sets the count.
  /// \param bits the count.
  /// \return this time.
  cKV_SysTime& operator=(unsigned long long bits) {
    value = bits;
    return *this;
  }

  /// \return the count's 64-bit pattern as a signed number.
  operator long long() const { return static_cast<long long>(value); }  // NOLINT: implicit by design
  /// \return the count.
  operator unsigned long long() const { return value; }                 // NOLINT: implicit by design

  /// \return whether the count is 0.
  bool IsZero() const { return value == 0; }
  /// \return whether the count is not 0.
  bool IsNotZero() const { return value != 0; }
  /// \return whether the count is Infinity.
  bool IsInfinity() const { return value == Infinity; }

  /// \param other the time compared.
  /// \return whether the counts are equal.
  bool operator==(cKV_SysTime const& other) const { return value == other.value; }
  /// \param bits a count, taken as its 64-bit pattern.
  /// \return whether the counts are equal.
  bool operator==(long long bits) const { return value == static_cast<unsigned long long>(bits); }
  /// \param bits a count.
  /// \return whether the counts are equal.
  bool operator==(unsigned long long bits) const { return value == bits; }
  /// \param other the time compared.
  /// \return whether this count is smaller, unsigned.
  bool operator<(cKV_SysTime const& other) const { return value < other.value; }
  /// \param other the time compared.
  /// \return whether this count is smaller or equal, unsigned.
  bool operator<=(cKV_SysTime const& other) const { return value <= other.value; }
  /// \param other the time compared.
  /// \return whether this count is greater, unsigned.
  bool operator>(cKV_SysTime const& other) const { return value > other.value; }
  /// \param other the time compared.
  /// \return whether this count is greater or equal, unsigned.
  bool operator>=(cKV_SysTime const& other) const { return value >= other.value; }

  /// \param other the time added.
  /// \return the sum, modulo 2^64.
  cKV_SysTime operator+(cKV_SysTime const& other) const { return cKV_SysTime(value + other.value); }
  /// \param bits the nanoseconds added (negative ones subtract).
  /// \return the sum, modulo 2^64.
  cKV_SysTime operator+(long long bits) const { return cKV_SysTime(value + static_cast<unsigned long long>(bits)); }
  /// \param other the time subtracted.
  /// \return the difference, modulo 2^64.
  cKV_SysTime operator-(cKV_SysTime const& other) const { return cKV_SysTime(value - other.value); }
  /// \param bits the nanoseconds subtracted.
  /// \return the difference, modulo 2^64.
  cKV_SysTime operator-(long long const& bits) const {
    return cKV_SysTime(value - static_cast<unsigned long long>(bits));
  }
  /// Adds, modulo 2^64.
  /// \param other the time added.
  /// \return this time.
  cKV_SysTime& operator+=(cKV_SysTime const& other) {
    value += other.value;
    return *this;
  }
  /// Adds, modulo 2^64.
  /// \param bits the nanoseconds added (negative ones subtract).
  /// \return this time.
  cKV_SysTime& operator+=(long long bits) {
    value += static_cast<unsigned long long>(bits);
    return *this;
  }
  /// Adds, modulo 2^64.
  /// \param bits the nanoseconds added.
  /// \return this time.
  cKV_SysTime& operator+=(unsigned long long bits) {
    value += bits;
    return *this;
  }
  /// Subtracts, modulo 2^64.
  /// \param other the time subtracted.
  /// \return this time.
  cKV_SysTime& operator-=(cKV_SysTime const& other) {
    value -= other.value;
    return *this;
  }
  /// Subtracts, modulo 2^64.
  /// \param bits the nanoseconds subtracted.
  /// \return this time.
  cKV_SysTime& operator-=(long long bits) {
    value -= static_cast<unsigned long long>(bits);
    return *this;
  }
  /// Subtracts, modulo 2^64.
  /// \param bits the nanoseconds subtracted.
  /// \return this time.
  cKV_SysTime& operator-=(unsigned long long bits) {
    value -= bits;
    return *this;
  }

  /// The value (as unsigned) scaled by `factor`, truncated toward zero to a
  /// signed 64-bit count whose bits become the new value. Results beyond the
  /// signed 64-bit range saturate; a result that is not a number gives 0.
  /// \param factor the factor.
  /// \return the scaled time.
  cKV_SysTime operator*(double factor) const;
  /// The value divided by `factor`, with the rules of operator*: dividing
  /// by zero gives Infinity.
  /// \param factor the divisor.
  /// \return the scaled time.
  cKV_SysTime operator/(double factor) const;

  /// Adds milliseconds.
  /// \param ms the milliseconds; a negative count moves the time back
  ///   (wrapping below 0).
  void AddMilliseconds(int ms) {
    value += static_cast<unsigned long long>(static_cast<long long>(ms) * 1000000LL);
  }
  /// \return the whole seconds, low 32 bits.
  unsigned int GetSeconds() const { return static_cast<unsigned int>(value / 1000000000ULL); }
  /// \return the whole milliseconds modulo 2^32 (not the milliseconds
  ///   within the second).
  unsigned int GetMilliseconds() const { return static_cast<unsigned int>(value / 1000000ULL); }
  /// \return the nanoseconds within the second.
  unsigned int GetFracNanoseconds() const { return static_cast<unsigned int>(value % 1000000000ULL); }

  /// Sets the current UTC time from the host's real-time clock, a multiple
  /// of 100 ns; 0 when the clock cannot be read.
  void GetSysTime();
  /// \return the milliseconds from this time until now, modulo 2^32 (a time
  ///   later than now gives the wrapped difference).
  unsigned int GetTiming() const;

  /// \return the value as a duration: "H:MM:SS.nnnnnnnnn", hours not
  ///   reduced to a day.
  cKV_String FormatTime() const;
  /// \return the UTC time of day of the value: "H:MM:SS", hour not
  ///   zero-padded.
  cKV_String FormatTimeShort() const;
  /// \return the local date and time to the millisecond:
  ///   "YYYY/MM/DD hh:mm:ss.mmm".
  cKV_String ToString() const;

  /// Nanoseconds since 1970-01-01 00:00:00 UTC, or of a duration.
  unsigned long long value;
};

/// Seconds (signed 32-bit) and milliseconds within the second (0..999). A
/// plain value; the default constructor leaves both fields unset. Sums and
/// products wrap in 32 bits as on the original 32-bit host.
///
/// Where a count or a result is negative, this library keeps the milliseconds
/// in 0..999 by borrowing from the seconds (floor division): `t = -1` gives
/// -1 s 999 ms, and GetMilliseconds() of that is -1 again. A scaled time
/// beyond the 32-bit seconds saturates (with 0 ms); one that is not a number
/// (0 / 0.0, say) is 0 s 0 ms.
struct KV_OS_API tTimeb {
  /// Leaves both fields unset.
  tTimeb() = default;
  /// Copies both fields.
  tTimeb(tTimeb const&) = default;
  /// Copies both fields.
  /// \return this time.
  tTimeb& operator=(tTimeb const&) = default;
  /// A time of seconds and milliseconds.
  /// \param sec the seconds.
  /// \param ms the milliseconds; any count is folded into whole seconds.
  tTimeb(int sec, unsigned int ms);
  /// Sets a time of `ms` milliseconds.
  /// \param ms the milliseconds.
  /// \return this time.
  tTimeb& operator=(int ms);

  /// \param other the time compared.
  /// \return whether both fields are equal.
  bool operator==(tTimeb const& other) const { return seconds == other.seconds && milliseconds == other.milliseconds; }
  /// Seconds (signed) first, then milliseconds.
  /// \param other the time compared.
  /// \return whether this time is earlier.
  bool operator<(tTimeb const& other) const {
    return seconds < other.seconds || (seconds == other.seconds && milliseconds < other.milliseconds);
  }
  /// \param other the time compared.
  /// \return whether this time is later.
  bool operator>(tTimeb const& other) const { return other < *this; }

  /// \param other the time added.
  /// \return the sum, seconds wrapping in 32 bits.
  tTimeb operator+(tTimeb const& other) const;
  /// \param sec whole seconds added (not milliseconds).
  /// \return the sum.
  tTimeb operator+(int sec) const;
  /// \param other the time subtracted.
  /// \return the difference; a later time subtracted from an earlier one
  ///   gives negative seconds with milliseconds still in 0..999.
  tTimeb operator-(tTimeb const& other) const;
  /// \param factor the factor.
  /// \return the time scaled; saturated beyond the 32-bit seconds, 0 s 0 ms
  ///   for a result that is not a number.
  tTimeb operator*(double factor) const;
  /// \param factor the divisor.
  /// \return the time divided, with the rules of operator*.
  tTimeb operator/(double factor) const;

  /// Adds milliseconds, folding them into whole seconds.
  /// \param ms the milliseconds; negative ones move the time back.
  void AddMilliseconds(int ms);
  /// \return seconds * 1000 + milliseconds in 32-bit arithmetic.
  int GetMilliseconds() const;

  /// Sets the current time from the host's clock at millisecond resolution
  /// (seconds are the low 32 bits of the count since 1970); 0 s 0 ms when the
  /// clock cannot be read.
  void GetTime();
  /// \return the milliseconds from this time until now; 0 when this time is
  ///   now or later. Signed 32-bit: spans beyond about 24.8 days are not
  ///   representable.
  int GetTiming() const;
  /// \return the local date and time: "YYYY/MM/DD hh:mm:ss.mmm" (negative
  ///   seconds are times before 1970); empty when the host cannot give the
  ///   local time.
  cKV_String ToString() const;

  /// Seconds since 1970-01-01 00:00:00 UTC, or of a span.
  int seconds;
  /// Milliseconds within the second, 0..999.
  unsigned short milliseconds;
};

/// Calendar fields of a local time. No weekday and no zone field. A plain
/// value; the default constructor leaves the fields unset.
///
/// Local time, here and in every text below, is that of the host's zone
/// database for the zone that TZ names (the system's zone without TZ). A
/// change of TZ takes effect at the next tzset().
struct KV_OS_API cKV_DateTime {
  /// Leaves the fields unset.
  cKV_DateTime() = default;
  /// Copies the fields.
  cKV_DateTime(cKV_DateTime const&) = default;
  /// Copies the fields.
  /// \return this value.
  cKV_DateTime& operator=(cKV_DateTime const&) = default;
  /// Sets the local calendar fields of a time; the nanoseconds keep the
  /// whole sub-second part. When the host cannot give the local time the
  /// fields are those of UTC.
  /// \param time the time.
  /// \return this value.
  cKV_DateTime& operator=(cKV_SysTime const& time);

  /// The UTC time of these local fields plus the nanoseconds field. False,
  /// with `time` untouched, unless year (1601..30827), month, day, hour,
  /// minute and second form a real date and time (a leap second is not one).
  /// Times before 1970 wrap below 0.
  ///
  /// Where a daylight-saving change repeats a local hour, the first
  /// occurrence (the earlier instant) is given. A local time in an hour that
  /// a change skips is read with the offset in force before the change: in
  /// New York 02:30 on the spring-forward night gives the instant that is
  /// 03:30 daylight time, one hour after 01:30.
  ///
  /// A time converted to calendar fields and back is unchanged, except in the
  /// second occurrence of a repeated hour.
  /// \param time gets the time.
  /// \return whether the fields form a real date and time.
  bool ToSysTime(cKV_SysTime& time) const;
  /// \return "YYYY/MM/DD hh:mm:ss.mmm" (milliseconds truncated from the
  ///   nanoseconds).
  cKV_String ToString() const;

  /// The year, 1601..30827.
  unsigned short year;
  /// The month, 1..12.
  unsigned char month;   // 1..12
  /// The day of the month, 1..31.
  unsigned char day;     // 1..31
  /// The hour, 0..23.
  unsigned char hour;    // 0..23
  /// The minute, 0..59.
  unsigned char minute;  // 0..59
  /// The second, 0..59.
  unsigned char second;  // 0..59
  /// The nanoseconds within the second.
  unsigned int nanoseconds;
};

/// The current local time in the 25-character asctime layout with a
/// two-digit day and English names whatever the locale, line feed included.
/// \return e.g. "Sat Mar 07 14:05:09 2009" and a line feed; empty when the
///   host cannot give the local time.
KV_OS_API cKV_String osGetLocalTimeStr();
/// \return the current local time as "hh:mm:ss"; empty when the host cannot
///   give the local time.
KV_OS_API cKV_String osGetLocalShortTimeStr();
/// \return the current time in whole seconds since 1970-01-01 00:00:00 UTC,
///   modulo 2^32 (valid until 2106); 0xFFFFFFFF when the clock cannot be
///   read.
KV_OS_API unsigned int osGetSysTime();
/// The difference of two times of osGetSysTime.
/// \param t1 a time, as the unsigned count that osGetSysTime returns.
/// \param t2 another such time.
/// \return t1 - t2 in seconds.
KV_OS_API double osGetSysTimeDiff(unsigned int t1, unsigned int t2);

}  // namespace Korvane

#endif
