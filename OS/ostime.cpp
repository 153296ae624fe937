#include "OS/ostime.h"

#include <cmath>
#include <cstdint>

#include "OS/host/time.h"
#include "OS/internal/timetext.h"

namespace Korvane {

namespace {

constexpr unsigned long long kNsPerSecond = 1000000000ULL;
constexpr long long kSecondsPerDay = 86400;

// Truncation toward zero that saturates instead of overflowing; NaN gives 0.
long long TruncToInt64(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9223372036854775808.0) return INT64_MAX;
  if (x < -9223372036854775808.0) return INT64_MIN;
  return static_cast<long long>(x);
}

int TruncToInt32(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483648.0) return INT32_MAX;
  if (x <= -2147483649.0) return INT32_MIN;
  return static_cast<int>(x);
}

// 32-bit wrapping arithmetic of the original host, without signed overflow.
int Wrap32(long long x) { return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(x))); }

// Floor division by 1000: the remainder is always 0..999.
void SplitMs(long long ms, long long& q, long long& r) {
  q = ms / 1000;
  r = ms % 1000;
  if (r < 0) {
    r += 1000;
    --q;
  }
}

tTimeb MakeTimeb(long long seconds, long long ms) {
  long long q, r;
  SplitMs(ms, q, r);
  tTimeb t;
  t.seconds = Wrap32(seconds + q);
  t.milliseconds = static_cast<unsigned short>(r);
  return t;
}

// Whether a scaled time in seconds lies outside what tTimeb holds; if so,
// `t` gets its saturated value.
bool Saturated(double scaled, tTimeb& t) {
  t.milliseconds = 0;
  if (std::isnan(scaled)) {
    t.seconds = 0;
    return true;
  }
  if (scaled >= 2147483648.0) {
    t.seconds = INT32_MAX;
    return true;
  }
  if (scaled < -2147483648.0) {
    t.seconds = INT32_MIN;
    return true;
  }
  return false;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  long long era = (y >= 0 ? y : y - 399) / 400;
  unsigned yoe = static_cast<unsigned>(y - era * 400);
  unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
  z += 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  unsigned doe = static_cast<unsigned>(z - era * 146097);
  unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
}

bool IsLeapYear(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(unsigned y, unsigned m) {
  static constexpr unsigned char kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// UTC calendar fields, for when the host cannot give local ones.
void UtcFields(long long utcSeconds, host::LocalTm& out) {
  long long days = utcSeconds / kSecondsPerDay;
  long long rest = utcSeconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  unsigned m, d;
  CivilFromDays(days, out.year, m, d);
  out.month = static_cast<int>(m);
  out.day = static_cast<int>(d);
  out.hour = static_cast<int>(rest / 3600);
  out.minute = static_cast<int>(rest / 60 % 60);
  out.second = static_cast<int>(rest % 60);
  out.weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  out.offset = 0;
}

// The UTC instant of a local wall-clock time given as seconds counted as if
// the wall clock were UTC. The offsets in force two days either side of it
// (further than any zone's offset reaches) and at the instants they point
// to are the candidates; a candidate holds when the offset at the instant it
// gives is the candidate itself.
long long LocalToUtc(long long wall) {
  constexpr long long kReach = 2 * kSecondsPerDay;
  host::LocalTm probe;
  if (!host::LocalTime(wall - kReach, probe)) return wall;
  long before = probe.offset;
  if (!host::LocalTime(wall + kReach, probe)) return wall;
  long after = probe.offset;

  long candidates[4] = {before, after, before, after};
  int count = 2;
  bool held[4] = {false, false, false, false};
  for (int i = 0; i < 2; ++i) {
    if (i == 1 && after == before) {
      held[1] = held[0];
      break;
    }
    if (!host::LocalTime(wall - candidates[i], probe)) return wall;
    held[i] = probe.offset == candidates[i];
    // A second change inside the reach: the offset found there is a
    // candidate too.
    if (!held[i] && probe.offset != before && probe.offset != after) candidates[count++] = probe.offset;
  }
  for (int i = 2; i < count; ++i) {
    if (!host::LocalTime(wall - candidates[i], probe)) return wall;
    held[i] = probe.offset == candidates[i];
  }

  // A repeated hour holds for two offsets: the larger one is the earlier
  // instant. An hour that none holds for was skipped: read it with the
  // offset in force before the change.
  bool found = false;
  long best = before;
  for (int i = 0; i < count; ++i)
    if (held[i] && (!found || candidates[i] > best)) {
      best = candidates[i];
      found = true;
    }
  return wall - best;
}

// The local fields of an instant; UTC ones when the host cannot say.
void LocalFields(long long utcSeconds, host::LocalTm& out) {
  if (!host::LocalTime(utcSeconds, out)) UtcFields(utcSeconds, out);
}

constinit char const kWeekdays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constinit char const kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The calendar and current-time texts are composed by hand: the log asks
// for one on every record, and printf costs several times the conversion.
// Each builds its string in one allocation, so a string that cannot get
// memory stays empty, as when reserving its room first had failed.

// Decimal digits of `v`, zero-padded to at least `width`.
char* PutNumber(char* p, unsigned long long v, int width) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n < width) digits[n++] = '0';
  while (n > 0) *p++ = digits[--n];
  return p;
}

char* PutSigned(char* p, long long v, int width) {
  if (v < 0) *p++ = '-';
  return PutNumber(p, v < 0 ? 0 - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v), width);
}

char* PutText(char* p, char const* text) {
  while (*text != '\0') *p++ = *text++;
  return p;
}

// "%04d/%02d/%02d %02d:%02d:%02d.%03d"
cKV_String CalendarText(long long year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                        unsigned second, unsigned ms) {
  char text[64];
  char* p = PutSigned(text, year, 4);
  *p++ = '/';
  p = PutNumber(p, month, 2);
  *p++ = '/';
  p = PutNumber(p, day, 2);
  *p++ = ' ';
  p = PutNumber(p, hour, 2);
  *p++ = ':';
  p = PutNumber(p, minute, 2);
  *p++ = ':';
  p = PutNumber(p, second, 2);
  *p++ = '.';
  p = PutNumber(p, ms, 3);
  *p = '\0';
  return cKV_String(text);
}

}  // namespace

// ---- cKV_SysTime -----------------------------------------------------------

cKV_SysTime cKV_SysTime::operator*(double factor) const {
  return cKV_SysTime(static_cast<unsigned long long>(TruncToInt64(static_cast<double>(value) * factor)));
}

cKV_SysTime cKV_SysTime::operator/(double factor) const {
  return cKV_SysTime(static_cast<unsigned long long>(TruncToInt64(static_cast<double>(value) / factor)));
}

void cKV_SysTime::GetSysTime() {
  long long seconds;
  long nanoseconds;
  if (!host::RealTime(seconds, nanoseconds)) {
    value = 0;
    return;
  }
  value = static_cast<unsigned long long>(seconds) * kNsPerSecond +
          static_cast<unsigned long long>(nanoseconds / 100 * 100);
}

unsigned int cKV_SysTime::GetTiming() const {
  cKV_SysTime now;
  now.GetSysTime();
  return static_cast<unsigned int>((now.value - value) / 1000000ULL);
}

cKV_String cKV_SysTime::FormatTime() const {
  unsigned int s = GetSeconds();
  cKV_String text;
  text.Format("%d:%02d:%02d.%09u", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
              static_cast<int>(s % 60), GetFracNanoseconds());
  return text;
}

cKV_String cKV_SysTime::FormatTimeShort() const {
  unsigned int s = GetSeconds();
  cKV_String text;
  text.Format("%d:%02d:%02d", static_cast<int>(s / 3600 % 24), static_cast<int>(s / 60 % 60),
              static_cast<int>(s % 60));
  return text;
}

cKV_String cKV_SysTime::ToString() const {
  cKV_DateTime fields;
  fields = *this;
  return fields.ToString();
}

// ---- tTimeb ----------------------------------------------------------------

tTimeb::tTimeb(int sec, unsigned int ms)
    : seconds(Wrap32(static_cast<long long>(sec) + ms / 1000)), milliseconds(static_cast<unsigned short>(ms % 1000)) {}

tTimeb& tTimeb::operator=(int ms) {
  *this = MakeTimeb(0, ms);
  return *this;
}

tTimeb tTimeb::operator+(tTimeb const& other) const {
  return MakeTimeb(static_cast<long long>(seconds) + other.seconds,
                   static_cast<long long>(milliseconds) + other.milliseconds);
}

tTimeb tTimeb::operator+(int sec) const {
  tTimeb t;
  t.seconds = Wrap32(static_cast<long long>(seconds) + sec);
  t.milliseconds = milliseconds;
  return t;
}

tTimeb tTimeb::operator-(tTimeb const& other) const {
  return MakeTimeb(static_cast<long long>(seconds) - other.seconds,
                   static_cast<long long>(milliseconds) - other.milliseconds);
}

// The seconds and milliseconds scaled apart, as the 32-bit host did; a
// result beyond the 32-bit seconds saturates (milliseconds 0) and one that
// is not a number gives 0.
tTimeb tTimeb::operator*(double factor) const {
  tTimeb t;
  if (Saturated((seconds + milliseconds / 1000.0) * factor, t)) return t;
  double p = static_cast<double>(seconds) * factor;
  int whole = TruncToInt32(p);
  double frac = p - whole;
  long long total = static_cast<long long>(TruncToInt32(milliseconds * factor)) + TruncToInt32(frac * 1000.0);
  return MakeTimeb(whole, total);
}

tTimeb tTimeb::operator/(double factor) const {
  tTimeb t;
  if (Saturated((seconds + milliseconds / 1000.0) / factor, t)) return t;
  double q = static_cast<double>(seconds) / factor;
  int whole = TruncToInt32(q);
  double frac = q - whole;
  long long total = static_cast<long long>(TruncToInt32(milliseconds / factor)) + TruncToInt32(frac * 1000.0);
  return MakeTimeb(whole, total);
}

void tTimeb::AddMilliseconds(int ms) { *this = MakeTimeb(seconds, static_cast<long long>(milliseconds) + ms); }

int tTimeb::GetMilliseconds() const { return Wrap32(static_cast<long long>(seconds) * 1000 + milliseconds); }

void tTimeb::GetTime() {
  long long now;
  long nanoseconds;
  if (!host::RealTime(now, nanoseconds)) {
    seconds = 0;
    milliseconds = 0;
    return;
  }
  seconds = Wrap32(now);
  milliseconds = static_cast<unsigned short>(nanoseconds / 1000000);
}

int tTimeb::GetTiming() const {
  tTimeb now;
  now.GetTime();
  if (now.seconds > seconds)
    return Wrap32((static_cast<long long>(now.seconds) - seconds) * 1000 - milliseconds + now.milliseconds);
  if (now.seconds == seconds && now.milliseconds > milliseconds) return now.milliseconds - milliseconds;
  return 0;
}

cKV_String tTimeb::ToString() const {
  cKV_String text;
  host::LocalTm local;
  if (!host::LocalTime(seconds, local)) return text;
  return CalendarText(local.year, static_cast<unsigned>(local.month), static_cast<unsigned>(local.day),
                      static_cast<unsigned>(local.hour), static_cast<unsigned>(local.minute),
                      static_cast<unsigned>(local.second), milliseconds);
}

// ---- cKV_DateTime ----------------------------------------------------------

cKV_DateTime& cKV_DateTime::operator=(cKV_SysTime const& time) {
  host::LocalTm local;
  LocalFields(static_cast<long long>(time.value / kNsPerSecond), local);
  year = static_cast<unsigned short>(local.year);
  month = static_cast<unsigned char>(local.month);
  day = static_cast<unsigned char>(local.day);
  hour = static_cast<unsigned char>(local.hour);
  minute = static_cast<unsigned char>(local.minute);
  second = static_cast<unsigned char>(local.second);
  nanoseconds = time.GetFracNanoseconds();
  return *this;
}

bool cKV_DateTime::ToSysTime(cKV_SysTime& time) const {
  if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour > 23 || minute > 59 || second > 59)
    return false;
  long long wall = DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  long long utc = LocalToUtc(wall);
  time.value = static_cast<unsigned long long>(utc) * kNsPerSecond + nanoseconds;
  return true;
}

cKV_String cKV_DateTime::ToString() const {
  return CalendarText(year, month, day, hour, minute, second, nanoseconds / 1000000);
}

// ---- current time texts ----------------------------------------------------

cKV_String internal::LocalTimeText(long long utcSeconds) {
  host::LocalTm local;
  if (!host::LocalTime(utcSeconds, local)) return cKV_String();
  // asctime's layout, but with the zero-padded day that the log layout
  // needs (the C library pads with a blank), and English whatever the
  // locale: "%s %s %02d %02d:%02d:%02d %d\n".
  char text[64];
  char* p = PutText(text, kWeekdays[local.weekday]);
  *p++ = ' ';
  p = PutText(p, kMonths[local.month - 1]);
  *p++ = ' ';
  p = PutNumber(p, static_cast<unsigned>(local.day), 2);
  *p++ = ' ';
  p = PutNumber(p, static_cast<unsigned>(local.hour), 2);
  *p++ = ':';
  p = PutNumber(p, static_cast<unsigned>(local.minute), 2);
  *p++ = ':';
  p = PutNumber(p, static_cast<unsigned>(local.second), 2);
  *p++ = ' ';
  p = PutSigned(p, local.year, 1);
  *p++ = '\n';
  *p = '\0';
  return cKV_String(text);
}

cKV_String internal::LocalShortTimeText(long long utcSeconds) {
  host::LocalTm local;
  if (!host::LocalTime(utcSeconds, local)) return cKV_String();
  char text[16];
  char* p = PutNumber(text, static_cast<unsigned>(local.hour), 2);
  *p++ = ':';
  p = PutNumber(p, static_cast<unsigned>(local.minute), 2);
  *p++ = ':';
  p = PutNumber(p, static_cast<unsigned>(local.second), 2);
  *p = '\0';
  return cKV_String(text);
}

cKV_String osGetLocalTimeStr() {
  long long now;
  long nanoseconds;
  if (!host::RealTime(now, nanoseconds)) return cKV_String();
  return internal::LocalTimeText(now);
}

cKV_String osGetLocalShortTimeStr() {
  long long now;
  long nanoseconds;
  if (!host::RealTime(now, nanoseconds)) return cKV_String();
  return internal::LocalShortTimeText(now);
}

unsigned int osGetSysTime() {
  long long now;
  long nanoseconds;
  if (!host::RealTime(now, nanoseconds)) return 0xFFFFFFFFu;
  return static_cast<unsigned int>(static_cast<unsigned long long>(now));
}

double osGetSysTimeDiff(unsigned int t1, unsigned int t2) {
  return static_cast<double>(static_cast<long long>(t1) - static_cast<long long>(t2));
}

}  // namespace Korvane
