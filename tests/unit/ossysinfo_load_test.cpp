// The system load monitor: its rules on recorded samples, its failures, its
// copies, and its figures against the live host.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "OS/ossysinfo.h"
#include "support/testing.h"

// Counts the allocations of the thread that asks for it, to prove that
// sampling allocates nothing.
namespace {
thread_local bool t_counting = false;
thread_local long t_allocations = 0;

void* CountedAlloc(std::size_t size) noexcept {
  if (t_counting) ++t_allocations;
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

// The replacements pair malloc with free throughout; gcc cannot see that
// through inlining.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  void* p = CountedAlloc(size);
  return p != nullptr ? p : throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, std::nothrow_t const&) noexcept { return CountedAlloc(size); }
void* operator new[](std::size_t size, std::nothrow_t const&) noexcept { return CountedAlloc(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

using namespace Korvane;

namespace {

constexpr int kAll = 15;
using Monitor = std::unique_ptr<iKV_SysLoadMon>;

// /proc/stat with these cumulative ticks on its aggregate line.
std::string Stat(unsigned long long user, unsigned long long idle, unsigned long long iowait = 2000,
                 unsigned long long steal = 0, unsigned long long guest = 5000) {
  return "cpu  " + std::to_string(user) + " 300 40000 " + std::to_string(idle) + " " + std::to_string(iowait) +
         " 0 700 " + std::to_string(steal) + " " + std::to_string(guest) +
         " 0\ncpu0 1 2 3 4 5 6 7 8 9 10\nintr 123456 0 0 0\nctxt 987654\nbtime 1700000000\n";
}

std::string MemInfo(long long availKb, long long swapTotalKb, long long swapFreeKb) {
  return "MemTotal:       16000000 kB\nMemFree:         2000000 kB\nMemAvailable:   " + std::to_string(availKb) +
         " kB\nBuffers:          100000 kB\nCached:          3000000 kB\nSwapCached:            0 kB\nSwapTotal:     "
         " " +
         std::to_string(swapTotalKb) + " kB\nSwapFree:       " + std::to_string(swapFreeKb) + " kB\n";
}

// Available memory, available swap and swap total in bytes, without reports.
std::string Memory(iKV_SysLoadMon* mon) {
  return std::to_string(mon->GetRamAvail(nullptr)) + " " + std::to_string(mon->GetSwapAvail(nullptr)) + " " +
         std::to_string(mon->GetSwapMax(nullptr));
}

// A recorded /proc whose files the test rewrites between samples (in place,
// as the kernel does).
class RecordedProc {
 public:
  RecordedProc() : _recorded(_dir.Path()) {
    std::filesystem::create_directories(_dir / "proc");
    Stat(::Stat(100000, 900000));
  }
  void Stat(std::string const& text) { kvtest::WriteFile(_dir / "proc/stat", text); }
  void Mem(std::string const& text) { kvtest::WriteFile(_dir / "proc/meminfo", text); }
  // The processor load of the interval that ends with this sample.
  int Load(Monitor const& mon, std::string const& stat, cKV_Error& err) {
    Stat(stat);
    EXPECT_TRUE(mon->Collect(&err)) << stat;
    return mon->GetCpuLoad(&err);
  }

 private:
  kvtest::TempDir _dir;
  kvtest::ScopedRecordedRoot _recorded;
};

void ExpectError(cKV_Error const& err, char const* text) {
  EXPECT_EQ(err.GetCode(), 1);
  EXPECT_STREQ(static_cast<char const*>(err.GetUnit()), ".\\ossysinfo");
  EXPECT_STREQ(static_cast<char const*>(err.GetText()), text);
}

TEST(SysLoadMon, ProcessorLoadRoundingAndClamping) {
  RecordedProc proc;
  cKV_Error err;
  Monitor mon(iKV_SysLoadMon::Create(&err, 1));
  ASSERT_NE(mon, nullptr);
  EXPECT_EQ(mon->GetCpuLoad(&err), 0);  // Init and its Collect saw the same sample

  // Tick differences of each sample. Guest time is already part of user time
  // and steal time is busy time; the idle share includes waiting for I/O.
  struct {
    long long user, idle, iowait, steal, guest;
    int load;
  } const samples[] = {
      {700, 200, 50, 50, 400, 75},
      {698, 202, 50, 50, 400, 75},  // 74.8 + 0.5
      {694, 206, 50, 50, 400, 74},  // 74.4 + 0.5
      {0, 0, 0, 0, 0, 0},  // equal samples
      // An idle count that went backwards (as iowait can) clamps at 100.
      {1010, 0, -10, 0, 0, 100},
      // A sample that went backwards as a whole keeps the rule: both
      // differences are negative, their ratio is the busy share.
      {-750, -250, 0, 0, 0, 75},
  };
  long long user = 100000, idle = 900000, iowait = 2000, steal = 0, guest = 5000;
  for (auto const& d : samples) {
    std::string stat = Stat(user += d.user, idle += d.idle, iowait += d.iowait, steal += d.steal, guest += d.guest);
    EXPECT_EQ(proc.Load(mon, stat, err), d.load) << stat;
  }
  // The oldest kernels give only four fields.
  proc.Load(mon, "cpu  1000 0 1000 8000\n", err);
  EXPECT_EQ(proc.Load(mon, "cpu  1300 0 1400 8300\n", err), 70);

  // Cut inside the line, text instead of numbers, empty, a figure beyond 64
  // bits, times beyond 64 bits once in 100-ns units: the sample counts as zero
  // times, and nothing is reported. The interval back to zero gives the busy
  // share of the good sample, and so does the one after it.
  for (char const* bad : {"cpu  100000 300 40000 90", "cpu  a b c d e\n", "", "cpu  99999999999999999999999 1 1 1\n",
                          "cpu  10000000000000000 0 0 10000000000000000\n"}) {
    proc.Load(mon, Stat(100000, 900000), err);
    EXPECT_EQ(proc.Load(mon, bad, err), 14) << bad;  // 141000 of 1043000 ticks busy
    EXPECT_EQ(proc.Load(mon, Stat(100000, 900000), err), 14) << bad;
  }
  kvtest::ScopedFault readFails("sysinfo.read", EIO);
  EXPECT_TRUE(mon->Collect(&err));
  EXPECT_EQ(readFails.Failures(), 1u);
  EXPECT_TRUE(err.IsNotError());
}

// Which of the four getters answer (bits 1, 2, 4, 8 of `answering`); the
// others must report "Value is not requested" and give 0.
void ExpectRequested(Monitor const& mon, int answering) {
  for (int bit = 0; bit < 4; ++bit) {
    auto get = [&](cKV_Error* e) -> long long {
      return bit == 0   ? mon->GetCpuLoad(e)
             : bit == 1 ? mon->GetRamAvail(e)
             : bit == 2 ? mon->GetSwapAvail(e)
                        : mon->GetSwapMax(e);
    };
    cKV_Error err;
    long long value = get(&err);
    EXPECT_EQ(err.IsNotError(), (answering & (1 << bit)) != 0) << bit;
    if (answering & (1 << bit)) continue;
    EXPECT_EQ(value, 0) << bit;
    ExpectError(err, "Value is not requested");
    EXPECT_EQ(get(nullptr), 0);  // no record: dropped
  }
}

TEST(SysLoadMon, MaskSelectsTheValuesAndMemoryFailures) {
  RecordedProc proc;
  cKV_Error err;
  // No meminfo: Create fails with the host's reason; the processor alone
  // needs none.
  EXPECT_EQ(iKV_SysLoadMon::Create(&err, 2), nullptr);
  ExpectError(err, "GlobalMemoryStatusEx failed: GetLastError()=2 [No such file or directory]");
  EXPECT_NE(Monitor(iKV_SysLoadMon::Create(nullptr, 1)), nullptr);

  // Mask 2: only the available memory, though all three are sampled.
  proc.Mem(MemInfo(7000000, 2000000, 1500000));
  Monitor mon(iKV_SysLoadMon::Create(nullptr, 2));
  ASSERT_NE(mon, nullptr);
  EXPECT_EQ(mon->GetRamAvail(nullptr), 7000000LL * 1024);
  ExpectRequested(mon, 2);
  // Init changes the mask of a living monitor; unknown bits are ignored.
  EXPECT_TRUE(mon->Init(nullptr, 0x70 | 4 | 8));
  EXPECT_EQ(Memory(mon.get()), "0 1536000000 2048000000");
  ExpectRequested(mon, 4 | 8);
  // A negative mask asks for everything.
  EXPECT_TRUE(mon->Init(nullptr, -1));
  ExpectRequested(mon, kAll);

  // Damaged replies fail Collect and keep the earlier values.
  std::string good = MemInfo(5000000, 2000000, 1000000);
  for (std::string const& bad : {good.substr(0, good.find("SwapFree:") + 20),
                                  std::string("MemTotal: 16000000 kB\nSwapTotal: 2 MB\nSwapFree: 1 kB\nMemAvailable: 5 kB\n")}) {
    proc.Mem(bad);
    err.Reset();
    EXPECT_FALSE(mon->Collect(&err)) << bad;
    ExpectError(err, "GlobalMemoryStatusEx failed: GetLastError()=74 [Bad message]");
    EXPECT_EQ(Memory(mon.get()), "7168000000 1536000000 2048000000");
  }
  {
    kvtest::ScopedFault readFails("sysinfo.read", EIO, 1);  // the processor sample reads first
    err.Reset();
    EXPECT_FALSE(mon->Collect(&err));
    ExpectError(err, "GlobalMemoryStatusEx failed: GetLastError()=5 [Input/output error]");
  }
  // Without the kernel's own estimate, free memory and caches count.
  proc.Mem(
      "MemTotal: 16000000 kB\nMemFree: 1000 kB\nBuffers: 20 kB\nCached: 300 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n");
  EXPECT_TRUE(mon->Collect(nullptr));
  EXPECT_EQ(Memory(mon.get()), "1351680 0 0");

  // A monitor that cannot be allocated.
  kvtest::ScopedFault noMemory("alloc", ENOMEM);
  err.Reset();
  EXPECT_EQ(iKV_SysLoadMon::Create(&err, kAll), nullptr);
  EXPECT_EQ(err.GetCode(), 7);
  EXPECT_EQ(std::string(err.GetText()),
            "Failed to allocate memory. Requested size:" + std::to_string(sizeof(cSysLoadMon)));
}

TEST(SysLoadMon, CopiesNeverCloseAnotherMonitorsFiles) {
  RecordedProc proc;
  proc.Mem(MemInfo(7000000, 2000000, 1500000));
  Monitor original(iKV_SysLoadMon::Create(nullptr, kAll));
  ASSERT_NE(original, nullptr);
  cKV_Error err;
  ASSERT_EQ(proc.Load(original, Stat(100300, 900700), err), 30);
  Monitor copy(new cSysLoadMon(*static_cast<cSysLoadMon*>(original.get())));
  EXPECT_EQ(copy->GetCpuLoad(nullptr), 30);
  original.reset();

  // Whatever takes the original's descriptors now must survive the copy.
  int a = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int b = open("/dev/null", O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(proc.Load(copy, Stat(100800, 901200), err), 50);
  cSysLoadMon assigned;
  assigned = *static_cast<cSysLoadMon*>(copy.get());
  EXPECT_EQ(assigned.GetCpuLoad(nullptr), 50);
  assigned.Done();
  assigned.Done();                         // twice is harmless
  EXPECT_TRUE(assigned.Collect(nullptr));  // and the files open again
  copy.reset();
  EXPECT_NE(fcntl(a, F_GETFD), -1);
  EXPECT_NE(fcntl(b, F_GETFD), -1);
  close(a);
  close(b);
  EXPECT_TRUE(err.IsNotError());
}

// Monitors on several threads, each its own; the description is shared by
// all. Sampling allocates nothing and every descriptor is released.
TEST(SysLoadMon, MonitorsOnSeveralThreads) {
  auto countFds = [] {
    auto it = std::filesystem::directory_iterator("/proc/self/fd");
    return std::distance(begin(it), end(it));
  };
  auto fds = countFds();
  std::string cpuName(cKV_SysInfo::GetCpuName());
  std::atomic<int> failures{0}, allocations{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      Monitor load(iKV_SysLoadMon::Create(nullptr, kAll));
      std::unique_ptr<iKV_ProcStatMon> proc(iKV_ProcStatMon::Create(nullptr));
      if (load == nullptr || proc == nullptr) ++failures;
      for (int k = 0; load != nullptr && proc != nullptr && k < 100; ++k) {
        t_counting = true;
        bool collected = load->Collect(nullptr) && proc->Collect(nullptr);
        int l = load->GetCpuLoad(nullptr);
        bool valid = l >= 0 && l <= 100 && load->GetRamAvail(nullptr) > 0 && load->GetSwapAvail(nullptr) >= 0 &&
                     load->GetSwapMax(nullptr) >= 0 && proc->GetProcCpuLoad(nullptr) >= 0;
        t_counting = false;
        if (!collected || !valid || std::string(cKV_SysInfo::GetCpuName()) != cpuName) ++failures;
      }
      allocations += static_cast<int>(t_allocations);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(allocations.load(), 0);
  EXPECT_EQ(countFds(), fds);
}

// Against the live host: free(1)'s "available" and swap total, in bytes.
TEST(SysLoadMon, MemoryFiguresMatchFree) {
  Monitor mon(iKV_SysLoadMon::Create(nullptr, kAll));
  ASSERT_NE(mon, nullptr);
  auto r = kvtest::Run({"free", "-b"});
  std::istringstream in(r.out);
  long long available = -1, swapTotal = -1, skip;
  for (std::string label; in >> label;)
    if (label == "Mem:")
      in >> skip >> skip >> skip >> skip >> skip >> available;
    else if (label == "Swap:")
      in >> swapTotal;
  if (r.status != 0 || available < 0 || swapTotal < 0)
    GTEST_SKIP() << "free(1) from procps is not available to compare with";
  ASSERT_TRUE(mon->Collect(nullptr));
  long long ours = mon->GetRamAvail(nullptr);
  EXPECT_NEAR(static_cast<double>(ours), static_cast<double>(available), 0.05 * static_cast<double>(available));
  EXPECT_EQ(mon->GetSwapMax(nullptr), swapTotal);
  EXPECT_LE(mon->GetSwapAvail(nullptr), mon->GetSwapMax(nullptr));
  EXPECT_GE(mon->GetSwapAvail(nullptr), 0);
}

}  // namespace

#include "OS/internal/sysinfo.h"

namespace {

// Clock ticks in 100-ns units, computed in 64 bits on every width: the
// largest total that fits, one tick more, and a clock too fast for the
// product of ticks and units to fit in 64 bits.
TEST(CpuTimes, HundredNanosecondUnitsUpToTheLastThatFits) {
  unsigned long long total = 7, idle = 7;
  ASSERT_TRUE(Korvane::sysinfo::ParseCpuTimes("cpu  184467440737095 0 0 0\n", 100, total, idle));
  EXPECT_EQ(total, 18446744073709500000ULL);
  EXPECT_EQ(idle, 0u);
  total = idle = 7;
  EXPECT_FALSE(Korvane::sysinfo::ParseCpuTimes("cpu  184467440737096 0 0 0\n", 100, total, idle));
  EXPECT_TRUE(total == 7 && idle == 7);
  ASSERT_TRUE(Korvane::sysinfo::ParseCpuTimes("cpu  1 0 0 3999999999999\n", 4000000000000, total, idle));
  EXPECT_EQ(total, 10000000u);
  EXPECT_EQ(idle, 9999999u);
}

}  // namespace
