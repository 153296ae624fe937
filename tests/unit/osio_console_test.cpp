#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "OS/osio.h"

using namespace Korvane;

namespace {

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

struct Pty {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC), slave = -1;
  Pty() {
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 && ptsname(master) != nullptr)
      slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~Pty() {
    close(slave);
    close(master);
  }
  // What the terminal has shown since the last call.
  std::string Shown() const {
    std::string out;
    char buf[256];
    pollfd p{master, POLLIN, 0};
    for (ssize_t n; poll(&p, 1, 100) > 0 && (n = read(master, buf, sizeof buf)) > 0;)
      out.append(buf, static_cast<std::size_t>(n));
    return out;
  }
  void Type(char const* keys) const { ASSERT_EQ(write(master, keys, strlen(keys)), ssize_t(strlen(keys))); }
};

TEST(ConsoleKey, TerminalDeliversSingleKeysEchoedOnceAndRestoresItsModes) {
  Pty pty;
  if (pty.slave < 0) GTEST_SKIP() << "no pseudo-terminals on this machine";
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
  pty.Type("xy");
  ASSERT_TRUE(osWaitForConsoleInput(2000, key));
  EXPECT_EQ(key, 'x');
  ASSERT_TRUE(osWaitForConsoleInput(0, key));
  EXPECT_EQ(key, 'y');
  EXPECT_EQ(pty.Shown(), "xy");  // each key shown once
  EXPECT_FALSE(osWaitForConsoleInput(0, key));

  // Enter comes as a line feed, whether the terminal maps CR or not.
  termios raw = before;
  raw.c_iflag &= static_cast<tcflag_t>(~ICRNL);
  for (termios const* mode : {&before, &raw}) {
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, mode), 0);
    pty.Type("\r");
    ASSERT_TRUE(osWaitForConsoleInput(2000, key));
    EXPECT_EQ(key, '\n');
  }
  ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &before), 0);

  // A key pressed while the call waits.
  std::thread typist([&pty] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty.Type("k");
  });
  bool got = osWaitForConsoleInput(500, key);
  typist.join();
  ASSERT_TRUE(got);
  EXPECT_EQ(key, 'k');

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
    char key = 0;
    std::string keys;
    for (int i = 0; i < 4; ++i) {
      ASSERT_TRUE(osWaitForConsoleInput(0, key));
      keys += key;
    }
    EXPECT_EQ(keys, "q\n\nz");
    EXPECT_FALSE(osWaitForConsoleInput(10, key));
    close(fds[1]);
    // At the end of the input the wait still takes its time, so a polling
    // caller does not spin.
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(osWaitForConsoleInput(20, key));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  }
  close(fds[0]);
  {
    ScopedStdin closed(-1);
    char key = 'u';
    EXPECT_FALSE(osWaitForConsoleInput(0, key));
    EXPECT_EQ(key, 'u');
  }
}

}  // namespace
