// Records under load: many threads, two processes, level changes, and
// separate logs over one stream never tear or reorder a record.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "OS/oslog.h"
#include "OS/osthread.h"
#include "support/testing.h"
#include "unit/oslog_support.h"

using Korvane::cKV_Log;
using kvtest::ReadFile;
using kvtest::TempDir;

namespace {

// Record `n` of writer `w`: its length and letters depend on both, so a torn
// or mixed record cannot pass for another one.
std::string Message(std::size_t w, int n, std::size_t length) {
  return "w=" + std::to_string(w) + " n=" + std::to_string(n) + " " +
         std::string(length, static_cast<char>('a' + (w * 7 + n) % 26));
}

// Checks that each writer's records appear whole, numbered 0, 1, 2... in
// file order and signed by one thread each; returns those thread ids.
std::vector<unsigned long> CheckWriters(std::string const& text, std::size_t writers, int perWriter,
                                        std::size_t (*length)(int n), bool timesInOrder) {
  std::vector<logtest::Record> records = logtest::Records(text);
  EXPECT_EQ(records.size(), writers * perWriter);
  std::vector<int> next(writers, 0);
  std::vector<unsigned long> threads(writers, 0);
  long long last = 0;
  for (auto const& r : records) {
    std::size_t w = writers;
    int n = -1;
    std::sscanf(r.message.c_str(), "w=%zu n=%d", &w, &n);
    if (w < writers && threads[w] == 0) threads[w] = r.thread;
    if (w >= writers || n != next[w]++ || r.line != n || r.thread != threads[w] ||
        r.message != Message(w, n, length(n))) {
      ADD_FAILURE() << "out of order, mixed or torn: " << r.message.substr(0, 80);
      break;
    }
    if (timesInOrder) {
      EXPECT_LE(last, logtest::TimeOf(r.time)) << "a record of an earlier second follows a later one";
      last = logtest::TimeOf(r.time);
    }
  }
  return threads;
}

TEST(LogConcurrency, EightThreadsKeepEveryRecordWholeAndInOrder) {
  TempDir dir;
  std::string path = dir / "threads.log";
  cKV_Log* log = cKV_Log::Create(nullptr, path.c_str());
  constexpr int kThreads = 8, kRecords = 100000;
  auto length = [](int n) -> std::size_t { return 40 + n % 60; };
  std::vector<unsigned long> ids(kThreads);
  std::vector<std::thread> threads;
  for (std::size_t w = 0; w < kThreads; ++w)
    threads.emplace_back([&, w] {
      ids[w] = Korvane::osGetCurrentThreadId();
      for (int n = 0; n < kRecords; ++n)
        cKV_Log::Log(log, n % 3, "worker.cpp", n, "%s", Message(w, n, length(n)).c_str());
    });
  for (auto& t : threads) t.join();
  delete log;
  EXPECT_EQ(CheckWriters(ReadFile(path), kThreads, kRecords, length, true), ids);
}

TEST(LogConcurrency, TwoProcessesAppendingToOneFile) {
  TempDir dir;
  std::string path = dir / "processes.log";
  constexpr int kRecords = 20000;
  // Every 1000th record is far beyond 64 KiB.
  auto length = [](int n) -> std::size_t { return n % 1000 == 999 ? 300000 : 50 + n % 200; };
  auto write = [&](std::size_t w) {
    cKV_Log* log = cKV_Log::Create(nullptr, path.c_str());
    for (int n = 0; n < kRecords; ++n) cKV_Log::Log(log, 0, "p", n, "%s", Message(w, n, length(n)).c_str());
    delete log;
  };
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    write(1);
    _exit(0);
  }
  write(0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::vector<unsigned long> signedWith = CheckWriters(ReadFile(path), 2, kRecords, length, false);
  EXPECT_NE(signedWith[0], signedWith[1]);
}

TEST(LogConcurrency, LevelChangesNeverSplitOrLoseARecord) {
  TempDir dir;
  std::string path = dir / "levels.log";
  cKV_Log* log = cKV_Log::Create(nullptr, path.c_str());
  constexpr int kRecords = 20000;
  std::atomic<bool> done{false};
  std::thread changer([&] {
    for (int i = 0; !done.load(); ++i) {
      log->SetOutputLevel(i % 2 == 0 ? 5 : 2);
      EXPECT_TRUE(log->GetOutputLevel() == 5 || log->GetOutputLevel() == 2);
      EXPECT_TRUE(cKV_Log::IsLog(log, 1));
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < 2; ++w)
    writers.emplace_back([&, w] {
      for (int n = 0; n < kRecords; ++n) {
        // Level 1 always passes; level 3 only while the output level is 5.
        cKV_Log::Log(log, 1, "always", n, "w=%d n=%d", w, n);
        cKV_Log::Log(log, 3, "sometimes", n, "w=%d n=%d", w, n);
      }
    });
  for (auto& t : writers) t.join();
  done = true;
  changer.join();
  delete log;
  int always = 0;
  for (auto const& r : logtest::Records(ReadFile(path))) {
    EXPECT_EQ(r.file, r.level == 1 ? "always" : "sometimes");
    always += r.level == 1;
  }
  EXPECT_EQ(always, 2 * kRecords);
}

TEST(LogConcurrency, SeparateLogsOverOneStreamKeepRecordsWhole) {
  TempDir dir;
  std::string path = dir / "stream.log";
  FILE* stream = std::fopen(path.c_str(), "w");
  // Two logs with locks of their own: only the stream's lock keeps them
  // from cutting into each other's records.
  cKV_Log* logs[] = {cKV_Log::Create(nullptr, static_cast<void*>(stream)),
                     cKV_Log::Create(nullptr, static_cast<void*>(stream))};
  constexpr int kRecords = 5000;
  auto length = [](int n) -> std::size_t { return 20 + n % 3000; };
  std::vector<std::thread> threads;
  for (std::size_t w = 0; w < 4; ++w)
    threads.emplace_back([&, w] {
      for (int n = 0; n < kRecords; ++n) cKV_Log::Log(logs[w % 2], 0, "s", n, "%s", Message(w, n, length(n)).c_str());
    });
  for (auto& t : threads) t.join();
  delete logs[0];
  delete logs[1];
  std::fclose(stream);
  CheckWriters(ReadFile(path), 4, kRecords, length, false);
}

}  // namespace
