#include "OS/osthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "support/testing.h"

using namespace Korvane;

namespace {

using Call = std::tuple<bool, unsigned int, void*, unsigned int>;
std::mutex g_callsLock;
std::vector<Call> g_calls;

void Record(bool starting, unsigned int id, void* arg, unsigned int code) {
  std::lock_guard<std::mutex> guard(g_callsLock);
  g_calls.emplace_back(starting, id, arg, code);
}

unsigned int ReturnArg(void* arg) {
  unsigned int id = osGetCurrentThreadId();
  EXPECT_EQ(id, kvtest::HostThreadId()) << "not the host's id of the new thread";
  {
    std::lock_guard<std::mutex> guard(g_callsLock);
    EXPECT_EQ(g_calls, (std::vector<Call>{{true, id, arg, 0u}})) << "the start notice comes first, on this thread";
  }
  osSleep(50);  // a close that does not wait for the end misses the end notice
  return static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(arg));
}

TEST(Thread, NotificationsFrameTheFunctionAndCloseWaitsForTheEnd) {
  g_calls.clear();
  void* arg = reinterpret_cast<void*>(std::uintptr_t{4242});
  cKV_Error err;
  void* t = osCreateThread(&err, ReturnArg, arg, Record);
  ASSERT_NE(t, nullptr) << err.ToString();
  osCloseThread(t);
  EXPECT_TRUE(t == nullptr && err.IsNotError());
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[1], (Call{false, std::get<1>(g_calls[0]), arg, 4242u}));

  // Closing its own handle must not hang the thread.
  struct Self {
    std::atomic<void*> handle{nullptr};
    std::atomic<int> closed{0};  // 1 once the handle is released and null
  } self;
  auto closeOwn = [](void* p) -> unsigned int {
    auto* s = static_cast<Self*>(p);
    void* own;
    while ((own = s->handle.load()) == nullptr) osSleep(1);
    osCloseThread(own);
    s->closed.store(own == nullptr ? 1 : 2);
    return 0;
  };
  void* h = osCreateThread(nullptr, closeOwn, &self, nullptr);
  self.handle.store(h);
  for (int i = 0; i < 30000 && self.closed.load() == 0; ++i) osSleep(1);
  EXPECT_EQ(self.closed.load(), 1);
}

// Each case runs on a thread of its own so the test's threads keep their
// priority.
TEST(Thread, PriorityLevelsReadBackAndOutOfRangeIsIgnored) {
  std::thread([] {
    int before = osGetPriority();
    for (int outside : {3, -3, 0x7FFFFFFF}) {
      osSetPriority(outside);
      EXPECT_EQ(osGetPriority(), before) << outside;
    }
    // Lowering needs no privilege on any host.
    for (int level : {-1, -2}) {
      osSetPriority(level);
      EXPECT_EQ(osGetPriority(), level);
    }
    {
      kvtest::ScopedFault refused("thread.setpriority", kvtest::HostError(kvtest::Err::kAccess));
      osSetPriority(-1);
      EXPECT_EQ(osGetPriority(), -2) << "a refused change changes nothing";
    }
    kvtest::ScopedFault unknown("thread.getpriority", kvtest::HostError(kvtest::Err::kAccess));  // fails once
    EXPECT_EQ(osGetPriority(), 0x7FFFFFFF);
    EXPECT_EQ(osGetPriority(), -2);
  }).join();
}

// A thread that the caller never closes still runs to its end; many at
// once, each closed by a thread other than the one that started it.
TEST(Thread, ManyThreadsClosedElsewhere) {
  std::atomic<int> ran{0};
  auto count = [](void* p) -> unsigned int {
    static_cast<std::atomic<int>*>(p)->fetch_add(1);
    return 0;
  };
  std::vector<void*> handles;
  for (int i = 0; i < 64; ++i) {
    cKV_Error err;
    handles.push_back(osCreateThread(&err, count, &ran, nullptr));
    ASSERT_NE(handles.back(), nullptr) << err.ToString();
  }
  std::thread([&] {
    for (void*& h : handles) {
      osCloseThread(h);
      EXPECT_EQ(h, nullptr);
    }
  }).join();
  EXPECT_EQ(ran.load(), 64);
  void* none = nullptr;
  osCloseThread(none);  // returns at once
  EXPECT_EQ(none, nullptr);
}

}  // namespace
