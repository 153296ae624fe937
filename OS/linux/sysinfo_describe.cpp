// Gathering the description of the machine from Linux's own sources:
// /sys for the processors and their clock, /proc/cpuinfo for the processor's
// model, /proc/meminfo for the memory, os-release and the kernel's identity
// for the names of the system.
#include <climits>
#include <cstring>

#include "OS/linux/sysfile.h"
#include "OS/internal/sysinfo.h"

namespace Korvane::sysinfo {

namespace {

// A file that filled the whole buffer may have been cut inside its last
// line: that line is not used.
void DropCutLine(char* text, long length) {
  while (length > 0 && text[length - 1] != '\n') --length;
  text[length] = '\0';
}

// A file holding one unsigned number and its line break, as sysfs writes it.
bool ReadNumberFile(char const* path, unsigned long long& value) {
  char text[64];
  long n = host::ReadSysFileOnce(path, text, sizeof text);
  if (n <= 0 || text[n - 1] != '\n') return false;
  return ParseUnsigned(text, text + n - 1, value);
}

int CpuCount() {
  char text[256];
  long n = host::ReadSysFileOnce("/sys/devices/system/cpu/online", text, sizeof text);
  if (n > 0 && text[n - 1] == '\n') {
    if (int count = CountCpuList(text)) return count;
  }
  if (int count = host::OnlineProcessorCount()) return count;
  return 1;  // the machine runs this code, so it has one at least
}

// A "cpu MHz : 2096.035" value, rounded to whole megahertz.
bool ParseMhz(char const* from, char const* to, unsigned long long& mhz) {
  char const* dot = from;
  while (dot < to && *dot != '.') ++dot;
  unsigned long long whole;
  if (!ParseUnsigned(from, dot, whole)) return false;
  if (dot < to) {
    unsigned long long fraction;
    if (!ParseUnsigned(dot + 1, to, fraction) || dot[1] == ' ') return false;
    if (dot[1] >= '5') ++whole;
  }
  mhz = whole;
  return true;
}

// The nominal clock where the kernel knows it, else the highest one, else
// the clock that cpuinfo shows (on virtual machines the host's nominal one).
int CpuSpeed(char const* cpuinfo) {
  unsigned long long khz = 0;
  if ((ReadNumberFile("/sys/devices/system/cpu/cpu0/cpufreq/base_frequency", khz) && khz > 0) ||
      (ReadNumberFile("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", khz) && khz > 0)) {
    unsigned long long mhz = (khz + 500) / 1000;
    return mhz <= INT_MAX ? static_cast<int>(mhz) : 0;
  }
  char const* end = nullptr;
  char const* value = FindField(cpuinfo, "cpu MHz", ':', &end);
  unsigned long long mhz = 0;
  if (value != nullptr && LineComplete(end) && ParseMhz(value, end, mhz) && mhz <= INT_MAX)
    return static_cast<int>(mhz);
  return 0;
}

// A cpuinfo value as the kernel printed it after "key\t: ".
bool CpuinfoValue(char const* cpuinfo, char const* key, char const** from, char const** to) {
  char const* end = nullptr;
  char const* value = FindField(cpuinfo, key, ':', &end);
  if (value == nullptr || !LineComplete(end)) return false;
  if (value < end && *value == ' ') ++value;
  if (value == end) return false;
  *from = value;
  *to = end;
  return true;
}

// Family, model and stepping after the architecture, as far as cpuinfo
// tells them in numbers.
bool CpuIdentifier(char const* cpuinfo, TextBuf& id) {
  char release[128], machine[64];
  if (!host::KernelIdentity(release, sizeof release, machine, sizeof machine) || machine[0] == '\0') return false;
  id.Assign(machine);
  static constexpr char const* kParts[][2] = {{"cpu family", "Family"}, {"model", "Model"}, {"stepping", "Stepping"}};
  for (auto const& part : kParts) {
    char const *from, *to;
    unsigned long long number;
    if (CpuinfoValue(cpuinfo, part[0], &from, &to) && ParseUnsigned(from, to, number))
      id.Appendf(" %s %llu", part[1], number);
  }
  return true;
}

void DescribeProcessor(HostDescription& d) {
  TextBuf name(d.cpuName, sizeof d.cpuName);
  name.Assign("x86");
  d.cpuSpeed = 0;
  d.cpuCount = CpuCount();

  // The first processor's block is all that is needed: read no further.
  char cpuinfo[8192];
  if (host::ReadSysFileOnce("/proc/cpuinfo", cpuinfo, sizeof cpuinfo) <= 0) return;
  char const *from, *to;
  // Taken as stored, leading blanks included.
  if (!CpuinfoValue(cpuinfo, "model name", &from, &to)) return;
  name.Clear();
  name.Append(from, static_cast<std::size_t>(to - from));
  char identifier[128];
  TextBuf id(identifier, sizeof identifier);
  if (!CpuIdentifier(cpuinfo, id)) return;
  name.Append(": ");
  name.Append(id.Text());
  d.cpuSpeed = CpuSpeed(cpuinfo);
}

void NameSystem(HostDescription& d) {
  TextBuf shortName(d.osShortName, sizeof d.osShortName);
  TextBuf longName(d.osLongName, sizeof d.osLongName);

  char release[128], machine[64];
  bool kernel = host::KernelIdentity(release, sizeof release, machine, sizeof machine) && release[0] != '\0';

  char text[4096];
  long n = host::ReadSysFileOnce("/etc/os-release", text, sizeof text);
  if (n <= 0) n = host::ReadSysFileOnce("/usr/lib/os-release", text, sizeof text);
  bool described = n > 0;
  if (n == static_cast<long>(sizeof text) - 1) DropCutLine(text, n);
  char name[96], version[64], versionId[64], pretty[128];
  bool haveName = described && OsReleaseValue(text, "NAME", name, sizeof name);
  if (haveName) {
    shortName.Assign(name);
    if (OsReleaseValue(text, "VERSION_ID", versionId, sizeof versionId)) shortName.Appendf(" %s", versionId);
  } else {
    shortName.Assign("Linux");
  }

  if (described && OsReleaseValue(text, "PRETTY_NAME", pretty, sizeof pretty))
    longName.Assign(pretty);
  else if (haveName && OsReleaseValue(text, "VERSION", version, sizeof version))
    longName.Appendf("%s %s", name, version);
  else if (haveName)
    longName.Assign(name);
  else if (kernel)
    longName.Assign("Linux");
  else
    longName.Assign("Linux unknown");
  if (kernel) {
    longName.Appendf(", kernel %s", release);
    if (machine[0] != '\0') longName.Appendf(" %s", machine);
  }
}

}  // namespace

void DescribeHost(HostDescription& d) noexcept {
  std::strcpy(d.osLongName, "Linux unknown");
  std::strcpy(d.osShortName, "Linux");
  DescribeProcessor(d);
  NameSystem(d);
  d.ramSize = 0;
  char meminfo[4096];
  if (host::ReadSysFileOnce("/proc/meminfo", meminfo, sizeof meminfo) > 0) {
    unsigned long long total;
    if (ParseMemTotal(meminfo, total)) d.ramSize = total;
  }
}

}  // namespace Korvane::sysinfo
