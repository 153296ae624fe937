// Events on Linux: waits beyond what a wait keeps on its stack, and
// creation failures with the C library's numbers.
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "OS/internal/events.h"
#include "OS/osevent.h"
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

// Returns once `waiters` threads are blocked in a wait on `ev`.
void UntilWaited(void* ev, int waiters = 1) { while (internal::EventWaiters(ev) < waiters) std::this_thread::yield(); }

TEST(Event, WaitsOnAsManyEventsAsTheStackHoldsAndOneMore) {
  constexpr int kOnStack = 8;  // links a wait keeps on its own stack
  for (int count : {kOnStack - 1, kOnStack, kOnStack + 1}) {
    Events e(count);
    // Every link is used: the last event, set while the wait sleeps, wakes it.
    std::thread setter([&] {
      UntilWaited(e[count - 1]);
      osSetEvent(e[count - 1]);
    });
    EXPECT_EQ(e.Wait(kLong), count - 1) << count;
    setter.join();
    osResetEvent(e[count - 1]);
    // Only a wait beyond the stack asks for memory; refused, it fails.
    kvtest::ScopedFault noMemory("alloc", ENOMEM);
    EXPECT_EQ(e.Wait(10), -1) << count;
    EXPECT_EQ(noMemory.Failures(), count > kOnStack ? 1u : 0u) << count;
  }
}

TEST(Event, WaitsThatCannotHaveMemoryOrEventsThatCannotBeMade) {
  Events many(40);
  {
    kvtest::ScopedFault noMemory("alloc", ENOMEM);
    EXPECT_TRUE(many.Wait(10) == -1 && noMemory.Failures() == 1u);
  }
  kvtest::ScopedFault noMemory("alloc", ENOMEM);
  cKV_Error err;
  void* ev = reinterpret_cast<void*>(1);
  EXPECT_TRUE(!osCreateEvent(&err, true, ev) && ev == nullptr && err.GetCode() == 1);
  EXPECT_STREQ(err.GetUnit(), ".\\osevent");
  EXPECT_STREQ(err.GetText(), "Failed to create event. WSAGetLastError()=12");
}

}  // namespace
