// Sockets as descriptors: descriptor 0, close-on-exec and non-blocking
// flags, SIGPIPE and interrupting signals.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <vector>

#include "OS/ossocket.h"
#include "support/testing.h"
#include "unit/ossocket_helpers.h"

using namespace Korvane;
using namespace nettest;

namespace {

bool IsNonblocking(unsigned int s) { return (fcntl(static_cast<int>(s), F_GETFL) & O_NONBLOCK) != 0; }

bool SigpipeIsDefault() {
  struct sigaction now {};
  sigaction(SIGPIPE, nullptr, &now);
  return now.sa_handler == SIG_DFL;
}

// A handler without SA_RESTART, so that host calls see EINTR.
void InstallInterruptingHandler(int signal) {
  struct sigaction sa {};
  sa.sa_handler = [](int) {};
  sigemptyset(&sa.sa_mask);
  sigaction(signal, &sa, nullptr);
}

// Interrupts a waiting thread a few times.
void Poke(pthread_t thread, int signal, int times = 5) {
  for (int i = 0; i < times; ++i) {
    pthread_kill(thread, signal);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Descriptor 0 holding the standard input and a pipe: refused untouched,
// and 0 is never handed out as a socket.
TEST(SocketLinux, StandardInputAndPipesAreNoSockets) {
  int saved = dup(0);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "keep", 4), 4);
  ASSERT_EQ(dup2(fds[0], 0), 0);

  unsigned char buf[8] = {};
  for (unsigned int number : {0u, static_cast<unsigned int>(fds[1])}) {
    SCOPED_TRACE(number);
    unsigned int s = number, count = 5;
    cKV_Error err;
    bool flag = true;
    EXPECT_TRUE(!osSoctClose(&err, s) && s == number);
    EXPECT_TRUE(!osSoctSetNonblock(&err, s, true) && !osSockGetReadSize(&err, s, count) && count == 0);
    EXPECT_TRUE(osSoctRecv(&err, s, buf, sizeof buf, &flag) == -1 && !flag);
    EXPECT_EQ(osSoctSend(&err, s, buf, sizeof buf, &flag), -1);
    EXPECT_EQ(std::string(err.GetText()),
              "Send failed on socket " + std::to_string(number) + ". Bytes requested to send=8. WSAGetLastError()=" +
                  std::to_string(ENOTSOCK));
  }
  char rest[8] = {};
  EXPECT_TRUE(read(0, rest, sizeof rest) == 4 && std::string(rest) == "keep");  // the standard input kept its data
  EXPECT_FALSE(IsNonblocking(0) || IsNonblocking(fds[1]));
  EXPECT_EQ(write(fds[1], "x", 1), 1);  // the pipe is still open
  for (int fd : {fds[0], fds[1], 0}) close(fd);
  {
    Listener l;  // its socket would be 0 but is moved
    Sock c, a{nullptr};
    ASSERT_TRUE(osSoctConnect(nullptr, c, l.Address(), nullptr));
    ASSERT_EQ(fcntl(0, F_GETFD), -1);
    ASSERT_TRUE(osSoctAccept(nullptr, l, a.s, nullptr, nullptr));
    for (unsigned int s : {l.s, c.s, a.s}) EXPECT_TRUE(s != 0 && !IsInheritable(s)) << s;
    EXPECT_EQ(fcntl(0, F_GETFD), -1);  // and 0 was given back
  }
  dup2(saved, 0);
  close(saved);
}

TEST(SocketLinux, NonblockingModeIsTheDescriptorsAndAcceptKeepsIt) {
  Listener l;
  EXPECT_FALSE(IsNonblocking(l));
  ASSERT_TRUE(osSoctSetNonblock(nullptr, l, true) && IsNonblocking(l));
  Sock c, s{nullptr};
  ASSERT_TRUE(osSoctConnect(nullptr, c, l.Address(), nullptr));
  ASSERT_TRUE(Eventually([&] { return osSoctAccept(nullptr, l, s.s, nullptr, nullptr); }));
  EXPECT_TRUE(IsNonblocking(s) && !IsInheritable(s));
  ASSERT_TRUE(osSoctSetNonblock(nullptr, l, false) && !IsNonblocking(l));
  Sock c2, s2{nullptr};
  ASSERT_TRUE(osSoctConnect(nullptr, c2, l.Address(), nullptr) && osSoctAccept(nullptr, l, s2.s, nullptr, nullptr));
  EXPECT_FALSE(IsNonblocking(s2));
}

// Sending to a peer that has gone gives failures, never SIGPIPE.
TEST(SocketLinux, VanishingPeerGivesFailuresNotSignals) {
  ASSERT_TRUE(SigpipeIsDefault());
  std::vector<unsigned char> data(65536, 1);
  cKV_Error err;
  {
    Pair p;
    ASSERT_TRUE(osSoctShutdown(nullptr, p.client, eSoctShutdownBoth));
    EXPECT_EQ(osSoctSend(&err, p.client, data.data(), 5, nullptr), -1);
    EXPECT_TRUE(SigpipeIsDefault());
  }

  // A child that reads a little and is killed while we keep sending.
  Listener l;
  pid_t child = fork();
  if (child == 0) {
    Sock c;
    unsigned char buf[1000];
    if (osSoctConnect(nullptr, c, l.Address(), nullptr) && osSoctRecv(nullptr, c, buf, sizeof buf, nullptr) > 0)
      for (;;) pause();
    _exit(1);
  }
  Sock s{nullptr};
  ASSERT_TRUE(osSoctAccept(nullptr, l, s.s, nullptr, nullptr));
  ASSERT_GT(osSoctSend(&err, s, data.data(), 100, nullptr), 0);
  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(child, SIGKILL);
  });
  int r = 0;
  for (int i = 0; i < 100000 && r >= 0; ++i) r = osSoctSend(&err, s, data.data(), 65536, nullptr);
  killer.join();
  waitpid(child, nullptr, 0);
  EXPECT_EQ(r, -1);
  EXPECT_EQ(err.GetCode(), 6);
  std::string text = static_cast<char const*>(err.GetText());
  std::string sendFailed =
      "Send failed on socket " + std::to_string(s.s) + ". Bytes requested to send=65536. WSAGetLastError()=";
  EXPECT_TRUE(text == sendFailed + std::to_string(EPIPE) || text == sendFailed + std::to_string(ECONNRESET)) << text;
  EXPECT_TRUE(SigpipeIsDefault());
}

// Signals do not cut blocking calls short: they go on as if nothing came.
TEST(SocketLinux, BlockingCallsResumeAfterSignals) {
  InstallInterruptingHandler(SIGUSR1);
  Listener l;
  std::atomic<int> stage{0};
  Sock accepted{nullptr};
  int received = -2;
  unsigned char buf[16] = {};
  pthread_t waiter{};
  std::thread t([&] {
    waiter = pthread_self();
    stage = 1;
    if (!osSoctAccept(nullptr, l, accepted.s, nullptr, nullptr)) return;
    stage = 2;
    received = osSoctRecv(nullptr, accepted, buf, sizeof buf, nullptr);
  });
  while (stage.load() < 1) std::this_thread::yield();
  Poke(waiter, SIGUSR1);
  Sock c;
  ASSERT_TRUE(osSoctConnect(nullptr, c, l.Address(), nullptr));
  while (stage.load() < 2) std::this_thread::yield();
  Poke(waiter, SIGUSR1);
  unsigned char const msg[] = "after";
  ASSERT_EQ(osSoctSend(nullptr, c, msg, 5, nullptr), 5);
  t.join();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), std::max(received, 0)), "after") << received;
  signal(SIGUSR1, SIG_DFL);
}

// Signals do not end a select: it goes on with the time that is left, or
// without limit until something is ready.
TEST(SocketLinux, WaitsSurviveSignals) {
  InstallInterruptingHandler(SIGUSR2);
  Pair p;
  for (unsigned int timeout : {200u, 0xFFFFFFFFu}) {
    std::atomic<int> result{-2};
    std::atomic<bool> started{false};
    pthread_t waiter{};
    std::thread t([&] {
      waiter = pthread_self();
      Set r{p.server};
      started = true;
      result = osSoctSelect(nullptr, 0, r.p, nullptr, nullptr, timeout);
    });
    while (!started) std::this_thread::yield();
    Poke(waiter, SIGUSR2, timeout == 200 ? 10 : 5);
    unsigned char const x[] = "x";
    EXPECT_TRUE(timeout == 200 || (result.load() == -2 && osSoctSend(nullptr, p.client, x, 1, nullptr) == 1));
    t.join();
    EXPECT_EQ(result.load(), timeout == 200 ? 0 : 1);
  }
  signal(SIGUSR2, SIG_DFL);
}

}  // namespace
