#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "OS/host/fault.h"
#include "OS/host/io.h"

namespace Korvane::host {

namespace {

int Whence(SeekOrigin origin) {
  switch (origin) {
    case kSeekEnd:
      return SEEK_END;
    case kSeekCur:
      return SEEK_CUR;
    default:
      return SEEK_SET;
  }
}

// Descriptors that FileOpen made, and those of them noted to seek; a bit
// each, for the numbers a process commonly reaches.
constexpr int kTracked = 1 << 16;
constinit std::atomic<std::uint64_t> g_opened[kTracked / 64];
constinit std::atomic<std::uint64_t> g_seeks[kTracked / 64];

void Track(std::atomic<std::uint64_t>* bits, int fd, bool on) {
  if (fd < 0 || fd >= kTracked) return;
  std::uint64_t bit = std::uint64_t{1} << (fd % 64);
  if (on)
    bits[fd / 64].fetch_or(bit, std::memory_order_relaxed);
  else
    bits[fd / 64].fetch_and(~bit, std::memory_order_relaxed);
}

bool Tracked(std::atomic<std::uint64_t> const* bits, int fd) {
  return fd >= 0 && fd < kTracked && (bits[fd / 64].load(std::memory_order_relaxed) >> (fd % 64) & 1) != 0;
}

}  // namespace

// ---- Descriptors ----

int FileOpen(char const* path, bool read, bool write, bool create) noexcept {
  if (int e = Fault("io.open")) {
    errno = e;
    return -1;
  }
  // O_NONBLOCK only for the open itself: a FIFO must not wait for its peer.
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  flags |= write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY;
  if (create) flags |= O_CREAT;
  int fd;
  do {
    fd = open(path, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st;
  bool known = fstat(fd, &st) == 0;
  if (known && S_ISDIR(st.st_mode)) {
    close(fd);
    errno = EISDIR;
    return -1;
  }
  // A regular file ignores O_NONBLOCK, so only other kinds pay for clearing
  // it; the open set no other status flag that F_SETFL would clear.
  if (!known || !S_ISREG(st.st_mode)) fcntl(fd, F_SETFL, 0);
  Track(g_seeks, fd, false);
  Track(g_opened, fd, true);
  return fd;
}

void FileClose(int fd) noexcept {
  // Forgotten before the number can be handed out again.
  Track(g_opened, fd, false);
  Track(g_seeks, fd, false);
  int saved = errno;
  close(fd);  // not retried on EINTR: the descriptor is gone either way
  errno = saved;
}

bool FileKnownToSeek(int fd) noexcept { return Tracked(g_seeks, fd); }

void FileNoteSeeks(int fd, bool seeks) noexcept { Track(g_seeks, fd, seeks && Tracked(g_opened, fd)); }

long long FileRead(int fd, void* buffer, std::size_t size) noexcept {
  if (int e = Fault("io.read")) {
    errno = e;
    return -1;
  }
  ssize_t n;
  do {
    n = read(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

long long FileWrite(int fd, void const* data, std::size_t size) noexcept {
  if (int e = Fault("io.write")) {
    errno = e;
    return -1;
  }
  ssize_t n;
  do {
    n = write(fd, data, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool FileSync(int fd) noexcept {
  if (int e = Fault("io.sync")) {
    errno = e;
    return false;
  }
  return fsync(fd) == 0;
}

long long FileSeek(int fd, long long offset, SeekOrigin origin) noexcept {
  if (int e = Fault("io.seek")) {
    errno = e;
    return -1;
  }
  return lseek(fd, static_cast<off_t>(offset), Whence(origin));
}

bool FileTruncate(int fd) noexcept {
  if (int e = Fault("io.truncate")) {
    errno = e;
    return false;
  }
  if (ftruncate(fd, 0) == 0) return true;
  if (errno != EBADF && errno != EINVAL) return false;
  // A descriptor without write access: truncate the same file through a
  // second, writable open of it (which needs write permission, as it should).
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  int w = open(self, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (w < 0) return false;
  close(w);
  return true;
}

int FileLock(int fd, bool exclusive, long long start, long long length) noexcept {
  if (int e = Fault("io.lock")) {
    errno = e;
    return e == EAGAIN ? 0 : -1;
  }
  struct flock lock {};
  lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(start);
  lock.l_len = static_cast<off_t>(length);
  if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return 1;
  return (errno == EAGAIN || errno == EACCES) ? 0 : -1;
}

long long FileLockFind(int fd, long long start, long long length) noexcept {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(start);
  lock.l_len = static_cast<off_t>(length);
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0 || lock.l_type == F_UNLCK) return -1;
  return static_cast<long long>(lock.l_start);
}

// ---- Names ----

PathKind GetPathKind(char const* path, bool follow) noexcept {
  if (Fault("io.stat") != 0) return kPathNone;
  struct stat st;
  if ((follow ? stat(path, &st) : lstat(path, &st)) != 0) return kPathNone;
  if (S_ISDIR(st.st_mode)) return kPathDir;
  if (S_ISLNK(st.st_mode)) return kPathLink;
  return kPathFile;
}

bool RemoveFile(char const* path) noexcept {
  if (int e = Fault("io.unlink")) {
    errno = e;
    return false;
  }
  return unlink(path) == 0;
}

bool MakeDir(char const* path) noexcept {
  if (int e = Fault("io.mkdir")) {
    errno = e;
    return false;
  }
  return mkdir(path, 0777) == 0;
}

bool RemoveDir(char const* path) noexcept {
  if (int e = Fault("io.rmdir")) {
    errno = e;
    return false;
  }
  return rmdir(path) == 0;
}

bool GetModTime(char const* path, long long& seconds) noexcept {
  if (int e = Fault("io.stat")) {
    errno = e;
    return false;
  }
  struct stat st;
  if (stat(path, &st) != 0) return false;
  seconds = static_cast<long long>(st.st_mtime);
  return true;
}

bool SetFileTimes(char const* path, long long seconds) noexcept {
  if (int e = Fault("io.utime")) {
    errno = e;
    return false;
  }
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return utimensat(AT_FDCWD, path, times, 0) == 0;
}

bool CurrentDir(char* buffer, std::size_t cap) noexcept {
  if (int e = Fault("io.getcwd")) {
    errno = e;
    return false;
  }
  return getcwd(buffer, cap) != nullptr;
}

int OpenHostFile(char const* path) noexcept {
  if (int e = Fault("io.hostfile")) {
    errno = e;
    return -1;
  }
  char mapped[PATH_MAX];
  char const* real = MapHostPath(path, mapped, sizeof mapped);
  if (real == nullptr) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd;
  do {
    fd = open(real, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

void* DirOpen(char const* path) noexcept {
  if (int e = Fault("io.opendir")) {
    errno = e;
    return nullptr;
  }
  return opendir(path);  // glibc opens it close-on-exec
}

int DirRead(void* dir, char const*& name, PathKind& kind) noexcept {
  if (int e = Fault("io.readdir")) {
    errno = e;
    return -1;
  }
  errno = 0;
  dirent* entry = readdir(static_cast<DIR*>(dir));
  if (entry == nullptr) return errno == 0 ? 0 : -1;
  name = entry->d_name;
  switch (entry->d_type) {
    case DT_DIR:
      kind = kPathDir;
      break;
    case DT_LNK:
      kind = kPathLink;
      break;
    case DT_UNKNOWN:
      kind = kPathNone;
      break;
    default:
      kind = kPathFile;
      break;
  }
  return 1;
}

void DirClose(void* dir) noexcept {
  if (dir != nullptr) closedir(static_cast<DIR*>(dir));
}

// ---- Console ----

static_assert(sizeof(termios) <= sizeof(ConsoleState::saved), "termios does not fit");

void ConsoleBegin(ConsoleState& state) noexcept {
  state.terminal = isatty(STDIN_FILENO) == 1;
  state.changed = false;
  if (!state.terminal) return;
  // A background job must not touch the terminal: reading or setting it
  // would stop the whole process.
  pid_t group = tcgetpgrp(STDIN_FILENO);
  if (group >= 0 && group != getpgrp()) return;
  termios saved;
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return;
  std::memcpy(state.saved, &saved, sizeof saved);
  termios keys = saved;
  keys.c_lflag &= static_cast<tcflag_t>(~ICANON);
  keys.c_cc[VMIN] = 0;
  keys.c_cc[VTIME] = 0;
  // TCSANOW: what was typed before stays readable.
  state.changed = tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
}

void ConsoleEnd(ConsoleState& state) noexcept {
  if (!state.changed) return;
  termios saved;
  std::memcpy(&saved, state.saved, sizeof saved);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  state.changed = false;
}

int ConsoleTryRead(ConsoleState& state, char& key) noexcept {
  if (int e = Fault("io.console")) {
    errno = e;
    return -1;
  }
  if (state.terminal && !state.changed) return 0;
  pollfd p{STDIN_FILENO, POLLIN, 0};
  int ready;
  do {
    ready = poll(&p, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return -1;
  if (ready == 0) return 0;
  if ((p.revents & POLLNVAL) != 0) {
    errno = EBADF;
    return -1;
  }
  ssize_t n;
  do {
    n = read(STDIN_FILENO, &key, 1);
  } while (n < 0 && errno == EINTR);
  if (n == 1) return 1;
  if (n == 0 || errno == EAGAIN) return 0;
  return -1;
}

}  // namespace Korvane::host
