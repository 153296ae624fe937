// File handles and directories against the plain C library and rm -r.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "OS/osio.h"

using namespace Korvane;

extern char** environ;

namespace {

std::string TempBase() {
  char const* base = std::getenv("TMPDIR");
  return std::string(base != nullptr && *base != '\0' ? base : "/tmp");
}

void RemoveAtExit() {
  std::string dir = TempBase() + "/kvos-bench-" + std::to_string(getpid());
  std::system(("rm -rf '" + dir + "'").c_str());
}

std::string const& BenchDir() {
  static std::string const dir = [] {
    std::string d = TempBase() + "/kvos-bench-" + std::to_string(getpid());
    std::system(("mkdir -p '" + d + "'").c_str());
    std::atexit(RemoveAtExit);
    return d;
  }();
  return dir;
}

// 100 MB of text lines of 0 to 160 characters.
std::string const& TextFile() {
  static std::string const path = [] {
    std::string p = BenchDir() + "/lines.txt";
    FILE* f = std::fopen(p.c_str(), "wb");
    std::mt19937 rng(1);
    std::string line;
    std::size_t total = 0;
    while (total < 100u * 1000 * 1000) {
      line.assign(rng() % 161, 'x');
      for (char& c : line) c = static_cast<char>('a' + rng() % 26);
      line += '\n';
      std::fwrite(line.data(), 1, line.size(), f);
      total += line.size();
    }
    std::fclose(f);
    return p;
  }();
  return path;
}

long long FileBytes(std::string const& path) {
  void* f = osFileOpen(path.c_str(), 1, 0x300);
  long long size = osFileSize(f);
  osFileClose(f);
  return size;
}

void BM_ReadLine_osFileReadLine(benchmark::State& state) {
  std::string const& path = TextFile();
  long long lines = 0;
  for (auto _ : state) {
    void* f = osFileOpen(path.c_str(), 1, 0x300);
    cKV_String line;
    while (osFileReadLine(f, line, 0)) ++lines;
    osFileClose(f);
  }
  benchmark::DoNotOptimize(lines);
  state.SetBytesProcessed(state.iterations() * FileBytes(path));
}
BENCHMARK(BM_ReadLine_osFileReadLine)->Unit(benchmark::kMillisecond);

void BM_ReadLine_getline(benchmark::State& state) {
  std::string const& path = TextFile();
  long long lines = 0;
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "rb");
    char* buffer = nullptr;
    std::size_t capacity = 0;
    while (getline(&buffer, &capacity, f) > 0) ++lines;
    std::free(buffer);
    std::fclose(f);
  }
  benchmark::DoNotOptimize(lines);
  state.SetBytesProcessed(state.iterations() * FileBytes(path));
}
BENCHMARK(BM_ReadLine_getline)->Unit(benchmark::kMillisecond);

// A tenth of the text, through a handle that this library opened (read
// ahead, then set back: two host calls a line) and through a descriptor that
// the caller opened (whose position is asked first: three).
std::string const& SmallTextFile() {
  static std::string const path = [] {
    std::string p = BenchDir() + "/lines10.txt";
    std::string copy = "head -c 10000000 '" + TextFile() + "' > '" + p + "'";
    std::system(copy.c_str());
    return p;
  }();
  return path;
}

void* OpenElsewhere(std::string const& path) {
  return reinterpret_cast<void*>(static_cast<std::intptr_t>(open(path.c_str(), O_RDONLY | O_CLOEXEC)));
}

void ReadAllLines(benchmark::State& state, bool openedHere) {
  std::string const& path = SmallTextFile();
  long long lines = 0;
  for (auto _ : state) {
    void* f = openedHere ? osFileOpen(path.c_str(), 1, 0x300) : OpenElsewhere(path);
    cKV_String line;
    while (osFileReadLine(f, line, 0)) ++lines;
    osFileClose(f);
  }
  benchmark::DoNotOptimize(lines);
  state.SetBytesProcessed(state.iterations() * FileBytes(path));
}

void BM_ReadLine10MB_handleOpenedHere(benchmark::State& state) { ReadAllLines(state, true); }
BENCHMARK(BM_ReadLine10MB_handleOpenedHere)->Unit(benchmark::kMillisecond);

void BM_ReadLine10MB_descriptorOpenedElsewhere(benchmark::State& state) { ReadAllLines(state, false); }
BENCHMARK(BM_ReadLine10MB_descriptorOpenedElsewhere)->Unit(benchmark::kMillisecond);

// Opening and closing an existing file for reading with nothing else open.
// The plain open does no share-mode bookkeeping: the difference is what the
// share modes (two record-lock calls) and the directory check cost.
void BM_OpenClose_osFileOpen(benchmark::State& state) {
  std::string const& path = SmallTextFile();
  for (auto _ : state) {
    void* f = osFileOpen(path.c_str(), 1, 0x300);
    if (f == osInvalidFileHandle()) {
      state.SkipWithError("osFileOpen failed");
      break;
    }
    osFileClose(f);
  }
}
BENCHMARK(BM_OpenClose_osFileOpen);

void BM_OpenClose_open(benchmark::State& state) {
  std::string const& path = SmallTextFile();
  for (auto _ : state) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
      state.SkipWithError("open failed");
      break;
    }
    close(fd);
  }
}
BENCHMARK(BM_OpenClose_open);

constexpr unsigned int kBlock = 64 * 1024;

void BM_Read64K_osFileRead(benchmark::State& state) {
  std::string const& path = TextFile();
  std::vector<unsigned char> block(kBlock);
  for (auto _ : state) {
    void* f = osFileOpen(path.c_str(), 1, 0x300);
    unsigned int n = 0;
    while (osFileRead(f, block.data(), kBlock, n) && n > 0) benchmark::DoNotOptimize(block.data());
    osFileClose(f);
  }
  state.SetBytesProcessed(state.iterations() * FileBytes(path));
}
BENCHMARK(BM_Read64K_osFileRead)->Unit(benchmark::kMillisecond);

void BM_Read64K_read(benchmark::State& state) {
  std::string const& path = TextFile();
  std::vector<unsigned char> block(kBlock);
  for (auto _ : state) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (read(fd, block.data(), kBlock) > 0) benchmark::DoNotOptimize(block.data());
    close(fd);
  }
  state.SetBytesProcessed(state.iterations() * FileBytes(path));
}
BENCHMARK(BM_Read64K_read)->Unit(benchmark::kMillisecond);

constexpr long long kWriteBytes = 64LL << 20;

void BM_Write64K_osFileWrite(benchmark::State& state) {
  std::string path = BenchDir() + "/written.bin";
  std::vector<unsigned char> block(kBlock, 'w');
  for (auto _ : state) {
    void* f = osFileOpen(path.c_str(), 2 | 4, 0);
    unsigned int n = 0;
    for (long long done = 0; done < kWriteBytes; done += kBlock) osFileWrite(f, block.data(), kBlock, n);
    osFileClose(f);
  }
  state.SetBytesProcessed(state.iterations() * kWriteBytes);
}
BENCHMARK(BM_Write64K_osFileWrite)->Unit(benchmark::kMillisecond);

void BM_Write64K_write(benchmark::State& state) {
  std::string path = BenchDir() + "/written.bin";
  std::vector<unsigned char> block(kBlock, 'w');
  for (auto _ : state) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    for (long long done = 0; done < kWriteBytes; done += kBlock)
      benchmark::DoNotOptimize(write(fd, block.data(), kBlock));
    close(fd);
  }
  state.SetBytesProcessed(state.iterations() * kWriteBytes);
}
BENCHMARK(BM_Write64K_write)->Unit(benchmark::kMillisecond);

// 10,000 files in 100 directories of 100.
std::string MakeTree() {
  std::string root = BenchDir() + "/tree";
  mkdir(root.c_str(), 0777);
  for (int d = 0; d < 100; ++d) {
    std::string sub = root + "/d" + std::to_string(d);
    mkdir(sub.c_str(), 0777);
    for (int i = 0; i < 100; ++i) {
      int fd = open((sub + "/file" + std::to_string(i) + ".dat").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
      close(fd);
    }
  }
  return root;
}

void BM_DeleteTree_osDeleteDirectory(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::string root = MakeTree();
    state.ResumeTiming();
    if (!osDeleteDirectory(nullptr, root.c_str(), true)) state.SkipWithError("tree not deleted");
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_DeleteTree_osDeleteDirectory)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_DeleteTree_rm_r(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::string root = MakeTree();
    state.ResumeTiming();
    char const* argv[] = {"rm", "-r", root.c_str(), nullptr};
    pid_t pid = -1;
    int status = 0;
    if (posix_spawnp(&pid, "rm", nullptr, nullptr, const_cast<char**>(argv), environ) != 0 ||
        waitpid(pid, &status, 0) != pid || status != 0)
      state.SkipWithError("rm -r failed");
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_DeleteTree_rm_r)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
