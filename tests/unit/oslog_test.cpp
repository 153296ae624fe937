// The log as its users see it: the record layout, the level filter, the
// three kinds of destination, copies, what happens when the host fails, and
// records under load from many threads and two processes.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "OS/oserror.h"
#include "OS/oslog.h"
#include "OS/osthread.h"
#include "OS/ostime.h"
#include "support/testing.h"
#include "unit/oslog_records.h"

using Korvane::cKV_Error;
using Korvane::cKV_Log;
using kvtest::ReadFile;
using kvtest::ScopedFault;
using kvtest::TempDir;

namespace {

using kvtest::Record;
using kvtest::Records;
using kvtest::TimeOf;

std::string Tid() {
  char text[16];
  std::snprintf(text, sizeof text, "%X", Korvane::osGetCurrentThreadId());
  return text;
}

cKV_Log* Open(std::string const& path) { return cKV_Log::Create(nullptr, path.c_str()); }

std::vector<Record> RecordsOf(std::string const& path) { return Records(ReadFile(path)); }

// Text that went through a text-mode stream of this host, with its lines
// ended by line feeds again.
std::string Unhosted(std::string text) {
  std::string const end = kvtest::HostLines("\n");
  if (end == "\n") return text;
  for (std::size_t at = 0; (at = text.find(end, at)) != std::string::npos; ++at) text.replace(at, end.size(), "\n");
  return text;
}

TEST(LogRecord, LayoutOfMessagesAndErrorRecords) {
  TempDir dir;
  std::string path = dir / "app.log", utc;
  // Written again until all records fall into one second, whose time line
  // each of them must then carry.
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::remove(path.c_str());
    cKV_Log* log = Open(path);
    unsigned int second = Korvane::osGetSysTime();
    utc = static_cast<char const*>(Korvane::osGetLocalTimeStr());
    cKV_Log::Log(log, 2, "main", 42, "connected %d", 7);
    cKV_Log::Log(log, -7, nullptr, -1, "%s", "no file");
    cKV_Log::Log(log, INT_MIN, "a[1]", INT_MAX, "%s", "");
    cKV_Error error;
    error.Set(3, ".\\osio", 42, "Failed to open file [x]. 100% %s %d");
    cKV_Log::Log(log, 1, error);
    error.Set(7, "", 0, "no unit");
    cKV_Log::Log(log, 2, error);
    delete log;
    if (Korvane::osGetSysTime() == second) break;
  }
  ASSERT_EQ(utc.size(), 25u);
  std::string const tid = " [" + Tid() + "] LEVEL:", head = utc + tid;
  EXPECT_EQ(ReadFile(path), head + "2 FILE:main[42]\n MSG:connected 7\n\n" +                                 //
                                head + "-7 FILE:unknown[-1]\n MSG:no file\n\n" +                             //
                                head + "-2147483648 FILE:a[1][2147483647]\n MSG:\n\n" +                      //
                                head + "1 FILE:.\\osio[42]\n MSG:Failed to open file [x]. 100% %s %d\n\n" +  //
                                head + "2 FILE:[0]\n MSG:no unit\n\n");
}

TEST(LogRecord, MessagesOfAnyLengthAndContent) {
  TempDir dir;
  std::string path = dir / "big.log";
  // Lengths around the blocks that a record passes through, a 10 MB one,
  // and then a short one again in the block that the long ones left.
  std::vector<std::string> messages;
  for (std::size_t base : {std::size_t{1024}, std::size_t{65536}})
    for (std::size_t d = 0; d < 80; d += 3) messages.emplace_back(base - 40 + d, 'a');
  messages.emplace_back(10u << 20, 'a');
  messages.emplace_back(10, 'a');
  cKV_Log* log = Open(path);
  for (auto& message : messages) {
    for (std::size_t i = 0; i < message.size(); i += 97) message[i] = static_cast<char>('b' + i % 20);
    cKV_Log::Log(log, 0, "f", 1, "%s", message.c_str());
  }
  // Every byte but NUL, line feeds included, and a null text for %s; no
  // format at all.
  std::string binary;
  for (int c = 1; c < 256; ++c) binary += static_cast<char>(c);
  char const* volatile none = nullptr;
  cKV_Log::Log(log, 0, "f", 1, "%s|%s", binary.c_str(), none);
  cKV_Log::Log(log, 0, "f", 1, none);
  messages.insert(messages.end(), {binary + "|(null)", ""});
  delete log;

  std::vector<Record> records = RecordsOf(path);
  ASSERT_EQ(records.size(), messages.size());
  for (std::size_t i = 0; i < records.size(); ++i)
    EXPECT_TRUE(records[i].message == messages[i]) << "record " << i << " of length " << messages[i].size();
}

TEST(LogLevel, FilterAtTheBoundaries) {
  TempDir dir;
  std::string path = dir / "levels.log";
  cKV_Log* log = Open(path);  // level 2 at first
  for (int level : {3, 2, 1, 0, -5, INT_MAX, INT_MIN}) cKV_Log::Log(log, level, "f", level, "m");
  EXPECT_TRUE(cKV_Log::IsLog(log, 2) && !cKV_Log::IsLog(log, 3));
  log->SetOutputLevel(-1);
  EXPECT_TRUE(!cKV_Log::IsLog(log, 0) && cKV_Log::IsLog(log, -1));
  for (int level : {0, -1, -2}) cKV_Log::Log(log, level, "f", level, "m");
  cKV_Error error;
  error.Set(1, "u", 1, "e");
  cKV_Log::Log(log, 0, error);
  cKV_Log::Log(log, -1, error);
  std::vector<long> levels;
  for (auto const& r : RecordsOf(path)) levels.push_back(r.level);
  EXPECT_EQ(levels, (std::vector<long>{2, 1, 0, -5, INT_MIN, -1, -2, -1}));

  cKV_Log::Log(nullptr, 0, "f", 1, "m");  // a null log is a no-op
  EXPECT_FALSE(cKV_Log::IsLog(nullptr, INT_MIN));
  delete log;
}

TEST(LogDestination, CallersStreamAndStandardOutput) {
  TempDir dir;
  // The caller's stream: flushed after every record, never closed.
  FILE* stream = std::fopen((dir / "stream.log").c_str(), "wb");
  cKV_Log* log = cKV_Log::Create(nullptr, static_cast<void*>(stream));
  cKV_Log::Log(log, 1, "s", 2, "to %s", "stream");
  std::string text = ReadFile(dir / "stream.log");
  EXPECT_NE(text.find(" [" + Tid() + "] LEVEL:1 FILE:s[2]\n MSG:to stream\n\n"), std::string::npos) << text;
  delete log;
  EXPECT_TRUE(std::fputs("after\n", stream) >= 0 && std::fclose(stream) == 0);
  EXPECT_EQ(ReadFile(dir / "stream.log").substr(text.size()), "after\n");

  // Standard output: a null or empty path, a path that cannot be opened (in
  // a missing directory), a null stream. Nothing is flushed; nothing is
  // closed at the end.
  testing::internal::CaptureStdout();
  cKV_Log* logs[] = {cKV_Log::Create(nullptr, static_cast<char const*>(nullptr)), cKV_Log::Create(nullptr, ""),
                     cKV_Log::Create(nullptr, (dir / "missing/x.log").c_str()),
                     cKV_Log::Create(nullptr, static_cast<void*>(nullptr))};
  for (int i = 0; i < 4; ++i) cKV_Log::Log(logs[i], 0, "o", i, "out");
  for (cKV_Log* l : logs) delete l;
  EXPECT_TRUE(std::fputs("still open", stdout) >= 0 && std::fflush(stdout) == 0);
  std::string out = Unhosted(testing::internal::GetCapturedStdout());
  ASSERT_TRUE(out.size() > 10 && out.substr(out.size() - 10) == "still open") << out;
  std::vector<long> lines;
  for (auto const& r : Records(out.substr(0, out.size() - 10))) lines.push_back(r.line);
  EXPECT_EQ(lines, (std::vector<long>{0, 1, 2, 3}));
}

TEST(LogCopy, CopiesShareTheFileAndReleaseItOnce) {
  TempDir dir;
  std::string first = dir / "first.log", second = dir / "second.log";
  // The log's own file is appended to.
  kvtest::WriteFile(first, "kept\n");
  cKV_Log* a = Open(first);
  ASSERT_TRUE(kvtest::IsOpenHere(first));

  cKV_Log* b = new cKV_Log(*a);
  b->SetOutputLevel(5);  // the copy's level is its own
  EXPECT_EQ(a->GetOutputLevel(), 2);
  delete a;
  cKV_Log::Log(b, 5, "b", 1, "through the copy");
  cKV_Log* c = Open(second);
  *c = *b;  // c lets go of second.log, its only owner
  EXPECT_FALSE(kvtest::IsOpenHere(second));
  EXPECT_EQ(c->GetOutputLevel(), 5);
  *c = *c;
  *b = *c;
  delete b;
  cKV_Log::Log(c, 0, "c", 2, "through the assigned");
  delete c;
  EXPECT_FALSE(kvtest::IsOpenHere(first));

  std::string text = ReadFile(first);
  ASSERT_EQ(text.substr(0, 5), "kept\n");
  std::vector<Record> records = Records(text.substr(5));
  EXPECT_TRUE(records.size() == 2u && records[1].message == "through the assigned");
}

TEST(LogFactory, FileNamedFromFiveStrings) {
  TempDir dir;
  // The directory creation writes to the caller's record: a level made only
  // after its parent leaves the note of its first attempt.
  char const sep = kvtest::HostSeparator();
  std::string const note = "Failed to create directory " + dir.Path() + sep + "a" + sep + "b. " +
                           static_cast<char const*>(Korvane::osGetSysErrorStr(
                               static_cast<unsigned int>(kvtest::HostError(kvtest::Err::kPathNotFound))));
  std::tuple<char const*, char const*, char const*, char const*, char const*, std::string> const cases[] = {
      {"server", "node1", "main", "3", "server/node1_main_3.log", "x"},
      {"server", nullptr, "main", nullptr, "server/main.log", "x"},
      {"a/b\\c", "p", "n", nullptr, "a/b/c/p_n.log", note},
      {"", nullptr, "top", "s", "top_s.log", "x"},
  };
  for (auto const& [sub, prefix, name, suffix, file, report] : cases) {
    SCOPED_TRACE(file);
    cKV_Error err;
    err.Set(99, "untouched", 1, "x");
    cKV_Log* log = cKV_Log::Create(&err, dir.Path().c_str(), sub, prefix, name, suffix);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(std::string(err.GetText()), report);
    cKV_Log::Log(log, 0, "f", 1, "here");
    delete log;
    EXPECT_NE(ReadFile(dir / file).find("MSG:here"), std::string::npos);
  }

  // A directory that cannot be made: null, with the creation's report.
  kvtest::WriteFile(dir / "file", "");
  cKV_Error err;
  EXPECT_EQ(cKV_Log::Create(&err, (dir / "file").c_str(), "sub", nullptr, "x", nullptr), nullptr);
  EXPECT_TRUE(err.GetCode() == 3 && std::string(err.GetUnit()) == ".\\osio");
}

TEST(LogFailure, HostFailuresLoseRecordsNotTheLog) {
  TempDir dir;
  std::string path = dir / "fail.log";
  // Memory for the object, its file name, its shared part and its lock, and
  // for a log over a stream: no log, and the report.
  auto failsForMemory = [](unsigned skip, auto where) {
    ScopedFault fault("alloc", ENOMEM, skip);
    cKV_Error err;
    EXPECT_EQ(cKV_Log::Create(&err, where), nullptr) << skip;
    EXPECT_TRUE(err.GetCode() == 7 && std::string(err.GetUnit()) == ".\\oslog");
    EXPECT_EQ(std::string(err.GetText()).rfind("Failed to allocate ", 0), 0u) << err.GetText();
  };
  for (unsigned skip : {0u, 1u, 2u, 3u}) failsForMemory(skip, path.c_str());
  failsForMemory(0, static_cast<void*>(stdout));

  cKV_Log* log = Open(path);
  cKV_Log::Log(log, 0, "f", 1, "one");
  {
    // A full disk loses the record; the next one is whole.
    ScopedFault fault("log.write", kvtest::HostError(kvtest::Err::kNoSpace));
    cKV_Log::Log(log, 0, "f", 2, "lost");
    EXPECT_EQ(fault.Failures(), 1u);
  }
  cKV_Log::Log(log, 0, "f", 3, "three");
  {
    // No memory for a long record: it is cut to the log's block, its end kept.
    ScopedFault fault("alloc", ENOMEM, 0, 100);
    cKV_Log::Log(log, 0, "f", 4, "%s", std::string(200000, 'x').c_str());
  }
  std::vector<Record> records = RecordsOf(path);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1].message, "three");
  EXPECT_TRUE(records[2].message.size() > 500u && records[2].message.size() < 200000u);
  EXPECT_EQ(records[2].message.find_first_not_of('x'), std::string::npos);

  delete log;
}

TEST(LogFailure, ARecordAfterACutWriteStartsOnALineOfItsOwn) {
  TempDir dir;
  std::string const path = dir / "cut.log";
  cKV_Log* log = Open(path);
  cKV_Log::Log(log, 0, "f", 1, "one");
  std::string const whole = ReadFile(path);
  // Cut in the message: the file ends inside a line. A write that then
  // takes nothing (a full disk) leaves it there; the next record starts
  // with a line end, and the one after it needs none.
  {
    ScopedFault cut("log.cut", EFBIG);
    cKV_Log::Log(log, 0, "f", 2, "%s", std::string(200, 'c').c_str());
    EXPECT_EQ(cut.Failures(), 1u);
  }
  std::string const torn = ReadFile(path).substr(whole.size());
  ASSERT_TRUE(torn.size() > 100 && torn.back() == 'c') << torn;
  {
    ScopedFault full("log.write", kvtest::HostError(kvtest::Err::kNoSpace));
    cKV_Log::Log(log, 0, "f", 3, "lost");
  }
  cKV_Log::Log(log, 0, "f", 4, "four");
  cKV_Log::Log(log, 0, "f", 5, "five");
  std::string text = ReadFile(path);
  ASSERT_EQ(text.compare(0, whole.size() + torn.size() + 1, whole + torn + "\n"), 0) << text;
  std::vector<Record> after = Records(text.substr(whole.size() + torn.size() + 1));
  ASSERT_EQ(after.size(), 2u);
  EXPECT_TRUE(after[0].message == "four" && after[1].message == "five");

  // Cut right behind a line end (the header's): the file ends at a line
  // start, so the next record needs no line end of its own. The message is
  // sized so that half of the record is exactly its time and header lines.
  std::size_t const lines = whole.find("\n MSG:") + 1;
  std::size_t const before = text.size();
  {
    ScopedFault cut("log.cut", EFBIG);
    cKV_Log::Log(log, 0, "f", 6, "%s", std::string(lines - 7, 'h').c_str());
  }
  ASSERT_EQ(ReadFile(path).size(), before + lines);
  cKV_Log::Log(log, 0, "f", 7, "seven");
  text = ReadFile(path);
  EXPECT_EQ(text.substr(before + lines, 1), whole.substr(0, 1));  // the time line, at once
  EXPECT_EQ(Records(text.substr(before + lines)).size(), 1u);
  delete log;

  // A log opened on a file whose last record was cut (by another process,
  // or before a crash) starts its first record on a new line too; one on a
  // file that ends at a line end, or is empty, does not.
  for (std::string const& start : {whole + "Sat Mar 07 14:0", whole, std::string()}) {
    kvtest::WriteFile(path, start);
    log = Open(path);
    cKV_Log::Log(log, 0, "f", 8, "eight");
    delete log;
    text = ReadFile(path);
    bool const cut = !start.empty() && start.back() != '\n';
    ASSERT_EQ(text.compare(0, start.size(), start), 0);
    std::size_t const at = start.size() + (cut ? 1 : 0);
    EXPECT_EQ(text.substr(start.size(), at - start.size()), cut ? "\n" : "") << start;
    std::vector<Record> records = Records(text.substr(at));
    EXPECT_TRUE(records.size() == 1 && records[0].message == "eight") << text;
  }
}

// Record `n` of writer `w`: its length and letters depend on both, so a torn
// or mixed record cannot pass for another one.
std::string Message(std::size_t w, int n, std::size_t length) {
  return "w=" + std::to_string(w) + " n=" + std::to_string(n) + " " +
         std::string(length, static_cast<char>('a' + (w * 7 + n) % 26));
}

// Checks that each writer's records appear whole, numbered 0, 1, 2... in
// file order and signed by one thread each; returns those thread ids.
std::vector<unsigned long> CheckWriters(std::vector<Record> const& records, std::size_t writers,
                                        int perWriter, std::size_t (*length)(int n), bool timesInOrder) {
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
      EXPECT_LE(last, TimeOf(r.time)) << "a record of an earlier second follows a later one";
      last = TimeOf(r.time);
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
  EXPECT_EQ(CheckWriters(RecordsOf(path), kThreads, kRecords, length, true), ids);
}

constexpr int kProcessRecords = 20000;
// Every 1000th record is far beyond 64 KiB.
std::size_t ProcessRecordLength(int n) { return n % 1000 == 999 ? 300000 : 50 + n % 200; }

void WriteAsProcess(std::string const& path, std::size_t w) {
  cKV_Log* log = cKV_Log::Create(nullptr, path.c_str());
  for (int n = 0; n < kProcessRecords; ++n)
    cKV_Log::Log(log, 0, "p", n, "%s", Message(w, n, ProcessRecordLength(n)).c_str());
  delete log;
}

// The second writer, started by the test below as a program of its own.
TEST(LogChild, DISABLED_Append) {
  char const* path = std::getenv("KVOS_LOG_CHILD");
  ASSERT_TRUE(path != nullptr && *path != '\0');
  WriteAsProcess(path, 1);
}

TEST(LogConcurrency, TwoProcessesAppendingToOneFile) {
  TempDir dir;
  std::string path = dir / "processes.log";
  kvtest::SetEnv("KVOS_LOG_CHILD", path.c_str());
  kvtest::RunResult child;
  std::thread other([&] {
    child = kvtest::Run({kvtest::ProgramPath(), "--gtest_brief=1", "--gtest_also_run_disabled_tests",
                         "--gtest_filter=LogChild.DISABLED_Append"});
  });
  WriteAsProcess(path, 0);
  other.join();
  kvtest::SetEnv("KVOS_LOG_CHILD", nullptr);
  ASSERT_EQ(child.status, 0) << child.out << child.err;
  std::vector<unsigned long> ids = CheckWriters(RecordsOf(path), 2, kProcessRecords, ProcessRecordLength, false);
  EXPECT_NE(ids[0], ids[1]);
}

TEST(LogConcurrency, LevelChangesAndSeparateLogsOverOneStream) {
  TempDir dir;
  std::string path = dir / "stream.log";
  FILE* stream = std::fopen(path.c_str(), "wb");
  // Two logs with locks of their own: only the stream's lock keeps them
  // from cutting into each other's records. The second one's level keeps
  // changing: level 1 always passes, level 3 only while the level is 5.
  cKV_Log* logs[] = {cKV_Log::Create(nullptr, static_cast<void*>(stream)),
                     cKV_Log::Create(nullptr, static_cast<void*>(stream))};
  constexpr int kRecords = 10000;
  auto length = [](int n) -> std::size_t { return 20 + n % 1500; };
  std::atomic<bool> done{false};
  std::thread changer([&] {
    for (int i = 0; !done.load(); ++i) {
      logs[1]->SetOutputLevel(i % 2 == 0 ? 5 : 2);
      EXPECT_TRUE(cKV_Log::IsLog(logs[1], 1));
    }
  });
  std::vector<std::thread> threads;
  for (std::size_t w = 0; w < 4; ++w)
    threads.emplace_back([&, w] {
      for (int n = 0; n < kRecords; ++n) {
        cKV_Log::Log(logs[w % 2], 1, "s", n, "%s", Message(w, n, length(n)).c_str());
        cKV_Log::Log(logs[w % 2], 3, "sometimes", n, "w=%zu", w);
      }
    });
  for (auto& t : threads) t.join();
  done = true;
  changer.join();
  delete logs[0];
  delete logs[1];
  std::fclose(stream);
  std::vector<Record> always;
  for (auto& r : Records(ReadFile(path))) {
    EXPECT_TRUE(r.level == 1 || (r.level == 3 && (r.message == "w=1" || r.message == "w=3"))) << r.message;
    if (r.level == 1) always.push_back(std::move(r));
  }
  CheckWriters(always, 4, kRecords, length, false);
}

}  // namespace
