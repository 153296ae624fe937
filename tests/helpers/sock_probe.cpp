// A program that the socket tests start: linked with the shared library as
// applications are, it passes a datagram over loopback with the library's
// calls alone, so the socket layer must have been started for it. Prints
// "ok" and the host's first Ethernet address, or what failed.
#include <cstdio>
#include <cstring>

#include "OS/osnet.h"
#include "OS/ossocket.h"

using namespace Korvane;

namespace {

int Fail(cKV_Error const& err) {
  std::printf("failed: %s\n", static_cast<char const*>(err.GetText()));
  return 1;
}

}  // namespace

int main() {
  cKV_Error err;
  unsigned int sender = 0, receiver = 0;
  if (!osSoctCreate(&err, eSoctUDP, sender) || !osSoctCreate(&err, eSoctUDP, receiver)) return Fail(err);
  // The library does not tell an ephemeral port: take the first free one.
  tKV_InetAddress at{osSoctHtonl(0x7F000001u), 40000};
  while (!osSoctBind(nullptr, receiver, at, nullptr))
    if (++at.port == 40200) return Fail(err);
  unsigned char const msg[] = "probe";
  unsigned char buf[16] = {};
  tKV_InetAddress from{0, 0};
  unsigned int count = 0;
  if (osSoctSendTo(&err, sender, msg, 5, at) != 5 || !osSoctRecvFrom(&err, receiver, buf, sizeof buf, from, &count))
    return Fail(err);
  if (count != 5 || std::memcmp(buf, "probe", 5) != 0) {
    std::printf("failed: the datagram arrived changed\n");
    return 1;
  }
  unsigned char mac[6] = {};
  bool hasMac = osNetGetEtherMAC(mac);
  std::printf("ok %s %02x:%02x:%02x:%02x:%02x:%02x\n", hasMac ? "mac" : "none", mac[0], mac[1], mac[2], mac[3], mac[4],
              mac[5]);
  if (!osSoctClose(&err, sender) || !osSoctClose(&err, receiver)) return Fail(err);
  return 0;
}
