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

// Returns once `waiters` threads are blocked in a wait on `ev`.
void UntilWaited(void* ev, int waiters = 1) {
  while (internal::EventWaiters(ev) < waiters) std::this_thread::yield();
}

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

  void* pair[2] = {osGetNonSignalledEvent(), osGetSignalledEvent()};
  EXPECT_EQ(osWaitForEvents(1, pair, 0), -1);
  EXPECT_EQ(osWaitForEvents(2, pair, kLong), 1);

  // More events than a wait keeps on its stack.
  Events many(40);
  std::thread setter([&] {
    UntilWaited(many[39]);
    osSetEvent(many[39]);
  });
  EXPECT_EQ(many.Wait(kLong), 39);
  setter.join();
  osResetEvent(many[39]);
  kvtest::ScopedFault noMemory("alloc", ENOMEM);
  EXPECT_EQ(many.Wait(10), -1);
  EXPECT_EQ(noMemory.Failures(), 1u);
}

TEST(Event, BadArgumentsNullHandlesAndFailures) {
  void* none = nullptr;
  osSetEvent(none);
  osResetEvent(none);
  osDestroyEvent(none);

  Events e(1, true);
  void* withNull[2] = {e[0], nullptr};
  EXPECT_EQ(osWaitForEvents(2, withNull, 0), -1);
  EXPECT_EQ(osWaitForEvents(2, withNull, 10), -1);
  EXPECT_EQ(osWaitForEvents(0, e.handles.data(), 0), -1);
  EXPECT_EQ(osWaitForEvents(-1, e.handles.data(), 0), -1);
  EXPECT_EQ(osWaitForEvents(1, nullptr, 0), -1);

  kvtest::ScopedFault noMemory("alloc", ENOMEM);
  cKV_Error err;
  void* ev = reinterpret_cast<void*>(1);
  EXPECT_FALSE(osCreateEvent(&err, true, ev));
  EXPECT_EQ(ev, nullptr);
  EXPECT_EQ(err.GetCode(), 1);
  EXPECT_STREQ(err.GetUnit(), ".\\osevent");
  EXPECT_STREQ(err.GetText(), "Failed to create event. WSAGetLastError()=12");
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
// Meanwhile another thread keeps setting and resetting one more event that
// every wait includes, so wake-ups race with sets and resets all the time.
TEST(Event, WaitAnyUnderConcurrentSetAndReset) {
  constexpr int kEvents = 5, kWaiters = 3, kRounds = 400;
  Events e(kEvents + 1);  // the last one is the noise
  std::barrier<> sync(kWaiters + 1);
  std::atomic<int> expected{-1}, wrong{0};
  std::atomic<bool> stop{false};
  std::thread noise([&] {
    while (!stop.load()) {
      osSetEvent(e[kEvents]);
      osResetEvent(e[kEvents]);
    }
  });
  std::vector<std::thread> waiters;
  for (int w = 0; w < kWaiters; ++w)
    waiters.emplace_back([&] {
      for (int round = 0; round < kRounds; ++round) {
        sync.arrive_and_wait();
        int got;
        while ((got = e.Wait(kLong)) == kEvents) {
        }
        wrong.fetch_add(got != expected.load());
        sync.arrive_and_wait();
      }
    });
  std::mt19937 rng(7);
  for (int round = 0; round < kRounds; ++round) {
    unsigned subset = 1 + rng() % ((1u << kEvents) - 1);
    expected.store(__builtin_ctz(subset));
    sync.arrive_and_wait();
    if (round % 3 == 0) std::this_thread::yield();
    for (int i = 0; i < kEvents; ++i)
      if (subset & (1u << i)) osSetEvent(e[i]);
    sync.arrive_and_wait();
    for (int i = 0; i < kEvents; ++i) osResetEvent(e[i]);
  }
  for (auto& t : waiters) t.join();
  stop.store(true);
  noise.join();
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
    for (int w = 0; w < kWaiters; ++w) waiters.emplace_back([&] { released.fetch_add(e.Wait(2000) == 1); });
    UntilWaited(e[1], kWaiters);
    osSetEvent(e[1]);
    osResetEvent(e[1]);
    for (auto& t : waiters) t.join();
    ASSERT_EQ(released.load(), kWaiters) << "round " << round;
  }
}

// Closes an event while another thread waits on it through the caller's
// variable (which the close sets to null), right after a set or without one;
// returns what the wait gave.
int CloseWhileWaiting(bool set, unsigned ms) {
  void* ev = nullptr;
  EXPECT_TRUE(osCreateEvent(nullptr, false, ev));
  void* watched = ev;
  int got = -2;
  std::thread waiter([&] { got = osWaitForEvents(1, &ev, ms); });
  UntilWaited(watched);
  if (set) osSetEvent(ev);
  osDestroyEvent(ev);
  waiter.join();
  EXPECT_EQ(ev, nullptr);
  return got;
}

// A waiter that is woken by a set must not touch the event after its owner
// has closed it (the address sanitizer sees any such access); the wait works
// on the handles it was given, not on the caller's variable.
TEST(Event, CloseRightAfterSetWhileWaitsAreInProgress) {
  for (int i = 0; i < 200; ++i) ASSERT_EQ(CloseWhileWaiting(true, kLong), 0) << "round " << i;
  EXPECT_EQ(CloseWhileWaiting(false, 200), -1);
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

}  // namespace
