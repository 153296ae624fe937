#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "OS/ossocket.h"
#include "ossocket_helpers.h"
#include "support/testing.h"

using namespace Korvane;
using namespace nettest;
using kvtest::ScopedFault;

namespace {

struct Set {
  cFD_SET* p = cFD_SET::Create(nullptr);
  ~Set() { cFD_SET::Delete(p); }
  cFD_SET* operator->() { return p; }
};

TEST(SocketSet, MembershipCapacityAndLifecycle) {
  Set s;
  for (unsigned int i = 0; i < 5000; i += 7) EXPECT_FALSE(s->IsSet(i));
  s->Add(10);
  s->Add(10);
  s->Add(11);
  s->Add(12);
  s->Remove(11);
  s->Remove(99);  // not a member: nothing happens
  EXPECT_TRUE(s->IsSet(10));
  EXPECT_FALSE(s->IsSet(11));
  EXPECT_TRUE(s->IsSet(12));
  s->Remove(10);
  s->Remove(10);
  EXPECT_FALSE(s->IsSet(10));
  EXPECT_TRUE(s->IsSet(12));
  s->Reset();
  EXPECT_FALSE(s->IsSet(12));

  // 2048 members; the next is refused until one leaves. The duplicate 10
  // did not use a place.
  for (unsigned int i = 1; i <= 2048; ++i) s->Add(i);
  s->Add(5000);
  EXPECT_FALSE(s->IsSet(5000));
  EXPECT_TRUE(s->IsSet(2048));
  s->Add(10);
  s->Remove(1024);
  s->Add(5000);
  EXPECT_TRUE(s->IsSet(5000));
  EXPECT_FALSE(s->IsSet(1024));
  s->Add(5001);
  EXPECT_FALSE(s->IsSet(5001));
  for (unsigned int i = 1; i <= 2048; ++i)
    ASSERT_EQ(s->IsSet(i), i != 1024) << i;

  // Random work against a plain list: membership and the capacity limit
  // must agree after any mix of operations, also with numbers that crowd
  // together.
  std::mt19937 rng(7);
  for (int round = 0; round < 4; ++round) {
    std::vector<unsigned int> model;
    s->Reset();
    unsigned int range = round % 2 == 0 ? 3000 : 0xFFFFFFFFu;
    for (int op = 0; op < 20000; ++op) {
      unsigned int v = range == 3000 ? rng() % range : rng() * 4096u;  // many share a home
      auto at = std::find(model.begin(), model.end(), v);
      switch (rng() % 5) {
        case 0:
        case 1:
        case 2:
          s->Add(v);
          if (at == model.end() && model.size() < 2048) model.push_back(v);
          break;
        case 3:
          s->Remove(v);
          if (at != model.end()) model.erase(at);
          break;
        default:
          ASSERT_EQ(s->IsSet(v), at != model.end()) << op;
      }
      if (op % 1000 == 0) {
        for (unsigned int m : model) ASSERT_TRUE(s->IsSet(m)) << op;
      }
    }
  }

  cFD_SET* none = nullptr;
  cFD_SET::Delete(none);
  EXPECT_EQ(none, nullptr);
  cFD_SET* one = cFD_SET::Create(nullptr);
  ASSERT_NE(one, nullptr);
  cFD_SET::Delete(one);
  EXPECT_EQ(one, nullptr);

  ScopedFault f("alloc", ENOMEM);
  cKV_Error err;
  EXPECT_EQ(cFD_SET::Create(&err), nullptr);
  EXPECT_EQ(err.GetCode(), 7);
  EXPECT_STREQ(err.GetUnit(), ".\\ossocket");
  std::string text = static_cast<char const*>(err.GetText());
  ASSERT_EQ(text.rfind("Failed to allocate memory. Requested size:", 0), 0u) << text;
  EXPECT_GE(std::stoi(text.substr(42)), 4 * 2049);  // the set holds its members itself
}

TEST(SocketSelect, ReadinessAsTheSetsDefineIt) {
  Listener l;
  Pair p;
  unsigned int idle = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, idle));
  ASSERT_TRUE(osSoctBind(nullptr, idle, At(Loopback(), 0), nullptr));

  // Nothing ready, no waiting: 0 and empty sets.
  Set r, w, e;
  r->Add(l.s);
  r->Add(p.server);
  r->Add(idle);
  EXPECT_EQ(osSoctSelect(nullptr, 0, r.p, nullptr, nullptr, 0), 0);
  EXPECT_FALSE(r->IsSet(l.s) || r->IsSet(p.server) || r->IsSet(idle));

  // One of three readable: exactly that one is left.
  unsigned char const x[] = "x";
  ASSERT_EQ(osSoctSend(nullptr, p.client, x, 1, nullptr), 1);
  r->Add(l.s);
  r->Add(p.server);
  r->Add(idle);
  EXPECT_EQ(osSoctSelect(nullptr, 0, r.p, nullptr, nullptr, 5000), 1);
  EXPECT_TRUE(r->IsSet(p.server));
  EXPECT_FALSE(r->IsSet(l.s));
  EXPECT_FALSE(r->IsSet(idle));

  // A waiting connection makes the listener readable.
  unsigned int c = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctTCP, c));
  ASSERT_TRUE(osSoctConnect(nullptr, c, l.Address(), nullptr));
  r->Reset();
  r->Add(l.s);
  EXPECT_EQ(osSoctSelect(nullptr, 0, r.p, nullptr, nullptr, 5000), 1);
  EXPECT_TRUE(r->IsSet(l.s));

  // Counts add up over the sets; a socket may be in several.
  r->Reset();
  r->Add(p.server);
  w->Add(p.server);
  w->Add(p.client);
  e->Add(p.server);
  EXPECT_EQ(osSoctSelect(nullptr, 0, r.p, w.p, e.p, 5000), 3);
  EXPECT_TRUE(r->IsSet(p.server));
  EXPECT_TRUE(w->IsSet(p.server) && w->IsSet(p.client));
  EXPECT_FALSE(e->IsSet(p.server));

  // The peer closed: readable, and the read gives the end.
  unsigned char buf[8];
  ASSERT_EQ(osSoctRecv(nullptr, p.server, buf, sizeof buf, nullptr), 1);
  ASSERT_TRUE(osSoctShutdown(nullptr, p.client, eSoctShutdownSend));
  r->Reset();
  r->Add(p.server);
  EXPECT_EQ(osSoctSelect(nullptr, 0, r.p, nullptr, nullptr, 5000), 1);
  EXPECT_EQ(osSoctRecv(nullptr, p.server, buf, sizeof buf, nullptr), 0);

  // Out-of-band data shows in the exception set.
  ASSERT_EQ(send(static_cast<int>(p.server), "!", 1, MSG_OOB), 1);
  e->Reset();
  e->Add(p.client);
  e->Add(p.server);
  EXPECT_EQ(osSoctSelect(nullptr, 0, nullptr, nullptr, e.p, 5000), 1);
  EXPECT_TRUE(e->IsSet(p.client));

  osSoctClose(nullptr, c);
  osSoctClose(nullptr, idle);
}

TEST(SocketSelect, ConnectOutcomes) {
  Listener l;
  unsigned int ok = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctTCP, ok));
  ASSERT_TRUE(osSoctSetNonblock(nullptr, ok, true));
  bool inProgress = false;
  if (!osSoctConnect(nullptr, ok, l.Address(), &inProgress)) {
    ASSERT_TRUE(inProgress);
  }
  Set w, e;
  w->Add(ok);
  e->Add(ok);
  EXPECT_EQ(osSoctSelect(nullptr, 0, nullptr, w.p, e.p, 5000), 1);
  EXPECT_TRUE(w->IsSet(ok));
  EXPECT_FALSE(e->IsSet(ok));

  // A refused connect shows only as exceptional, and SO_ERROR tells why.
  unsigned short closedPort;
  {
    Listener gone;
    closedPort = gone.port;
  }
  unsigned int bad = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctTCP, bad));
  ASSERT_TRUE(osSoctSetNonblock(nullptr, bad, true));
  cKV_Error err;
  bool refusedAtOnce = !osSoctConnect(&err, bad, At(Loopback(), closedPort), &inProgress) && !inProgress;
  ASSERT_FALSE(refusedAtOnce) << err.GetText();
  Set r2, w2, e2;
  r2->Add(bad);
  w2->Add(bad);
  e2->Add(bad);
  EXPECT_EQ(osSoctSelect(nullptr, 0, r2.p, w2.p, e2.p, 5000), 1);
  EXPECT_TRUE(e2->IsSet(bad));
  EXPECT_FALSE(w2->IsSet(bad));
  EXPECT_FALSE(r2->IsSet(bad));
  int pending = 0;
  ASSERT_TRUE(osSoctGetOpt_SO_ERROR(nullptr, bad, pending));
  EXPECT_EQ(pending, ECONNREFUSED);

  // A connection that was up and is then reset is readable, not a failed
  // connect.
  unsigned int server = 0;
  ASSERT_TRUE(osSoctAccept(nullptr, l.s, server, nullptr, nullptr));
  ASSERT_TRUE(osSoctSetOpt_SO_LINGER(nullptr, server, true, 0));
  ASSERT_TRUE(osSoctClose(nullptr, server));
  Set r3, e3;
  r3->Add(ok);
  e3->Add(ok);
  EXPECT_EQ(osSoctSelect(nullptr, 0, r3.p, nullptr, e3.p, 5000), 1);
  EXPECT_TRUE(r3->IsSet(ok));
  EXPECT_FALSE(e3->IsSet(ok));

  osSoctClose(nullptr, ok);
  osSoctClose(nullptr, bad);
}

TEST(SocketSelect, RefusedWaits) {
  cKV_Error err;
  auto expectFailure = [&](int code) {
    EXPECT_EQ(err.GetCode(), 6);
    EXPECT_STREQ(err.GetUnit(), ".\\ossocket");
    EXPECT_EQ(std::string(err.GetText()), "Socket select failed. WSAGetLastError()=" + std::to_string(code));
  };
  EXPECT_EQ(osSoctSelect(&err, 0, nullptr, nullptr, nullptr, 0), -1);
  expectFailure(EINVAL);
  Set r, w;
  EXPECT_EQ(osSoctSelect(&err, 0, r.p, w.p, nullptr, 0xFFFFFFFFu), -1);  // empty sets never return otherwise
  expectFailure(EINVAL);

  // A member that is not an open socket; the sets stay as they were.
  unsigned int s = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, s));
  unsigned int closed = s;
  ASSERT_TRUE(osSoctClose(nullptr, s));
  Pair p;
  for (unsigned int bad : {closed, 0u, 0xFFFFFFFFu}) {
    r->Reset();
    r->Add(p.server);
    r->Add(bad);
    w->Reset();
    w->Add(p.client);
    EXPECT_EQ(osSoctSelect(&err, 0, r.p, w.p, nullptr, 0xFFFFFFFFu), -1) << bad;
    expectFailure(ENOTSOCK);
    EXPECT_TRUE(r->IsSet(bad) && r->IsSet(p.server) && w->IsSet(p.client));
  }

  // A set the library did not make.
  struct Foreign : cFD_SET {
    void Remove(unsigned int) override {}
    bool IsSet(unsigned int) override { return true; }
    void Add(unsigned int) override {}
    void Reset() override {}
  } foreign;
  EXPECT_EQ(osSoctSelect(&err, 0, &foreign, nullptr, nullptr, 0), -1);
  expectFailure(EINVAL);

  // A failing host, and a wait whose bookkeeping cannot be allocated.
  {
    ScopedFault f("sock.poll", ENOMEM);
    r->Reset();
    r->Add(p.server);
    EXPECT_EQ(osSoctSelect(&err, 0, r.p, nullptr, nullptr, 0), -1);
    expectFailure(ENOMEM);
  }
  Set big;
  for (unsigned int i = 0; i < 100; ++i) big->Add(p.client);
  for (unsigned int i = 0; i < 100; ++i) big->Add(i + 100000);
  {
    ScopedFault f("alloc", ENOMEM);
    EXPECT_EQ(osSoctSelect(&err, 0, big.p, nullptr, nullptr, 0), -1);
    expectFailure(ENOMEM);
  }
}

// 2048 members with descriptors above 1023, one of them ready.
TEST(SocketSelect, FullSetWithHighDescriptors) {
  rlimit lim{};
  getrlimit(RLIMIT_NOFILE, &lim);
  if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max < 2200)
    GTEST_SKIP() << "the descriptor limit (" << lim.rlim_max << ") leaves no room for 2048 sockets";
  rlimit saved = lim;
  lim.rlim_cur = lim.rlim_max == RLIM_INFINITY ? 4096 : std::min<rlim_t>(lim.rlim_max, 4096);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);

  std::vector<unsigned int> sockets;
  Set r;
  for (int i = 0; i < 2048; ++i) {
    unsigned int s = 0;
    ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, s)) << i;
    ASSERT_TRUE(osSoctBind(nullptr, s, At(Loopback(), 0), nullptr));
    sockets.push_back(s);
  }
  EXPECT_GT(sockets.back(), 1023u);
  unsigned int target = sockets[2000];
  unsigned int sender = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, sender));
  unsigned char const d[] = "d";
  ASSERT_EQ(osSoctSendTo(nullptr, sender, d, 1, At(Loopback(), LocalPort(target))), 1);

  for (int round = 0; round < 3; ++round) {
    r->Reset();
    for (unsigned int s : sockets) r->Add(s);
    ASSERT_TRUE(r->IsSet(sockets.back()));
    EXPECT_EQ(osSoctSelect(nullptr, 0, r.p, nullptr, nullptr, 5000), 1);
    EXPECT_TRUE(r->IsSet(target));
    EXPECT_FALSE(r->IsSet(sockets[0]));
  }
  for (unsigned int s : sockets) close(static_cast<int>(s));
  close(static_cast<int>(sender));
  setrlimit(RLIMIT_NOFILE, &saved);
}

// Signals do not end the wait: it goes on with the time that is left, or
// without limit until something is ready.
TEST(SocketSelect, WaitsSurviveSignals) {
  InstallInterruptingHandler(SIGUSR2);
  Pair p;
  std::atomic<int> result{-2};
  std::atomic<bool> started{false};
  pthread_t waiter{};
  std::thread t([&] {
    waiter = pthread_self();
    Set r;
    r->Add(p.server);
    started = true;
    result = osSoctSelect(nullptr, 0, r.p, nullptr, nullptr, 200);
  });
  while (!started) std::this_thread::yield();
  for (int i = 0; i < 10 && result == -2; ++i) {
    pthread_kill(waiter, SIGUSR2);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  t.join();
  EXPECT_EQ(result.load(), 0);

  result = -2;
  started = false;
  std::thread u([&] {
    waiter = pthread_self();
    Set r;
    r->Add(p.server);
    started = true;
    result = osSoctSelect(nullptr, 0, r.p, nullptr, nullptr, 0xFFFFFFFFu);
  });
  while (!started) std::this_thread::yield();
  for (int i = 0; i < 5; ++i) {
    pthread_kill(waiter, SIGUSR2);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(result.load(), -2);
  unsigned char const x[] = "x";
  ASSERT_EQ(osSoctSend(nullptr, p.client, x, 1, nullptr), 1);
  u.join();
  EXPECT_EQ(result.load(), 1);
  signal(SIGUSR2, SIG_DFL);
}

}  // namespace
