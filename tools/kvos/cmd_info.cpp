// kvos info: the library's description of the machine and its network
// interfaces; also the host section of plain `kvos`.
#include <cstdio>

#include "OS/osnet.h"
#include "OS/ossocket.h"
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

  unsigned char mac[6] = {};
  if (Korvane::osNetGetEtherMAC(mac))
    std::printf("%sEthernet address: %02x:%02x:%02x:%02x:%02x:%02x\n", indent, mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  else
    std::printf("%sEthernet address: none\n", indent);
  Korvane::tNetInterfaceInfo* list = nullptr;
  int count = Korvane::osNetGetInterfaces(list);
  std::printf("%sInterfaces:       %d\n", indent, count);
  for (int i = 0; i < count; ++i)
    std::printf("%s  %-16s %-15s %s\n", indent, static_cast<char const*>(list[i].name),
                static_cast<char const*>(Korvane::osGetIpString(list[i].address)),
                (list[i].flags & 1u) != 0 ? "dial-up" : "ethernet");
  delete[] list;
}

int Run(Args const& args);

Command const kCommand{"info", "describe the machine: system, processors, memory, interfaces",
                       "Usage: kvos info\n"
                       "\n"
                       "Prints the library's description of the machine, gathered when the\n"
                       "library was loaded: host type, operating-system names, processor count,\n"
                       "name and speed, and the physical memory; then the Ethernet address and\n"
                       "the Ethernet and dial-up interfaces that have an IPv4 address.\n",
                       Run};
KVOS_COMMAND(kCommand);

void PrintAboutHost() {
  std::printf("This host:\n");
  PrintDescription("  ");
}

AboutSection const kAbout{10, PrintAboutHost};
KVOS_ABOUT(kAbout);

int Run(Args const& args) {
  Options options;
  if (!options.Parse(kCommand, args, 0, {})) return kBadUsage;
  if (!options.operands.empty()) return UsageError(kCommand, "info takes no arguments");
  PrintDescription("");
  return kOk;
}

}  // namespace
}  // namespace kvos
