// Events, critical sections and the reader/writer mutex on Windows, each
// against the host's own primitive doing the same work.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>
#include <vector>

#include "OS/osevent.h"
#include "OS/osmutex.h"

using namespace Korvane;

namespace {

// --- set-to-wake: a round trip between two threads

template <class Set, class Wait>
void PingPong(benchmark::State& state, HANDLE ping, HANDLE pong, Set set, Wait wait) {
  std::atomic<bool> stop{false};
  std::thread partner([&] {
    for (;;) {
      wait(ping);
      ResetEvent(ping);
      if (stop.load()) break;
      set(pong);
    }
  });
  for (auto _ : state) {
    set(ping);
    wait(pong);
    ResetEvent(pong);
  }
  stop.store(true);
  set(ping);
  partner.join();
}

void BM_EventPingPong(benchmark::State& state) {
  void* ping = nullptr;
  void* pong = nullptr;
  osCreateEvent(nullptr, false, ping);
  osCreateEvent(nullptr, false, pong);
  PingPong(state, static_cast<HANDLE>(ping), static_cast<HANDLE>(pong),
           [](HANDLE e) { void* v = e; osSetEvent(v); },
           [](HANDLE e) { void* v = e; osWaitForEvents(1, &v, 0xFFFFFFFF); });
  osDestroyEvent(ping);
  osDestroyEvent(pong);
}
BENCHMARK(BM_EventPingPong)->UseRealTime();

void BM_NativeEventPingPong(benchmark::State& state) {
  HANDLE ping = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE pong = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  PingPong(state, ping, pong, [](HANDLE e) { SetEvent(e); }, [](HANDLE e) { WaitForSingleObject(e, INFINITE); });
  CloseHandle(ping);
  CloseHandle(pong);
}
BENCHMARK(BM_NativeEventPingPong)->UseRealTime();

// --- wait-any, the signalled event last, nothing to sleep for

std::vector<void*> MakeEvents(int count) {
  std::vector<void*> events(static_cast<std::size_t>(count), nullptr);
  for (auto& e : events) osCreateEvent(nullptr, false, e);
  osSetEvent(events.back());
  return events;
}

void BM_EventWaitAnyReady(benchmark::State& state) {
  auto events = MakeEvents(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(osWaitForEvents(static_cast<int>(events.size()), events.data(), 0));
  for (auto& e : events) osDestroyEvent(e);
}
BENCHMARK(BM_EventWaitAnyReady)->Arg(16)->Arg(200);

// What a caller of the host alone writes: blocks of 64 in index order.
void BM_NativeWaitAnyReady(benchmark::State& state) {
  auto events = MakeEvents(static_cast<int>(state.range(0)));
  auto* handles = reinterpret_cast<HANDLE*>(events.data());
  int count = static_cast<int>(events.size());
  for (auto _ : state) {
    int hit = -1;
    for (int start = 0; start < count && hit < 0; start += MAXIMUM_WAIT_OBJECTS) {
      DWORD n = static_cast<DWORD>(count - start < MAXIMUM_WAIT_OBJECTS ? count - start : MAXIMUM_WAIT_OBJECTS);
      DWORD r = WaitForMultipleObjects(n, handles + start, FALSE, 0);
      if (r < WAIT_OBJECT_0 + n) hit = start + static_cast<int>(r);
    }
    benchmark::DoNotOptimize(hit);
  }
  for (auto& e : events) osDestroyEvent(e);
}
BENCHMARK(BM_NativeWaitAnyReady)->Arg(16)->Arg(200);

// A wait for 200 events that sleeps until another thread sets the last
// one. The host cannot wait for 200 at once; the baseline is the same
// wake-up through one native wait on that event alone, so the ratio is the
// whole price of waiting past 64.
template <class WaitFor>
void Woken(benchmark::State& state, WaitFor waitFor) {
  auto events = MakeEvents(200);
  osResetEvent(events.back());
  void* done = nullptr;
  osCreateEvent(nullptr, false, done);
  std::atomic<bool> stop{false};
  std::thread setter([&] {
    for (;;) {
      osWaitForEvents(1, &done, 0xFFFFFFFF);
      osResetEvent(done);
      if (stop.load()) break;
      Sleep(0);
      osSetEvent(events.back());
    }
  });
  for (auto _ : state) {
    osSetEvent(done);
    benchmark::DoNotOptimize(waitFor(events));
    osResetEvent(events.back());
  }
  stop.store(true);
  osSetEvent(done);
  setter.join();
  osDestroyEvent(done);
  for (auto& e : events) osDestroyEvent(e);
}
void BM_EventWaitAnyOf200Woken(benchmark::State& state) {
  Woken(state, [](std::vector<void*>& events) { return osWaitForEvents(200, events.data(), 0xFFFFFFFF); });
}
BENCHMARK(BM_EventWaitAnyOf200Woken)->UseRealTime();

void BM_NativeWaitForTheOneWoken(benchmark::State& state) {
  Woken(state, [](std::vector<void*>& events) { return WaitForSingleObject(events.back(), INFINITE); });
}
BENCHMARK(BM_NativeWaitForTheOneWoken)->UseRealTime();

// --- critical sections, uncontended

void BM_CriticalSection(benchmark::State& state) {
  void* cs = nullptr;
  osCreateCriticalSection(nullptr, cs);
  for (auto _ : state) {
    osEnterCriticalSection(cs);
    osLeaveCriticalSection(cs);
  }
  osDestroyCriticalSection(cs);
}
BENCHMARK(BM_CriticalSection);

void BM_NativeCriticalSection(benchmark::State& state) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  for (auto _ : state) {
    EnterCriticalSection(&cs);
    LeaveCriticalSection(&cs);
  }
  DeleteCriticalSection(&cs);
}
BENCHMARK(BM_NativeCriticalSection);

// --- the reader/writer mutex against the host's slim reader/writer lock

struct KvRw {
  KvRw() { osCreateMutex(nullptr, m); }
  ~KvRw() { osDestroyMutex(m); }
  void Read() { osAcquireMutexRead(m); }
  void Write() { osAcquireMutexWrite(m); }
  void ReleaseRead() { osReleaseMutex(m); }
  void ReleaseWrite() { osReleaseMutex(m); }
  void* m = nullptr;
};

struct SrwRw {
  void Read() { AcquireSRWLockShared(&l); }
  void Write() { AcquireSRWLockExclusive(&l); }
  void ReleaseRead() { ReleaseSRWLockShared(&l); }
  void ReleaseWrite() { ReleaseSRWLockExclusive(&l); }
  SRWLOCK l = SRWLOCK_INIT;
};

template <class Rw>
void BM_RwRead(benchmark::State& state) {
  Rw rw;
  for (auto _ : state) {
    rw.Read();
    rw.ReleaseRead();
  }
}
BENCHMARK_TEMPLATE(BM_RwRead, KvRw);
BENCHMARK_TEMPLATE(BM_RwRead, SrwRw);

template <class Rw>
void BM_RwWrite(benchmark::State& state) {
  Rw rw;
  for (auto _ : state) {
    rw.Write();
    rw.ReleaseWrite();
  }
}
BENCHMARK_TEMPLATE(BM_RwWrite, KvRw);
BENCHMARK_TEMPLATE(BM_RwWrite, SrwRw);

// Four threads, one acquire in eight for writing.
template <class Rw>
void BM_RwMixed(benchmark::State& state) {
  static Rw* rw = nullptr;
  if (state.thread_index() == 0) rw = new Rw;
  unsigned i = 0;
  for (auto _ : state) {
    if (++i % 8 == 0) {
      rw->Write();
      rw->ReleaseWrite();
    } else {
      rw->Read();
      rw->ReleaseRead();
    }
  }
  if (state.thread_index() == 0) {
    delete rw;
    rw = nullptr;
  }
}
BENCHMARK_TEMPLATE(BM_RwMixed, KvRw)->Threads(4)->UseRealTime();
BENCHMARK_TEMPLATE(BM_RwMixed, SrwRw)->Threads(4)->UseRealTime();

}  // namespace
