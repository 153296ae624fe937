// The description of a Linux machine: against the live host and against
// recorded host files.
#include "OS/ossysinfo.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>

#include "OS/internal/sysinfo.h"
#include "support/testing.h"

using namespace Korvane;
using sysinfo::HostDescription;

namespace {

std::string Recorded(char const* scenario) { return std::string(KVOS_TEST_DATA_DIR) + "/ossysinfo/" + scenario; }

// The description of recorded host files on one line, with this machine's
// processor count, kernel and architecture written as CPUS, KERNEL and ARCH.
std::string DescribeFrom(std::string const& root) {
  kvtest::ScopedRecordedRoot recorded(root);
  HostDescription d;
  std::memset(&d, 0x5A, sizeof d);  // nothing may be left unset
  sysinfo::DescribeHost(d);
  utsname u{};
  uname(&u);
  std::string text = (d.cpuCount == sysconf(_SC_NPROCESSORS_ONLN) ? std::string("CPUS") : std::to_string(d.cpuCount)) +
                     " | " + d.cpuName + " | " + std::to_string(d.cpuSpeed) + " MHz | " + std::to_string(d.ramSize) +
                     " | " + d.osShortName + " | " + d.osLongName;
  for (auto [from, to] : {std::pair{std::string(", kernel ") + u.release + " " + u.machine, ", KERNEL"},
                          {std::string(": ") + u.machine, ": ARCH"}})
    if (auto at = text.find(from); at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

void MakeFile(std::string const& path, std::string const& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  kvtest::WriteFile(path, content);
}

TEST(SysInfo, DescribesTheLiveHost) {
  EXPECT_EQ(cKV_SysInfo::GetCpuCount(), sysconf(_SC_NPROCESSORS_ONLN));
  EXPECT_EQ(cKV_SysInfo::GetRamSize(), static_cast<unsigned long long>(sysconf(_SC_PHYS_PAGES)) *
                                           static_cast<unsigned long long>(sysconf(_SC_PAGESIZE)));
  EXPECT_EQ(cKV_SysInfo::GetHostType(), eHostLinux);
  utsname u{};
  uname(&u);
  std::string longName(cKV_SysInfo::GetOsLongName()), shortName(cKV_SysInfo::GetOsShortName());
  EXPECT_NE(longName.find(std::string(", kernel ") + u.release + " " + u.machine), std::string::npos) << longName;
  EXPECT_FALSE(shortName.empty());
  EXPECT_EQ(shortName.find('\n'), std::string::npos);

  // The processor text is the model, then the identifier: on this machine
  // the model comes from /proc/cpuinfo unless the host hides it.
  std::string cpu(cKV_SysInfo::GetCpuName()), arch = std::string(": ") + u.machine;
  std::string cpuinfo = kvtest::ReadFile("/proc/cpuinfo");
  bool model = cpuinfo.find("model name") != std::string::npos;
  EXPECT_TRUE(model ? cpu.find(arch) != std::string::npos &&
                          cpuinfo.find(cpu.substr(0, cpu.find(arch))) != std::string::npos
                    : cpu == "x86")
      << cpu;
  EXPECT_GE(cKV_SysInfo::GetCpuSpeed(), 0);
  EXPECT_TRUE(model || cKV_SysInfo::GetCpuSpeed() == 0);
}

TEST(SysInfo, RecordedMachines) {
  kvtest::TempDir empty;
  // A server with a nominal clock: the current clock of cpuinfo and the
  // turbo maximum are not the speed.
  EXPECT_EQ(DescribeFrom(Recorded("xeon")),
            "40 | Intel(R) Xeon(R) Gold 6230 CPU @ 2.10GHz: ARCH Family 6 Model 85 Stepping 7 | 2100 MHz | "
            "201302241280 | Ubuntu 22.04 | Ubuntu 22.04.3 LTS, KERNEL");
  // A right-justified brand text stays as stored; only a maximum clock is
  // known; a CPU list with a gap; no PRETTY_NAME.
  EXPECT_EQ(DescribeFrom(Recorded("oldxeon")),
            "3 |                   Intel(R) Xeon(TM) CPU 3.00GHz: ARCH Family 15 Model 4 Stepping 3 | 3000 MHz | "
            "4142407680 | CentOS Linux 7 | CentOS Linux 7 (Core), KERNEL");
  // A virtual machine without any frequency figure; shell quoting in
  // os-release.
  EXPECT_EQ(DescribeFrom(Recorded("vm")),
            "4 | AMD EPYC 7B13: ARCH Family 25 Model 1 Stepping 0 | 0 MHz | 8336863232 | "
            "Debian GNU/Linux 12 | Debian \"bookworm\" \\ testing, KERNEL");
  // A container with a reduced /proc: no processor model, no /sys, the
  // system's name only under /usr/lib.
  EXPECT_EQ(DescribeFrom(Recorded("container")),
            "CPUS | x86 | 0 MHz | 2147483648 | Alpine Linux 3.19.1 | Alpine Linux v3.19, KERNEL");
  EXPECT_EQ(DescribeFrom(empty.Path()), "CPUS | x86 | 0 MHz | 0 | Linux | Linux, KERNEL");  // nothing at all
}

TEST(SysInfo, HostRefusalsLeaveDefaults) {
  {
    // Without the kernel's identity the processor has no identifier, so its
    // speed is not read either, and the long name has no kernel.
    kvtest::ScopedFault noUname("sysinfo.uname", ENOSYS, 0, 10);
    EXPECT_EQ(
        DescribeFrom(Recorded("xeon")),
        "40 | Intel(R) Xeon(R) Gold 6230 CPU @ 2.10GHz | 0 MHz | 201302241280 | Ubuntu 22.04 | Ubuntu 22.04.3 LTS");
    kvtest::TempDir empty;
    EXPECT_EQ(DescribeFrom(empty.Path()), "CPUS | x86 | 0 MHz | 0 | Linux | Linux unknown");
  }
  // Every file refuses to open.
  kvtest::ScopedFault noOpen("sysinfo.open", EACCES, 0, 100);
  EXPECT_EQ(DescribeFrom(Recorded("xeon")), "CPUS | x86 | 0 MHz | 0 | Linux | Linux, KERNEL");
}

TEST(SysInfo, DamagedHostFilesGiveDefaultsNotFigures) {
  kvtest::TempDir root;
  // Cut inside the model line, a CPU list of garbage, a meminfo cut inside
  // its first figure, an unterminated quote.
  MakeFile(root / "proc/cpuinfo", "processor\t: 0\nmodel name\t: Intel(R) Core(TM) i7-8");
  MakeFile(root / "sys/devices/system/cpu/online", "0-x\n");
  MakeFile(root / "proc/meminfo", "MemTotal:        80");
  MakeFile(root / "etc/os-release", "NAME=\"Fedora\nVERSION_ID=39\n");
  EXPECT_EQ(DescribeFrom(root.Path()), "CPUS | x86 | 0 MHz | 0 | Linux | Linux, KERNEL");

  // Unexpected text where numbers belong: the model is kept, the numbers
  // that are not numbers are left out, and a clock of text is no clock.
  MakeFile(root / "proc/cpuinfo",
           "model name\t: Mystery CPU\ncpu family\t: six\nmodel\t\t: 85\nstepping\t: \ncpu MHz\t\t: fast\n");
  MakeFile(root / "sys/devices/system/cpu/cpu0/cpufreq/base_frequency", "2100000 kHz\n");
  MakeFile(root / "proc/meminfo", "MemTotal:       12345 MB\n");
  MakeFile(root / "etc/os-release", "NAME=\nVERSION_ID=1\n");
  EXPECT_EQ(DescribeFrom(root.Path()), "CPUS | Mystery CPU: ARCH Model 85 | 0 MHz | 0 | Linux | Linux, KERNEL");

  // Overlong texts are cut to the description's fields, not overrun; a
  // line that the reader could not take whole is not used.
  std::string huge(3000, 'M');
  MakeFile(root / "proc/cpuinfo", "model name\t: " + huge + "\n");
  MakeFile(root / "etc/os-release", "NAME=" + huge + "\nVERSION_ID=" + std::string(5000, '1') + "\n");
  kvtest::ScopedRecordedRoot recorded(root.Path());
  HostDescription d;
  sysinfo::DescribeHost(d);
  EXPECT_EQ(std::strlen(d.cpuName), sysinfo::kCpuNameCap - 1);
  EXPECT_EQ(std::string(d.osShortName).find_first_not_of('M'), std::string::npos) << d.osShortName;
  EXPECT_LT(std::strlen(d.osLongName), sysinfo::kOsNameCap);
}

}  // namespace
