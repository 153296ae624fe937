// The POSIX body of cfg_file.h.
//
// Locking: an edit holds an exclusive flock on the file it read until it
// has renamed the new copy over it, and checks after locking that the name
// still leads to the locked file (an edit that waited may find it replaced,
// and then starts again with the new one). The directory is never locked,
// so its permissions do not matter. A new file is put in place only if the
// name is still free, so two edits that create it cannot both win.
//
// Copies: where the file system allows, a new copy has no name until it is
// complete (O_TMPFILE), so a process that dies while writing it leaves
// nothing. Each edit holds a flock on its copy from the moment it exists;
// a named copy nobody holds belongs to a process that died (a lock goes
// with its process, even after kill -9), so any later edit may remove it.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "cfg_file.h"
#include "say_if_long.h"

namespace kvos::cfg {
namespace {

constexpr int kMaxTries = 100;
constexpr std::size_t kNameMax = 255;
constexpr char kCopyTag[] = ".kvos-";
constexpr std::size_t kRandom = 6, kCheck = 4;
constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string Error(int error) { return std::strerror(error); }

bool SameFile(struct stat const& a, struct stat const& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool SameTime(struct timespec const& a, struct timespec const& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Unchanged as far as the host can tell: same file, size, contents time and
// status time (a chmod, chown or new link changes the latter).
bool Unchanged(struct stat const& a, struct stat const& b) {
  return SameFile(a, b) && a.st_size == b.st_size && SameTime(a.st_mtim, b.st_mtim) && SameTime(a.st_ctim, b.st_ctim);
}

char const* Kind(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a named pipe (FIFO)";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "no regular file";
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Reads `fd` to its end into `bytes`; 0 or an error number.
int ReadAll(int fd, std::string& bytes) {
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
      static_cast<unsigned long long>(st.st_size) <= kMaxInput)
    bytes.reserve(static_cast<std::size_t>(st.st_size));
  std::vector<char> buf(1 << 16);
  for (;;) {
    ssize_t n = read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // A descriptor that another program made non-blocking.
      pollfd p{fd, POLLIN, 0};
      poll(&p, 1, -1);
      continue;
    }
    if (n < 0) return errno;
    if (n == 0) return 0;
    if (bytes.size() + static_cast<std::size_t>(n) > kMaxInput) return EFBIG;
    bytes.append(buf.data(), static_cast<std::size_t>(n));
  }
}

std::string ReadFailure(int error) {
  if (error == EFBIG) return "it is larger than " + std::to_string(kMaxInput >> 20) + " MiB, too large for a configuration file";
  return Error(error);
}

// Holds back the usual interrupts while a new copy exists, so that it is
// renamed into place or removed, never left behind. One that came is
// taken as "cancel" up to the rename, and acts when they are let through.
class InterruptsHeld {
 public:
  InterruptsHeld() {
    sigemptyset(&_held);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&_held, s);
    sigprocmask(SIG_BLOCK, &_held, &_old);
  }
  ~InterruptsHeld() { sigprocmask(SIG_SETMASK, &_old, nullptr); }
  InterruptsHeld(InterruptsHeld const&) = delete;
  InterruptsHeld& operator=(InterruptsHeld const&) = delete;

  // One that the caller blocks does not count: it would never act.
  bool Came() const {
    sigset_t pending;
    if (sigpending(&pending) != 0) return false;
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
      if (sigismember(&_old, s) == 0 && sigismember(&pending, s) == 1) return true;
    return false;
  }

 private:
  sigset_t _held, _old;
};

// Writes in pieces of this size, looking for interrupts between them.
constexpr std::size_t kWritePiece = std::size_t{1} << 20;

struct PathParts {
  std::string dir, base;
};

PathParts Split(std::string const& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {std::string(1, '.'), path};
  return {std::string(path, 0, slash == 0 ? 1 : slash), std::string(path, slash + 1)};
}

// A readable descriptor where the directory allows it (to list it and to
// flush its entries), else one that only names it: a directory of mode
// 0333 can still take new copies and renames.
int OpenDirectory(std::string const& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) fd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return fd;
}

// The names of copies of `base`: short enough for the host's name limit.
std::string CopyPrefix(std::string const& base) {
  std::size_t room = kNameMax - 1 - (sizeof kCopyTag - 1) - kRandom - kCheck;
  std::string prefix(".");
  prefix.append(base, 0, room);
  prefix.append(kCopyTag);
  return prefix;
}

// The characters that end a copy's name, from the rest of it: a file that
// someone merely named like a copy is not taken for one and removed.
std::string CheckOf(char const* head, std::size_t length) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (std::size_t i = 0; i < length; ++i) hash = (hash ^ static_cast<unsigned char>(head[i])) * 1099511628211ull;
  std::string check;
  for (std::size_t i = 0; i < kCheck; ++i, hash /= sizeof kChars - 1) check += kChars[hash % (sizeof kChars - 1)];
  return check;
}

bool IsCopyOf(std::string const& name, std::string const& prefix) {
  std::size_t const head = prefix.size() + kRandom;
  return name.size() == head + kCheck && name.compare(0, prefix.size(), prefix) == 0 &&
         name.compare(head, kCheck, CheckOf(name.data(), head)) == 0;
}

// Removes the copies of `base` that no live edit holds.
void RemoveAbandoned(int dirFd, std::string const& base) {
  int listFd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return;  // not listable: nothing can be found
  DIR* dir = fdopendir(listFd);
  if (dir == nullptr) {
    close(listFd);
    return;
  }
  std::string const prefix = CopyPrefix(base);
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (!IsCopyOf(name, prefix)) continue;
    int fd = openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat held, named;
    if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(held, named))
      unlinkat(dirFd, name.c_str(), 0);
    close(fd);
  }
  closedir(dir);
}

// Gives the new copy `to` the extended attributes of `from`, the access
// control list among them, so that whoever could use the file still can.
// Empty when done, else why not. Those that only the system sets
// (security., trusted.) are kept where the host lets the process.
std::string CopyAttributes(int from, int to) {
  std::vector<char> names;
  for (;;) {
    ssize_t size = flistxattr(from, nullptr, 0);
    if (size < 0 && (errno == ENOTSUP || errno == ENOSYS)) return "";
    if (size > 0) {
      names.resize(static_cast<std::size_t>(size));
      size = flistxattr(from, names.data(), names.size());
    }
    if (size >= 0) {
      names.resize(static_cast<std::size_t>(size));
      break;
    }
    if (errno != ERANGE) return "cannot list its extended attributes: " + Error(errno);
  }
  std::vector<char> value;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
    char const* name = names.data() + at;
    ssize_t size;
    for (;;) {
      size = fgetxattr(from, name, nullptr, 0);
      if (size <= 0) break;
      value.resize(static_cast<std::size_t>(size));
      size = fgetxattr(from, name, value.data(), value.size());
      if (size >= 0 || errno != ERANGE) break;
    }
    if (size < 0 && errno == ENODATA) continue;  // removed meanwhile
    if (size >= 0 && fsetxattr(to, name, value.data(), static_cast<std::size_t>(size), 0) == 0) continue;
    if (std::strncmp(name, "user.", 5) == 0 || std::strncmp(name, "system.", 7) == 0)
      return "cannot give the new copy its extended attribute " + std::string(name) + ": " + Error(errno);
  }
  return "";
}

}  // namespace

std::string CopyName(std::string const& base, std::string const& random) {
  std::string name = CopyPrefix(base) + random;
  return name + CheckOf(name.data(), name.size());
}

bool ReadInput(std::string const& path, std::string& bytes, std::string& why) {
  int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    why = Error(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    why = Error(EISDIR);
    return false;
  }
  int error = ReadAll(fd, bytes);
  close(fd);
  if (error != 0) why = ReadFailure(error);
  return error == 0;
}

struct FileEdit::State {
  int dirFd = -1;
  int fd = -1;  // the file, locked; -1 for a new file
  std::string base;
  bool exists = false;
  bool waited = false;  // for the lock, held by another edit
  bool unnamed = true;  // copies without a name where possible
  std::function<void()> waiting;
  struct stat seen {};  // the file as it was read
  std::string bytes;

  ~State() {
    CloseFd(fd);
    CloseFd(dirFd);
  }
  Status OpenNew(std::string const& path, bool mayCreate, std::string& why);
  Status OpenExisting(std::string const& real, std::string& why);
  Status NewCopy(int& copyFd, std::string& name, std::string& why);
  std::string CopyName();
  int LinkCopy(int copyFd, std::string const& name) const;

  std::mt19937 rng{std::random_device{}()};
};

FileEdit::FileEdit(bool unnamedCopies) : _s(std::make_unique<State>()) { _s->unnamed = unnamedCopies; }
FileEdit::~FileEdit() = default;
bool FileEdit::Exists() const { return _s->exists; }
std::string const& FileEdit::Bytes() const { return _s->bytes; }

Status FileEdit::Open(std::string const& path, bool mayCreate, std::string& why, std::function<void()> waiting) {
  _s->waiting = std::move(waiting);
  // A write beyond the file size limit fails with EFBIG and is reported,
  // instead of killing the process midway.
  signal(SIGXFSZ, SIG_IGN);
  // A try that first waited for another edit's lock does not count: the
  // file it finds replaced is that edit's work, and its turn comes.
  for (int tries = 0; tries < kMaxTries; tries += _s->waited ? 0 : 1) {
    CloseFd(_s->fd);
    CloseFd(_s->dirFd);
    _s->bytes.clear();
    _s->waited = false;
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) {
      if (errno != ENOENT) {
        why = Error(errno);
        return Status::kFailed;
      }
      Status status = _s->OpenNew(path, mayCreate, why);
      if (status != Status::kAgain) return status;
      continue;
    }
    std::string resolved = real;
    std::free(real);
    Status status = _s->OpenExisting(resolved, why);
    if (status != Status::kAgain) return status;
  }
  why = "it kept changing while kvos cfg tried to read it";
  return Status::kFailed;
}

Status FileEdit::State::OpenNew(std::string const& path, bool mayCreate, std::string& why) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) return Status::kAgain;  // it appeared meanwhile
    std::vector<char> buf(4096);
    ssize_t n = readlink(path.c_str(), buf.data(), buf.size() - 1);
    std::string target(buf.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    // The links of /proc lead to what has no path of its own: the pipe
    // behind /dev/stdin, a file that was deleted.
    struct stat behind;
    if (stat(path.c_str(), &behind) == 0) {
      if (S_ISREG(behind.st_mode))
        why = "it leads to '" + target + "', a file that no directory holds, so it cannot be replaced";
      else
        why = std::string("it is ") + (S_ISFIFO(behind.st_mode) ? "a pipe" : Kind(behind.st_mode)) +
              "; kvos cfg edits only regular files";
      return Status::kFailed;
    }
    why = "it is a symbolic link to '" + target + "', which leads to no file";
    return Status::kFailed;
  }
  if (errno != ENOENT || !mayCreate) {
    why = Error(errno);
    return Status::kFailed;
  }
  PathParts parts = Split(path);
  base = parts.base;
  std::string const& dir = parts.dir;
  if (base.empty() || base == "." || base == "..") {
    why = "it names no file";
    return Status::kFailed;
  }
  dirFd = OpenDirectory(dir);
  if (dirFd < 0) {
    why = Error(errno);
    return Status::kFailed;
  }
  exists = false;
  RemoveAbandoned(dirFd, base);
  return Status::kOk;
}

Status FileEdit::State::OpenExisting(std::string const& real, std::string& why) {
  struct stat st;
  if (stat(real.c_str(), &st) != 0) return Status::kAgain;
  if (!S_ISREG(st.st_mode)) {
    why = std::string("it is ") + Kind(st.st_mode) + "; kvos cfg edits only regular files";
    return Status::kFailed;
  }
  PathParts parts = Split(real);
  base = parts.base;
  dirFd = OpenDirectory(parts.dir);
  if (dirFd < 0) {
    why = Error(errno);
    return Status::kFailed;
  }
  // O_NONBLOCK: should the name lead to a FIFO by now, opening it must not
  // wait for a writer; the check of the opened file refuses it.
  fd = openat(dirFd, base.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    if (error == ENOENT || error == ELOOP) return Status::kAgain;
    if (error == EACCES || error == EPERM)
      why = "you may not write it (" + Error(error) + ")";
    else
      why = Error(error);
    return Status::kFailed;
  }
  struct stat opened;
  if (fstat(fd, &opened) != 0 || !SameFile(opened, st)) return Status::kAgain;
  if (opened.st_nlink > 1) {
    why = "it has " + std::to_string(opened.st_nlink) +
          " hard links, and replacing it would part it from the other names";
    return Status::kFailed;
  }
  int locked = flock(fd, LOCK_EX | LOCK_NB);
  if (locked != 0 && errno == EWOULDBLOCK) {
    waited = true;
    SayIfLong note(waiting);
    while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (note.Said()) waiting = nullptr;  // once is enough
  }
  if (locked != 0) {
    why = "it cannot be locked against other edits (" + Error(errno) + ")";
    return Status::kFailed;
  }
  // An edit that finished while this one waited has replaced the file.
  struct stat named;
  if (fstatat(dirFd, base.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(named, opened)) return Status::kAgain;
  struct stat before;
  if (fstat(fd, &before) != 0 || before.st_nlink != 1) return Status::kAgain;
  if (int error = ReadAll(fd, bytes)) {
    why = ReadFailure(error);
    return Status::kFailed;
  }
  // Written to in place while it was read: read it again.
  if (fstat(fd, &seen) != 0 || !Unchanged(before, seen)) return Status::kAgain;
  // Unchanged, yet not the size it reads: made up as it is read, as the
  // files of /proc and /sys are. Another copy cannot take its place.
  if (static_cast<unsigned long long>(seen.st_size) != bytes.size()) {
    why = "its size (" + std::to_string(seen.st_size) + " bytes) is not what it reads (" +
          std::to_string(bytes.size()) + " bytes), as with the files of /proc and /sys: it is no stored file";
    return Status::kFailed;
  }
  exists = true;
  RemoveAbandoned(dirFd, base);
  return Status::kOk;
}

// A new copy: one without a name where the file system makes such files,
// so that an edit killed while it writes leaves nothing behind; else one
// with a hidden name beside the file. Either is locked from the start.
Status FileEdit::State::NewCopy(int& copyFd, std::string& name, std::string& why) {
  name.clear();
  copyFd = unnamed ? openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600) : -1;
  if (copyFd >= 0) {
    while (flock(copyFd, LOCK_EX) != 0 && errno == EINTR) {
    }
    return Status::kOk;
  }
  if (unnamed && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    why = (exists ? "cannot make a new copy beside it: " : "cannot create it: ") + Error(errno);
    return Status::kFailed;
  }
  for (int tries = 0; tries < kMaxTries; ++tries) {
    name = CopyName();
    copyFd = openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (copyFd < 0) {
      if (errno == EEXIST) continue;
      why = (exists ? "cannot make a new copy beside it: " : "cannot create it: ") + Error(errno);
      name.clear();
      return Status::kFailed;
    }
    while (flock(copyFd, LOCK_EX) != 0 && errno == EINTR) {
    }
    // Between its creation and the lock, another edit may have taken it
    // for abandoned and removed it.
    struct stat st;
    if (fstat(copyFd, &st) == 0 && st.st_nlink > 0) return Status::kOk;
    CloseFd(copyFd);
  }
  name.clear();
  why = "cannot make a new copy beside it";
  return Status::kFailed;
}

std::string FileEdit::State::CopyName() {
  std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kChars) - 2);
  std::string random;
  for (std::size_t i = 0; i < kRandom; ++i) random += kChars[pick(rng)];
  return cfg::CopyName(base, random);
}

// Gives the copy without a name the name `name`; 0 or an error number
// (EEXIST when the name is taken).
int FileEdit::State::LinkCopy(int copyFd, std::string const& name) const {
  std::string const self = "/proc/self/fd/" + std::to_string(copyFd);
  if (linkat(AT_FDCWD, self.c_str(), dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  int error = errno;
  // Without /proc, the process may still link it by its descriptor.
  if (error == ENOENT && linkat(copyFd, "", dirFd, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
  return error == ENOENT ? errno : error;
}

Status FileEdit::Replace(std::string const& bytes, std::string& why) {
  State& s = *_s;
  InterruptsHeld held;
  int copyFd = -1;
  std::string name;
  if (Status status = s.NewCopy(copyFd, name, why); status != Status::kOk) {
    if (s.exists) why += "; the file is unchanged";
    return status;
  }
  auto fail = [&](std::string const& reason, bool unchanged = true) {
    if (!name.empty()) unlinkat(s.dirFd, name.c_str(), 0);
    CloseFd(copyFd);
    why = reason + (s.exists && unchanged ? "; the file is unchanged" : "");
    return Status::kFailed;
  };

  char const* const kInterrupted = "interrupted";
  for (std::size_t done = 0; done < bytes.size();) {
    if (held.Came()) return fail(kInterrupted);
    ssize_t n = write(copyFd, bytes.data() + done, std::min(bytes.size() - done, kWritePiece));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(Error(n < 0 ? errno : ENOSPC));
    done += static_cast<std::size_t>(n);
  }

  mode_t mode;
  if (s.exists) {
    // The owner where the process may set it (root), else the group where
    // the user belongs to it; set-id bits only with the id they stand for.
    mode = s.seen.st_mode & 07777;
    if (fchown(copyFd, s.seen.st_uid, s.seen.st_gid) != 0) {
      mode &= ~static_cast<mode_t>(S_ISUID);
      if (fchown(copyFd, static_cast<uid_t>(-1), s.seen.st_gid) != 0) mode &= ~static_cast<mode_t>(S_ISGID);
    }
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  if (fchmod(copyFd, mode) != 0) return fail("cannot set the mode of the new copy: " + Error(errno));
  // After the mode: an access control list holds the group's permissions.
  if (s.exists)
    if (std::string problem = CopyAttributes(s.fd, copyFd); !problem.empty()) return fail(problem);
  if (fsync(copyFd) != 0) return fail(Error(errno));
  if (held.Came()) return fail(kInterrupted);

  if (s.exists) {
    struct stat now, named;
    if (fstat(s.fd, &now) != 0 || !Unchanged(now, s.seen) ||
        fstatat(s.dirFd, s.base.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(named, s.seen))
      return fail("it changed while it was being edited, so it is left as the other program wrote it", false);
    // A copy without a name gets one only now, for the rename.
    for (int tries = 0; name.empty() && tries < kMaxTries; ++tries) {
      std::string candidate = s.CopyName();
      int error = s.LinkCopy(copyFd, candidate);
      if (error == 0) name = candidate;
      if (error != 0 && error != EEXIST) return fail("cannot name the new copy: " + Error(error));
    }
    if (name.empty()) return fail("cannot name the new copy");
    if (renameat(s.dirFd, name.c_str(), s.dirFd, s.base.c_str()) != 0) {
      int error = errno;
      struct stat dir;
      if (error == EPERM && fstat(s.dirFd, &dir) == 0 && (dir.st_mode & S_ISVTX) != 0)
        return fail("its directory is sticky (as /tmp is), where only the file's owner may replace it");
      return fail(Error(error));
    }
  } else if (name.empty()) {
    // A link fails when the name is taken: no other new file is replaced.
    int error = s.LinkCopy(copyFd, s.base);
    if (error == EEXIST) {
      fail("");
      why.clear();
      return Status::kAgain;
    }
    if (error != 0) return fail(Error(error));
  } else if (renameat2(s.dirFd, name.c_str(), s.dirFd, s.base.c_str(), RENAME_NOREPLACE) != 0) {
    int error = errno;
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
      // No such rename on this file system: a new link fails the same way
      // when the name is taken. Without links either, the name is checked
      // just before the rename, which leaves a short race.
      error = linkat(s.dirFd, name.c_str(), s.dirFd, s.base.c_str(), 0) == 0 ? 0 : errno;
      if (error == 0) {
        unlinkat(s.dirFd, name.c_str(), 0);
      } else if (error == EPERM || error == EOPNOTSUPP) {
        struct stat st;
        if (fstatat(s.dirFd, s.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
          error = EEXIST;
        else
          error = renameat(s.dirFd, name.c_str(), s.dirFd, s.base.c_str()) == 0 ? 0 : errno;
      }
    }
    if (error == EEXIST) {
      fail("");
      why.clear();
      return Status::kAgain;
    }
    if (error != 0) return fail(Error(error));
  }
  fsync(s.dirFd);  // fails harmlessly where the directory could not be opened for reading
  CloseFd(copyFd);
  return Status::kOk;
}

}  // namespace kvos::cfg
