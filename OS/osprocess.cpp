#include "OS/osprocess.h"

#include <cstdint>
#include <cstring>
#include <mutex>

#include "OS/host/error.h"
#include "OS/host/memory.h"
#include "OS/host/process.h"
#include "OS/internal/report.h"

namespace Korvane {

namespace {

// The children that the library started: running ones until they end, and
// the last kKeepEnded ended ones.
struct Child {
  unsigned int pid;
  unsigned long long endedAt;  // 0 while running; else the order of ending
  int exitCode;                // once ended
};

constexpr std::size_t kKeepEnded = 256;
constexpr char kWatcherName[] = "kv_Os reaper";

// Guards the registry; held while a child is reaped or killed. Constant-
// initialised where the runtime allows (Linux), set up before any caller
// elsewhere.
std::mutex g_lock;
constinit Child* g_children = nullptr;
constinit std::size_t g_count = 0;
constinit std::size_t g_capacity = 0;
constinit std::size_t g_ended = 0;
constinit unsigned long long g_endings = 0;

Child* Find(unsigned int pid) {
  for (std::size_t i = 0; i < g_count; ++i)
    if (g_children[i].pid == pid) return &g_children[i];
  return nullptr;
}

void Remove(Child* c) {
  if (c->endedAt != 0) --g_ended;
  *c = g_children[--g_count];
}

bool Reserve() {
  if (g_count < g_capacity) return true;
  std::size_t capacity = g_capacity == 0 ? 16 : g_capacity * 2;
  void* block = host::Realloc(g_children, capacity * sizeof(Child));
  if (block == nullptr) return false;
  g_children = static_cast<Child*>(block);
  g_capacity = capacity;
  return true;
}

void Register(unsigned int pid) {
  // An entry with this id can only be of an ended child: the id was free.
  if (Child* old = Find(pid)) Remove(old);
  g_children[g_count++] = Child{pid, 0, 0};
}

void MarkEnded(unsigned int pid, int exitCode) {
  Child* c = Find(pid);
  if (c == nullptr || c->endedAt != 0) return;
  c->endedAt = ++g_endings;
  c->exitCode = exitCode;
  if (++g_ended <= kKeepEnded) return;
  Child* oldest = nullptr;
  for (std::size_t i = 0; i < g_count; ++i)
    if (g_children[i].endedAt != 0 && (oldest == nullptr || g_children[i].endedAt < oldest->endedAt))
      oldest = &g_children[i];
  Remove(oldest);
}

// Records the end before reaping, under the lock, so the id is still the
// child's while anyone can see it as running.
void* Watch(void* arg) {
  auto pid = static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(arg));
  host::NameCurrentThread(kWatcherName);
  int exitCode = -1;
  host::AwaitChildEnd(pid, exitCode);
  std::lock_guard<std::mutex> guard(g_lock);
  MarkEnded(pid, exitCode);
  host::ReapChild(pid);
  return nullptr;
}

// A forked child has none of its parent's children and none of its
// watchers; the registry lock is held across the fork so it is not copied
// in the middle of a change.
void BeforeFork() { g_lock.lock(); }
void AfterForkInParent() { g_lock.unlock(); }
void AfterForkInChild() {
  g_count = 0;
  g_ended = 0;
  g_lock.unlock();
}

unsigned int CreateFailed(cKV_Error* err, int code) {
  host::SetLastError(code);
  KV_REPORT(err, 5, ".\\osprocess", "Failed to create process: %s",
            static_cast<char const*>(osGetSysErrorStr(osGetSysError())));
  return 0;
}

// `program arguments`, or `program` alone when there are no arguments.
char* BuildCommandLine(char const* program, char const* arguments) {
  std::size_t programLength = std::strlen(program);
  std::size_t argumentsLength = arguments != nullptr ? std::strlen(arguments) : 0;
  char* line = host::NewChars(programLength + 1 + argumentsLength + 1);
  if (line == nullptr) return nullptr;
  std::memcpy(line, program, programLength);
  line[programLength] = '\0';
  if (argumentsLength > 0) {
    line[programLength] = ' ';
    std::memcpy(line + programLength + 1, arguments, argumentsLength + 1);
  }
  return line;
}

int ErrorOf(host::ErrorKind kind) { return host::ErrorNumber(kind); }

}  // namespace

unsigned int osCreateProcess(cKV_Error* err, char const* program, char const* arguments, char const*, char const*,
                             char const* desktop) {
  if (program == nullptr || *program == '\0') return CreateFailed(err, ErrorOf(host::ErrorKind::kInvalidArgument));
  static bool const forkAware = (host::AtFork(BeforeFork, AfterForkInParent, AfterForkInChild), true);
  (void)forkAware;
  char* line = BuildCommandLine(program, arguments);
  if (line == nullptr) return CreateFailed(err, ErrorOf(host::ErrorKind::kNoMemory));

  unsigned int pid = 0;
  int rc = 0;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!Reserve())
      rc = ErrorOf(host::ErrorKind::kNoMemory);
    else if ((rc = host::Spawn(line, desktop != nullptr ? desktop : "", pid)) == 0)
      Register(pid);
  }
  host::DeleteChars(line);
  if (rc != 0) return CreateFailed(err, rc);

  static bool const pinned = (host::KeepLoaded(), true);
  (void)pinned;
  if ((rc = host::StartDetachedThread(Watch, reinterpret_cast<void*>(static_cast<std::uintptr_t>(pid)))) != 0) {
    // Without a watcher the child would become a zombie: take it back.
    std::lock_guard<std::mutex> guard(g_lock);
    bool opened = false;
    int ignored;
    host::KillProcess(pid, 1, opened);
    host::AwaitChildEnd(pid, ignored);
    host::ReapChild(pid);
    if (Child* c = Find(pid)) Remove(c);
    return CreateFailed(err, rc);
  }
  return pid;
}

unsigned int osGetCurrentProcessId() { return host::ProcessId(); }

void osCloseProcessHandle(unsigned int& pid) {
  {
    std::lock_guard<std::mutex> guard(g_lock);
    Child* c = Find(pid);
    if (c != nullptr && c->endedAt != 0) Remove(c);
  }
  pid = 0;
}

bool osKillProcess(cKV_Error* err, unsigned int& pid, unsigned int exitCode) {
  if (pid == 0) return KV_REPORT(err, 5, ".\\osprocess", "Invalid process id");
  int rc = 0;
  bool opened = false;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    Child* c = Find(pid);
    if (c != nullptr && (c->endedAt != 0 || host::ChildEnded(pid)))
      rc = ErrorOf(host::ErrorKind::kNoSuchProcess);  // ours, and ended: never kill whoever has the id next
    else
      rc = host::KillProcess(pid, exitCode, opened);
  }
  if (rc == 0) return true;
  host::SetLastError(rc);
  cKV_String why = osGetSysErrorStr(osGetSysError());
  if (!opened)
    return KV_REPORT(err, 5, ".\\osprocess", "Failed to open process %d. %s", static_cast<int>(pid),
                     static_cast<char const*>(why));
  return KV_REPORT(err, 5, ".\\osprocess", "Failed to kill process %d. %s", static_cast<int>(pid),
                   static_cast<char const*>(why));
}

bool osIsProcessExist(unsigned int& pid) {
  if (pid == 0) return false;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (Child* c = Find(pid)) return c->endedAt == 0 && !host::ChildEnded(pid);
  }
  return host::ProbeProcess(pid) == host::ProcessState::Running;
}

bool osGetProcessExitCode(unsigned int pid, int& code) {
  if (pid == 0) return false;
  std::lock_guard<std::mutex> guard(g_lock);
  Child const* c = Find(pid);
  if (c == nullptr) return false;
  if (c->endedAt != 0) {
    code = c->exitCode;
    return true;
  }
  // Ended but not yet recorded: its watcher reaps only under the lock, so
  // the status can still be read.
  if (!host::ChildEnded(pid)) return false;
  return host::AwaitChildEnd(pid, code);
}

void osSetSilentErrorMode() { host::SilenceErrorDialogs(); }

bool osGetCurrentProcessUser(cKV_String& user) {
  char local[1024];
  char* buf = local;
  std::size_t cap = sizeof local;
  int rc;
  while ((rc = host::EffectiveUserName(buf, cap)) == ErrorOf(host::ErrorKind::kTooSmall) &&
         cap < (std::size_t{1} << 20)) {
    if (buf != local) host::DeleteChars(buf);
    cap *= 4;
    if ((buf = host::NewChars(cap)) == nullptr) return false;
  }
  bool ok = rc == 0;
  if (ok) {
    user = buf;
    ok = user.Cmp(buf);
  }
  if (buf != local) host::DeleteChars(buf);
  return ok;
}

bool osGetEnv(char const* name, cKV_String& value) {
  if (name == nullptr || std::strchr(name, '=') != nullptr) return false;
  char const* found = host::GetEnv(name);
  if (found == nullptr) return false;
  value = found;
  return std::strcmp(value, found) == 0;
}

bool osSetEnv(char const* name, char const* value) {
  if (name == nullptr || *name == '\0' || std::strchr(name, '=') != nullptr) return false;
  return host::SetEnv(name, value);
}

cKV_String osGetTemp() {
  char local[512];
  std::size_t length = host::TempDirectory(local, sizeof local);
  if (length < sizeof local) return cKV_String(local);
  cKV_String result;
  char* block = host::NewChars(length + 1);
  if (block != nullptr && host::TempDirectory(block, length + 1) == length) result = block;
  host::DeleteChars(block);
  return result;
}

}  // namespace Korvane
