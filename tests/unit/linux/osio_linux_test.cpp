// Files on Linux: descriptors, record-lock share modes across processes,
// FIFOs and descriptors replaced under the library, the terminal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "OS/osio.h"
#include "support/testing.h"

using namespace Korvane;
using kvtest::ScopedFault;
using kvtest::TempDir;

namespace {

void* const kInvalid = osInvalidFileHandle();

std::string Text(cKV_String const& s) { return static_cast<char const*>(s); }

TEST(FileHandle, DescriptorsAreCloseOnExec) {
  TempDir dir;
  std::string path = dir / "a.bin";
  void* f = osFileOpen(path.c_str(), 3 | 4, 0x300);
  ASSERT_NE(f, kInvalid);
  EXPECT_NE(fcntl(static_cast<int>(reinterpret_cast<std::intptr_t>(f)), F_GETFD) & FD_CLOEXEC, 0);
  osFileClose(f);
}

TEST(FileShare, FileSystemsWithoutRecordLocksStillOpen) {
  TempDir dir;
  std::string path = dir / "shared.txt";
  kvtest::WriteFile(path, "content");
  // Nothing to enforce there: both opens succeed.
  void* first = osFileOpen(path.c_str(), 1, 0);
  ScopedFault fault("io.lock", ENOLCK, 0, 100);
  void* second = osFileOpen(path.c_str(), 1, 0);
  EXPECT_NE(second, kInvalid);
  osFileClose(second);
  osFileClose(first);
}

TEST(FileShare, HoldsAcrossProcessesAndOnlyWhileTheHandleIsOpen) {
  TempDir dir;
  std::string path = dir / "x.txt";
  kvtest::WriteFile(path, "x");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    char c = osFileOpen(path.c_str(), 1, 0) != osInvalidFileHandle() ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    pause();  // holds the file until killed
    _exit(0);
  }
  char c = 0;
  EXPECT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  EXPECT_EQ(osFileOpen(path.c_str(), 1, 0x300), kInvalid);
  cKV_String text;
  EXPECT_FALSE(osReadFileTxt(nullptr, path.c_str(), text, 10));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_TRUE(osReadFileTxt(nullptr, path.c_str(), text, 10));  // nothing shared, and nothing held now
  for (int fd : ready) close(fd);
}

// What scanning in reads of 4 bytes and then reading the line gives on a
// descriptor that cannot go back: the scanned bytes are consumed and the
// line read is the bytes after them. The texts up to the first failure.
std::vector<std::string> StreamLines(std::string const& data, unsigned int limit) {
  std::vector<std::string> lines;
  for (std::size_t pos = 0;;) {
    std::size_t budget = limit == 0 ? 65535 : limit, scanned = 0, count = 0;
    for (;;) {
      std::string small = data.substr(std::min(pos + scanned, data.size()), std::min<std::size_t>(budget, 4));
      std::size_t end = small.find_first_of(std::string("\n\0", 2));
      if (end != std::string::npos) {
        count = scanned + end + 1;
        scanned += small.size();
        break;
      }
      scanned += small.size();
      budget -= small.size();
      if (small.empty() || budget == 0) return lines;
    }
    pos += scanned;
    if (pos + count > data.size()) return lines;
    std::string text = data.substr(pos, count);
    if (text.back() == '\n') text.erase(text.size() - (count >= 2 && text[count - 2] == '\r' ? 2 : 1));
    lines.push_back(text.substr(0, text.find('\0')));
    pos += count;
  }
}

TEST(FileReadLine, DescriptorsThatCannotSeekAreNeverReadAhead) {
  TempDir dir;
  std::string path = dir / "plain.txt", fifo = dir / "fifo";
  kvtest::WriteFile(path, "first\nsecond\n");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::mt19937 rng(3);
  for (int round = 0; round < 24; ++round) {
    std::string data;
    while (data.size() < 30000) {
      std::size_t length = rng() % 4 == 0 ? rng() % 9 : rng() % 120;
      for (std::size_t i = 0; i < length; ++i) data += static_cast<char>('a' + rng() % 26);
      if (rng() % 5 == 0) data += '\r';
      data += (rng() % 20 == 0) ? '\0' : '\n';
    }
    unsigned int const limits[] = {0, 3, 5, 64};
    unsigned int limit = limits[round % 4];
    SCOPED_TRACE(testing::Message() << "round " << round << " limit " << limit);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    void* f = kInvalid;
    switch (round % 3) {
      case 0: {  // a FIFO that this library opened, without waiting for a writer; it blocks after
        f = osFileOpen(fifo.c_str(), 1, 0x300);
        EXPECT_EQ(fcntl(static_cast<int>(reinterpret_cast<std::intptr_t>(f)), F_GETFL) & O_NONBLOCK, 0);
        int writer = open(fifo.c_str(), O_WRONLY);
        dup2(writer, fds[1]);
        close(writer);
        break;
      }
      case 1: {  // a pipe on the number of a closed handle that was read ahead
        void* earlier = osFileOpen(path.c_str(), 1, 0x300);
        cKV_String line;
        ASSERT_TRUE(osFileReadLine(earlier, line, 0));
        ASSERT_TRUE(osFileReadLine(earlier, line, 0));
        int number = static_cast<int>(reinterpret_cast<std::intptr_t>(earlier));
        osFileClose(earlier);
        ASSERT_EQ(dup2(fds[0], number), number);
        f = earlier = reinterpret_cast<void*>(static_cast<std::intptr_t>(number));
        break;
      }
      default: {  // a pipe on the number of the caller's own file, closed by the caller
        int own = open(path.c_str(), O_RDONLY);
        f = reinterpret_cast<void*>(static_cast<std::intptr_t>(own));
        cKV_String line;
        ASSERT_TRUE(osFileReadLine(f, line, 0));
        ASSERT_EQ(dup2(fds[0], own), own);
        break;
      }
    }
    ASSERT_NE(f, kInvalid);
    if (f != reinterpret_cast<void*>(static_cast<std::intptr_t>(fds[0]))) close(fds[0]);
    ASSERT_EQ(write(fds[1], data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(fds[1]);
    cKV_String line;
    for (std::string const& want : StreamLines(data, limit)) {
      ASSERT_TRUE(osFileReadLine(f, line, limit));
      ASSERT_EQ(Text(line), want);
    }
    EXPECT_FALSE(osFileReadLine(f, line, limit));
    osFileClose(f);
  }
}

// Puts `fd` (none when negative) in place of standard input for the scope.
class ScopedStdin {
 public:
  explicit ScopedStdin(int fd) : _saved(dup(STDIN_FILENO)) { fd >= 0 ? dup2(fd, STDIN_FILENO) : close(STDIN_FILENO); }
  ~ScopedStdin() {
    dup2(_saved, STDIN_FILENO);
    close(_saved);
  }

 private:
  int _saved;
};

// The key that standard input delivers within `ms`, or "none".
std::string KeyWithin(unsigned int ms) {
  char key = 0;
  return osWaitForConsoleInput(ms, key) ? std::string(1, key) : "none";
}

TEST(ConsoleKey, TerminalDeliversSingleKeysEchoedOnceAndRestoresItsModes) {
  struct Pty {
    int master = -1, slave = -1;
    ~Pty() {
      close(slave);
      close(master);
    }
  } pty;
  if (openpty(&pty.master, &pty.slave, nullptr, nullptr, nullptr) != 0) GTEST_SKIP() << "no pseudo-terminals here";
  // What the terminal has shown since the last look; typing on it.
  auto shown = [&pty] {
    std::string out;
    char buf[256];
    pollfd p{pty.master, POLLIN, 0};
    for (ssize_t n; poll(&p, 1, 100) > 0 && (n = read(pty.master, buf, sizeof buf)) > 0;)
      out.append(buf, static_cast<std::size_t>(n));
    return out;
  };
  auto type = [&pty](char const* keys) { EXPECT_EQ(write(pty.master, keys, strlen(keys)), ssize_t(strlen(keys))); };
  ScopedStdin in(pty.slave);
  termios before;
  ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
  ASSERT_NE(before.c_lflag & ICANON, 0u);

  char key = 0;
  EXPECT_FALSE(osWaitForConsoleInput(0, key));
  EXPECT_FALSE(osWaitForConsoleInput(30, key));
  EXPECT_EQ(key, 0);

  // Typed before the call, without Enter: the line is not complete, yet the
  // keys come one at a time.
  type("xy");
  EXPECT_EQ(KeyWithin(2000), "x");
  EXPECT_EQ(KeyWithin(0), "y");
  EXPECT_EQ(shown(), "xy");  // each key shown once
  EXPECT_EQ(KeyWithin(0), "none");



  termios after;
  ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
  EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
}

TEST(ConsoleKey, PipesAndMissingInput) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  {
    ScopedStdin in(fds[0]);
    ASSERT_EQ(write(fds[1], "q\r\nz", 4), 4);
    std::string keys;
    for (int i = 0; i < 4; ++i) keys += KeyWithin(0);
    EXPECT_EQ(keys, "q\n\nz");
    EXPECT_EQ(KeyWithin(10), "none");
    close(fds[1]);
  }
  close(fds[0]);
}

TEST(FileReadText, HostFilesWithoutASizeAreReadToTheirEnd) {
  // The host's own files: /proc gives no size at all, /sys claims a page
  // for a few bytes. What a plain read gives is the text.
  for (char const* host : {"/proc/version", "/proc/self/mountinfo", "/sys/devices/system/cpu/online"}) {
    if (access(host, R_OK) != 0) continue;
    cKV_Error err;
    cKV_String text;
    ASSERT_TRUE(osReadFileTxt(&err, host, text, 1 << 20)) << host << ": " << Text(err.GetText());
    EXPECT_EQ(Text(text), kvtest::ReadFile(host)) << host;
    ASSERT_TRUE(osReadFileTxt(&err, host, text, 3)) << host;
    EXPECT_EQ(Text(text), kvtest::ReadFile(host).substr(0, 3)) << host;
  }
  cKV_String status;
  ASSERT_TRUE(osReadFileTxt(nullptr, "/proc/self/status", status, 1 << 20));
  EXPECT_NE(Text(status).find("\nPid:\t" + std::to_string(getpid()) + "\n"), std::string::npos) << Text(status);

}

}  // namespace
