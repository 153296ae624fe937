#include "OS/osmutex.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "support/testing.h"

using namespace Korvane;

namespace {

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
  void* cs = nullptr;
  ASSERT_TRUE(osCreateCriticalSection(nullptr, cs));
  ASSERT_NE(cs, nullptr);
  osEnterCriticalSection(cs);
  osEnterCriticalSection(cs);  // the owner enters again without blocking
  std::atomic<int> stage{0};
  std::thread other([&] {
    osEnterCriticalSection(cs);
    stage.store(1);
    osLeaveCriticalSection(cs);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  osLeaveCriticalSection(cs);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(stage.load(), 0) << "entered while the owner still held one level";
  osLeaveCriticalSection(cs);
  other.join();
  EXPECT_EQ(stage.load(), 1);
  osDestroyCriticalSection(cs);
  EXPECT_EQ(cs, nullptr);
}

TEST(CriticalSection, GuardsAPlainCounter) {
  void* cs = nullptr;
  ASSERT_TRUE(osCreateCriticalSection(nullptr, cs));
  long counter = 0;  // deliberately not atomic: the thread sanitizer checks the guard
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        osEnterCriticalSection(cs);
        ++counter;
        osLeaveCriticalSection(cs);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
  osDestroyCriticalSection(cs);
}

TEST(CriticalSection, NullHandlesAndAllocationFailure) {
  void* none = nullptr;
  osEnterCriticalSection(none);
  osLeaveCriticalSection(none);
  osDestroyCriticalSection(none);
  EXPECT_EQ(none, nullptr);

  kvtest::ScopedFault noMemory("alloc", ENOMEM);
  cKV_Error err;
  void* cs = reinterpret_cast<void*>(1);
  EXPECT_FALSE(osCreateCriticalSection(&err, cs));
  EXPECT_EQ(cs, nullptr);
  EXPECT_EQ(err.GetCode(), 7);
  EXPECT_STREQ(err.GetUnit(), ".\\osmutex");
  cKV_String expected;
  expected.Format("Failed to allocate memory. Requested size:%d", static_cast<int>(sizeof(pthread_mutex_t)));
  EXPECT_STREQ(err.GetText(), expected);
}

}  // namespace
