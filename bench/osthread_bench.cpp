// The reader/writer mutex, events, threads and processes against the host's
// and the standard library's own means.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "OS/osevent.h"
#include "OS/osmutex.h"
#include "OS/osprocess.h"
#include "OS/osthread.h"

extern char** environ;

using namespace Korvane;

namespace {

// --- reader/writer mutex: one interface over the three kinds

struct KvRw {
  KvRw() { osCreateMutex(nullptr, m); }
  ~KvRw() { osDestroyMutex(m); }
  void Read() { osAcquireMutexRead(m); }
  void Write() { osAcquireMutexWrite(m); }
  void ReleaseRead() { osReleaseMutex(m); }
  void ReleaseWrite() { osReleaseMutex(m); }
  void* m = nullptr;
};

struct PthreadRw {
  PthreadRw() { pthread_rwlock_init(&m, nullptr); }
  ~PthreadRw() { pthread_rwlock_destroy(&m); }
  void Read() { pthread_rwlock_rdlock(&m); }
  void Write() { pthread_rwlock_wrlock(&m); }
  void ReleaseRead() { pthread_rwlock_unlock(&m); }
  void ReleaseWrite() { pthread_rwlock_unlock(&m); }
  pthread_rwlock_t m;
};

struct StdRw {
  void Read() { m.lock_shared(); }
  void Write() { m.lock(); }
  void ReleaseRead() { m.unlock_shared(); }
  void ReleaseWrite() { m.unlock(); }
  std::shared_mutex m;
};

// A second thread that exists but stays out of the way. The C library takes
// cheaper paths while a process has only ever had one thread, which a
// program that shares a lock never is; so every uncontended case runs with
// one present, whichever case happens to run first.
class ParkedThread {
 public:
  ParkedThread() : _thread([this] { _release.get_future().wait(); }) {}
  ~ParkedThread() {
    _release.set_value();
    _thread.join();
  }

 private:
  std::promise<void> _release;
  std::thread _thread;
};

template <class Rw>
void BM_RwRead(benchmark::State& state) {
  ParkedThread other;
  Rw rw;
  for (auto _ : state) {
    rw.Read();
    rw.ReleaseRead();
  }
}

template <class Rw>
void BM_RwWrite(benchmark::State& state) {
  ParkedThread other;
  Rw rw;
  for (auto _ : state) {
    rw.Write();
    rw.ReleaseWrite();
  }
}

// Four threads on one lock, one acquire in ten a write, with a little work
// under the lock.
template <class Rw>
void BM_RwMixed(benchmark::State& state) {
  static Rw* rw;
  static long shared[8];
  if (state.thread_index() == 0) rw = new Rw;
  // Google Benchmark starts the timed loops of all threads together.
  unsigned i = static_cast<unsigned>(state.thread_index());
  for (auto _ : state) {
    if (++i % 10 == 0) {
      rw->Write();
      for (auto& v : shared) ++v;
      rw->ReleaseWrite();
    } else {
      rw->Read();
      long sum = 0;
      for (auto v : shared) sum += v;
      benchmark::DoNotOptimize(sum);
      rw->ReleaseRead();
    }
  }
  if (state.thread_index() == 0) {
    delete rw;
    rw = nullptr;
  }
}

BENCHMARK_TEMPLATE(BM_RwRead, KvRw);
BENCHMARK_TEMPLATE(BM_RwRead, PthreadRw);
BENCHMARK_TEMPLATE(BM_RwRead, StdRw);
BENCHMARK_TEMPLATE(BM_RwWrite, KvRw);
BENCHMARK_TEMPLATE(BM_RwWrite, PthreadRw);
BENCHMARK_TEMPLATE(BM_RwWrite, StdRw);
BENCHMARK_TEMPLATE(BM_RwMixed, KvRw)->Threads(4)->UseRealTime();
BENCHMARK_TEMPLATE(BM_RwMixed, PthreadRw)->Threads(4)->UseRealTime();
BENCHMARK_TEMPLATE(BM_RwMixed, StdRw)->Threads(4)->UseRealTime();

// --- set-to-wake: a round trip between two threads

void BM_EventPingPong(benchmark::State& state) {
  void* ping = nullptr;
  void* pong = nullptr;
  osCreateEvent(nullptr, false, ping);
  osCreateEvent(nullptr, false, pong);
  std::atomic<bool> stop{false};
  std::thread partner([&] {
    for (;;) {
      osWaitForEvents(1, &ping, 0xFFFFFFFF);
      osResetEvent(ping);
      if (stop.load()) break;
      osSetEvent(pong);
    }
  });
  for (auto _ : state) {
    osSetEvent(ping);
    osWaitForEvents(1, &pong, 0xFFFFFFFF);
    osResetEvent(pong);
  }
  stop.store(true);
  osSetEvent(ping);
  partner.join();
  osDestroyEvent(ping);
  osDestroyEvent(pong);
}
BENCHMARK(BM_EventPingPong)->UseRealTime();

void BM_CondVarPingPong(benchmark::State& state) {
  std::mutex m;
  std::condition_variable cv;
  int turn = 0;  // 1: partner's, 2: main's, 3: stop
  std::thread partner([&] {
    std::unique_lock<std::mutex> lock(m);
    for (;;) {
      cv.wait(lock, [&] { return turn == 1 || turn == 3; });
      if (turn == 3) break;
      turn = 2;
      cv.notify_all();
    }
  });
  for (auto _ : state) {
    std::unique_lock<std::mutex> lock(m);
    turn = 1;
    cv.notify_all();
    cv.wait(lock, [&] { return turn == 2; });
  }
  {
    std::lock_guard<std::mutex> lock(m);
    turn = 3;
  }
  cv.notify_all();
  partner.join();
}
BENCHMARK(BM_CondVarPingPong)->UseRealTime();

// Waiting on one of 16 events, the signalled one last.
void BM_EventWaitAnyOf16Ready(benchmark::State& state) {
  void* events[16];
  for (auto& e : events) osCreateEvent(nullptr, false, e);
  osSetEvent(events[15]);
  for (auto _ : state) benchmark::DoNotOptimize(osWaitForEvents(16, events, 0));
  for (auto& e : events) osDestroyEvent(e);
}
BENCHMARK(BM_EventWaitAnyOf16Ready);

// --- threads

unsigned int Nothing(void*) { return 0; }

void BM_ThreadCreateClose(benchmark::State& state) {
  for (auto _ : state) {
    void* t = osCreateThread(nullptr, Nothing, nullptr, nullptr);
    osCloseThread(t);
  }
}
BENCHMARK(BM_ThreadCreateClose)->UseRealTime();

void BM_StdThreadCreateJoin(benchmark::State& state) {
  for (auto _ : state) {
    std::thread t([] { benchmark::DoNotOptimize(Nothing(nullptr)); });
    t.join();
  }
}
BENCHMARK(BM_StdThreadCreateJoin)->UseRealTime();

void BM_GetCurrentThreadId(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(osGetCurrentThreadId());
}
BENCHMARK(BM_GetCurrentThreadId);

// --- processes: start /bin/true and see it end and be reaped

void BM_CreateProcessTrue(benchmark::State& state) {
  for (auto _ : state) {
    unsigned int pid = osCreateProcess(nullptr, "/bin/true", nullptr, nullptr, nullptr, nullptr);
    if (pid == 0) {
      state.SkipWithError("osCreateProcess failed");
      break;
    }
    // The library's watcher reaps: wait for the end, then until the child
    // is gone, so that this side does what waitpid does on the other.
    siginfo_t info;
    waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT | WNOHANG) == 0) sched_yield();
    osCloseProcessHandle(pid);
  }
}
BENCHMARK(BM_CreateProcessTrue)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_PosixSpawnTrue(benchmark::State& state) {
  char arg0[] = "/bin/true";
  char* argv[] = {arg0, nullptr};
  for (auto _ : state) {
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
      state.SkipWithError("posix_spawn failed");
      break;
    }
    waitpid(pid, nullptr, 0);
  }
}
BENCHMARK(BM_PosixSpawnTrue)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
