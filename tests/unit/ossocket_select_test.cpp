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

  ScopedFault f("alloc", 12);
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
  ASSERT_TRUE(SendUrgent(p.server));
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
  EXPECT_TRUE(osSoctGetOpt_SO_ERROR(nullptr, bad, pending) && pending == HostSockError(SockErr::kRefused)) << pending;

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
  int const invalid = HostSockError(SockErr::kInvalid);
  refused(osSoctSelect(&err, 0, nullptr, nullptr, nullptr, 0), invalid);
  Set r, w;
  refused(osSoctSelect(&err, 0, r.p, w.p, nullptr, 0xFFFFFFFFu), invalid);  // empty sets never return otherwise

  // A member that is no open socket: closed, 0, out of range, a file of the
  // process (always ready, no socket). The sets stay as they were and
  // nothing is left open.
  Pair p;
  EXPECT_EQ(HandlesLeftBy([&] {
              unsigned int closed = 0;
              ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, closed));
              CloseRaw(closed);
              unsigned int file = OpenNonSocket();
              ASSERT_NE(file, 0u);
              for (unsigned int bad : {closed, 0u, 0xFFFFFFFFu, file}) {
                SCOPED_TRACE(bad);
                refused(osSoctSelect(&err, 0, r.Fill({p.server, bad}).p, w.Fill({p.client}).p, nullptr, 0xFFFFFFFFu),
                        HostSockError(SockErr::kNotSocket));
                EXPECT_TRUE(r->IsSet(bad) && r->IsSet(p.server) && w->IsSet(p.client));
              }
              CloseNonSocket(file);
            }),
            0);

  // A set the library did not make.
  struct Foreign : cFD_SET {
    void Remove(unsigned int) override {}
    bool IsSet(unsigned int) override { return true; }
    void Add(unsigned int) override {}
    void Reset() override {}
  } foreign;
  refused(osSoctSelect(&err, 0, &foreign, nullptr, nullptr, 0), invalid);

  // A failing host, and a wait whose bookkeeping cannot be allocated.
  {
    ScopedFault f("sock.poll", 12345);
    refused(osSoctSelect(&err, 0, r.Fill({p.server}).p, nullptr, nullptr, 0), 12345);
  }
  for (unsigned int i = 0; i < 100; ++i) r->Add(i + 100000);
  ScopedFault f("alloc", 12);
  refused(osSoctSelect(&err, 0, r.p, nullptr, nullptr, 0), HostSockError(SockErr::kNoMemory));
}

// Waits of about 64 members, where the hosts switch from bookkeeping on
// the stack to a block of their own: the last member, and only it, is
// found ready whatever the size and however the members are split.
TEST(SocketSelect, SizesAroundTheSwitchToTheHeap) {
  std::vector<std::unique_ptr<Sock>> sockets;
  for (int i = 0; i < 72; ++i) sockets.push_back(std::make_unique<Sock>(eSoctUDP, true));
  Sock sender(eSoctUDP);
  unsigned char const d[] = "d";
  unsigned char buf[4];
  tKV_InetAddress from{0, 0};
  for (std::size_t n = 60; n <= 72; ++n) {
    SCOPED_TRACE(n);
    Sock& last = *sockets[n - 1];
    ASSERT_EQ(osSoctSendTo(nullptr, sender, d, 1, last.Address()), 1);
    // All in the read set; then a third of them each in the three sets.
    for (int split = 0; split < 2; ++split) {
      Set r, w, e;
      int writable = 0;  // UDP sockets always are
      for (std::size_t i = 0; i + 1 < n; ++i) {
        Set& to = split == 0 || i % 3 == 0 ? r : i % 3 == 1 ? e : w;
        to->Add(*sockets[i]);
        writable += &to == &w;
      }
      r->Add(last);
      EXPECT_EQ(osSoctSelect(nullptr, 0, r.p, split == 0 ? nullptr : w.p, split == 0 ? nullptr : e.p, 5000),
                1 + writable);
      EXPECT_TRUE(r->IsSet(last) && !r->IsSet(*sockets[0]));
      for (std::size_t i = 0; i + 1 < n; ++i) EXPECT_FALSE(r->IsSet(*sockets[i]) || e->IsSet(*sockets[i])) << i;
    }
    ASSERT_TRUE(osSoctRecvFrom(nullptr, last, buf, sizeof buf, from, nullptr));
  }
}

// 2048 members, one of them ready; on a host that numbers its descriptors
// densely they reach above 1023.
TEST(SocketSelect, FullSet) {
  OpenLimit room(2048 + 64);
  if (!room.ok) GTEST_SKIP() << room.why;
  EXPECT_EQ(HandlesLeftBy([] {
    std::vector<std::unique_ptr<Sock>> sockets;
    for (int i = 0; i < 2048; ++i) sockets.push_back(std::make_unique<Sock>(eSoctUDP, true));
    Sock sender(eSoctUDP);
    unsigned char const d[] = "d";
    ASSERT_EQ(osSoctSendTo(nullptr, sender, d, 1, sockets[2000]->Address()), 1);
    ASSERT_GT(sockets.back()->s, 1023u);
    Set r;
    for (auto& s : sockets) r->Add(*s);
    ASSERT_TRUE(r->IsSet(*sockets.back()));
    EXPECT_TRUE(osSoctSelect(nullptr, 0, r.p, nullptr, nullptr, 5000) == 1 && r->IsSet(*sockets[2000]) &&
                !r->IsSet(*sockets[0]));
    // The same wait with one member closed under it is refused, and the
    // set still holds it.
    for (auto& s : sockets) r->Add(*s);
    CloseRaw(sockets[1000]->s);
    unsigned int gone = sockets[1000]->s;
    sockets[1000]->s = 0;
    cKV_Error err;
    EXPECT_EQ(osSoctSelect(&err, 0, r.p, nullptr, nullptr, 5000), -1);
    EXPECT_TRUE(err.GetCode() == 6 && r->IsSet(gone) && r->IsSet(*sockets[2000]));
  }), 0);
}

}  // namespace
