#include <windows.h>

#include <process.h>

#include <new>

#include "OS/host/fault.h"
#include "OS/host/thread.h"

namespace Korvane::host {

namespace {

struct Start {
  void* (*entry)(void*);
  void* arg;
};

unsigned __stdcall Trampoline(void* raw) {
  Start start = *static_cast<Start*>(raw);
  delete static_cast<Start*>(raw);
  // The function's result becomes the thread's exit code.
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(start.entry(start.arg)));
}

}  // namespace

void SleepMs(unsigned int ms) noexcept { ::Sleep(ms); }

int ThreadCreate(void* (*entry)(void*), void* arg, void*& handle) noexcept {
  handle = nullptr;
  if (int e = Fault("thread.create")) {
    ::SetLastError(static_cast<DWORD>(e));
    return e;
  }
  auto* start = new (std::nothrow) Start{entry, arg};
  if (start == nullptr) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  // _beginthreadex: the C runtime's per-thread state is set up and freed.
  uintptr_t h = ::_beginthreadex(nullptr, 0, Trampoline, start, 0, nullptr);
  if (h == 0) {
    DWORD error = ::GetLastError();
    delete start;
    if (error == 0) error = ERROR_NOT_ENOUGH_MEMORY;
    ::SetLastError(error);
    return static_cast<int>(error);
  }
  handle = reinterpret_cast<void*>(h);
  return 0;
}

void ThreadJoin(void* handle) noexcept {
  HANDLE h = static_cast<HANDLE>(handle);
  // On the thread itself: it cannot wait for its own end; closing the
  // handle lets the thread go when it ends.
  if (::GetThreadId(h) != ::GetCurrentThreadId()) ::WaitForSingleObject(h, INFINITE);
  ::CloseHandle(h);
}

unsigned int CurrentThreadId() noexcept { return ::GetCurrentThreadId(); }

// The host's own levels, used as they are; idle and time-critical, which
// other code may set, pass through.
bool GetPriority(int& level) noexcept {
  if (int e = Fault("thread.getpriority")) {
    ::SetLastError(static_cast<DWORD>(e));
    return false;
  }
  int priority = ::GetThreadPriority(::GetCurrentThread());
  if (priority == THREAD_PRIORITY_ERROR_RETURN) return false;
  level = priority;
  return true;
}

bool SetPriority(int level) noexcept {
  if (int e = Fault("thread.setpriority")) {
    ::SetLastError(static_cast<DWORD>(e));
    return false;
  }
  return ::SetThreadPriority(::GetCurrentThread(), level) != 0;
}

// The host delivers no asynchronous signals to threads.
void BlockAsyncSignals() noexcept {}

}  // namespace Korvane::host
