// Sockets on Winsock: the host's error numbers in the messages, the socket
// layer started by the load sequence (and by kv_Os.dll on first use), and
// the adapters as the IP helper's older listing shows them.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "OS/host/fault.h"
#include "OS/host/startup.h"
#include "OS/osnet.h"
#include "OS/ossocket.h"
#include "support/testing.h"
#include "unit/ossocket_helpers.h"

using namespace Korvane;
using namespace nettest;

namespace {

std::string SystemText(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out;
  if (n > 0) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(bytes));
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), bytes, nullptr, nullptr);
  }
  if (text != nullptr) LocalFree(text);
  while (!out.empty() && (out.back() == '\r' || out.back() == '\n')) out.pop_back();
  return out;
}

// The numbers that the messages carry are Winsock's own, as written in its
// documentation, not numbers of another host mapped over.
TEST(SocketWindows, MessagesCarryWinsockNumbers) {
  cKV_Error err;
  unsigned int zero = 0;
  EXPECT_FALSE(osSoctClose(&err, zero));
  EXPECT_STREQ(err.GetText(), "Failed to close socket. Socket:0, WSAGetLastError()=10038");

  Sock a, b;
  ASSERT_TRUE(osSoctBind(nullptr, a, At(Loopback(), 0), nullptr) && osSoctListen(nullptr, a, 1));
  bool inUse = false;
  EXPECT_TRUE(!osSoctBind(&err, b, a.Address(), &inUse) && inUse);
  EXPECT_EQ(std::string(err.GetText()),
            "Failed to bind socket. Port=" + std::to_string(LocalPort(a)) + ", WSAGetLastError()=10048");

  ASSERT_TRUE(osSoctSetNonblock(nullptr, a, true));
  unsigned int none = 7;
  bool wouldBlock = false;
  EXPECT_TRUE(!osSoctAccept(&err, a, none, nullptr, &wouldBlock) && wouldBlock && none == 0);
  EXPECT_EQ(std::string(err.GetText()),
            "Failed to accept new connection. Socket:" + std::to_string(a.s) + ", WSAGetLastError()=10035");

  // A non-blocking connect answers WSAEWOULDBLOCK, which is in progress
  // here, not a failure.
  Sock c;
  ASSERT_TRUE(osSoctSetNonblock(nullptr, c, true));
  bool inProgress = false;
  err.Reset();
  EXPECT_TRUE(osSoctConnect(&err, c, a.Address(), &inProgress) || inProgress);
  EXPECT_TRUE(err.IsNotError());

  unsigned short port = FreePort();
  Sock refused;
  EXPECT_FALSE(osSoctConnect(&err, refused, At(Loopback(), port), nullptr));
  EXPECT_EQ(std::string(err.GetText()), "Failed to connect socket " + std::to_string(refused.s) +
                                            " to ip=127.0.0.1, port=" + std::to_string(port) +
                                            ". WSAGetLastError()=10061\n");

  // The pending-error query words the number as the system does; a system
  // without a text for it (Wine) gives none.
  int pending = 0;
  EXPECT_FALSE(osSoctGetOpt_SO_ERROR(&err, zero, pending));
  std::string text = SystemText(WSAENOTSOCK);
  EXPECT_EQ(std::string(err.GetText()), "getsockopt with SO_ERROR failed on socket 0. " +
                                            (text.empty() ? "" : "GetLastError()=10038 [" + text + "]"));
}

// The load sequence started Winsock for the program: the host's own calls
// work without a start of their own.
TEST(SocketWindows, LoadSequenceStartedWinsock) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
  closesocket(s);
}

// A host that refuses to start Winsock ends the process with status -1.
TEST(SocketWindowsDeathTest, RefusedSocketLayerEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Korvane::host::FaultArm("sock.startup", WSASYSNOTREADY);
        Korvane::host::LibraryUnload();
        Korvane::host::LibraryLoad();
        std::fprintf(stderr, "the load sequence went on\n");
        std::exit(0);
      },
      testing::ExitedWithCode(-1), "");
}

// A program linked with kv_Os.dll, which may not start Winsock under its
// loader lock: the first socket call does, and the adapters are listed.
TEST(SocketWindows, SharedLibraryStartsWinsockOnFirstUse) {
  kvtest::RunResult r = kvtest::Run({KVOS_SOCK_PROBE_PATH});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  unsigned char mac[6] = {};
  char expected[64];
  bool hasMac = osNetGetEtherMAC(mac);
  std::snprintf(expected, sizeof expected, "ok %s %02x:%02x:%02x:%02x:%02x:%02x\n", hasMac ? "mac" : "none", mac[0],
                mac[1], mac[2], mac[3], mac[4], mac[5]);
  EXPECT_EQ(r.out, kvtest::HostLines(expected));
}

// The adapters as GetAdaptersInfo, the IP helper's older listing, shows
// them: the same first Ethernet address, and the Ethernet and dial-up
// adapters with an address, by description.
TEST(NetInterfacesWindows, LiveHostAgreesWithGetAdaptersInfo) {
  ULONG size = 0;
  std::vector<unsigned char> block;
  DWORD rc = ERROR_BUFFER_OVERFLOW;
  for (int round = 0; round < 4 && rc == ERROR_BUFFER_OVERFLOW; ++round) {
    block.resize(size > 0 ? size : sizeof(IP_ADAPTER_INFO));
    size = static_cast<ULONG>(block.size());
    rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(block.data()), &size);
  }
  if (rc == ERROR_NO_DATA) block.clear();
  else ASSERT_EQ(rc, static_cast<DWORD>(ERROR_SUCCESS));

  std::string firstMac = "none";
  std::vector<std::pair<std::string, unsigned int>> listed;
  for (auto* a = block.empty() ? nullptr : reinterpret_cast<IP_ADAPTER_INFO*>(block.data()); a != nullptr;
       a = a->Next) {
    if (a->Type == MIB_IF_TYPE_ETHERNET && firstMac == "none") {
      char text[32];
      std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", a->Address[0], a->Address[1], a->Address[2],
                    a->Address[3], a->Address[4], a->Address[5]);
      firstMac = text;
    }
    unsigned int address = inet_addr(a->IpAddressList.IpAddress.String);
    if ((a->Type == MIB_IF_TYPE_ETHERNET || a->Type == MIB_IF_TYPE_PPP) && address != 0 && address != INADDR_NONE)
      listed.emplace_back(a->Description, address);
  }
  unsigned char m[6] = {};
  char text[32] = "none";
  if (osNetGetEtherMAC(m))
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
  EXPECT_EQ(text, firstMac);

  tNetInterfaceInfo* list = nullptr;
  int count = osNetGetInterfaces(list);
  std::vector<std::pair<std::string, unsigned int>> got;
  for (int i = 0; i < count; ++i) got.emplace_back(static_cast<char const*>(list[i].name), list[i].address);
  delete[] list;
  EXPECT_EQ(got, listed);
}

}  // namespace
