#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "OS/host/fault.h"
#include "OS/host/memory.h"
#include "OS/host/process.h"
#include "OS/internal/cmdline.h"

extern char** environ;

namespace Korvane::host {

namespace {

constexpr std::size_t kWatcherStack = 128 * 1024;

bool ValidPid(unsigned int pid) { return pid != 0 && pid <= static_cast<unsigned int>(INT_MAX); }

// From /proc/PID/status: the thread group id tells processes from threads
// of other processes, which share the id space.
struct StatusInfo {
  long tgid = -1;
  char state = '?';
};

bool ReadStatus(unsigned int pid, StatusInfo& info) {
  if (int e = Fault("proc.status")) {
    errno = e;
    return false;
  }
  char path[48];
  std::snprintf(path, sizeof path, "/proc/%u/status", pid);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[2048];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf - 1)) < 0 && errno == EINTR) {
  }
  int saved = errno;
  close(fd);
  if (n <= 0) {
    errno = n < 0 ? saved : ESRCH;
    return false;
  }
  buf[n] = '\0';
  if (char const* s = std::strstr(buf, "\nState:")) {
    s += 7;
    while (*s == ' ' || *s == '\t') ++s;
    info.state = *s;
  }
  if (char const* t = std::strstr(buf, "\nTgid:")) info.tgid = std::strtol(t + 6, nullptr, 10);
  return true;
}

// The argument vector of a command line in one block: pointers first,
// then the texts.
char** BuildArgv(char const* line) {
  std::size_t bytes = 0;
  int count = internal::SplitCommandLine(line, nullptr, nullptr, bytes);
  std::size_t pointers = (static_cast<std::size_t>(count) + 1) * sizeof(char*);
  auto** argv = static_cast<char**>(Malloc(pointers + bytes));
  if (argv != nullptr) internal::SplitCommandLine(line, argv, reinterpret_cast<char*>(argv) + pointers, bytes);
  return argv;
}

int SpawnArgv(char* const* argv, unsigned int& pid) {
  if (int e = Fault("proc.spawn")) {
    errno = e;
    return e;
  }
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_init(&actions);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t child = 0;
  // posix_spawn reports a program that cannot be executed itself (and
  // reaps that child), and shares the parent's memory instead of copying it.
  int rc = posix_spawnp(&child, argv[0], &actions, &attr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    errno = rc;
    return rc;
  }
  pid = static_cast<unsigned int>(child);
  return 0;
}

}  // namespace

// Linux has no desktops.
int Spawn(char const* commandLine, char const*, unsigned int& pid) noexcept {
  pid = 0;
  char** argv = BuildArgv(commandLine);
  if (argv == nullptr) {
    errno = ENOMEM;
    return ENOMEM;
  }
  int rc = SpawnArgv(argv, pid);
  Free(argv);
  if (rc != 0) errno = rc;
  return rc;
}

bool AwaitChildEnd(unsigned int pid, int& status) noexcept {
  siginfo_t info{};
  int rc;
  while ((rc = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT)) != 0 && errno == EINTR) {
  }
  if (rc != 0) return false;
  // The shell's convention for a program that a signal ended.
  status = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
  return true;
}

bool ChildEnded(unsigned int pid) noexcept {
  siginfo_t info{};
  int saved = errno;
  bool ended = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
  errno = saved;
  return ended;
}

void ReapChild(unsigned int pid) noexcept {
  siginfo_t info;
  int saved = errno;
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED) != 0 && errno == EINTR) {
  }
  errno = saved;
}

int StartDetachedThread(void* (*entry)(void*), void* arg) noexcept {
  if (int e = Fault("proc.watch")) {
    errno = e;
    return e;
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, kWatcherStack);
  sigset_t all;
  sigfillset(&all);
  // The application's signals must never land on a thread of the library.
  pthread_attr_setsigmask_np(&attr, &all);
  pthread_t thread;
  int rc = pthread_create(&thread, &attr, entry, arg);
  pthread_attr_destroy(&attr);
  if (rc != 0) errno = rc;
  return rc;
}

void NameCurrentThread(char const* name) noexcept { pthread_setname_np(pthread_self(), name); }

void KeepLoaded() noexcept {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&KeepLoaded), &info) != 0 && info.dli_fname != nullptr)
    dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

void AtFork(void (*prepare)(), void (*parent)(), void (*child)()) noexcept { pthread_atfork(prepare, parent, child); }

unsigned int ProcessId() noexcept { return static_cast<unsigned int>(getpid()); }

ProcessState ProbeProcess(unsigned int pid) noexcept {
  if (!ValidPid(pid)) return ProcessState::Gone;
  int saved = errno;
  StatusInfo info;
  ProcessState state;
  if (ReadStatus(pid, info)) {
    if (info.tgid != static_cast<long>(pid))
      state = ProcessState::Gone;  // a thread, not a process
    else if (info.state == 'Z' || info.state == 'X')
      state = ProcessState::Ended;
    else
      state = ProcessState::Running;
  } else {
    // /proc may hide other users' processes: ask the kernel directly.
    int e = Fault("proc.signal");
    int rc = e != 0 ? -1 : kill(static_cast<pid_t>(pid), 0);
    if (e != 0) errno = e;
    state = rc == 0 || errno == EPERM ? ProcessState::Running : ProcessState::Gone;
  }
  errno = saved;
  return state;
}

// The kill signal leaves no exit code to choose.
int KillProcess(unsigned int pid, unsigned int, bool& opened) noexcept {
  opened = false;
  int e = Fault("proc.open");
  if (e == 0 && !ValidPid(pid)) e = ESRCH;
  if (e != 0) {
    errno = e;
    return e;
  }
  // A pidfd names the process itself, not its number: what is opened is
  // what gets the signal. Thread ids of other processes are refused.
  int fd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
  if (fd < 0 && errno != ENOSYS) return errno;
  if (fd < 0) {
    StatusInfo info;
    if (ReadStatus(pid, info) && info.tgid != static_cast<long>(pid)) {
      errno = ESRCH;
      return ESRCH;
    }
  }
  opened = true;
  if ((e = Fault("proc.kill")) == 0) {
    int rc = fd >= 0 ? static_cast<int>(syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0))
                     : kill(static_cast<pid_t>(pid), SIGKILL);
    e = rc == 0 ? 0 : errno;
  }
  if (fd >= 0) close(fd);
  errno = e;
  return e;
}

int EffectiveUserName(char* buf, std::size_t cap) noexcept {
  if (int e = Fault("proc.user")) {
    errno = e;
    return e;
  }
  passwd entry;
  passwd* found = nullptr;
  int rc = getpwuid_r(geteuid(), &entry, buf, cap, &found);
  if (rc != 0) return rc;
  if (found == nullptr) return ENOENT;
  std::size_t length = std::strlen(entry.pw_name);
  if (length + 1 > cap) return ERANGE;
  std::memmove(buf, entry.pw_name, length + 1);
  return 0;
}

char const* GetEnv(char const* name) noexcept { return std::getenv(name); }

bool SetEnv(char const* name, char const* value) noexcept {
  if (value == nullptr || *value == '\0') return unsetenv(name) == 0;
  return setenv(name, value, 1) == 0;
}

void SilenceErrorDialogs() noexcept {}

namespace {

bool IsDirectory(char const* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::size_t Put(char const* text, std::size_t length, bool slash, char* buf, std::size_t cap) {
  std::size_t total = length + (slash ? 1 : 0);
  if (total < cap) {
    std::memcpy(buf, text, length);
    if (slash) buf[length] = '/';
    buf[total] = '\0';
  }
  return total;
}

}  // namespace

// TMPDIR when it names a directory, else /tmp, else the root.
std::size_t TempDirectory(char* buf, std::size_t cap) noexcept {
  char const* dir = std::getenv("TMPDIR");
  if (dir != nullptr && *dir != '\0' && IsDirectory(dir)) {
    std::size_t length = std::strlen(dir);
    return Put(dir, length, dir[length - 1] != '/', buf, cap);
  }
  return IsDirectory("/tmp") ? Put("/tmp/", 5, false, buf, cap) : Put("/", 1, false, buf, cap);
}

}  // namespace Korvane::host
