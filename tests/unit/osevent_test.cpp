#include "OS/osevent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
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
  explicit Events(int n) : handles(static_cast<std::size_t>(n), nullptr) {
    for (auto& h : handles) EXPECT_TRUE(osCreateEvent(nullptr, false, h));
  }
  ~Events() { for (auto& h : handles) osDestroyEvent(h); }
  void*& operator[](int i) { return handles[static_cast<std::size_t>(i)]; }
  int Wait(unsigned ms) { return osWaitForEvents(static_cast<int>(handles.size()), handles.data(), ms); }
  std::vector<void*> handles;
};

// A reusable barrier. (std::barrier's waits hang now and then with the
// MinGW runtime under Wine.)
class Barrier {
 public:
  explicit Barrier(int parties) : _parties(parties) {}
  void arrive_and_wait() {
    std::unique_lock<std::mutex> lock(_lock);
    unsigned long phase = _phase;
    if (++_arrived == _parties) {
      _arrived = 0;
      ++_phase;
      _changed.notify_all();
      return;
    }
    _changed.wait(lock, [&] { return _phase != phase; });
  }

 private:
  std::mutex _lock;
  std::condition_variable _changed;
  int const _parties;
  int _arrived = 0;
  unsigned long _phase = 0;
};

// Returns once `waiters` threads are blocked in a wait on `ev`; where the
// host does not tell who waits for its events, gives them a moment.
void UntilWaited(void* ev, int waiters = 1) {
  if (internal::EventWaiters(ev) < 0) return std::this_thread::sleep_for(std::chrono::milliseconds(100));
  while (internal::EventWaiters(ev) < waiters) std::this_thread::yield();
}

TEST(Event, ManualResetStatesTimeOutsAndTheLowestIndexRule) {
  Events e(3);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(e.Wait(120), -1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
  osSetEvent(e[2]);
  EXPECT_EQ(e.Wait(kLong), 2);  // waiting does not reset
  osSetEvent(e[1]);
  EXPECT_EQ(e.Wait(0), 1);
  osResetEvent(e[1]);
  osResetEvent(e[2]);
  EXPECT_EQ(e.Wait(0), -1);

  // The same event twice, and a signalled one behind a non-signalled one.
  void* dup[3] = {e[0], e[0], e[1]};
  osSetEvent(e[1]);
  EXPECT_EQ(osWaitForEvents(3, dup, 0), 2);
  void* pair[2] = {osGetNonSignalledEvent(), osGetSignalledEvent()};
  EXPECT_EQ(osWaitForEvents(2, pair, kLong), 1);

  // More events than a wait keeps on its stack.
  Events many(40);
  std::thread setter([&] { UntilWaited(many[39]); osSetEvent(many[39]); });
  EXPECT_EQ(many.Wait(kLong), 39);
  setter.join();
}

TEST(Event, BadArgumentsNullHandlesAndFailures) {
  void* none = nullptr;
  osSetEvent(none);
  osResetEvent(none);
  osDestroyEvent(none);
  void* withNull[2] = {osGetSignalledEvent(), nullptr};
  EXPECT_TRUE(osWaitForEvents(2, withNull, 10) == -1 && osWaitForEvents(1, nullptr, 0) == -1);
  EXPECT_EQ(osWaitForEvents(0, withNull, 0), -1);
  EXPECT_EQ(osWaitForEvents(-1, withNull, 0), -1);
}

// Every round the setter signals a random subset in ascending order while the
// waiters wait; every waiter must wake and see the lowest member (a lost
// wake-up shows as -1, a scan overtaken by a later set as a higher index).
// Meanwhile another thread keeps setting and resetting one more event that
// every wait includes, so wake-ups race with sets and resets all the time.
TEST(Event, WaitAnyUnderConcurrentSetAndReset) {
  // Where every set and reset is a request to a server (Wine), fewer rounds.
  void* probe = osGetSignalledEvent();
  bool slowHost = internal::EventWaiters(probe) < 0;
  constexpr int kEvents = 5, kWaiters = 3;
  int const kRounds = slowHost ? 40 : 400;
  Events e(kEvents + 1);  // the last one is the noise
  Barrier sync(kWaiters + 1);
  std::atomic<int> expected{-1}, wrong{0};
  std::atomic<bool> stop{false};
  std::thread noise([&] {
    while (!stop.load()) {
      osSetEvent(e[kEvents]), osResetEvent(e[kEvents]);
      if (slowHost) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::vector<std::thread> waiters;
  for (int w = 0; w < kWaiters; ++w)
    waiters.emplace_back([&] {
      for (int round = 0; round < kRounds; ++round) {
        sync.arrive_and_wait();
        int got = kEvents;
        while (got == kEvents) got = e.Wait(kLong);
        wrong.fetch_add(got != expected.load());
        sync.arrive_and_wait();
      }
    });
  std::mt19937 rng(7);
  for (int round = 0; round < kRounds; ++round) {
    unsigned subset = 1 + rng() % ((1u << kEvents) - 1);
    expected.store(__builtin_ctz(subset));
    sync.arrive_and_wait();
    for (int i = 0; i < kEvents; ++i) if (subset & (1u << i)) osSetEvent(e[i]);
    sync.arrive_and_wait();
    for (int i = 0; i < kEvents; ++i) osResetEvent(e[i]);
  }
  for (auto& t : waiters) t.join();
  stop.store(true);
  noise.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Starts `waiters` threads that wait on a fresh event through the caller's
// variable; once all of them wait, sets the event (when `set`) and at once
// resets it (a pulse) or closes it, which also nulls that variable. Returns
// how many waits saw the event signalled.
int RaceWaits(int waiters, bool set, bool close, unsigned ms) {
  void* ev = nullptr;
  EXPECT_TRUE(osCreateEvent(nullptr, false, ev));
  void* watched = ev;
  std::atomic<int> signalled{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < waiters; ++w) threads.emplace_back([&] { signalled.fetch_add(osWaitForEvents(1, &ev, ms) == 0); });
  UntilWaited(watched, waiters);
  if (set) osSetEvent(ev);
  close ? osDestroyEvent(ev) : osResetEvent(ev);
  for (auto& t : threads) t.join();
  osDestroyEvent(ev);
  return signalled.load();
}

// A set releases every wait in progress, even when the event is reset right
// after it: a wait must not look at the event again and miss it.
// A waiter that is woken by a set must not touch the event after its owner
// has closed it (the address sanitizer sees any such access); the wait works
// on the handles it was given, not on the caller's variable.
TEST(Event, PulseOrCloseRightAfterSetReleasesEveryWait) {
  // Where each race costs a moment of waiting for the waiters, fewer rounds.
  void* probe = osGetSignalledEvent();
  int scale = internal::EventWaiters(probe) < 0 ? 20 : 1;
  for (int round = 0; round < 20 / scale; ++round) ASSERT_EQ(RaceWaits(3, true, false, 2000), 3) << "round " << round;
  for (int i = 0; i < 200 / scale; ++i) ASSERT_EQ(RaceWaits(1, true, true, kLong), 1) << "round " << i;
  EXPECT_EQ(RaceWaits(1, false, true, 200), 0);
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
