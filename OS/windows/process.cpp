// Processes, the user, the environment and the temporary directory on
// Windows.
//
// A child that the library started keeps its process handle here until its
// watcher has read how it ended: while a handle is open the host does not
// give the child's id to another process, so a kill through it can only
// reach that child, as on Linux while the child is not reaped.
#include <windows.h>

#include <process.h>
#include <stdlib.h>

#include <cstring>
#include <cwchar>
#include <new>

#include "OS/host/fault.h"
#include "OS/host/memory.h"
#include "OS/host/process.h"
#include "OS/windows/wide.h"

namespace Korvane::host {

namespace {

struct ChildHandle {
  unsigned int pid;
  HANDLE process;
};

constinit SRWLOCK g_childLock = SRWLOCK_INIT;
constinit ChildHandle* g_handles = nullptr;
constinit std::size_t g_handleCount = 0;
constinit std::size_t g_handleCapacity = 0;

HANDLE FindChild(unsigned int pid) {
  HANDLE found = nullptr;
  ::AcquireSRWLockShared(&g_childLock);
  for (std::size_t i = 0; i < g_handleCount; ++i)
    if (g_handles[i].pid == pid) found = g_handles[i].process;
  ::ReleaseSRWLockShared(&g_childLock);
  return found;
}

bool AddChild(unsigned int pid, HANDLE process) {
  ::AcquireSRWLockExclusive(&g_childLock);
  bool added = true;
  if (g_handleCount == g_handleCapacity) {
    std::size_t capacity = g_handleCapacity == 0 ? 16 : g_handleCapacity * 2;
    void* block = Realloc(g_handles, capacity * sizeof(ChildHandle));
    if (block == nullptr) {
      added = false;
    } else {
      g_handles = static_cast<ChildHandle*>(block);
      g_handleCapacity = capacity;
    }
  }
  if (added) g_handles[g_handleCount++] = ChildHandle{pid, process};
  ::ReleaseSRWLockExclusive(&g_childLock);
  return added;
}

int Fail(DWORD error) {
  if (error == 0) error = ERROR_INVALID_FUNCTION;
  ::SetLastError(error);
  return static_cast<int>(error);
}

int FaultOr(char const* point) {
  int e = Fault(point);
  if (e != 0) ::SetLastError(static_cast<DWORD>(e));
  return e;
}

}  // namespace

int Spawn(char const* commandLine, char const* desktop, unsigned int& pid) noexcept {
  pid = 0;
  if (int e = FaultOr("proc.spawn")) return e;
  win::Wide line(commandLine);
  win::Wide desk(desktop);
  if (!line.Ok() || !desk.Ok()) return Fail(::GetLastError());
  // The host may write into the command line: it gets a copy of its own.
  std::size_t length = line.Length();
  auto* text = static_cast<wchar_t*>(Malloc((length + 1) * sizeof(wchar_t)));
  if (text == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  std::memcpy(text, line.Get(), (length + 1) * sizeof(wchar_t));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  if (desk.Length() > 0) startup.lpDesktop = const_cast<wchar_t*>(desk.Get());
  PROCESS_INFORMATION info{};
  // No application name: the host takes the program from the line's first
  // word and searches for it. No handle is inherited.
  BOOL started = ::CreateProcessW(nullptr, text, nullptr, nullptr, FALSE, DETACHED_PROCESS | NORMAL_PRIORITY_CLASS,
                                  nullptr, nullptr, &startup, &info);
  DWORD error = ::GetLastError();
  Free(text);
  if (!started) return Fail(error);
  ::CloseHandle(info.hThread);
  if (!AddChild(info.dwProcessId, info.hProcess)) {
    // Without its handle the child could not be watched: take it back.
    ::TerminateProcess(info.hProcess, 1);
    ::WaitForSingleObject(info.hProcess, INFINITE);
    ::CloseHandle(info.hProcess);
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  pid = info.dwProcessId;
  return 0;
}

bool AwaitChildEnd(unsigned int pid, int& status) noexcept {
  HANDLE process = FindChild(pid);
  if (process == nullptr || ::WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return false;
  status = static_cast<int>(code);
  return true;
}

bool ChildEnded(unsigned int pid) noexcept {
  HANDLE process = FindChild(pid);
  return process == nullptr || ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

void ReapChild(unsigned int pid) noexcept {
  HANDLE process = nullptr;
  ::AcquireSRWLockExclusive(&g_childLock);
  for (std::size_t i = 0; i < g_handleCount; ++i) {
    if (g_handles[i].pid == pid) {
      process = g_handles[i].process;
      g_handles[i] = g_handles[--g_handleCount];
      break;
    }
  }
  ::ReleaseSRWLockExclusive(&g_childLock);
  if (process != nullptr) ::CloseHandle(process);
}

namespace {

struct Detached {
  void* (*entry)(void*);
  void* arg;
};

unsigned __stdcall RunDetached(void* raw) {
  Detached start = *static_cast<Detached*>(raw);
  delete static_cast<Detached*>(raw);
  start.entry(start.arg);
  return 0;
}

}  // namespace

int StartDetachedThread(void* (*entry)(void*), void* arg) noexcept {
  if (int e = FaultOr("proc.watch")) return e;
  auto* start = new (std::nothrow) Detached{entry, arg};
  if (start == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  // A watcher only waits: a small stack reserved for it.
  uintptr_t thread =
      ::_beginthreadex(nullptr, 64 * 1024, RunDetached, start, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == 0) {
    DWORD error = ::GetLastError();
    delete start;
    return Fail(error != 0 ? error : ERROR_NOT_ENOUGH_MEMORY);
  }
  ::CloseHandle(reinterpret_cast<HANDLE>(thread));
  return 0;
}

void NameCurrentThread(char const* name) noexcept {
  // Only hosts from Windows 10 on name threads.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  auto set = reinterpret_cast<SetDescription>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  win::Wide text(name);
  if (set != nullptr && text.Ok()) set(::GetCurrentThread(), text.Get());
}

void KeepLoaded() noexcept {
  HMODULE self;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&KeepLoaded), &self);
}

// The host does not fork.
void AtFork(void (*)(), void (*)(), void (*)()) noexcept {}

unsigned int ProcessId() noexcept { return ::GetCurrentProcessId(); }

ProcessState ProbeProcess(unsigned int pid) noexcept {
  DWORD saved = ::GetLastError();
  ProcessState state = ProcessState::Gone;
  HANDLE process = Fault("proc.status") != 0 ? nullptr : ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process != nullptr) {
    DWORD code = 0;
    // A process that ended with STILL_ACTIVE itself looks as if it ran on.
    if (::GetExitCodeProcess(process, &code)) state = code == STILL_ACTIVE ? ProcessState::Running : ProcessState::Ended;
    ::CloseHandle(process);
  } else if (::GetLastError() == ERROR_ACCESS_DENIED) {
    state = ProcessState::Running;  // another user's
  }
  ::SetLastError(saved);
  return state;
}

int KillProcess(unsigned int pid, unsigned int exitCode, bool& opened) noexcept {
  opened = false;
  if (int e = FaultOr("proc.open")) return e;
  HANDLE own = FindChild(pid);
  HANDLE process = own != nullptr ? own : ::OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (process == nullptr) return Fail(::GetLastError());
  opened = true;
  int e = FaultOr("proc.kill");
  if (e == 0 && !::TerminateProcess(process, exitCode)) e = Fail(::GetLastError());
  DWORD error = ::GetLastError();
  if (process != own) ::CloseHandle(process);
  ::SetLastError(error);
  return e;
}

void SilenceErrorDialogs() noexcept {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

int EffectiveUserName(char* buf, std::size_t cap) noexcept {
  if (int e = FaultOr("proc.user")) return e;
  wchar_t local[257];
  wchar_t* name = local;
  DWORD size = sizeof local / sizeof local[0];
  if (!::GetUserNameW(name, &size)) {
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return Fail(::GetLastError());
    name = static_cast<wchar_t*>(Malloc(size * sizeof(wchar_t)));
    if (name == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    if (!::GetUserNameW(name, &size)) {
      DWORD error = ::GetLastError();
      Free(name);
      return Fail(error);
    }
  }
  int rc = win::ToUtf8(name, buf, cap) ? 0 : Fail(ERROR_INSUFFICIENT_BUFFER);
  if (name != local) Free(name);
  return rc;
}

namespace {

// The runtime's copy of the environment, as UTF-8, one text per thread:
// the caller copies it before it asks again.
struct ValueText {
  char* text = nullptr;
  std::size_t cap = 0;
  ~ValueText() { DeleteChars(text); }
};
thread_local ValueText t_value;

}  // namespace

char const* GetEnv(char const* name) noexcept {
  win::Wide wide(name);
  wchar_t const* value = wide.Ok() ? ::_wgetenv(wide.Get()) : nullptr;
  if (value == nullptr) return nullptr;
  int bytes = ::WideCharToMultiByte(CP_UTF8, 0, value, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return nullptr;
  ValueText& out = t_value;
  if (static_cast<std::size_t>(bytes) > out.cap) {
    char* block = NewChars(static_cast<std::size_t>(bytes));
    if (block == nullptr) return nullptr;
    DeleteChars(out.text);
    out.text = block;
    out.cap = static_cast<std::size_t>(bytes);
  }
  ::WideCharToMultiByte(CP_UTF8, 0, value, -1, out.text, bytes, nullptr, nullptr);
  return out.text;
}

bool SetEnv(char const* name, char const* value) noexcept {
  // The runtime's _wputenv changes its own copy and the host's, which
  // programs started later inherit; an empty value removes the variable.
  win::Wide wideName(name);
  win::Wide wideValue(value != nullptr ? value : "");
  if (!wideName.Ok() || !wideValue.Ok()) return false;
  std::size_t length = wideName.Length() + 1 + wideValue.Length();
  auto* text = static_cast<wchar_t*>(Malloc((length + 1) * sizeof(wchar_t)));
  if (text == nullptr) return false;
  std::wmemcpy(text, wideName.Get(), wideName.Length());
  text[wideName.Length()] = L'=';
  std::wmemcpy(text + wideName.Length() + 1, wideValue.Get(), wideValue.Length() + 1);
  bool set = ::_wputenv(text) == 0;
  Free(text);
  return set;
}

std::size_t TempDirectory(char* buf, std::size_t cap) noexcept {
  wchar_t local[MAX_PATH + 1];
  DWORD length = ::GetTempPathW(MAX_PATH + 1, local);
  char utf8[3 * (MAX_PATH + 1)];
  char const* text = "C:\\";
  if (length > 0 && length <= MAX_PATH && win::ToUtf8(local, utf8, sizeof utf8)) text = utf8;
  std::size_t size = std::strlen(text);
  if (size < cap) std::memcpy(buf, text, size + 1);
  return size;
}

}  // namespace Korvane::host
