// Internals of the ossysinfo unit: the gathered description, the parsers of
// the host's description files and the naming rules of the Windows host.
// Everything here works on fixed buffers and never allocates.
#ifndef KV_OS_INTERNAL_SYSINFO_H
#define KV_OS_INTERNAL_SYSINFO_H

#include <cstddef>

namespace Korvane::sysinfo {

constexpr char const kUnit[] = ".\\ossysinfo";

// ---- Fixed-buffer text ----------------------------------------------------

// Appends to a NUL-terminated text in a fixed block, cutting what does not
// fit. The block must hold at least one byte.
class TextBuf {
 public:
  TextBuf(char* block, std::size_t cap) noexcept : _block(block), _cap(cap), _len(0) { _block[0] = '\0'; }
  void Append(char const* text) noexcept;
  void Append(char const* text, std::size_t count) noexcept;
  void Appendf(char const* format, ...) noexcept __attribute__((format(printf, 2, 3)));
  void Assign(char const* text) noexcept {
    Clear();
    Append(text);
  }
  void Clear() noexcept {
    _len = 0;
    _block[0] = '\0';
  }
  std::size_t Length() const noexcept { return _len; }
  char const* Text() const noexcept { return _block; }

 private:
  char* _block;
  std::size_t _cap;
  std::size_t _len;
};

// ---- Parsers of host description files ------------------------------------

// The value of the first line of `text` that starts with `key`, followed by
// blanks or tabs and then `separator`: points just behind the separator.
// `end` receives the end of that line (its '\n', or the NUL of a text without
// final line break). Null when no line has the key.
char const* FindField(char const* text, char const* key, char separator, char const** end) noexcept;

// True when the line ending at `end` really ended with a line break (the
// file was not cut inside it).
inline bool LineComplete(char const* end) noexcept { return *end == '\n'; }

// A whole unsigned decimal number between `from` and `to`, blanks around it
// allowed; false for anything else or for a value beyond 64 bits.
bool ParseUnsigned(char const* from, char const* to, unsigned long long& value) noexcept;

// The cumulative processor times of the whole machine from /proc/stat,
// converted from clock ticks (`ticksPerSecond`) into 100-ns units. `total`
// covers every state; `idle` the idle time and the time spent waiting for
// I/O. False when the text does not hold a complete "cpu" line, or when its
// times do not fit into 64 bits once converted.
bool ParseCpuTimes(char const* stat, long ticksPerSecond, unsigned long long& total,
                   unsigned long long& idle) noexcept;

struct MemFigures {
  unsigned long long total;       // bytes of physical memory
  unsigned long long available;   // bytes available for new work
  unsigned long long swapTotal;   // bytes of swap
  unsigned long long swapFree;    // bytes of free swap
};

// Memory figures from /proc/meminfo. The available memory is the kernel's
// own estimate, or free plus reclaimable caches on kernels that give none.
// False when a figure is missing or malformed.
bool ParseMemInfo(char const* meminfo, MemFigures& figures) noexcept;

// The total physical memory alone; false when MemTotal is missing.
bool ParseMemTotal(char const* meminfo, unsigned long long& bytes) noexcept;

// When the process of a /proc/PID/stat text started, in clock ticks since
// boot; false for a text that is cut short or malformed.
bool ParseProcessStart(char const* stat, unsigned long long& ticks) noexcept;

// The resident pages of a /proc/PID/statm text.
bool ParseResidentPages(char const* statm, unsigned long long& pages) noexcept;

// Counts the processors of a CPU list such as "0-3,6,8-9"; 0 when the text
// is not such a list.
int CountCpuList(char const* list) noexcept;

// The value of `key` in an os-release text, unquoted, written into `out`.
// False when the key is missing or its value is empty.
bool OsReleaseValue(char const* text, char const* key, char* out, std::size_t cap) noexcept;

// ---- The system description -------------------------------------------------

constexpr std::size_t kCpuNameCap = 320;
constexpr std::size_t kOsNameCap = 256;

struct HostDescription {
  int cpuCount;
  int cpuSpeed;
  unsigned long long ramSize;
  char cpuName[kCpuNameCap];
  char osLongName[kOsNameCap];
  char osShortName[kOsNameCap];
};

// Gathers the description from the host; every field whose source cannot be
// read keeps its default. Cheap, allocation-free, never fails.
void DescribeHost(HostDescription& description) noexcept;

// The load sequence's step: gathers the description for cKV_SysInfo, and
// its release at unload.
void LoadDescription() noexcept;
void UnloadDescription() noexcept;

// ---- Naming a Windows host --------------------------------------------------

// What a Windows host reports about its version.
struct WinVersion {
  bool extended;             // the extended version record could be read
  bool basic;                // otherwise: the basic record could be read
  unsigned platform;         // 1: the 95/98/ME family, 2: the NT family
  unsigned major;
  unsigned minor;
  char const* servicePack;   // service-pack text (may be null)
  unsigned servicePackMajor; // extended record only
  unsigned suiteMask;        // extended record only
  unsigned productType;      // extended record only: 1 workstation, 2 domain controller, 3 server
  bool x64;                  // native processor architecture is AMD64
  char const* registryProductType;  // ProductOptions\ProductType, null when unreadable
};

// The short and long operating-system names of a Windows host; without a
// version record they are "Windows" and "Windows unknown".
void NameWindows(WinVersion const& version, char* shortName, std::size_t shortCap, char* longName,
                 std::size_t longCap) noexcept;

}  // namespace Korvane::sysinfo

#endif
