// Sockets against the host's calls: TCP loopback throughput, select over a
// full set, and the dotted-address parser.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "OS/ossocket.h"

using namespace Korvane;

namespace {

tKV_InetAddress Loopback(unsigned short port) {
  tKV_InetAddress a;
  a.address = htonl(INADDR_LOOPBACK);
  a.port = port;
  return a;
}

unsigned short PortOf(unsigned int s) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&sa), &len);
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
    std::vector<unsigned char> buf(kBlock);
    for (;;) {
      int n = kLibrary ? osSoctRecv(nullptr, server, buf.data(), kBlock, nullptr)
                       : static_cast<int>(recv(static_cast<int>(server), buf.data(), kBlock, 0));
      if (n <= 0) break;
    }
  });
  std::vector<unsigned char> block(kBlock, 0x42);
  for (auto _ : state) {
    int n = kLibrary ? osSoctSend(nullptr, client, block.data(), kBlock, nullptr)
                     : static_cast<int>(send(static_cast<int>(client), block.data(), kBlock, MSG_NOSIGNAL));
    if (n != kBlock) state.SkipWithError("short send");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
  shutdown(static_cast<int>(client), SHUT_WR);
  drain.join();
  close(static_cast<int>(client));
  close(static_cast<int>(server));
}
void BM_TcpLoopback64K_Library(benchmark::State& state) { TcpThroughput<true>(state); }
void BM_TcpLoopback64K_Host(benchmark::State& state) { TcpThroughput<false>(state); }
BENCHMARK(BM_TcpLoopback64K_Library)->UseRealTime();
BENCHMARK(BM_TcpLoopback64K_Host)->UseRealTime();

// 2048 UDP sockets, one of them readable; the set is filled anew each round.
struct ManySockets {
  std::vector<unsigned int> sockets;
  unsigned int ready = 0;
  bool ok = false;
  ManySockets() {
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = std::min<rlim_t>(lim.rlim_max, 4096);
    setrlimit(RLIMIT_NOFILE, &lim);
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
    for (unsigned int s : sockets) close(static_cast<int>(s));
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

// The host's poll over an array rebuilt each round, and the ready entries
// picked out afterwards.
void BM_Select2048OneReady_Poll(benchmark::State& state) {
  ManySockets m;
  if (!m.ok) return state.SkipWithError("cannot open 2048 sockets");
  std::vector<pollfd> fds(2048);
  for (auto _ : state) {
    for (std::size_t i = 0; i < 2048; ++i) fds[i] = pollfd{static_cast<int>(m.sockets[i]), POLLIN, 0};
    int n = poll(fds.data(), fds.size(), 1000);
    std::size_t kept = 0;
    for (pollfd const& p : fds)
      if (p.revents != 0) fds[kept++] = p;
    if (n != 1 || kept != 1 || fds[0].fd != static_cast<int>(m.ready)) state.SkipWithError("wrong readiness");
  }
}
BENCHMARK(BM_Select2048OneReady_Poll);

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
