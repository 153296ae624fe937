// kvos net: network interfaces, name lookups and dotted addresses.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "OS/osnet.h"
#include "OS/ossocket.h"
#include "command.h"
#include "host.h"

namespace kvos {
namespace {

int Run(Args const& args);

Command const kCommand{
    "net", "list network interfaces, resolve names and addresses, parse dotted addresses",
    "Usage: kvos net if\n"
    "       kvos net resolve NAME\n"
    "       kvos net name ADDRESS\n"
    "       kvos net ip TEXT [LENGTH]\n"
    "\n"
    "if       lists the Ethernet and dial-up interfaces that have an IPv4\n"
    "         address (name, address, kind, speed) and the hardware address\n"
    "         of the first Ethernet interface.\n"
    "resolve  prints the IPv4 addresses of a host name, one per line; when\n"
    "         there are none, the library's report and the resolver's reason.\n"
    "name     prints the host name recorded for a dotted IPv4 address;\n"
    "         exit status 1 when there is none.\n"
    "ip       shows what the library's dotted-address parser makes of TEXT\n"
    "         (only its first LENGTH characters when given): the address\n"
    "         and the characters consumed; exit status 1 when it gives 0\n"
    "         (no address).\n"
    "\n"
    "On Windows the resolver's numbers are Winsock's (WSAGetLastError()); the\n"
    "reason is given in the same words as elsewhere.\n",
    Run};
KVOS_COMMAND(kCommand);

std::string Speed(unsigned int bps) {
  if (bps == 0) return "unknown";
  if (bps == 0xFFFFFFFFu) return ">= 4.3 Gbit/s";
  char text[32];
  if (bps % 1000000000u == 0) std::snprintf(text, sizeof text, "%u Gbit/s", bps / 1000000000u);
  else if (bps % 1000000u == 0) std::snprintf(text, sizeof text, "%u Mbit/s", bps / 1000000u);
  else std::snprintf(text, sizeof text, "%u bit/s", bps);
  return text;
}

int Interfaces(Args const& args) {
  if (args.size() != 1) return UsageError(kCommand, "if takes no arguments");
  unsigned char mac[6] = {};
  if (Korvane::osNetGetEtherMAC(mac))
    std::printf("Ethernet address: %02x:%02x:%02x:%02x:%02x:%02x\n", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  else
    std::printf("Ethernet address: none\n");
  Korvane::tNetInterfaceInfo* list = nullptr;
  int count = Korvane::osNetGetInterfaces(list);
  std::printf("%d interface%s\n", count, count == 1 ? "" : "s");
  for (int i = 0; i < count; ++i) {
    Korvane::tNetInterfaceInfo const& e = list[i];
    std::printf("  %-24s %-15s %-8s %s\n", static_cast<char const*>(e.name),
                static_cast<char const*>(Korvane::osGetIpString(e.address)), (e.flags & 1u) != 0 ? "dial-up" : "ethernet",
                Speed(e.speed).c_str());
  }
  delete[] list;
  return kOk;
}

// The record ends in the resolver's own error number; say it in the words
// that getaddrinfo users know.
std::string ResolverReason(std::string const& text) {
  std::size_t at = text.rfind("WSAGetLastError()=");
  if (at == std::string::npos) return "(no reason given)";
  int code = std::atoi(text.c_str() + at + std::strlen("WSAGetLastError()="));
  return host::ResolverReason(code);
}

int Resolve(Args const& args) {
  if (args.size() != 2) return UsageError(kCommand, "resolve takes exactly one NAME");
  Korvane::cKV_Error err;
  unsigned int count = 0;
  unsigned int* addresses = Korvane::osGetAddrByHostname(&err, args[1].c_str(), count);
  if (addresses == nullptr) {
    if (!err.IsError()) return Failure(kCommand, "out of memory");
    std::string text(static_cast<char const*>(err.GetText()));
    Failure(kCommand, text);
    return Failure(kCommand, "the resolver says: " + ResolverReason(text));
  }
  for (unsigned int i = 0; i < count; ++i)
    std::printf("%s\n", static_cast<char const*>(Korvane::osGetIpString(addresses[i])));
  ::operator delete(addresses);
  if (count == 0) return Failure(kCommand, "'" + args[1] + "' has no IPv4 address");
  return kOk;
}

// A whole dotted address, or false.
bool ParseAddress(std::string const& text, unsigned int& address) {
  unsigned int consumed = 0;
  address = Korvane::IsIp4Address(text.c_str(), 0, &consumed);
  return consumed == text.size() && consumed >= 7 && (address != 0 || text.find_first_not_of("0.") == std::string::npos);
}

int Name(Args const& args) {
  if (args.size() != 2) return UsageError(kCommand, "name takes exactly one ADDRESS");
  unsigned int address = 0;
  if (!ParseAddress(args[1], address)) return UsageError(kCommand, "not a dotted IPv4 address: '" + args[1] + "'");
  bool found = false;
  Korvane::cKV_String name = Korvane::osGetHostnameByIp(address, found);
  if (!found) return Failure(kCommand, "no host name is recorded for " + args[1]);
  std::printf("%s\n", static_cast<char const*>(name));
  return kOk;
}

int Ip(Args const& args) {
  if (args.size() != 2 && args.size() != 3) return UsageError(kCommand, "ip takes TEXT and an optional LENGTH");
  long long length = 0;
  if (args.size() == 3 && (!ParseInteger(args[2], 0, static_cast<long long>(args[1].size()), length)))
    return UsageError(kCommand, "LENGTH must lie between 0 and the length of TEXT");
  unsigned int consumed = 0;
  unsigned int address = Korvane::IsIp4Address(args[1].c_str(), static_cast<unsigned int>(length), &consumed);
  unsigned int looked = length != 0 ? static_cast<unsigned int>(length) : static_cast<unsigned int>(args[1].size());
  std::printf("address:  %s\n", static_cast<char const*>(Korvane::osGetIpString(address)));
  if (looked == 0) std::printf("consumed: nothing (empty text)\n");
  else std::printf("consumed: %u of %u\n", consumed, looked);
  return address != 0 ? kOk : kFailed;
}

int Run(Args const& all) {
  Options options;
  if (!options.Parse(kCommand, all, 0, {})) return kBadUsage;
  Args const& args = options.operands;
  if (args.empty()) return UsageError(kCommand, "missing subcommand");
  if (args[0] == "if") return Interfaces(args);
  if (args[0] == "resolve") return Resolve(args);
  if (args[0] == "name") return Name(args);
  if (args[0] == "ip") return Ip(args);
  return UsageError(kCommand, "unknown subcommand '" + args[0] + "'");
}

}  // namespace
}  // namespace kvos
