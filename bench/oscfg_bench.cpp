// Configuration files: reading and writing about 10 MB of sections,
// parameters and comments, and lookups in a file of 10,000 sections. When
// libinih is installed, its reader runs on the same file for comparison.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "OS/oscfg.h"

#ifdef KV_BENCH_HAVE_INIH
#include <ini.h>
#endif

using Korvane::cKV_CfgFile;
using Korvane::cKV_CfgRecord;
using Korvane::cKV_Error;

namespace {

// A scratch directory for the generated files, removed at exit.
class Scratch {
 public:
  Scratch() {
    char const* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kvos-bench-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) != nullptr) _dir = buf.data();
  }
  ~Scratch() {
    for (auto const& f : _files) unlink(f.c_str());
    if (!_dir.empty()) rmdir(_dir.c_str());
  }
  std::string File(char const* name) {
    _files.push_back(_dir + "/" + name);
    return _files.back();
  }

 private:
  std::string _dir;
  std::vector<std::string> _files;
};

Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

// The text of a typical file: a comment block, then sections of parameters
// with some trailing comments, blank lines between sections.
std::string MakeText(int sections, int params) {
  std::string text = "# generated settings\n# do not edit by hand\n";
  for (int s = 0; s < sections; ++s) {
    text += "\n[Section_" + std::to_string(s) + "] # group " + std::to_string(s % 17) + "\n";
    for (int p = 0; p < params; ++p) {
      text += "param_" + std::to_string(p) + " = value " + std::to_string(s * 31 + p);
      if (p % 4 == 0) text += " # note on " + std::to_string(p);
      text += "\n";
      if (p % 6 == 5) text += "# about the next parameters\n";
    }
  }
  return text;
}

struct Sample {
  std::string path;
  std::size_t bytes = 0;
};

Sample const& BigFile() {
  static Sample sample = [] {
    Sample s;
    s.path = TheScratch().File("big.cfg");
    std::string text = MakeText(21000, 16);  // about 10 MB
    std::FILE* f = std::fopen(s.path.c_str(), "we");
    if (f != nullptr) {
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
    s.bytes = text.size();
    return s;
  }();
  return sample;
}

void BM_ReadFile(benchmark::State& state) {
  Sample const& sample = BigFile();
  for (auto _ : state) {
    cKV_CfgFile cfg;
    cKV_Error error;
    if (!cfg.ReadFile(error, sample.path.c_str())) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(cfg.GetFirst());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(sample.bytes));
}
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond);

void BM_WriteFile(benchmark::State& state) {
  Sample const& sample = BigFile();
  cKV_CfgFile cfg;
  cKV_Error error;
  cfg.ReadFile(error, sample.path.c_str());
  std::string out = TheScratch().File("out.cfg");
  std::size_t written = 0;
  for (auto _ : state) {
    // A new file each time: truncating the old one would add the file
    // system's flush of the old data to the figure.
    state.PauseTiming();
    unlink(out.c_str());
    state.ResumeTiming();
    if (!cfg.WriteFile(error, out.c_str())) state.SkipWithError("write failed");
    written += sample.bytes;
  }
  state.SetBytesProcessed(static_cast<int64_t>(written));
}
BENCHMARK(BM_WriteFile)->Unit(benchmark::kMillisecond);

#ifdef KV_BENCH_HAVE_INIH
// inih only tokenises: the handler sees each parameter and keeps nothing.
void BM_ReadFile_InihCount(benchmark::State& state) {
  Sample const& sample = BigFile();
  for (auto _ : state) {
    long count = 0;
    ini_parse(
        sample.path.c_str(),
        [](void* user, char const*, char const*, char const*) {
          ++*static_cast<long*>(user);
          return 1;
        },
        &count);
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(sample.bytes));
}
BENCHMARK(BM_ReadFile_InihCount)->Unit(benchmark::kMillisecond);

// inih keeping what it reads, as a list of (section, name, value) strings.
void BM_ReadFile_InihKeep(benchmark::State& state) {
  Sample const& sample = BigFile();
  struct Entry {
    std::string section, name, value;
  };
  for (auto _ : state) {
    std::vector<Entry> entries;
    ini_parse(
        sample.path.c_str(),
        [](void* user, char const* section, char const* name, char const* value) {
          static_cast<std::vector<Entry>*>(user)->push_back({section, name, value});
          return 1;
        },
        &entries);
    benchmark::DoNotOptimize(entries.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(sample.bytes));
}
BENCHMARK(BM_ReadFile_InihKeep)->Unit(benchmark::kMillisecond);
#endif

// 10,000 sections of 8 parameters each.
cKV_CfgFile& Sections() {
  static cKV_CfgFile* cfg = [] {
    auto* c = new cKV_CfgFile;
    std::string path = TheScratch().File("sections.cfg");
    std::string text = MakeText(10000, 8);
    std::FILE* f = std::fopen(path.c_str(), "we");
    if (f != nullptr) {
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
    cKV_Error error;
    c->ReadFile(error, path.c_str());
    return c;
  }();
  return *cfg;
}

std::vector<std::string> Names(char const* prefix, int count, int n) {
  std::mt19937 rng(7);
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i)
    names.push_back(prefix + std::to_string(std::uniform_int_distribution<int>(0, count - 1)(rng)));
  return names;
}

// Sections named at random: on average half the file is walked.
void BM_FindSection(benchmark::State& state) {
  cKV_CfgFile& cfg = Sections();
  std::vector<std::string> names = Names("section_", 10000, 1024);
  std::size_t i = 0;
  for (auto _ : state) {
    cKV_CfgRecord* r = cfg.FindSection(names[i++ & 1023].c_str());
    if (r == nullptr) state.SkipWithError("section not found");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_FindSection);

// A parameter in a known section.
void BM_FindParam(benchmark::State& state) {
  cKV_CfgFile& cfg = Sections();
  std::vector<std::string> sections = Names("section_", 10000, 1024);
  std::vector<cKV_CfgRecord*> records;
  for (auto const& s : sections) records.push_back(cfg.FindSection(s.c_str()));
  std::vector<std::string> params = Names("PARAM_", 8, 1024);
  std::size_t i = 0;
  for (auto _ : state) {
    cKV_CfgRecord* r = cfg.FindParam(records[i & 1023], params[(i * 7) & 1023].c_str());
    ++i;
    if (r == nullptr) state.SkipWithError("parameter not found");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_FindParam);

// The first parameter of that name: the first section's area only.
void BM_FindParamFirstSection(benchmark::State& state) {
  cKV_CfgFile& cfg = Sections();
  for (auto _ : state) benchmark::DoNotOptimize(cfg.FindParam(nullptr, "param_7"));
}
BENCHMARK(BM_FindParamFirstSection);

}  // namespace
