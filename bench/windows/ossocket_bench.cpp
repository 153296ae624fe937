// Sockets against Winsock's own calls: TCP loopback throughput, select over
// a full set, socket creation and the dotted-address parser. Under Wine
// both sides run on Wine's Winsock, so only the ratios mean anything.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <benchmark/benchmark.h>

#include <thread>
#include <vector>

#include "OS/ossocket.h"

using namespace Korvane;

namespace {

tKV_InetAddress Loopback(unsigned short port) { return tKV_InetAddress{htonl(INADDR_LOOPBACK), port}; }

unsigned short PortOf(unsigned int s) {
  sockaddr_in sa{};
  int len = sizeof sa;
  getsockname(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}

// A connected loopback pair.
void Connect(unsigned int& client, unsigned int& server) {
  unsigned int l = 0;
  osSoctCreate(nullptr, eSoctTCP, l);
  osSoctBind(nullptr, l, Loopback(0), nullptr);
  osSoctListen(nullptr, l, 1);
  osSoctCreate(nullptr, eSoctTCP, client);
  osSoctConnect(nullptr, client, Loopback(PortOf(l)), nullptr);
  osSoctAccept(nullptr, l, server, nullptr, nullptr);
  osSoctClose(nullptr, l);
}

constexpr int kBlock = 64 * 1024;

// One side sends 64 KiB blocks, a thread drains the other side.
template <bool kLibrary>
void TcpThroughput(benchmark::State& state) {
  unsigned int client = 0, server = 0;
  Connect(client, server);
  std::thread drain([server]() mutable {
    std::vector<char> buf(kBlock);
    for (;;) {
      int n = kLibrary ? osSoctRecv(nullptr, server, reinterpret_cast<unsigned char*>(buf.data()), kBlock, nullptr)
                       : recv(static_cast<SOCKET>(server), buf.data(), kBlock, 0);
      if (n <= 0) break;
    }
  });
  std::vector<char> block(kBlock, 0x42);
  for (auto _ : state) {
    int n = kLibrary
                ? osSoctSend(nullptr, client, reinterpret_cast<unsigned char const*>(block.data()), kBlock, nullptr)
                : send(static_cast<SOCKET>(client), block.data(), kBlock, 0);
    if (n != kBlock) state.SkipWithError("short send");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
  shutdown(static_cast<SOCKET>(client), SD_SEND);
  drain.join();
  closesocket(static_cast<SOCKET>(client));
  closesocket(static_cast<SOCKET>(server));
}
void BM_TcpLoopback64K_Library(benchmark::State& state) { TcpThroughput<true>(state); }
void BM_TcpLoopback64K_Winsock(benchmark::State& state) { TcpThroughput<false>(state); }
BENCHMARK(BM_TcpLoopback64K_Library)->UseRealTime();
BENCHMARK(BM_TcpLoopback64K_Winsock)->UseRealTime();

// 2048 UDP sockets, one of them readable; the set is filled anew each round.
struct ManySockets {
  std::vector<unsigned int> sockets;
  unsigned int ready = 0;
  bool ok = false;
  ManySockets() {
    for (int i = 0; i < 2048; ++i) {
      unsigned int s = 0;
      if (!osSoctCreate(nullptr, eSoctUDP, s) || !osSoctBind(nullptr, s, Loopback(0), nullptr)) return;
      sockets.push_back(s);
    }
    ready = sockets[1500];
    unsigned int sender = 0;
    osSoctCreate(nullptr, eSoctUDP, sender);
    unsigned char d = 'd';
    osSoctSendTo(nullptr, sender, &d, 1, Loopback(PortOf(ready)));
    osSoctClose(nullptr, sender);
    ok = true;
  }
  ~ManySockets() {
    for (unsigned int s : sockets) closesocket(static_cast<SOCKET>(s));
  }
};

void BM_Select2048OneReady_Library(benchmark::State& state) {
  ManySockets m;
  if (!m.ok) return state.SkipWithError("cannot open 2048 sockets");
  cFD_SET* set = cFD_SET::Create(nullptr);
  for (auto _ : state) {
    set->Reset();
    for (unsigned int s : m.sockets) set->Add(s);
    if (osSoctSelect(nullptr, 0, set, nullptr, nullptr, 1000) != 1 || !set->IsSet(m.ready))
      state.SkipWithError("wrong readiness");
  }
  cFD_SET::Delete(set);
}
BENCHMARK(BM_Select2048OneReady_Library);

// Winsock's select over a set of 2048 filled each round with FD_SET, which
// looks for a duplicate before it appends as the library's Add does, and
// the answer asked with FD_ISSET.
void BM_Select2048OneReady_Winsock(benchmark::State& state) {
  ManySockets m;
  if (!m.ok) return state.SkipWithError("cannot open 2048 sockets");
  struct Set2048 {
    u_int fd_count;
    SOCKET fd_array[2048];
  };
  auto* set = new Set2048;
  for (auto _ : state) {
    set->fd_count = 0;
    for (unsigned int s : m.sockets) {
      u_int i = 0;
      while (i < set->fd_count && set->fd_array[i] != s) ++i;
      if (i == set->fd_count && set->fd_count < 2048) set->fd_array[set->fd_count++] = s;
    }
    timeval limit{1, 0};
    int n = select(0, reinterpret_cast<fd_set*>(set), nullptr, nullptr, &limit);
    if (n != 1 || !__WSAFDIsSet(static_cast<SOCKET>(m.ready), reinterpret_cast<fd_set*>(set)))
      state.SkipWithError("wrong readiness");
  }
  delete set;
}
BENCHMARK(BM_Select2048OneReady_Winsock);

// A non-inheritable UDP socket made and closed.
void BM_CreateClose_Library(benchmark::State& state) {
  for (auto _ : state) {
    unsigned int s = 0;
    if (!osSoctCreate(nullptr, eSoctUDP, s) || !osSoctClose(nullptr, s)) state.SkipWithError("create or close");
  }
}
BENCHMARK(BM_CreateClose_Library);

void BM_CreateClose_Winsock(benchmark::State& state) {
  for (auto _ : state) {
    SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET || closesocket(s) != 0) state.SkipWithError("create or close");
  }
}
BENCHMARK(BM_CreateClose_Winsock);

char const* const kTexts[] = {"192.168.1.20", "10.0.0.1", "255.255.255.255", "1.2.3", "256.1.1.1", "127.0.0.1"};

void BM_ParseIp4_Library(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(IsIp4Address(kTexts[i++ % 6], 0, nullptr));
}
BENCHMARK(BM_ParseIp4_Library);

void BM_ParseIp4_InetPton(benchmark::State& state) {
  std::size_t i = 0;
  in_addr a{};
  for (auto _ : state) benchmark::DoNotOptimize(inet_pton(AF_INET, kTexts[i++ % 6], &a));
}
BENCHMARK(BM_ParseIp4_InetPton);

}  // namespace
