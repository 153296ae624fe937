#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <vector>

#include "ossocket_helpers.h"
#include "support/testing.h"

using namespace Korvane;
using namespace nettest;
using kvtest::ScopedFault;

namespace {

TEST(SocketSet, MembershipCapacityAndLifecycle) {
  Set s;
  // 2048 members; the next is refused until one leaves, and a duplicate
  // takes no place.
  for (unsigned int i = 1; i <= 2048; ++i) s->Add(i);
  for (unsigned int v : {5000u, 10u}) s->Add(v);
  s->Remove(1024);
  for (unsigned int v : {5001u, 5002u}) s->Add(v);
  for (unsigned int i = 1; i <= 5002; ++i) ASSERT_EQ(s->IsSet(i), i <= 2048 ? i != 1024 : i == 5001) << i;

  // Random work against a plain list: membership and the capacity limit
  // must agree after any mix of operations, also with numbers that crowd
  // together.
  std::mt19937 rng(7);
  for (int round = 0; round < 4; ++round) {
    std::vector<unsigned int> model;
    s->Reset();
    for (int op = 0; op < 20000; ++op) {
      unsigned int v = round % 2 == 0 ? rng() % 3000 : rng() * 4096u;  // many share a home
      auto at = std::find(model.begin(), model.end(), v);
      switch (rng() % 5) {
        case 3:
          s->Remove(v);
          if (at != model.end()) model.erase(at);
          break;
        case 4:
          ASSERT_EQ(s->IsSet(v), at != model.end()) << op;
          break;
        default:
          s->Add(v);
          if (at == model.end() && model.size() < 2048) model.push_back(v);
      }
      for (std::size_t m = 0; op % 1000 == 0 && m < model.size(); ++m) ASSERT_TRUE(s->IsSet(model[m])) << op;
    }
  }

  cFD_SET* one = cFD_SET::Create(nullptr);
  cFD_SET::Delete(one);
  EXPECT_EQ(one, nullptr);

  ScopedFault f("alloc", ENOMEM);
  cKV_Error err;
  EXPECT_TRUE(cFD_SET::Create(&err) == nullptr && err.GetCode() == 7 && std::string(err.GetUnit()) == ".\\ossocket");
  std::string text = static_cast<char const*>(err.GetText());
  ASSERT_EQ(text.rfind("Failed to allocate memory. Requested size:", 0), 0u) << text;
  EXPECT_GE(std::stoi(text.substr(42)), 4 * 2049);  // the set holds its members itself
}

TEST(SocketSelect, ReadinessAsTheSetsDefineIt) {
  Listener l;
  Pair p;
  Sock idle(eSoctUDP, true);

  // Nothing ready, no waiting: 0 and empty sets.
  Set r{l, p.server, idle}, w, e;
  EXPECT_TRUE(osSoctSelect(nullptr, 0, r.p, nullptr, nullptr, 0) == 0 && !r->IsSet(l) && !r->IsSet(p.server) &&
              !r->IsSet(idle));

  // One of three readable: exactly that one is left.
  unsigned char const x[] = "x";
  ASSERT_EQ(osSoctSend(nullptr, p.client, x, 1, nullptr), 1);
  EXPECT_EQ(osSoctSelect(nullptr, 0, r.Fill({l, p.server, idle}).p, nullptr, nullptr, 5000), 1);
  EXPECT_TRUE(r->IsSet(p.server) && !r->IsSet(l) && !r->IsSet(idle));

  // A waiting connection makes the listener readable.
  Sock c;
  ASSERT_TRUE(osSoctConnect(nullptr, c, l.Address(), nullptr));
  EXPECT_TRUE(osSoctSelect(nullptr, 0, r.Fill({l}).p, nullptr, nullptr, 5000) == 1 && r->IsSet(l));

  // Counts add up over the sets; a socket may be in several.
  w.Fill({p.server, p.client});
  EXPECT_EQ(osSoctSelect(nullptr, 0, r.Fill({p.server}).p, w.p, e.Fill({p.server}).p, 5000), 3);
  EXPECT_TRUE(r->IsSet(p.server) && w->IsSet(p.server) && w->IsSet(p.client) && !e->IsSet(p.server));

  // The peer closed: readable, and the read gives the end.
  unsigned char buf[8];
  ASSERT_TRUE(osSoctRecv(nullptr, p.server, buf, sizeof buf, nullptr) == 1 &&
              osSoctShutdown(nullptr, p.client, eSoctShutdownSend));
  EXPECT_EQ(osSoctSelect(nullptr, 0, r.Fill({p.server}).p, nullptr, nullptr, 5000), 1);
  EXPECT_EQ(osSoctRecv(nullptr, p.server, buf, sizeof buf, nullptr), 0);

  // Out-of-band data shows in the exception set.
  ASSERT_EQ(send(static_cast<int>(p.server), "!", 1, MSG_OOB), 1);
  EXPECT_TRUE(osSoctSelect(nullptr, 0, nullptr, nullptr, e.Fill({p.client, p.server}).p, 5000) == 1 &&
              e->IsSet(p.client));
}

TEST(SocketSelect, ConnectOutcomes) {
  Listener l;
  Sock ok, bad;
  bool inProgress = false;
  ASSERT_TRUE(osSoctSetNonblock(nullptr, ok, true) &&
              (osSoctConnect(nullptr, ok, l.Address(), &inProgress) || inProgress));
  Set r, w{ok}, e{ok};
  EXPECT_TRUE(osSoctSelect(nullptr, 0, nullptr, w.p, e.p, 5000) == 1 && w->IsSet(ok) && !e->IsSet(ok));

  // A refused connect shows only as exceptional, and SO_ERROR tells why.
  ASSERT_TRUE(osSoctSetNonblock(nullptr, bad, true));
  cKV_Error err;
  ASSERT_TRUE(osSoctConnect(&err, bad, At(Loopback(), FreePort()), &inProgress) || inProgress) << err.GetText();
  EXPECT_EQ(osSoctSelect(nullptr, 0, r.Fill({bad}).p, w.Fill({bad}).p, e.Fill({bad}).p, 5000), 1);
  EXPECT_TRUE(e->IsSet(bad) && !w->IsSet(bad) && !r->IsSet(bad));
  int pending = 0;
  EXPECT_TRUE(osSoctGetOpt_SO_ERROR(nullptr, bad, pending) && pending == ECONNREFUSED) << pending;

  // A connection that was up and is then reset is readable, not a failed
  // connect: on either side, also when that side never sent a byte.
  Sock server(nullptr);
  ASSERT_TRUE(osSoctAccept(nullptr, l, server, nullptr, nullptr) && osSoctSetOpt_SO_LINGER(nullptr, server, true, 0) &&
              osSoctClose(nullptr, server));
  EXPECT_TRUE(osSoctSelect(nullptr, 0, r.Fill({ok}).p, nullptr, e.Fill({ok}).p, 5000) == 1 && r->IsSet(ok) &&
              !e->IsSet(ok));
  Sock client;
  ASSERT_TRUE(osSoctConnect(nullptr, client, l.Address(), nullptr) &&
              osSoctAccept(nullptr, l, server, nullptr, nullptr) && osSoctSetOpt_SO_LINGER(nullptr, client, true, 0) &&
              osSoctClose(nullptr, client));
  EXPECT_TRUE(osSoctSelect(nullptr, 0, r.Fill({server}).p, nullptr, e.Fill({server}).p, 5000) == 1 &&
              r->IsSet(server) && !e->IsSet(server));
}

TEST(SocketSelect, RefusedWaits) {
  cKV_Error err;
  auto refused = [&](int result, int code) {
    EXPECT_TRUE(result == -1 && err.GetCode() == 6 && std::string(err.GetUnit()) == ".\\ossocket") << result;
    EXPECT_EQ(std::string(err.GetText()), "Socket select failed. WSAGetLastError()=" + std::to_string(code));
  };
  refused(osSoctSelect(&err, 0, nullptr, nullptr, nullptr, 0), EINVAL);
  Set r, w;
  refused(osSoctSelect(&err, 0, r.p, w.p, nullptr, 0xFFFFFFFFu), EINVAL);  // empty sets never return otherwise

  // A member that is not an open socket; the sets stay as they were.
  Pair p;
  unsigned int closed = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, closed));
  close(static_cast<int>(closed));
  int file = open("/dev/null", O_RDONLY | O_CLOEXEC);  // open, always ready, no socket
  ASSERT_GT(file, 0);
  for (unsigned int bad : {closed, 0u, 0xFFFFFFFFu, static_cast<unsigned int>(file)}) {
    SCOPED_TRACE(bad);
    refused(osSoctSelect(&err, 0, r.Fill({p.server, bad}).p, w.Fill({p.client}).p, nullptr, 0xFFFFFFFFu), ENOTSOCK);
    EXPECT_TRUE(r->IsSet(bad) && r->IsSet(p.server) && w->IsSet(p.client));
  }
  close(file);

  // A set the library did not make.
  struct Foreign : cFD_SET {
    void Remove(unsigned int) override {}
    bool IsSet(unsigned int) override { return true; }
    void Add(unsigned int) override {}
    void Reset() override {}
  } foreign;
  refused(osSoctSelect(&err, 0, &foreign, nullptr, nullptr, 0), EINVAL);

  // A failing host, and a wait whose bookkeeping cannot be allocated.
  {
    ScopedFault f("sock.poll", ENOMEM);
    refused(osSoctSelect(&err, 0, r.Fill({p.server}).p, nullptr, nullptr, 0), ENOMEM);
  }
  for (unsigned int i = 0; i < 100; ++i) r->Add(i + 100000);
  ScopedFault f("alloc", ENOMEM);
  refused(osSoctSelect(&err, 0, r.p, nullptr, nullptr, 0), ENOMEM);
}

// 2048 members with descriptors above 1023, one of them ready.
TEST(SocketSelect, FullSetWithHighDescriptors) {
  rlimit lim{};
  getrlimit(RLIMIT_NOFILE, &lim);
  if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max < 2200)
    GTEST_SKIP() << "the descriptor limit (" << lim.rlim_max << ") leaves no room for 2048 sockets";
  rlimit saved = lim;
  lim.rlim_cur = std::min<rlim_t>(lim.rlim_max, 4096);  // RLIM_INFINITY is the largest value
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);
  std::vector<std::unique_ptr<Sock>> sockets;
  for (int i = 0; i < 2048; ++i) sockets.push_back(std::make_unique<Sock>(eSoctUDP, true));
  ASSERT_GT(sockets.back()->s, 1023u);
  Sock sender(eSoctUDP);
  unsigned char const d[] = "d";
  ASSERT_EQ(osSoctSendTo(nullptr, sender, d, 1, sockets[2000]->Address()), 1);
  Set r;
  for (auto& s : sockets) r->Add(*s);
  ASSERT_TRUE(r->IsSet(*sockets.back()));
  EXPECT_TRUE(osSoctSelect(nullptr, 0, r.p, nullptr, nullptr, 5000) == 1 && r->IsSet(*sockets[2000]) &&
              !r->IsSet(*sockets[0]));
  setrlimit(RLIMIT_NOFILE, &saved);  // bounds only new descriptors: the open ones stay valid
}

// Signals do not end the wait: it goes on with the time that is left, or
// without limit until something is ready.
TEST(SocketSelect, WaitsSurviveSignals) {
  InstallInterruptingHandler(SIGUSR2);
  Pair p;
  for (unsigned int timeout : {200u, 0xFFFFFFFFu}) {
    std::atomic<int> result{-2};
    std::atomic<bool> started{false};
    pthread_t waiter{};
    std::thread t([&] {
      waiter = pthread_self();
      Set r{p.server};
      started = true;
      result = osSoctSelect(nullptr, 0, r.p, nullptr, nullptr, timeout);
    });
    while (!started) std::this_thread::yield();
    Poke(waiter, SIGUSR2, timeout == 200 ? 10 : 5);
    unsigned char const x[] = "x";
    EXPECT_TRUE(timeout == 200 || (result.load() == -2 && osSoctSend(nullptr, p.client, x, 1, nullptr) == 1));
    t.join();
    EXPECT_EQ(result.load(), timeout == 200 ? 0 : 1);
  }
  signal(SIGUSR2, SIG_DFL);
}

}  // namespace
