// The log as its users see it: the record layout, the level filter, the
// three kinds of destination, copies, what happens when the host fails, and
// records under load from many threads and two processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "OS/oserror.h"
#include "OS/oslog.h"
#include "OS/osthread.h"
#include "OS/ostime.h"
#include "support/testing.h"

using Korvane::cKV_Error;
using Korvane::cKV_Log;
using kvtest::ReadFile;
using kvtest::ScopedFault;
using kvtest::TempDir;

namespace {

// Reading log files back: a strict parser of the record layout for messages
// without empty lines.
struct Record {
  std::string time;  // without its line feed
  unsigned long thread = 0;
  long level = 0;
  std::string file;
  long line = 0;
  std::string message;
};

// Seconds of a time line read as UTC (for ordering), or -1 unless it is
// exactly "Www Mmm dd hh:mm:ss yyyy": it must print back the same.
long long TimeOf(std::string const& t) {
  static char const kFormat[] = "%a %b %d %H:%M:%S %Y";
  std::tm tm{};
  char back[32];
  if (t.size() != 24 || strptime(t.c_str(), kFormat, &tm) != t.c_str() + 24) return -1;
  return std::strftime(back, sizeof back, kFormat, &tm) == 24 && t == back ? timegm(&tm) : -1;
}

// Every record of `text`; anything torn or out of layout fails the test at
// the first byte that does not fit.
std::vector<Record> Records(std::string const& text) {
  constexpr std::size_t npos = std::string::npos;
  std::vector<Record> out;
  for (std::size_t at = 0; at < text.size();) {
    Record r;
    char hex[16];
    int head = 0, tail = 0;
    std::size_t eol = text.find('\n', at);
    std::size_t msg = eol == npos ? npos : text.find("\n MSG:", eol + 1);
    std::size_t end = msg == npos ? npos : text.find("\n\n", msg + 6);
    std::string header = end == npos ? "" : text.substr(eol + 1, msg - eol - 1);
    std::size_t open = header.rfind('[');
    r.time = text.substr(at, eol - at);
    if (end == npos || TimeOf(r.time) < 0 || header.compare(0, 2, " [") != 0 || header.find('\n') != npos ||
        std::sscanf(header.c_str(), " [%15[0-9A-F]] LEVEL:%ld FILE:%n", hex, &r.level, &head) != 2 || head == 0 ||
        open == npos || open < static_cast<std::size_t>(head) ||
        std::sscanf(header.c_str() + open, "[%ld]%n", &r.line, &tail) != 1 || open + tail != header.size()) {
      ADD_FAILURE() << "out of the record layout at byte " << at << ": " << text.substr(at, 300);
      break;
    }
    r.thread = std::strtoul(hex, nullptr, 16);
    r.file = header.substr(static_cast<std::size_t>(head), open - static_cast<std::size_t>(head));
    r.message = text.substr(msg + 6, end - msg - 6);
    out.push_back(std::move(r));
    at = end + 2;
  }
  return out;
}

std::string Tid() {
  char text[16];
  std::snprintf(text, sizeof text, "%X", Korvane::osGetCurrentThreadId());
  return text;
}

cKV_Log* Open(std::string const& path) { return cKV_Log::Create(nullptr, path.c_str()); }

std::vector<Record> RecordsOf(std::string const& path) { return Records(ReadFile(path)); }

// The descriptor of this process that is open on `path`, or -1.
int DescriptorOf(std::string const& path) {
  struct stat want, st;
  if (stat(path.c_str(), &want) != 0) return -1;
  for (int fd = 0; fd < 1024; ++fd)
    if (fstat(fd, &st) == 0 && st.st_dev == want.st_dev && st.st_ino == want.st_ino) return fd;
  return -1;
}

TEST(LogRecord, LayoutOfMessagesAndErrorRecords) {
  TempDir dir;
  std::string path = dir / "app.log", utc, east;
  // Written again until all records fall into one second, whose time line
  // each of them must then carry. The zone moves by five hours within that
  // second: a time text kept for the second must not survive the switch.
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::remove(path.c_str());
    cKV_Log* log = Open(path);
    setenv("TZ", "UTC0", 1);
    tzset();
    unsigned int second = Korvane::osGetSysTime();
    utc = static_cast<char const*>(Korvane::osGetLocalTimeStr());
    cKV_Log::Log(log, 2, "main", 42, "connected %d", 7);
    cKV_Log::Log(log, -7, nullptr, -1, "%s", "no file");
    cKV_Log::Log(log, INT_MIN, "a[1]", INT_MAX, "%s", "");
    cKV_Error error;
    error.Set(3, ".\\osio", 42, "Failed to open file [x]. 100% %s %d");
    cKV_Log::Log(log, 1, error);
    setenv("TZ", "XXX-5", 1);
    tzset();
    east = static_cast<char const*>(Korvane::osGetLocalTimeStr());
    error.Set(7, "", 0, "no unit");
    cKV_Log::Log(log, 2, error);
    delete log;
    if (Korvane::osGetSysTime() == second) break;
  }
  unsetenv("TZ");
  tzset();
  ASSERT_EQ(utc.size(), 25u);
  EXPECT_NE(utc, east);
  std::string const tid = " [" + Tid() + "] LEVEL:", head = utc + tid;
  EXPECT_EQ(ReadFile(path), head + "2 FILE:main[42]\n MSG:connected 7\n\n" +                                 //
                                head + "-7 FILE:unknown[-1]\n MSG:no file\n\n" +                             //
                                head + "-2147483648 FILE:a[1][2147483647]\n MSG:\n\n" +                      //
                                head + "1 FILE:.\\osio[42]\n MSG:Failed to open file [x]. 100% %s %d\n\n" +  //
                                east + tid + "2 FILE:[0]\n MSG:no unit\n\n");
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
  FILE* stream = std::fopen((dir / "stream.log").c_str(), "w");
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
  EXPECT_NE(fcntl(STDOUT_FILENO, F_GETFD), -1);
  std::vector<long> lines;
  for (auto const& r : Records(testing::internal::GetCapturedStdout())) lines.push_back(r.line);
  EXPECT_EQ(lines, (std::vector<long>{0, 1, 2, 3}));
}

TEST(LogCopy, CopiesShareTheFileAndReleaseItOnce) {
  TempDir dir;
  std::string first = dir / "first.log", second = dir / "second.log";
  // The log's own file is appended to and not inherited by programs started.
  kvtest::WriteFile(first, "kept\n");
  cKV_Log* a = Open(first);
  int fd = DescriptorOf(first);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(fcntl(fd, F_GETFL) & O_APPEND);

  cKV_Log* b = new cKV_Log(*a);
  b->SetOutputLevel(5);  // the copy's level is its own
  EXPECT_EQ(a->GetOutputLevel(), 2);
  delete a;
  cKV_Log::Log(b, 5, "b", 1, "through the copy");
  cKV_Log* c = Open(second);
  *c = *b;  // c lets go of second.log, its only owner
  EXPECT_EQ(DescriptorOf(second), -1);
  EXPECT_EQ(c->GetOutputLevel(), 5);
  *c = *c;
  *b = *c;
  delete b;
  cKV_Log::Log(c, 0, "c", 2, "through the assigned");
  delete c;
  EXPECT_EQ(DescriptorOf(first), -1);

  std::string text = ReadFile(first);
  ASSERT_EQ(text.substr(0, 5), "kept\n");
  std::vector<Record> records = Records(text.substr(5));
  EXPECT_TRUE(records.size() == 2u && records[1].message == "through the assigned");
}

TEST(LogFactory, FileNamedFromFiveStrings) {
  TempDir dir;
  // The directory creation writes to the caller's record: a level made only
  // after its parent leaves the note of its first attempt.
  std::string const note = "Failed to create directory " + dir / "a/b. " +
                           static_cast<char const*>(Korvane::osGetSysErrorStr(ENOENT));
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
    ScopedFault fault("log.write", ENOSPC);
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
    ScopedFault full("log.write", ENOSPC);
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

TEST(LogFailure, AStreamThatTookPartOfARecordGetsTheNextOnANewLine) {
  // A pipe that takes one page without waiting: the stream writes what fits
  // of a long record, drops the rest and says so.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_GE(fcntl(fds[1], F_SETPIPE_SZ, 4096), 4096);
  ASSERT_EQ(fcntl(fds[1], F_SETFL, O_NONBLOCK), 0);
  FILE* stream = fdopen(fds[1], "w");
  ASSERT_NE(stream, nullptr);
  cKV_Log* log = cKV_Log::Create(nullptr, static_cast<void*>(stream));
  auto drain = [&] {
    std::string got;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) got.append(buffer, static_cast<std::size_t>(n));
    return got;
  };
  ASSERT_EQ(fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
  cKV_Log::Log(log, 0, "f", 1, "%s", std::string(20000, 'p').c_str());
  std::string const torn = drain();
  ASSERT_TRUE(!torn.empty() && torn.size() < 20000 && torn.back() == 'p');
  cKV_Log::Log(log, 0, "f", 2, "two");
  cKV_Log::Log(log, 0, "f", 3, "three");
  std::string const text = drain();
  ASSERT_EQ(text.substr(0, 1), "\n");
  std::vector<Record> records = Records(text.substr(1));
  EXPECT_TRUE(records.size() == 2 && records[0].message == "two" && records[1].message == "three") << text;
  delete log;
  std::fclose(stream);
  close(fds[0]);
}

TEST(LogFailure, ASizeLimitCutsARecordAndTheNextStartsOnANewLine) {
  TempDir dir;
  std::string const path = dir / "limit.log";
  kvtest::WriteFile(path, std::string(1000, '#') + "\n");
  // In a child, so that the limit and the ignored signal stay there: the
  // host writes up to the limit and refuses the rest of the record.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    rlimit cut = limit;
    cut.rlim_cur = 1500;
    if (setrlimit(RLIMIT_FSIZE, &cut) != 0) _exit(3);
    cKV_Log* log = Open(path);
    cKV_Log::Log(log, 0, "f", 1, "%s", std::string(1000, 'm').c_str());
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(4);
    cKV_Log::Log(log, 0, "f", 2, "after the limit");
    delete log;
    _exit(0);
  }
  int status = 0;
  ASSERT_TRUE(waitpid(child, &status, 0) == child && WIFEXITED(status)) << status;
  ASSERT_EQ(WEXITSTATUS(status), 0);
  std::string const text = ReadFile(path);
  ASSERT_GT(text.size(), 1501u);
  EXPECT_EQ(text.substr(1499, 2), "m\n");  // the cut record, then a line end
  std::vector<Record> records = Records(text.substr(1501));
  EXPECT_TRUE(records.size() == 1 && records[0].message == "after the limit") << text.substr(1400);
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
  if (child == 0) write(1), _exit(0);
  write(0);
  int status = 0;
  ASSERT_TRUE(waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::vector<unsigned long> ids = CheckWriters(RecordsOf(path), 2, kRecords, length, false);
  EXPECT_NE(ids[0], ids[1]);
}

TEST(LogConcurrency, LevelChangesAndSeparateLogsOverOneStream) {
  TempDir dir;
  std::string path = dir / "stream.log";
  FILE* stream = std::fopen(path.c_str(), "w");
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
