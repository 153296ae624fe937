// Data streams against the C library they stand for, and the record store
// with the example line format.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "OS/osstorage.h"
#include "recordformat/linerecord.h"

using namespace Korvane;

namespace {

std::string TempPath(char const* name) {
  char const* tmp = std::getenv("TMPDIR");
  return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kvos-bench-" + std::to_string(getpid()) +
         "-" + name;
}

// ------------------------------------------------------------------ numbers

constexpr int kNumbers = 1000;

void BM_MemoryIO_WriteReadUlong(benchmark::State& state) {
  cMemoryIO io;
  unsigned int seed = 12345;
  for (auto _ : state) {
    io.Reset();
    unsigned int v = seed;
    for (int i = 0; i < kNumbers; ++i, v = v * 1664525u + 1013904223u) {
      io.WriteUlong(v);
      io.WriteBytes(1, reinterpret_cast<unsigned char const*>(" "));
    }
    io.Seek(0);
    unsigned int sum = 0;
    unsigned char blank;
    for (int i = 0; i < kNumbers; ++i) {
      unsigned int r = 0;
      io.ReadUlong(r);
      io.ReadBytes(1, &blank);
      sum += r;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kNumbers);
}
BENCHMARK(BM_MemoryIO_WriteReadUlong);

void BM_Snprintf_Strtoul(benchmark::State& state) {
  std::vector<char> buffer(kNumbers * 12 + 16);
  unsigned int seed = 12345;
  for (auto _ : state) {
    std::size_t at = 0;
    unsigned int v = seed;
    for (int i = 0; i < kNumbers; ++i, v = v * 1664525u + 1013904223u)
      at += static_cast<std::size_t>(std::snprintf(buffer.data() + at, buffer.size() - at, "%u ", v));
    char const* p = buffer.data();
    unsigned int sum = 0;
    for (int i = 0; i < kNumbers; ++i) {
      char* end = nullptr;
      sum += static_cast<unsigned int>(std::strtoul(p, &end, 10));
      p = end + 1;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kNumbers);
}
BENCHMARK(BM_Snprintf_Strtoul);

// ------------------------------------------------------ 64 KiB file blocks

constexpr unsigned int kBlock = 64 * 1024;
constexpr int kBlocksPerFile = 256;  // 16 MiB

void BM_FileIO_WriteBytes64K(benchmark::State& state) {
  std::string path = TempPath("write");
  std::vector<unsigned char> block(kBlock, 'w');
  for (auto _ : state) {
    cFileIO f;
    f.Open(path.c_str(), "wb");
    for (int i = 0; i < kBlocksPerFile; ++i) f.WriteBytes(kBlock, block.data());
    f.Close();
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * kBlock * kBlocksPerFile);
}
BENCHMARK(BM_FileIO_WriteBytes64K)->Unit(benchmark::kMillisecond);

void BM_Fwrite64K(benchmark::State& state) {
  std::string path = TempPath("fwrite");
  std::vector<unsigned char> block(kBlock, 'w');
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "wbe");
    for (int i = 0; i < kBlocksPerFile; ++i) std::fwrite(block.data(), 1, kBlock, f);
    std::fclose(f);
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * kBlock * kBlocksPerFile);
}
BENCHMARK(BM_Fwrite64K)->Unit(benchmark::kMillisecond);

std::string ReadFixture() {
  std::string path = TempPath("read");
  std::vector<unsigned char> block(kBlock, 'r');
  std::FILE* f = std::fopen(path.c_str(), "wbe");
  for (int i = 0; i < kBlocksPerFile; ++i) std::fwrite(block.data(), 1, kBlock, f);
  std::fclose(f);
  return path;
}

void BM_FileIO_ReadBytes64K(benchmark::State& state) {
  std::string path = ReadFixture();
  std::vector<unsigned char> block(kBlock);
  for (auto _ : state) {
    cFileIO f;
    f.Open(path.c_str(), "rb");
    for (int i = 0; i < kBlocksPerFile; ++i) f.ReadBytes(kBlock, block.data());
    f.Close();
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * kBlock * kBlocksPerFile);
}
BENCHMARK(BM_FileIO_ReadBytes64K)->Unit(benchmark::kMillisecond);

void BM_Fread64K(benchmark::State& state) {
  std::string path = ReadFixture();
  std::vector<unsigned char> block(kBlock);
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rbe");
    for (int i = 0; i < kBlocksPerFile; ++i) benchmark::DoNotOptimize(std::fread(block.data(), 1, kBlock, f));
    std::fclose(f);
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * kBlock * kBlocksPerFile);
}
BENCHMARK(BM_Fread64K)->Unit(benchmark::kMillisecond);

// ------------------------------------------- 1,000,000 records of 100 bytes

constexpr int kRecords = 1000000;
constexpr unsigned int kRecordSize = 100;

bool WriteRecords(iDataIO& io) {
  example::cLineRecordFormat format(&io);
  cDataStorage storage(cDataStorage::eWrite, &format);
  unsigned char body[kRecordSize];
  std::memset(body, 'b', sizeof body);
  if (!storage.Begin()) return false;
  for (int i = 0; i < kRecords; ++i) {
    cDataFormat* f = nullptr;
    body[0] = static_cast<unsigned char>(i);  // zero bytes and line feeds among them
    if (!storage.WriteRecordBegin(kRecordSize, f) || !storage.WriteRecordEnd(kRecordSize, body)) return false;
  }
  return format.WriteEnd();
}

int ReadRecords(iDataIO& io) {
  example::cLineRecordFormat format(&io);
  cDataStorage storage(cDataStorage::eRead, &format);
  unsigned char body[kRecordSize];
  int count = 0;
  if (!storage.Begin()) return -1;
  for (;;) {
    unsigned int size = 0;
    cDataFormat* f = nullptr;
    if (!storage.ReadRecordBegin(size, f)) return -1;
    if (f == nullptr) break;
    if (size != kRecordSize || !f->ReadBytes(size, body)) return -1;
    ++count;
  }
  return format.ReadEnd() ? count : -1;
}

void BM_Records_MemoryWrite(benchmark::State& state) {
  cMemoryIO io;
  for (auto _ : state) {
    io.Reset();
    if (!WriteRecords(io)) state.SkipWithError("write pass failed");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_Records_MemoryWrite)->Unit(benchmark::kMillisecond);

void BM_Records_MemoryRead(benchmark::State& state) {
  cMemoryIO io;
  if (!WriteRecords(io)) state.SkipWithError("write pass failed");
  for (auto _ : state) {
    io.Seek(0);
    if (ReadRecords(io) != kRecords) state.SkipWithError("read pass failed");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_Records_MemoryRead)->Unit(benchmark::kMillisecond);

void BM_Records_FileWrite(benchmark::State& state) {
  std::string path = TempPath("records-w");
  for (auto _ : state) {
    cFileIO f;
    if (!f.Open(path.c_str(), "wb") || !WriteRecords(f) || !f.Close()) state.SkipWithError("write pass failed");
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_Records_FileWrite)->Unit(benchmark::kMillisecond);

void BM_Records_FileRead(benchmark::State& state) {
  std::string path = TempPath("records-r");
  cFileIO out;
  if (!out.Open(path.c_str(), "wb") || !WriteRecords(out) || !out.Close()) state.SkipWithError("write pass failed");
  for (auto _ : state) {
    cFileIO f;
    if (!f.Open(path.c_str(), "rb") || ReadRecords(f) != kRecords) state.SkipWithError("read pass failed");
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_Records_FileRead)->Unit(benchmark::kMillisecond);

}  // namespace
