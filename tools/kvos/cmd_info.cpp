// kvos info: the library's description of the machine; also the host
// section of plain `kvos`.
#include <cstdio>

#include "OS/ossysinfo.h"
#include "command.h"

namespace kvos {
namespace {

using Korvane::cKV_SysInfo;

void PrintDescription(char const* indent) {
  std::printf("%sHost type:        %s\n", indent, cKV_SysInfo::GetHostTypeStr(cKV_SysInfo::GetHostType()));
  std::printf("%sSystem:           %s\n", indent, static_cast<char const*>(cKV_SysInfo::GetOsShortName()));
  std::printf("%sSystem (long):    %s\n", indent, static_cast<char const*>(cKV_SysInfo::GetOsLongName()));
  std::printf("%sProcessors:       %d\n", indent, cKV_SysInfo::GetCpuCount());
  std::printf("%sProcessor:        %s\n", indent, static_cast<char const*>(cKV_SysInfo::GetCpuName()));
  if (int mhz = cKV_SysInfo::GetCpuSpeed())
    std::printf("%sProcessor speed:  %d MHz\n", indent, mhz);
  else
    std::printf("%sProcessor speed:  unknown\n", indent);
  if (unsigned long long ram = cKV_SysInfo::GetRamSize())
    std::printf("%sMemory:           %llu bytes (%.1f GiB)\n", indent, ram,
                static_cast<double>(ram) / (1024.0 * 1024.0 * 1024.0));
  else
    std::printf("%sMemory:           unknown\n", indent);
}

int Run(Args const& args);

Command const kCommand{"info", "describe the machine: system, processors, memory",
                       "Usage: kvos info\n"
                       "\n"
                       "Prints the library's description of the machine, gathered when the\n"
                       "library was loaded: host type, operating-system names, processor count,\n"
                       "name and speed, and the physical memory.\n",
                       Run};
KVOS_COMMAND(kCommand);

void PrintAboutHost() {
  std::printf("This host:\n");
  PrintDescription("  ");
}

AboutSection const kAbout{10, PrintAboutHost};
KVOS_ABOUT(kAbout);

int Run(Args const& args) {
  if (!args.empty()) return UsageError(kCommand, "info takes no arguments");
  PrintDescription("");
  return kOk;
}

}  // namespace
}  // namespace kvos
