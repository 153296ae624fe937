#include "OS/osevent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "OS/internal/events.h"
#include "support/testing.h"

using namespace Korvane;

namespace {

constexpr unsigned kLong = 30000;  // a wait that only a lost wake-up lets run out

struct Events {
  explicit Events(int n, bool signalled = false) : handles(static_cast<std::size_t>(n), nullptr) {
    for (auto& h : handles) EXPECT_TRUE(osCreateEvent(nullptr, signalled, h));
  }
  ~Events() {
    for (auto& h : handles) osDestroyEvent(h);
  }
  void*& operator[](int i) { return handles[static_cast<std::size_t>(i)]; }
  int Wait(unsigned ms) { return osWaitForEvents(static_cast<int>(handles.size()), handles.data(), ms); }
  std::vector<void*> handles;
};

TEST(Event, ManualResetStatesAndTheLowestIndexRule) {
  Events e(3);
  EXPECT_EQ(e.Wait(0), -1);
  osSetEvent(e[2]);
  osSetEvent(e[2]);  // setting twice changes nothing
  EXPECT_EQ(e.Wait(0), 2);
  EXPECT_EQ(e.Wait(kLong), 2);  // waiting does not reset
  osSetEvent(e[1]);
  EXPECT_EQ(e.Wait(0), 1);
  osResetEvent(e[1]);
  EXPECT_EQ(e.Wait(0), 2);
  osResetEvent(e[2]);
  EXPECT_EQ(e.Wait(0), -1);

  // The same event twice, and a signalled one behind a non-signalled one.
  void* dup[3] = {e[0], e[0], e[1]};
  osSetEvent(e[1]);
  EXPECT_EQ(osWaitForEvents(3, dup, 0), 2);
  osSetEvent(e[0]);
  EXPECT_EQ(osWaitForEvents(3, dup, 0), 0);

  // More events than a wait keeps on its stack.
  Events many(40);
  osSetEvent(many[33]);
  osSetEvent(many[17]);
  EXPECT_EQ(many.Wait(kLong), 17);
  osResetEvent(many[17]);
  osResetEvent(many[33]);
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    osSetEvent(many[39]);
  });
  EXPECT_EQ(many.Wait(kLong), 39);
  setter.join();
  {
    osResetEvent(many[39]);
    kvtest::ScopedFault noMemory("alloc", ENOMEM);
    EXPECT_EQ(many.Wait(10), -1);
    EXPECT_EQ(noMemory.Failures(), 1u);
  }
}

TEST(Event, BadArgumentsAndNullHandles) {
  void* none = nullptr;
  osSetEvent(none);
  osResetEvent(none);
  osDestroyEvent(none);
  EXPECT_EQ(none, nullptr);

  Events e(1, true);
  void* withNull[2] = {e[0], nullptr};
  EXPECT_EQ(osWaitForEvents(2, withNull, 0), -1);
  EXPECT_EQ(osWaitForEvents(2, withNull, 10), -1);
  EXPECT_EQ(osWaitForEvents(0, e.handles.data(), 0), -1);
  EXPECT_EQ(osWaitForEvents(-1, e.handles.data(), 0), -1);
  EXPECT_EQ(osWaitForEvents(1, nullptr, 0), -1);

  void* ev = nullptr;
  ASSERT_TRUE(osCreateEvent(nullptr, false, ev));
  ASSERT_NE(ev, nullptr);
  osDestroyEvent(ev);
  EXPECT_EQ(ev, nullptr);
}

TEST(Event, CreationFailureIsReported) {
  kvtest::ScopedFault noMemory("alloc", ENOMEM);
  cKV_Error err;
  void* ev = reinterpret_cast<void*>(1);
  EXPECT_FALSE(osCreateEvent(&err, true, ev));
  EXPECT_EQ(ev, nullptr);
  EXPECT_EQ(err.GetCode(), 1);
  EXPECT_STREQ(err.GetUnit(), ".\\osevent");
  EXPECT_STREQ(err.GetText(), "Failed to create event. WSAGetLastError()=12");
}

TEST(Event, TheProcessWidePair) {
  EXPECT_EQ(osWaitForEvents(1, &osGetSignalledEvent(), 0), 0);
  EXPECT_EQ(osWaitForEvents(1, &osGetNonSignalledEvent(), 0), -1);
  void* both[2] = {osGetNonSignalledEvent(), osGetSignalledEvent()};
  EXPECT_EQ(osWaitForEvents(2, both, kLong), 1);
}

TEST(Event, TimeOutsWaitTheirWholeSpan) {
  Events e(2);
  for (unsigned ms : {1u, 120u}) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(e.Wait(ms), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(ms));
  }
}

// Every round the setter signals a random subset in ascending order while the
// waiters wait; every waiter must wake and see the lowest member (a lost
// wake-up shows as -1, a scan overtaken by a later set as a higher index).
TEST(Event, WaitAnyUnderConcurrentSetAndReset) {
  constexpr int kEvents = 5;
  constexpr int kWaiters = 3;
  constexpr int kRounds = 400;
  Events e(kEvents);
  std::barrier<> sync(kWaiters + 1);
  std::atomic<int> expected{-1};
  std::atomic<int> wrong{0};
  std::vector<std::thread> waiters;
  for (int w = 0; w < kWaiters; ++w)
    waiters.emplace_back([&] {
      for (int round = 0; round < kRounds; ++round) {
        sync.arrive_and_wait();
        if (e.Wait(kLong) != expected.load()) wrong.fetch_add(1);
        sync.arrive_and_wait();
      }
    });
  std::mt19937 rng(7);
  for (int round = 0; round < kRounds; ++round) {
    unsigned subset = 1 + rng() % ((1u << kEvents) - 1);
    int lowest = __builtin_ctz(subset);
    expected.store(lowest);
    sync.arrive_and_wait();
    if (round % 3 == 0) std::this_thread::yield();
    for (int i = 0; i < kEvents; ++i)
      if (subset & (1u << i)) osSetEvent(e[i]);
    sync.arrive_and_wait();
    for (int i = 0; i < kEvents; ++i) osResetEvent(e[i]);
  }
  for (auto& t : waiters) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

// A set releases every wait in progress, even when the event is reset right
// after it, as a pulse does: a wait must not look at the event again and
// miss it.
TEST(Event, APulseReleasesEveryWaitInProgress) {
  Events e(2);
  constexpr int kWaiters = 3;
  for (int round = 0; round < 20; ++round) {
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int w = 0; w < kWaiters; ++w)
      waiters.emplace_back([&] {
        if (e.Wait(2000) == 1) released.fetch_add(1);
      });
    while (internal::EventWaiters(e[1]) < kWaiters) std::this_thread::yield();
    osSetEvent(e[1]);
    osResetEvent(e[1]);
    for (auto& t : waiters) t.join();
    ASSERT_EQ(released.load(), kWaiters) << "round " << round;
  }
}

// Ping-pong through two events while a third thread keeps toggling an event
// that both sides also wait on: no hand-over may get lost.
TEST(Event, HandOversSurviveNoise) {
  Events e(3);  // 0: ping, 1: pong, 2: noise
  constexpr int kRounds = 3000;
  std::atomic<bool> stop{false};
  std::atomic<int> lost{0};
  std::thread noise([&] {
    while (!stop.load()) {
      osSetEvent(e[2]);
      osResetEvent(e[2]);
    }
  });
  auto waitFor = [&](int index) {
    void* set[2] = {e[index], e[2]};
    for (;;) {
      int r = osWaitForEvents(2, set, kLong);
      if (r == 0) return;
      if (r != 1) {
        lost.fetch_add(1);
        return;
      }
    }
  };
  std::thread pong([&] {
    for (int i = 0; i < kRounds; ++i) {
      waitFor(0);
      osResetEvent(e[0]);
      osSetEvent(e[1]);
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    osSetEvent(e[0]);
    waitFor(1);
    osResetEvent(e[1]);
  }
  pong.join();
  stop.store(true);
  noise.join();
  EXPECT_EQ(lost.load(), 0);
}

// A waiter that is woken by a set must not touch the event after its owner
// has closed it (the address sanitizer sees any such access).
TEST(Event, CloseRightAfterSetWhileWaitsAreInProgress) {
  for (int i = 0; i < 200; ++i) {
    void* ev = nullptr;
    ASSERT_TRUE(osCreateEvent(nullptr, false, ev));
    int got = -2;
    std::thread waiter([&got, ev] {
      void* set[1] = {ev};
      got = osWaitForEvents(1, set, kLong);
    });
    while (internal::EventWaiters(ev) == 0) std::this_thread::yield();
    osSetEvent(ev);
    osDestroyEvent(ev);
    waiter.join();
    EXPECT_EQ(got, 0);
  }
  // The other way round: the waiter closes the event as soon as its wait
  // returns, while the setter may still be inside osSetEvent.
  for (int i = 0; i < 200; ++i) {
    void* ev = nullptr;
    ASSERT_TRUE(osCreateEvent(nullptr, false, ev));
    std::thread setter([ev]() mutable { osSetEvent(ev); });
    EXPECT_EQ(osWaitForEvents(1, &ev, kLong), 0);
    osDestroyEvent(ev);
    setter.join();
  }
}

// A wait works on the handles it was given: the caller's variable may be
// closed (and so set to null) while the wait is in progress.
TEST(Event, AWaitOutlivesTheCallersHandleVariable) {
  void* ev = nullptr;
  ASSERT_TRUE(osCreateEvent(nullptr, false, ev));
  void* watched = ev;
  int got = -2;
  std::thread waiter([&got, &ev] { got = osWaitForEvents(1, &ev, 200); });
  while (internal::EventWaiters(watched) == 0) std::this_thread::yield();
  osDestroyEvent(ev);
  waiter.join();
  EXPECT_EQ(got, -1);

  ASSERT_TRUE(osCreateEvent(nullptr, false, ev));
  watched = ev;
  std::thread signalled([&got, &ev] { got = osWaitForEvents(1, &ev, kLong); });
  while (internal::EventWaiters(watched) == 0) std::this_thread::yield();
  osSetEvent(ev);
  osDestroyEvent(ev);
  signalled.join();
  EXPECT_EQ(got, 0);
}

}  // namespace
