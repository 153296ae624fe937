// The Linux bodies of the test support: temporary directories and
// running programs.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <gtest/gtest.h>

#include "support/testing.h"

extern char** environ;

namespace kvtest {

TempDir::TempDir() {
  char const* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kvos-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  _path = buf.data();
}

RunResult Run(std::vector<std::string> const& argv, std::string const& input) {
  RunResult result;
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  std::vector<char*> args;
  for (auto const& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  if (rc != 0) {
    close(inPipe[1]);
    close(outPipe[0]);
    close(errPipe[0]);
    result.err = std::strerror(rc);
    return result;
  }
  std::size_t written = 0;
  if (input.empty()) {
    close(inPipe[1]);
    inPipe[1] = -1;
  }
  pollfd fds[3] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {inPipe[1], POLLOUT, 0}};
  int open = input.empty() ? 2 : 3;
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (poll(fds, static_cast<nfds_t>(open), -1) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[65536];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
      } else {
        (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
      }
    }
    if (open == 3 && fds[2].fd >= 0 && fds[2].revents != 0) {
      // A program that ends without reading all of its input must not
      // take the test down with SIGPIPE: it is held for the write and a
      // pending one is taken back (ignoring it for good would hide the
      // signal from the library's own tests).
      sigset_t pipe, old;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipe, &old);
      ssize_t n = write(fds[2].fd, input.data() + written, input.size() - written);
      if (n < 0 && errno == EPIPE) {
        timespec none{0, 0};
        while (sigtimedwait(&pipe, nullptr, &none) < 0 && errno == EINTR) {
        }
      }
      pthread_sigmask(SIG_SETMASK, &old, nullptr);
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n <= 0 || written == input.size()) {
        close(fds[2].fd);
        fds[2].fd = -1;
      }
    }
  }
  if (open == 3 && fds[2].fd >= 0) close(fds[2].fd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

void SetEnv(char const* name, char const* value) {
  if (value == nullptr)
    unsetenv(name);
  else
    setenv(name, value, 1);
}

std::string HostLines(std::string const& text) { return text; }

int HostError(Err kind) {
  switch (kind) {
    case Err::kNotFound:
    case Err::kPathNotFound:
      return ENOENT;
    case Err::kBusy:
      return EBUSY;
    case Err::kExists:
      return EEXIST;
    case Err::kNotEmpty:
      return ENOTEMPTY;
    case Err::kNoSpace:
      return ENOSPC;
    case Err::kAccess:
      return EACCES;
    case Err::kIsDir:
      return EISDIR;
    case Err::kNameTooLong:
      return ENAMETOOLONG;
    case Err::kInvalidArgument:
      return EINVAL;
    case Err::kNotSeekable:
      return ESPIPE;
  }
  return -1;
}

char HostSeparator() { return '/'; }

std::string FullDevice() { return "/dev/full"; }

bool MakePipe(void*& readEnd, void*& writeEnd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd = reinterpret_cast<void*>(static_cast<std::intptr_t>(fds[0]));
  writeEnd = reinterpret_cast<void*>(static_cast<std::intptr_t>(fds[1]));
  return true;
}

void ClosePipeEnd(void* end) { close(static_cast<int>(reinterpret_cast<std::intptr_t>(end))); }

bool WritePipe(void* writeEnd, std::string const& bytes) {
  int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(writeEnd));
  return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

void* OpenOwn(std::string const& path) {
  return reinterpret_cast<void*>(static_cast<std::intptr_t>(open(path.c_str(), O_RDONLY | O_CLOEXEC)));
}

std::vector<std::string> ProgramArguments() { return testing::internal::GetArgvs(); }

std::string FileId(std::string const& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "";
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

bool IsOpenHere(std::string const& path) {
  struct stat want, st;
  if (stat(path.c_str(), &want) != 0) return false;
  for (auto const& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    int fd = std::atoi(entry.path().filename().c_str());
    if (fstat(fd, &st) == 0 && st.st_dev == want.st_dev && st.st_ino == want.st_ino) return true;
  }
  return false;
}

int OpenFileCount() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

bool MakeSymlink(std::string const& target, std::string const& link, std::string& why) {
  if (symlink(target.c_str(), link.c_str()) == 0) return true;
  why = std::strerror(errno);
  return false;
}

bool SetModTime(std::string const& path, long long seconds) {
  timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::string ProgramPath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

unsigned int HostThreadId() { return static_cast<unsigned int>(gettid()); }

int KilledExitStatus(unsigned int) { return 128 + SIGKILL; }

int HostHandleSlack() { return 0; }

}  // namespace kvtest
