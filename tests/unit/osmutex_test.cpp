#include "OS/osmutex.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <random>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "OS/internal/events.h"
#include "OS/internal/rwmutex.h"
#include "OS/osevent.h"
#include "OS/osthread.h"
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

// --- the reader/writer mutex

constexpr unsigned kLong = 30000;

internal::RwMutex& Record(void* m) { return *static_cast<internal::RwMutex*>(m); }

// Runs `f` on a thread and tells, through an event, when it has finished.
class Runner {
 public:
  template <class F>
  explicit Runner(F f) : _f(f) {
    osCreateEvent(nullptr, false, _done);
    _thread = std::thread([this] {
      _f();
      osSetEvent(_done);
    });
  }
  ~Runner() {
    _thread.join();
    osDestroyEvent(_done);
  }
  bool Finished(unsigned ms) { return osWaitForEvents(1, &_done, ms) == 0; }

 private:
  std::function<void()> _f;
  void* _done = nullptr;
  std::thread _thread;
};

// Blocks until some thread waits for the mutex to become free.
void UntilSomeoneWaits(void* m) {
  while (internal::EventWaiters(Record(m).released) == 0) std::this_thread::yield();
}

TEST(RwMutex, TheWriterReentersForWritingAndReading) {
  void* m = nullptr;
  ASSERT_TRUE(osCreateMutex(nullptr, m));
  osAcquireMutexWrite(m);
  osAcquireMutexRead(m);
  osAcquireMutexWrite(m);
  EXPECT_EQ(Record(m).state, -3);
  EXPECT_EQ(Record(m).writer, osGetCurrentThreadId());

  Runner reader([m] {
    osAcquireMutexRead(m);
    osReleaseMutex(m);
  });
  UntilSomeoneWaits(m);
  osReleaseMutex(m);
  osReleaseMutex(m);
  EXPECT_FALSE(reader.Finished(30)) << "a reader got in while a write level was still held";
  osReleaseMutex(m);
  EXPECT_TRUE(reader.Finished(kLong));
  EXPECT_EQ(Record(m).state, 0);
  osDestroyMutex(m);
  EXPECT_EQ(m, nullptr);
}

TEST(RwMutex, ReadersShareAndAreAdmittedWhileAWriterWaits) {
  void* m = nullptr;
  ASSERT_TRUE(osCreateMutex(nullptr, m));
  osAcquireMutexRead(m);
  Runner second([m] { osAcquireMutexRead(m); });
  EXPECT_TRUE(second.Finished(kLong));
  EXPECT_EQ(Record(m).state, 2);

  Runner writer([m] {
    osAcquireMutexWrite(m);
    osReleaseMutex(m);
  });
  UntilSomeoneWaits(m);
  Runner third([m] { osAcquireMutexRead(m); });
  EXPECT_TRUE(third.Finished(kLong)) << "a waiting writer held a reader back";
  EXPECT_EQ(Record(m).state, 3);

  osReleaseMutex(m);
  osReleaseMutex(m);
  EXPECT_FALSE(writer.Finished(30));
  osReleaseMutex(m);
  EXPECT_TRUE(writer.Finished(kLong));
  EXPECT_EQ(Record(m).state, 0);
  osDestroyMutex(m);
}

TEST(RwMutex, ReleasingAFreeMutexSignalsIt) {
  void* m = nullptr;
  ASSERT_TRUE(osCreateMutex(nullptr, m));
  EXPECT_EQ(osWaitForEvents(1, &Record(m).released, 0), -1);
  osReleaseMutex(m);
  EXPECT_EQ(Record(m).state, 0);
  EXPECT_EQ(osWaitForEvents(1, &Record(m).released, 0), 0);
  osDestroyMutex(m);
}

TEST(RwMutex, NullHandlesAndFailuresOnTheWayIn) {
  void* none = nullptr;
  osAcquireMutexRead(none);
  osAcquireMutexWrite(none);
  osReleaseMutex(none);
  osDestroyMutex(none);
  EXPECT_EQ(none, nullptr);

  cKV_Error err;
  void* m = reinterpret_cast<void*>(1);
  {
    kvtest::ScopedFault noRecord("alloc", ENOMEM);
    EXPECT_FALSE(osCreateMutex(&err, m));
  }
  EXPECT_EQ(m, nullptr);
  EXPECT_TRUE(err.IsNotError()) << "a missing record is not reported";
  {
    kvtest::ScopedFault noLock("alloc", ENOMEM, 1);
    EXPECT_FALSE(osCreateMutex(&err, m));
  }
  EXPECT_EQ(err.GetCode(), 7);
  EXPECT_STREQ(err.GetUnit(), ".\\osmutex");
  cKV_String expected;
  expected.Format("Failed to allocate memory. Requested size:%d", static_cast<int>(sizeof(pthread_mutex_t)));
  EXPECT_STREQ(err.GetText(), expected);
  {
    kvtest::ScopedFault noEvent("alloc", ENOMEM, 2);
    EXPECT_FALSE(osCreateMutex(&err, m));
  }
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(err.GetCode(), 1);
  EXPECT_STREQ(err.GetUnit(), ".\\osevent");
}

// Eight threads, one in ten acquires a write (sometimes nested); the shared
// vector is plain data, so the thread sanitizer checks the exclusion too.
TEST(RwMutex, EightThreadsKeepTheInvariants) {
  void* m = nullptr;
  ASSERT_TRUE(osCreateMutex(nullptr, m));
  std::atomic<int> readers{0}, writers{0}, broken{0};
  std::vector<int> shared(16, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      std::mt19937 rng(static_cast<unsigned>(t));
      for (int i = 0; i < 4000; ++i) {
        if (rng() % 10 == 0) {
          osAcquireMutexWrite(m);
          if (writers.fetch_add(1) != 0 || readers.load() != 0) broken.fetch_add(1);
          bool nested = rng() % 4 == 0;
          if (nested) osAcquireMutexRead(m);
          for (auto& v : shared) ++v;
          if (nested) osReleaseMutex(m);
          writers.fetch_sub(1);
          osReleaseMutex(m);
        } else {
          osAcquireMutexRead(m);
          readers.fetch_add(1);
          if (writers.load() != 0) broken.fetch_add(1);
          for (auto v : shared)
            if (v != shared[0]) broken.fetch_add(1);
          readers.fetch_sub(1);
          osReleaseMutex(m);
        }
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(broken.load(), 0);
  EXPECT_EQ(Record(m).state, 0);
  osDestroyMutex(m);
}

}  // namespace
