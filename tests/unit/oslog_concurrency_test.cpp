// Records under load: many threads, two processes, level changes, and
// separate logs over one stream never tear or reorder a record.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
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

// "YYYYMMDDhhmmss" of a time line, for ordering.
std::string Sortable(std::string const& time) {
  static char const* const kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  int month = static_cast<int>(std::strstr(kMonths, time.substr(4, 3).c_str()) - kMonths) / 3 + 1;
  char text[32];
  std::snprintf(text, sizeof text, "%s%02d%s%s%s%s", time.substr(20, 4).c_str(), month, time.substr(8, 2).c_str(),
                time.substr(11, 2).c_str(), time.substr(14, 2).c_str(), time.substr(17, 2).c_str());
  return text;
}

// The fill of record `n` of writer `w`: its length and letters depend on
// both, so a torn or mixed record cannot pass for another one.
std::string Fill(int w, int n, std::size_t length) {
  std::string fill(length, static_cast<char>('a' + (w * 7 + n) % 26));
  return fill;
}

// Checks that each writer's records appear complete and numbered 0, 1, 2...
// in file order; `threads` gets the thread id each writer signed with.
void CheckWriters(std::string const& text, int writers, int perWriter, std::vector<unsigned long>& threads,
                  bool timesInOrder) {
  std::vector<logtest::Record> records;
  std::size_t where = 0;
  ASSERT_TRUE(logtest::Parse(text, records, where))
      << "torn at byte " << where << ": " << text.substr(where > 200 ? where - 200 : 0, 400);
  ASSERT_EQ(records.size(), static_cast<std::size_t>(writers) * perWriter);
  std::vector<int> next(static_cast<std::size_t>(writers), 0);
  threads.assign(static_cast<std::size_t>(writers), 0);
  std::string last;
  for (auto const& r : records) {
    int w = -1, n = -1, used = 0;
    ASSERT_EQ(std::sscanf(r.message.c_str(), "w=%d n=%d %n", &w, &n, &used), 2) << r.message.substr(0, 80);
    ASSERT_TRUE(w >= 0 && w < writers);
    auto& expected = next[static_cast<std::size_t>(w)];
    ASSERT_EQ(n, expected) << "writer " << w;
    ++expected;
    ASSERT_TRUE(r.message.compare(static_cast<std::size_t>(used), std::string::npos,
                                  Fill(w, n, r.message.size() - static_cast<std::size_t>(used))) == 0);
    ASSERT_EQ(r.line, n);
    if (threads[static_cast<std::size_t>(w)] == 0) threads[static_cast<std::size_t>(w)] = r.thread;
    ASSERT_EQ(r.thread, threads[static_cast<std::size_t>(w)]);
    if (timesInOrder) {
      std::string now = Sortable(r.time);
      ASSERT_LE(last, now) << "a record of an earlier second follows a later one";
      last = now;
    }
  }
}

TEST(LogConcurrency, EightThreadsKeepEveryRecordWholeAndInOrder) {
  TempDir dir;
  std::string path = dir / "threads.log";
  cKV_Log* log = cKV_Log::Create(nullptr, path.c_str());
  constexpr int kThreads = 8, kRecords = 100000;
  std::vector<unsigned int> ids(kThreads);
  std::vector<std::thread> threads;
  for (int w = 0; w < kThreads; ++w)
    threads.emplace_back([&, w] {
      ids[static_cast<std::size_t>(w)] = Korvane::osGetCurrentThreadId();
      for (int n = 0; n < kRecords; ++n)
        cKV_Log::Log(log, n % 3, "worker.cpp", n, "w=%d n=%d %s", w, n, Fill(w, n, 40 + n % 60).c_str());
    });
  for (auto& t : threads) t.join();
  delete log;
  std::vector<unsigned long> signedWith;
  ASSERT_NO_FATAL_FAILURE(CheckWriters(ReadFile(path), kThreads, kRecords, signedWith, true));
  for (int w = 0; w < kThreads; ++w) EXPECT_EQ(signedWith[static_cast<std::size_t>(w)], ids[static_cast<std::size_t>(w)]);
}

TEST(LogConcurrency, TwoProcessesAppendingToOneFile) {
  TempDir dir;
  std::string path = dir / "processes.log";
  constexpr int kRecords = 20000;
  // Every 1000th record is far beyond 64 KiB.
  auto write = [&](int w) {
    cKV_Log* log = cKV_Log::Create(nullptr, path.c_str());
    for (int n = 0; n < kRecords; ++n) {
      std::size_t length = n % 1000 == 999 ? 300000 : 50 + n % 200;
      cKV_Log::Log(log, 0, "p", n, "w=%d n=%d %s", w, n, Fill(w, n, length).c_str());
    }
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
  std::vector<unsigned long> signedWith;
  ASSERT_NO_FATAL_FAILURE(CheckWriters(ReadFile(path), 2, kRecords, signedWith, false));
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

  std::vector<logtest::Record> records;
  std::size_t where = 0;
  ASSERT_TRUE(logtest::Parse(ReadFile(path), records, where)) << where;
  int always = 0;
  for (auto const& r : records) {
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
  cKV_Log* first = cKV_Log::Create(nullptr, static_cast<void*>(stream));
  cKV_Log* second = cKV_Log::Create(nullptr, static_cast<void*>(stream));
  constexpr int kRecords = 5000;
  std::vector<std::thread> threads;
  for (int w = 0; w < 4; ++w)
    threads.emplace_back([&, w] {
      cKV_Log* log = w % 2 == 0 ? first : second;
      for (int n = 0; n < kRecords; ++n)
        cKV_Log::Log(log, 0, "s", n, "w=%d n=%d %s", w, n, Fill(w, n, 20 + n % 3000).c_str());
    });
  for (auto& t : threads) t.join();
  delete first;
  delete second;
  std::fclose(stream);
  std::vector<unsigned long> signedWith;
  ASSERT_NO_FATAL_FAILURE(CheckWriters(ReadFile(path), 4, kRecords, signedWith, false));
}

}  // namespace
