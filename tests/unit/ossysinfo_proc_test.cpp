// Process statistics: the monitor against what the process really did, its
// failures, and the queries about other processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "OS/internal/sysinfo.h"
#include "OS/ossysinfo.h"
#include "support/testing.h"

// Only named by the library; this is all the tests need of it.
template <>
class Korvane::ctKV_Array<unsigned int> {
 public:
  int marker = 7;
};

using namespace Korvane;

namespace {

using Clock = std::chrono::steady_clock;
using Monitor = std::unique_ptr<iKV_ProcStatMon>;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double CpuSeconds(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

unsigned Self() { return static_cast<unsigned>(getpid()); }

void ExpectError(cKV_Error const& err, std::string const& text, int code = 1) {
  EXPECT_EQ(err.GetCode(), code);
  EXPECT_STREQ(static_cast<char const*>(err.GetUnit()), ".\\ossysinfo");
  EXPECT_EQ(std::string(err.GetText()), text);
}

// Create, or Collect of `mon`, fails with this report.
void ExpectFailure(iKV_ProcStatMon* mon, std::string const& text, int code = 1) {
  cKV_Error err;
  EXPECT_EQ(mon != nullptr ? mon->Collect(&err) : iKV_ProcStatMon::Create(&err) != nullptr, false);
  ExpectError(err, text, code);
}

TEST(ProcStatMon, SpinningThreadLoadsOneProcessor) {
  int n = cKV_SysInfo::GetCpuCount();
  Monitor mon(iKV_ProcStatMon::Create(nullptr));
  ASSERT_NE(mon, nullptr);
  ASSERT_TRUE(mon->Collect(nullptr));
  auto start = Clock::now();
  double spun = 0;
  std::thread([&] {
    double from = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    while (Clock::now() - start < std::chrono::seconds(1)) {
    }
    spun = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - from;
  }).join();
  cKV_Error err;
  ASSERT_TRUE(mon->Collect(&err));
  double wall = Seconds(Clock::now() - start);
  int load = mon->GetProcCpuLoad(&err);
  EXPECT_TRUE(err.IsNotError());
  // Near 100/n when the thread had a processor to itself; on a busy machine
  // it got less, which its own clock tells.
  EXPECT_NEAR(load, 100.0 * spun / (n * wall), 10.0)
      << "spun " << spun << " s in " << wall << " s on " << n << " processors";
}

// The helper program spins, samples itself once, reports and ends.
TEST(ProcStatMon, FirstCollectAveragesSinceTheProcessStarted) {
  int n = cKV_SysInfo::GetCpuCount();
  auto start = Clock::now();
  auto r = kvtest::Run({OSSYSINFO_CHILD, "600", "--collect"});
  double wall = Seconds(Clock::now() - start);
  int load = -1;
  long long cpuNs = 0;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "load %d cpu_ns %lld\nready\n", &load, &cpuNs), 2) << r.out << r.err;
  // The child lived at most `wall` and spun `cpu` of it: its average since
  // its start lies between cpu / wall and one whole processor. A first
  // interval that began anywhere but at the start would not.
  double cpu = static_cast<double>(cpuNs) / 1e9;
  EXPECT_GE(load, 100.0 * cpu / (n * wall) - 10.0) << cpu << " s of processor in " << wall << " s";
  EXPECT_LE(load, 100.0 / n + 5.0);
  EXPECT_GT(load, 0);
}

TEST(ProcStatMon, PageFaultsAndResidentSizeFollowFreshMemory) {
  Monitor mon(iKV_ProcStatMon::Create(nullptr));
  ASSERT_NE(mon, nullptr);

  // The first sample counts every fault since the process started.
  ASSERT_TRUE(mon->Collect(nullptr));
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  long sinceStart = u.ru_minflt + u.ru_majflt;
  EXPECT_LE(mon->GetProcPageFaultCount(), sinceStart);
  EXPECT_GE(mon->GetProcPageFaultCount(), sinceStart - 100);

  constexpr std::size_t kSize = 100u << 20;
  void* block = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(block, MAP_FAILED);
  madvise(block, kSize, MADV_NOHUGEPAGE);  // one fault per small page
  ASSERT_TRUE(mon->Collect(nullptr));
  unsigned long long before = mon->GetProcMemoryLoad();
  for (std::size_t i = 0; i < kSize; i += static_cast<std::size_t>(sysconf(_SC_PAGESIZE)))
    static_cast<char*>(block)[i] = 1;
  ASSERT_TRUE(mon->Collect(nullptr));
  EXPECT_GE(mon->GetProcPageFaultCount(), 25000);
  EXPECT_GE(mon->GetProcMemoryLoad(), before + kSize * 95 / 100);
#if defined(__SANITIZE_THREAD__)
  // The thread sanitizer keeps shadow memory for every byte written, which
  // is resident too: only the lower bound holds under it.
#else
  EXPECT_LE(mon->GetProcMemoryLoad(), before + kSize * 115 / 100);
#endif

  // The free function agrees with the kernel's own report.
  std::string status = kvtest::ReadFile("/proc/self/status");
  ASSERT_NE(status.find("VmRSS:"), std::string::npos);
  double rssKb = std::atof(status.c_str() + status.find("VmRSS:") + 6);
  EXPECT_NEAR(static_cast<double>(osGetCurProcVMSize()), rssKb * 1024, 4.0 * (1 << 20));
  munmap(block, kSize);

  // Nothing new: no faults in the interval.
  ASSERT_TRUE(mon->Collect(nullptr));
  EXPECT_LT(mon->GetProcPageFaultCount(), 1000);
}

TEST(ProcStatMon, HostFailures) {
  // Before any sample there is no interval to measure.
  cProcStatMon fresh;
  cKV_Error err;
  EXPECT_EQ(fresh.GetProcCpuLoad(&err), 0);
  ExpectError(err, "Failed to calculate");
  EXPECT_EQ(fresh.GetProcPageFaultCount() + static_cast<long>(fresh.GetProcMemoryLoad()), 0);
  {
    kvtest::ScopedFault noMemory("alloc", ENOMEM);
    ExpectFailure(nullptr, "Failed to allocate memory. Requested size:" + std::to_string(sizeof(cProcStatMon)), 7);
  }
  Monitor mon(iKV_ProcStatMon::Create(nullptr));
  ASSERT_NE(mon, nullptr);
  for (auto [point, error, text] :
       {std::tuple{"sysinfo.proctime", EIO, "GetProcessTimes failed. GetLastError()=5 [Input/output error]"},
        {"sysinfo.rusage", EPERM, "GetProcessMemoryInfo failed. GetLastError()=1 [Operation not permitted]"}}) {
    kvtest::ScopedFault fault(point, error);
    ExpectFailure(mon.get(), text);
  }
  EXPECT_TRUE(mon->Collect(nullptr));

  // A reduced /proc: no start time to begin with.
  kvtest::TempDir root;
  kvtest::ScopedRecordedRoot recorded(root.Path());
  ExpectFailure(nullptr, "GetProcessTimes failed. GetLastError()=2 [No such file or directory]");
  std::filesystem::create_directories(root / "proc/self");
  for (char const* bad : {"", "1234 (app) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 x\n"}) {
    kvtest::WriteFile(root / "proc/self/stat", bad);
    ExpectFailure(nullptr, "GetProcessTimes failed. GetLastError()=74 [Bad message]");
  }
  // A start time, but no resident size.
  kvtest::WriteFile(root / "proc/self/stat",
                    "1234 (a) b) S 1 1234 1234 0 -1 4194304 101 0 0 0 0 0 0 0 20 0 1 0 486126 3133440 418 1\n");
  mon.reset(iKV_ProcStatMon::Create(nullptr));
  ASSERT_NE(mon, nullptr);
  ExpectFailure(mon.get(), "GetProcessMemoryInfo failed. GetLastError()=2 [No such file or directory]");
  kvtest::WriteFile(root / "proc/self/statm", "9000 oops\n");
  ExpectFailure(mon.get(), "GetProcessMemoryInfo failed. GetLastError()=74 [Bad message]");
  EXPECT_EQ(osGetCurProcVMSize(), 0u);
  kvtest::WriteFile(root / "proc/self/statm", "9000 300 200 10 0 500 0\n");
  EXPECT_TRUE(mon->Collect(nullptr));
  EXPECT_EQ(mon->GetProcMemoryLoad(), 300ull * static_cast<unsigned long long>(sysconf(_SC_PAGESIZE)));
  EXPECT_EQ(osGetCurProcVMSize(), mon->GetProcMemoryLoad());
}

TEST(ProcStatMon, StartTimeBehindAnyCommandName) {
  using sysinfo::ParseProcessStart;
  std::string tail = " S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 424242 99 7\n";
  for (char const* comm : {"(a)", "(a b)", "(a) b)", "()", "((x))", "(x) S 1 2 3)", "(a\nb)", "(a)\n)"}) {
    unsigned long long ticks = 0;
    EXPECT_TRUE(ParseProcessStart(("77 " + std::string(comm) + tail).c_str(), ticks)) << comm;
    EXPECT_EQ(ticks, 424242u) << comm;
  }
  unsigned long long ticks = 0;
  // Too few fields, cut inside the start time, an empty field.
  for (char const* bad : {"77 (a) S 1 2\n", "77 (a) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 4242",
                          "77 (a) S 1  2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 4242 0\n"})
    EXPECT_FALSE(ParseProcessStart(bad, ticks)) << bad;
}

TEST(ProcStatMon, HostNumbersAtTheSixtyFourBitBoundary) {
  // The largest 64-bit number is read; one more is refused, never wrapped
  // to a small one. Around it: below, and far beyond.
  std::tuple<char const*, bool, unsigned long long> const numbers[] = {
      {"18446744073709551615", true, ~0ULL},          {"18446744073709551614", true, ~0ULL - 1},
      {"18446744073709551616", false, 0},             {"18446744073709551619", false, 0},
      {"18446744073709551625", false, 0},             {"99999999999999999999", false, 0},
      {"184467440737095516150", false, 0},            {"01844674407370955161", true, 1844674407370955161ULL},
      {" 0 ", true, 0},                               {"", false, 0},
  };
  for (auto const& [text, ok, want] : numbers) {
    unsigned long long value = 12345;
    std::string const number(text);
    EXPECT_EQ(sysinfo::ParseUnsigned(number.data(), number.data() + number.size(), value), ok) << text;
    EXPECT_EQ(value, ok ? want : 12345u) << text;

    // The same numbers as a process's start time and resident size.
    std::string const stat = std::string("77 (a) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 ") + text + " 9\n";
    value = 12345;
    EXPECT_EQ(sysinfo::ParseProcessStart(stat.c_str(), value), ok && number.find(' ') == std::string::npos) << text;
    std::string const statm = std::string("1 ") + text + " 3 4 5 6 7\n";
    value = 12345;
    bool resident = sysinfo::ParseResidentPages(statm.c_str(), value);
    EXPECT_EQ(resident, ok && number.find(' ') == std::string::npos) << text;
    EXPECT_EQ(value, resident ? want : 12345u) << text;
  }
}

TEST(ProcessTime, OwnProcess) {
  // Spin a little so there is something to count.
  for (double from = CpuSeconds(CLOCK_THREAD_CPUTIME_ID); CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - from < 0.05;) {
  }
  cKV_SysTime mine(0ULL), byPid(0ULL);
  double before = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  osGetProcessTime(mine);
  ASSERT_TRUE(osGetProcessTime(Self(), byPid));
  double after = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  // The host's own process clock, read around them.
  EXPECT_GE(static_cast<double>(mine.value) / 1e9, before - 0.02);
  EXPECT_LE(static_cast<double>(mine.value) / 1e9, after + 0.02);
  EXPECT_GE(byPid.value, mine.value);
  EXPECT_LT(byPid.value - mine.value, 20000000ull);
  EXPECT_EQ(mine.value % 100 + byPid.value % 100, 0u);

  kvtest::ScopedFault noClock("sysinfo.proctime", EIO, 0, 2);
  osGetProcessTime(mine);
  EXPECT_EQ(mine.value, 0u);
  byPid = 12345ULL;
  EXPECT_FALSE(osGetProcessTime(Self(), byPid));
  EXPECT_EQ(byPid.value, 0u);
}

// Both queries about another process, while it runs and once it is gone.
TEST(ProcessTime, ChildThatSpunHalfASecond) {
  int ready[2], gate[2];
  ASSERT_EQ(pipe2(ready, O_CLOEXEC) | pipe2(gate, O_CLOEXEC), 0);
  pid_t child = fork();
  if (child == 0) {  // renamed, spins half a second, then waits for the gate to close
    close(gate[1]);
    prctl(PR_SET_NAME, "kv-spinner");
    while (CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) < 0.5) {
    }
    char c = 0;
    if (write(ready[1], &c, 1) == 1 && read(gate[0], &c, 1) >= 0) _exit(0);
    _exit(1);
  }
  close(ready[1]);
  close(gate[0]);
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  unsigned pid = static_cast<unsigned>(child);
  cKV_SysTime t(0ULL);
  ASSERT_TRUE(osGetProcessTime(pid, t));
  EXPECT_GE(t.value, 500000000ull);
  EXPECT_LE(t.value, 750000000ull);
  cKV_String name;
  ASSERT_TRUE(iKV_ProcInfo::GetName(pid, name));
  EXPECT_STREQ(name, "kv-spinner");

  close(gate[1]);
  close(ready[0]);
  waitpid(child, nullptr, 0);
  t = 42ULL;
  name = "untouched";
  // Numbers beyond the host's pids must not alias another process's clock.
  for (unsigned none : {pid, 0u, UINT_MAX, static_cast<unsigned>(INT_MAX) + 1u, (1u << 29) + Self()}) {
    EXPECT_FALSE(osGetProcessTime(none, t)) << none;
    EXPECT_FALSE(iKV_ProcInfo::GetName(none, name)) << none;
  }
  EXPECT_EQ(t.value, 42u);
  EXPECT_STREQ(name, "untouched");
  kvtest::ScopedFault cannotOpen("sysinfo.procopen", EPERM);
  EXPECT_FALSE(osGetProcessTime(Self(), t));
  EXPECT_EQ(t.value, 42u);
}

TEST(ProcInfo, NamesAndEnumeration) {
  cKV_String name = "untouched";
  ASSERT_TRUE(iKV_ProcInfo::GetName(Self(), name));
  EXPECT_EQ(std::string(name) + "\n", kvtest::ReadFile("/proc/self/comm"));
  // A thread's id opens its files under /proc as well, but names no process.
  std::atomic<unsigned> tid{0};
  std::atomic<bool> done{false};
  std::thread other([&] {
    tid = static_cast<unsigned>(gettid());
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  while (tid == 0) std::this_thread::yield();
  EXPECT_FALSE(iKV_ProcInfo::GetName(tid, name));
  done = true;
  other.join();

  Korvane::ctKV_Array<unsigned int> ids;
  EXPECT_EQ(cKV_SysInfo::EnumProcesses(ids), 0u);
  EXPECT_EQ(ids.marker, 7);
}

}  // namespace
