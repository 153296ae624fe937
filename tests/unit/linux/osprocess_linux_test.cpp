// Processes on Linux: what a started program gets, zombies, watcher threads,
// descriptors, signals and the user database.
#include "OS/osprocess.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "OS/internal/cmdline.h"
#include "OS/osthread.h"
#include "support/testing.h"

using namespace Korvane;

namespace {

using Args = std::vector<std::string>;

Args Split(char const* line) {
  std::size_t bytes = 0;
  int count = internal::SplitCommandLine(line, nullptr, nullptr, bytes);
  std::vector<char*> argv(static_cast<std::size_t>(count) + 1);
  std::string text(bytes, '?');
  EXPECT_EQ(internal::SplitCommandLine(line, argv.data(), text.data(), bytes), count);
  EXPECT_EQ(argv[static_cast<std::size_t>(count)], nullptr);
  return {argv.begin(), argv.end() - 1};
}

TEST(CommandLine, SplitsByTheQuoteAndBackslashRules) {
  EXPECT_EQ(Split("prog a\\\\b a\\b"), (Args{"prog", "a\\\\b", "a\\b"}));    // backslashes alone stay
  EXPECT_EQ(Split("prog a\\\"b"), (Args{"prog", "a\"b"}));                  // \" is a quote
  EXPECT_EQ(Split("prog a\\\\\"b c\""), (Args{"prog", "a\\b c"}));          // \\" is \ and a grouping quote
  EXPECT_EQ(Split("prog \"unbalanced rest  "), (Args{"prog", "unbalanced rest  "}));
  EXPECT_EQ(Split("prog trailing\\"), (Args{"prog", "trailing\\"}));
  // The program name: quotes group, backslashes are plain.
  EXPECT_EQ(Split("\"C:\\Program Files\\x\" a"), (Args{"C:\\Program Files\\x", "a"}));
  EXPECT_EQ(Split(""), (Args{""}));
}

// Waits until the process has ended as the library sees it; only a broken
// library makes this wait its whole 30 seconds.
int Reapers();

// The threads of this process by id; a watcher is a thread not among those
// that ran before.
std::set<std::string> Threads() {
  std::set<std::string> ids;
  for (auto const& task : std::filesystem::directory_iterator("/proc/self/task")) ids.insert(task.path().filename());
  return ids;
}

void AwaitWatchersGone(std::set<std::string> const& before) {
  for (int i = 0; i < 6000; ++i) {
    auto now = Threads();
    if (std::includes(before.begin(), before.end(), now.begin(), now.end())) return;
    osSleep(1);
  }
  ADD_FAILURE() << "a watcher stays";
}

bool EndsWithin(unsigned int pid) {
  for (int i = 0; i < 15000 && osIsProcessExist(pid); ++i) osSleep(2);
  return !osIsProcessExist(pid);
}

struct ScopedEnv {
  std::string name;
  std::optional<std::string> old;
  explicit ScopedEnv(char const* n) : name(n) { if (char const* v = std::getenv(n)) old = v; }
  ~ScopedEnv() { old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str()); }
};

TEST(Process, StartsTheProgramWithAFreshSetting) {
  kvtest::TempDir dir;
  std::string out = dir / "probe";
  ScopedEnv keepOut("KVOS_PROBE_OUT"), keepEnv("KVOS_PROBE_ENV");
  ASSERT_TRUE(osSetEnv("KVOS_PROBE_OUT", out.c_str()));
  ASSERT_TRUE(osSetEnv("KVOS_PROBE_ENV", "inherited"));
  // A descriptor the application leaked without close-on-exec, blocked
  // signals and an ignored one: none of them may reach the program.
  int leaked = open("/dev/null", O_RDONLY);
  ASSERT_GE(leaked, 3);
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &old);
  auto previous = signal(SIGPIPE, SIG_IGN);

  std::string big(100000, 'x');
  std::string arguments = "plain \"two words\" a\\\\\\\"b \"\" " + big;
  cKV_Error err;
  unsigned int pid = osCreateProcess(&err, KVOS_PROBE_PATH, arguments.c_str(), "third", "fourth", "desk");

  signal(SIGPIPE, previous);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  close(leaked);
  ASSERT_NE(pid, 0u) << err.ToString();
  EXPECT_TRUE(err.IsNotError());
  ASSERT_TRUE(EndsWithin(pid));
  // The probe's report, byte for byte.
  std::string expected = "argc=6\n";
  for (std::string const& a : Args{KVOS_PROBE_PATH, "plain", "two words", "a\\\"b", "", big})
    expected += "arg=" + std::to_string(a.size()) + ":" + a + "\n";
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(kvtest::ReadFile(out),
            expected + "session_leader=1\nfds=0,1,2\nblocked=0\nsigpipe_ignored=0\ncwd=" + cwd + "\nenv=inherited\n");
}

bool HasChildren() {
  siginfo_t info{};
  return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

void ExpectReport(cKV_Error const& err, std::string const& text) {
  EXPECT_EQ(err.GetCode(), 5);
  EXPECT_STREQ(err.GetUnit(), ".\\osprocess");
  EXPECT_EQ(std::string(err.GetText()), text);
}

TEST(Process, ProgramsThatCannotStartAreFailures) {
  std::string huge(300000, 'y');  // above the host's limit for one argument
  // A fault point stands for what the host cannot be made to refuse.
  struct Case { char const *program, *arguments, *fault; int error; char const* why; } const cases[] = {
      {"/nonexistent/kvos-no-such-program", "a", nullptr, 0, "2 [No such file or directory]"},
      {"kvos-no-such-program-on-path", nullptr, nullptr, 0, "2 [No such file or directory]"},
      {"/etc/passwd", nullptr, nullptr, 0, "13 [Permission denied]"},  // not executable, even for root
      {nullptr, "a", nullptr, 0, "22 [Invalid argument]"},
      {"true", huge.c_str(), nullptr, 0, "7 [Argument list too long]"},
      {"true", nullptr, "proc.spawn", EAGAIN, "11 [Resource temporarily unavailable]"},
      {"true", nullptr, "alloc", ENOMEM, "12 [Cannot allocate memory]"},
      // No watcher for the child: it is taken back at once, not left behind.
      {"sleep", "30", "proc.watch", EAGAIN, "11 [Resource temporarily unavailable]"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.program ? c.program : "(null)");
    cKV_Error err;
    std::optional<kvtest::ScopedFault> fault;
    if (c.fault) fault.emplace(c.fault, c.error);
    EXPECT_EQ(osCreateProcess(&err, c.program, c.arguments, nullptr, nullptr, nullptr), 0u);
    ExpectReport(err, std::string("Failed to create process: GetLastError()=") + c.why);
  }
  EXPECT_FALSE(HasChildren()) << "a child was left behind";
}

TEST(Process, AChildFromStartToKill) {
  cKV_Error err;
  unsigned int pid = osCreateProcess(&err, "sleep", "30", nullptr, nullptr, nullptr);
  ASSERT_NE(pid, 0u) << err.ToString();
  unsigned int copy = pid;
  osCloseProcessHandle(copy);
  EXPECT_TRUE(copy == 0u && osIsProcessExist(pid)) << "forgetting the id must not stop the process";
  {
    kvtest::ScopedFault refused("proc.kill", EPERM);
    EXPECT_FALSE(osKillProcess(&err, pid, 1));
    ExpectReport(err, "Failed to kill process " + std::to_string(pid) + ". GetLastError()=1 [Operation not permitted]");
  }
  err.Reset();
  EXPECT_TRUE(osKillProcess(&err, pid, 7) && err.IsNotError());
  ASSERT_TRUE(EndsWithin(pid));
  // Once ended, the id is never signalled again, whoever gets it next.
  EXPECT_FALSE(osKillProcess(&err, pid, 1));
  ExpectReport(err, "Failed to open process " + std::to_string(pid) + ". GetLastError()=3 [No such process]");
}

TEST(Process, ExitStatusOfEndedPrograms) {
  for (int i = 0; i < 6000 && Reapers() > 0; ++i) osSleep(1);
  // The thread sanitizer starts a thread of its own with a process's first
  // thread; it must be among those that ran before.
  std::thread([] {}).join();
  auto const threads = Threads();
  cKV_Error err;
  auto start = [&](char const* program, char const* arguments) {
    unsigned int pid = osCreateProcess(&err, program, arguments, nullptr, nullptr, nullptr);
    EXPECT_NE(pid, 0u) << err.ToString();
    return pid;
  };
  // Asked the moment the program is seen to end, before its watcher may
  // have recorded it; the shell's 128 + signal for a signal's end.
  for (int round = 0; round < 10; ++round) {
    for (auto [arguments, expected] : {std::pair{"-c \"exit 0\"", 0}, {"-c \"exit 3\"", 3}, {"-c \"exit 255\"", 255},
                                       {"-c \"kill -TERM $$\"", 128 + SIGTERM}}) {
      unsigned int pid = start("sh", arguments);
      while (osIsProcessExist(pid)) {
      }
      int code = -12345;
      EXPECT_TRUE(osGetProcessExitCode(pid, code)) << arguments;
      EXPECT_EQ(code, expected) << arguments;
    }
  }

  unsigned int sleeper = start("sleep", "30");
  int code = -12345;
  EXPECT_FALSE(osGetProcessExitCode(sleeper, code)) << "still running";
  ASSERT_TRUE(osKillProcess(&err, sleeper, 0));
  ASSERT_TRUE(EndsWithin(sleeper));
  EXPECT_TRUE(osGetProcessExitCode(sleeper, code) && code == 128 + SIGKILL) << code;
  AwaitWatchersGone(threads);  // forgetting takes an ended program whose end is recorded
  unsigned int forgotten = sleeper;
  osCloseProcessHandle(forgotten);
  code = -12345;
  EXPECT_FALSE(osGetProcessExitCode(sleeper, code));

  // Not the library's: nothing, this process, a child of the application.
  pid_t own = fork();
  if (own == 0) _exit(5);
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(own), &info, WEXITED | WNOWAIT), 0);
  for (unsigned int pid : {0u, osGetCurrentProcessId(), static_cast<unsigned int>(own), 0xFFFFFFFFu})
    EXPECT_FALSE(osGetProcessExitCode(pid, code)) << pid;
  EXPECT_EQ(code, -12345);
  EXPECT_EQ(waitpid(own, nullptr, 0), own);

  // The last 256 ended programs are remembered, the one before them not;
  // one after the other (each watcher gone), so that they end in order.
  std::vector<unsigned int> pids;
  for (int i = 0; i < 257; ++i) {
    pids.push_back(start("sh", i == 1 ? "-c \"exit 9\"" : "-c true"));
    AwaitWatchersGone(threads);
  }
  EXPECT_FALSE(osGetProcessExitCode(pids[0], code));
  EXPECT_TRUE(osGetProcessExitCode(pids[1], code) && code == 9) << code;
  EXPECT_TRUE(osGetProcessExitCode(pids[256], code) && code == 0) << code;
}

TEST(Process, ProcessesTheLibraryDidNotStart) {
  unsigned int self = osGetCurrentProcessId();
  EXPECT_TRUE(self == static_cast<unsigned int>(getpid()) && osIsProcessExist(self));

  // A thread id of this process names no process (and signalling it would
  // hit the whole process).
  std::thread([] {
    unsigned int tid = osGetCurrentThreadId();
    EXPECT_TRUE(!osIsProcessExist(tid) && !osKillProcess(nullptr, tid, 1));
  }).join();

  // A zombie of the application's own counts as ended, and the library
  // leaves it for the application to reap.
  pid_t zombie = fork();
  if (zombie == 0) _exit(0);
  auto z = static_cast<unsigned int>(zombie);
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(zombie), &info, WEXITED | WNOWAIT), 0);
  EXPECT_FALSE(osIsProcessExist(z));
  EXPECT_EQ(waitpid(zombie, nullptr, 0), zombie) << "the library reaped a child it did not start";

  // Ids that name nothing; -1 must never become "every process".
  for (auto [id, text] : {std::pair{0u, "Invalid process id"},
                          {0xFFFFFFFFu, "Failed to open process -1. GetLastError()=3 [No such process]"}}) {
    cKV_Error err;
    EXPECT_TRUE(!osIsProcessExist(id) && !osKillProcess(&err, id, 1));
    ExpectReport(err, text);
  }

  // /proc may hide another user's process; the kernel still knows it.
  kvtest::ScopedFault hidden("proc.status", ENOENT);
  kvtest::ScopedFault notOurs("proc.signal", EPERM);
  unsigned int nothing = 0x7FFFFFFF;
  EXPECT_TRUE(osIsProcessExist(nothing));
}

std::ptrdiff_t OpenDescriptors() { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }

// The library's watcher threads, by the name they carry.
int Reapers() {
  int n = 0;
  for (auto const& task : std::filesystem::directory_iterator("/proc/self/task"))
    n += kvtest::ReadFile(task.path() / "comm") == "kv_Os reaper\n";
  return n;
}

TEST(Process, FiveHundredProgramsLeaveNothingBehind) {
  auto fds = OpenDescriptors();
  std::vector<unsigned int> pids;
  cKV_Error err;
  for (int i = 0; i < 500; ++i) {
    pids.push_back(osCreateProcess(&err, "true", nullptr, nullptr, nullptr, nullptr));
    ASSERT_NE(pids.back(), 0u) << err.ToString();
  }
  for (auto pid : pids) ASSERT_TRUE(EndsWithin(pid));
  // The watchers reap and leave on their own; give them their moment.
  for (int i = 0; i < 6000 && (HasChildren() || Reapers() > 0); ++i) osSleep(5);
  EXPECT_TRUE(!HasChildren() && Reapers() == 0) << "zombies or watchers left behind";
  EXPECT_EQ(OpenDescriptors(), fds);
}

TEST(Environment, GetAndSet) {
  ScopedEnv keep("KVOS_TEST_VAR");
  unsetenv("KVOS_TEST_VAR");
  cKV_String value("before");
  EXPECT_TRUE(!osGetEnv("KVOS_TEST_VAR", value) && value == "before");
  EXPECT_TRUE(osSetEnv("KVOS_TEST_VAR", "1") && osGetEnv("KVOS_TEST_VAR", value) && value == "1");
  EXPECT_TRUE(osSetEnv("KVOS_TEST_VAR", "") && std::getenv("KVOS_TEST_VAR") == nullptr);  // empty removes
  EXPECT_TRUE(osSetEnv("KVOS_TEST_VAR", nullptr)) << "removing an unset variable";

  // Names that cannot name a variable change nothing (a plain getenv of
  // "KVOS_TEST_VAR=B" would find "C" here).
  setenv("KVOS_TEST_VAR", "B=C", 1);
  for (char const* name : {"KVOS_TEST_VAR=B", "", static_cast<char const*>(nullptr)})
    EXPECT_TRUE(!osSetEnv(name, "D") && !osGetEnv(name, value));
  EXPECT_STREQ(std::getenv("KVOS_TEST_VAR"), "B=C");
}

TEST(Environment, TemporaryDirectory) {
  ScopedEnv keep("TMPDIR");
  kvtest::TempDir dir;
  kvtest::WriteFile(dir / "file", "x");
  setenv("TMPDIR", dir.Path().c_str(), 1);
  EXPECT_EQ(std::string(osGetTemp()), dir.Path() + "/");
  setenv("TMPDIR", (dir / "file").c_str(), 1);  // not a directory
  EXPECT_STREQ(osGetTemp(), "/tmp/");
}

TEST(Environment, TheEffectiveUser) {
  passwd* entry = getpwuid(geteuid());
  if (entry == nullptr) GTEST_SKIP() << "the effective user has no entry in the user database";
  std::string expected = entry->pw_name;
  {
    kvtest::ScopedFault small("proc.user", ERANGE, 0, 2);  // the first buffers are too small
    cKV_String user("old");
    EXPECT_TRUE(osGetCurrentProcessUser(user) && std::string(user) == expected);
  }
  kvtest::ScopedFault broken("proc.user", EIO);
  cKV_String none("kept");
  EXPECT_TRUE(!osGetCurrentProcessUser(none) && none == "kept");
}

}  // namespace
