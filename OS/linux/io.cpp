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

// ---- Files ----
//
// A file handle carries the descriptor. Share modes are emulated with
// record locks owned by the open file description.

namespace {

int ToFd(FileHandle file) {
  auto value = reinterpret_cast<std::uintptr_t>(file);
  return value <= static_cast<std::uintptr_t>(INT_MAX) ? static_cast<int>(value) : -1;
}

FileHandle ToHandle(int fd) { return reinterpret_cast<FileHandle>(static_cast<std::intptr_t>(fd)); }


int OpenFd(char const* path, bool read, bool write, bool create) noexcept {
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

void CloseFd(int fd) noexcept {
  // Forgotten before the number can be handed out again.
  Track(g_opened, fd, false);
  Track(g_seeks, fd, false);
  int saved = errno;
  close(fd);  // not retried on EINTR: the descriptor is gone either way
  errno = saved;
}

bool KnownToSeek(int fd) noexcept { return Tracked(g_seeks, fd); }

void NoteSeeks(int fd, bool seeks) noexcept { Track(g_seeks, fd, seeks && Tracked(g_opened, fd)); }

long long ReadFd(int fd, void* buffer, std::size_t size) noexcept {
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

long long WriteFd(int fd, void const* data, std::size_t size) noexcept {
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

bool SyncFd(int fd) noexcept {
  if (int e = Fault("io.sync")) {
    errno = e;
    return false;
  }
  return fsync(fd) == 0;
}

long long SeekFd(int fd, long long offset, SeekOrigin origin) noexcept {
  if (int e = Fault("io.seek")) {
    errno = e;
    return -1;
  }
  return lseek(fd, static_cast<off_t>(offset), Whence(origin));
}

bool TruncateFd(int fd) noexcept {
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

int LockFd(int fd, bool exclusive, long long start, long long length) noexcept {
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

long long LockFindFd(int fd, long long start, long long length) noexcept {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(start);
  lock.l_len = static_cast<off_t>(length);
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0 || lock.l_type == F_UNLCK) return -1;
  return static_cast<long long>(lock.l_start);
}

// ---- Share modes ----
//
// Each combination of the roles that a handle plays (reading, writing,
// refusing others' reads, refusing others' writes) has a region of the lock
// area. A handle holds a lock in the region of its combination; an open
// conflicts when another description holds a lock in the region of a
// combination with a role opposite to one of its own. Locks are taken first
// and checked after, so of two racing conflicting opens at least one sees
// the other. A readable descriptor holds a shared lock on the region's first
// byte; a write-only one cannot take shared locks and holds an exclusive
// lock on a free byte after it. With no other handle open, an open takes one
// lock and asks one question.
constexpr long long kShareArea = 0x7FFFFFFF00000000LL;
constexpr long long kRegionSize = 0x10000;
constexpr int kSlots = 4096;

enum : unsigned { kReading = 1, kWriting = 2, kRefusingRead = 4, kRefusingWrite = 8, kCombinations = 16 };

unsigned Opposite(unsigned roles) { return (roles & 3) << 2 | (roles >> 2 & 3); }

long long RegionStart(unsigned roles) { return kShareArea + static_cast<long long>(roles) * kRegionSize; }

// 1 held, 0 conflict (no free byte), -1 the file system has no record locks.
int HoldRegion(int fd, bool readable, unsigned roles) {
  long long start = RegionStart(roles);
  if (readable) return LockFd(fd, false, start, 1);
  for (int slot = 1; slot <= kSlots; ++slot) {
    int taken = LockFd(fd, true, start + slot, 1);
    if (taken != 0) return taken;
  }
  return 0;
}

// Whether another description holds a region that conflicts with `roles`.
// A range of regions is asked at a time; a region found that does not
// conflict splits its range in two.
bool OthersConflict(int fd, unsigned roles) {
  struct Range {
    unsigned from, to;
  } pending[kCombinations];
  int count = 0;
  pending[count++] = {0, kCombinations};
  while (count > 0) {
    Range r = pending[--count];
    long long at = LockFindFd(fd, RegionStart(r.from), (r.to - r.from) * kRegionSize);
    if (at < 0) continue;
    // A foreign lock may start before the range: count it as its first region.
    unsigned found = at < RegionStart(r.from) ? r.from : static_cast<unsigned>((at - kShareArea) / kRegionSize);
    if (found >= r.to) found = r.to - 1;
    if ((roles & Opposite(found)) != 0) return true;
    if (r.from < found) pending[count++] = {r.from, found};
    if (found + 1 < r.to) pending[count++] = {found + 1, r.to};
  }
  return false;
}

// False when the open conflicts with a handle that is already open.
bool ClaimShareMode(int fd, int openMode, int shareMode) {
  // As on the original host, a handle without access takes no part.
  unsigned roles = static_cast<unsigned>(openMode) & (kReading | kWriting);
  if (roles == 0) return true;
  if ((shareMode & 0x100) == 0) roles |= kRefusingRead;
  if ((shareMode & 0x200) == 0) roles |= kRefusingWrite;
  int held = HoldRegion(fd, (roles & kReading) != 0, roles);
  if (held < 0) return true;  // no record locks here: nothing to enforce
  return held != 0 && !OthersConflict(fd, roles);
}

}  // namespace

FileHandle FileOpen(char const* path, FileAccess const& access) noexcept {
  int fd = OpenFd(path, access.read, access.write, access.create);
  if (fd < 0) return InvalidFile();
  int openMode = (access.read ? 1 : 0) | (access.write ? 2 : 0);
  int shareMode = (access.shareRead ? 0x100 : 0) | (access.shareWrite ? 0x200 : 0);
  if (!ClaimShareMode(fd, openMode, shareMode)) {
    CloseFd(fd);
    errno = EBUSY;
    return InvalidFile();
  }
  // Cut only now, so that a refused open leaves the file as it was.
  if (access.create && !TruncateFd(fd)) {
    CloseFd(fd);
    return InvalidFile();
  }
  return ToHandle(fd);
}

void FileClose(FileHandle file) noexcept { CloseFd(ToFd(file)); }

long long FileRead(FileHandle file, void* buffer, std::size_t size) noexcept { return ReadFd(ToFd(file), buffer, size); }

long long FileWrite(FileHandle file, void const* data, std::size_t size) noexcept {
  return WriteFd(ToFd(file), data, size);
}

bool FileSync(FileHandle file) noexcept { return SyncFd(ToFd(file)); }

long long FileSeek(FileHandle file, long long offset, SeekOrigin origin) noexcept {
  return SeekFd(ToFd(file), offset, origin);
}

// Asked once per descriptor that FileOpen made, every time for one made
// elsewhere: its owner may close and reuse the number unseen.
bool FileCanReadAhead(FileHandle file) noexcept {
  int fd = ToFd(file);
  if (KnownToSeek(fd)) return true;
  if (SeekFd(fd, 0, kSeekCur) < 0) return false;
  NoteSeeks(fd, true);
  return true;
}

void FileForgetReadAhead(FileHandle file) noexcept { NoteSeeks(ToFd(file), false); }

// ---- Names ----

char PathSeparator() noexcept { return '/'; }

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

FileHandle OpenHostFile(char const* path) noexcept {
  if (int e = Fault("io.hostfile")) {
    errno = e;
    return InvalidFile();
  }
  char mapped[PATH_MAX];
  char const* real = MapHostPath(path, mapped, sizeof mapped);
  if (real == nullptr) {
    errno = ENAMETOOLONG;
    return InvalidFile();
  }
  int fd;
  do {
    fd = open(real, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? InvalidFile() : ToHandle(fd);
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
