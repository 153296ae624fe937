#include "OS/osmutex.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <future>
#include <random>
#include <thread>
#include <vector>

#include "OS/host/sync.h"
#include "OS/internal/events.h"
#include "OS/internal/rwmutex.h"
#include "OS/osevent.h"
#include "support/testing.h"

using namespace Korvane;

namespace {

using std::chrono::milliseconds;
constexpr milliseconds kShort{30};     // long enough for a wrongly admitted thread to get in
constexpr milliseconds kLong{30000};  // only a lost wake-up lets this run out

// Threads run through std::async: the future joins its thread when it goes.
bool Finished(std::future<void>& f, milliseconds within) { return f.wait_for(within) == std::future_status::ready; }

void ExpectAllocationReport(cKV_Error const& err) {
  EXPECT_EQ(err.GetCode(), 7);
  EXPECT_STREQ(err.GetUnit(), ".\\osmutex");
  EXPECT_EQ(std::string(err.GetText()), "Failed to allocate memory. Requested size:" + std::to_string(host::LockSize()));
}

TEST(CriticalSection, IsRecursiveExcludesOtherThreadsAndFailsCleanly) {
  void* cs = nullptr;
  ASSERT_TRUE(osCreateCriticalSection(nullptr, cs));
  osEnterCriticalSection(cs);
  osEnterCriticalSection(cs);  // the owner enters again without blocking
  auto other = std::async(std::launch::async, [&cs] { osEnterCriticalSection(cs), osLeaveCriticalSection(cs); });
  // A thread that does not hold it cannot leave it for the owner.
  std::async(std::launch::async, [&cs] { osLeaveCriticalSection(cs); }).wait();
  osLeaveCriticalSection(cs);
  EXPECT_FALSE(Finished(other, kShort)) << "entered while the owner still held one level";
  osLeaveCriticalSection(cs);
  EXPECT_TRUE(Finished(other, kLong));
  osDestroyCriticalSection(cs);
  osEnterCriticalSection(cs);  // a null handle is ignored
  osDestroyCriticalSection(cs);
  kvtest::ScopedFault noMemory("alloc", ENOMEM);
  cKV_Error err;
  cs = reinterpret_cast<void*>(1);
  EXPECT_TRUE(!osCreateCriticalSection(&err, cs) && cs == nullptr);
  ExpectAllocationReport(err);
}

// Threads that find it taken spin, then sleep; every leave that ends a
// hold they wait for must let one in, or a thread sleeps for ever.
TEST(CriticalSection, ContendedEntriesExcludeEachOtherAndNoSleeperIsLost) {
  void* cs = nullptr;
  ASSERT_TRUE(osCreateCriticalSection(nullptr, cs));
  long counter = 0;  // plain data: the thread sanitizer checks the exclusion too
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20000; ++i) {
        osEnterCriticalSection(cs);
        bool nested = (i + t) % 7 == 0;
        if (nested) osEnterCriticalSection(cs);
        long seen = counter;
        if (i % 500 == 0) std::this_thread::yield();  // a holder that loses its processor
        counter = seen + 1;
        if (nested) osLeaveCriticalSection(cs);
        osLeaveCriticalSection(cs);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 6 * 20000);
  osDestroyCriticalSection(cs);
}

// --- the reader/writer mutex

internal::RwMutex& Record(void* m) { return *static_cast<internal::RwMutex*>(m); }

// Blocks until some thread waits for the mutex to become free; where the
// host does not tell who waits for an event, gives the thread a moment.
void UntilSomeoneWaits(void* m, int waiters = 1) {
  if (internal::EventWaiters(Record(m).released) < 0) return std::this_thread::sleep_for(milliseconds(100));
  while (internal::EventWaiters(Record(m).released) < waiters) std::this_thread::yield();
}

// Readers share and are admitted while a writer waits; the writer takes the
// mutex again for writing and reading and keeps readers out until its last
// release.
TEST(RwMutex, ReadersShareAndTheWriterReenters) {
  void* m = nullptr;
  ASSERT_TRUE(osCreateMutex(nullptr, m));
  osAcquireMutexRead(m);
  auto second = std::async(std::launch::async, [m] { osAcquireMutexRead(m); });
  EXPECT_TRUE(Finished(second, kLong));
  auto writer = std::async(std::launch::async, [m] { osAcquireMutexWrite(m), osReleaseMutex(m); });
  UntilSomeoneWaits(m);
  auto third = std::async(std::launch::async, [m] { osAcquireMutexRead(m); });
  EXPECT_TRUE(Finished(third, kLong)) << "a waiting writer held a reader back";
  osReleaseMutex(m);
  osReleaseMutex(m);
  EXPECT_FALSE(Finished(writer, kShort));
  osReleaseMutex(m);
  EXPECT_TRUE(Finished(writer, kLong));

  osAcquireMutexWrite(m);
  osAcquireMutexRead(m);
  osAcquireMutexWrite(m);
  auto reader = std::async(std::launch::async, [m] { osAcquireMutexRead(m), osReleaseMutex(m); });
  UntilSomeoneWaits(m);
  osReleaseMutex(m);
  osReleaseMutex(m);
  EXPECT_FALSE(Finished(reader, kShort)) << "a reader got in while a write level was still held";
  osReleaseMutex(m);
  EXPECT_TRUE(Finished(reader, kLong));
  EXPECT_EQ(Record(m).state, 0);
  osDestroyMutex(m);
}

// The release that frees the mutex wakes every waiting thread at once, not
// at their next look after the 10 s re-check interval.
TEST(RwMutex, TheReleaseToFreeWakesEveryWaiter) {
  void* m = nullptr;
  ASSERT_TRUE(osCreateMutex(nullptr, m));
  for (int round = 0; round < 3; ++round) {
    osAcquireMutexWrite(m);
    std::vector<std::future<void>> waiting;
    for (int i = 0; i < 4; ++i)
      waiting.push_back(std::async(std::launch::async, [m, i] {
        i == 0 ? osAcquireMutexWrite(m) : osAcquireMutexRead(m);
        osReleaseMutex(m);
      }));
    UntilSomeoneWaits(m, 4);
    osReleaseMutex(m);
    for (auto& w : waiting) EXPECT_TRUE(Finished(w, std::chrono::seconds(5))) << "round " << round;
  }
  EXPECT_EQ(Record(m).state, 0);
  osDestroyMutex(m);
}

TEST(RwMutex, NullHandlesStrayReleasesAndFailuresOnTheWayIn) {
  void* m = nullptr;
  osAcquireMutexWrite(m);  // null handles are ignored
  osReleaseMutex(m);

  // A stray release of a free mutex changes nothing.
  ASSERT_TRUE(osCreateMutex(nullptr, m));
  osReleaseMutex(m);
  EXPECT_EQ(Record(m).state, 0);
  // The event matters only to those who wait: an uncontended hold leaves it
  // alone, and a thread that starts to wait resets it even where the last
  // release left it set, so that it sleeps instead of spinning.
  osAcquireMutexWrite(m);
  auto first = std::async(std::launch::async, [m] { osAcquireMutexRead(m), osReleaseMutex(m); });
  UntilSomeoneWaits(m);
  EXPECT_EQ(osWaitForEvents(1, &Record(m).released, 0), -1);
  osReleaseMutex(m);
  ASSERT_TRUE(Finished(first, kLong));
  EXPECT_TRUE(Record(m).state == 0 && Record(m).waiting == 0);
  for (auto acquire : {osAcquireMutexRead, osAcquireMutexWrite}) {
    acquire(m);
    auto blocked = std::async(std::launch::async, [m] { osAcquireMutexWrite(m), osReleaseMutex(m); });
    UntilSomeoneWaits(m);
    EXPECT_EQ(osWaitForEvents(1, &Record(m).released, 0), -1) << "a waiter found the event still set";
    osReleaseMutex(m);
    EXPECT_TRUE(Finished(blocked, kLong));
  }
  EXPECT_TRUE(Record(m).state == 0 && Record(m).waiting == 0);
  osDestroyMutex(m);

  // Allocation refused for the record, then its lock, then its event.
  cKV_Error err;
  auto createRefused = [&](unsigned skip) {
    kvtest::ScopedFault noMemory("alloc", ENOMEM, skip);
    err.Reset();
    m = reinterpret_cast<void*>(1);
    EXPECT_TRUE(!osCreateMutex(&err, m) && m == nullptr);
  };
  createRefused(0);
  EXPECT_TRUE(err.IsNotError()) << "a missing record is not reported";
  createRefused(1);
  ExpectAllocationReport(err);
  createRefused(2);
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
          for (auto v : shared) broken.fetch_add(v != shared[0]);
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
