#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "OS/osio.h"
#include "support/testing.h"

using namespace Korvane;
using kvtest::ScopedFault;
using kvtest::TempDir;

namespace {

void* const kInvalid = osInvalidFileHandle();

std::string Text(cKV_String const& s) { return static_cast<char const*>(s); }

void ExpectReport(cKV_Error const& e, std::string const& text) {
  EXPECT_EQ(e.GetCode(), 3);
  EXPECT_STREQ(e.GetUnit(), ".\\osio");
  EXPECT_EQ(std::string(e.GetText()), text);
}

TEST(FileHandle, OpenModesSeekSizeCloseAndTheInvalidHandle) {
  TempDir dir;
  std::string path = dir / "a.bin";
  EXPECT_EQ(osFileOpen(path.c_str(), 1, 0x300), kInvalid);
  EXPECT_EQ(osGetSysError(), kvtest::HostError(kvtest::Err::kNotFound));

  void* f = osFileOpen(path.c_str(), 3 | 4, 0x300);
  ASSERT_NE(f, kInvalid);
  unsigned int n = 0;
  EXPECT_TRUE(osFileWrite(f, reinterpret_cast<unsigned char const*>("hello"), 5, n));
  EXPECT_TRUE(osFileClose(f));
  EXPECT_EQ(f, kInvalid);
  EXPECT_EQ(kvtest::ReadFile(path), "hello");

  // The create bit cuts an existing file, even for reading; without it the
  // content stays.
  for (int access : {1, 1 | 4}) {
    f = osFileOpen(path.c_str(), access, 0x300);
    EXPECT_EQ(osFileSize(f), access == 1 ? 5 : 0);
    osFileClose(f);
  }

  // A value that cannot be a descriptor must not be truncated into one
  // (the high bit kept clear: the invalid handle is all bits set).
  unsigned char buf[8];
  void* bogus = reinterpret_cast<void*>(std::uintptr_t{1} << (sizeof(void*) * 8 - 2) | 1);
  EXPECT_FALSE(osFileRead(bogus, buf, 4, n));
  EXPECT_EQ(osFileTell(bogus), -1);

  // Positions beyond 32 bits (sparse), the three origins, the size.
  f = osFileOpen(path.c_str(), 3 | 4, 0);
  long long const far = 5LL << 30;
  EXPECT_EQ(osFileSeek(f, far, eFileSeekBegin), far);
  ASSERT_TRUE(osFileWrite(f, reinterpret_cast<unsigned char const*>("xyz"), 3, n));
  EXPECT_EQ(osFileSeek(f, -2, eFileSeekCurrent), far + 1);
  EXPECT_EQ(osFileSize(f), far + 3);
  EXPECT_EQ(osFileSeek(f, -1, eFileSeekEnd), far + 2);

  // Reading: a count per request, 0 at the end; host failures as results.
  ASSERT_EQ(osFileSeek(f, far, eFileSeekBegin), far);
  EXPECT_TRUE(osFileRead(f, buf, sizeof buf, n));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), "xyz");
  {
    ScopedFault fault("io.read", EIO);
    n = 99;
    EXPECT_FALSE(osFileRead(f, buf, sizeof buf, n));
    EXPECT_EQ(n, 99u);
  }
  ScopedFault fault("io.seek", EIO, 1);  // the size's second seek, to the end
  EXPECT_EQ(osFileSize(f), -1);
  osFileClose(f);
}

// The original host's rule: each access must be shared by every other open
// handle; handles without access take no part.
bool Conflict(int accessA, int shareA, int accessB, int shareB) {
  return accessA != 0 && accessB != 0 && ((accessB & ~(shareA >> 8)) != 0 || (accessA & ~(shareB >> 8)) != 0);
}

TEST(FileShare, EveryPairAndThirdHandleFollowTheSharingRule) {
  TempDir dir;
  std::string path = dir / "shared.txt";
  kvtest::WriteFile(path, "content");
  for (int accessA : {0, 1, 2, 3})
    for (int shareA : {0, 0x100, 0x200, 0x300})
      for (int accessB : {0, 1, 2, 3})
        for (int shareB : {0, 0x100, 0x200, 0x300}) {
          SCOPED_TRACE(testing::Message() << "A " << accessA << "/" << shareA << "  B " << accessB << "/" << shareB);
          bool conflict = Conflict(accessA, shareA, accessB, shareB);
          void* a = osFileOpen(path.c_str(), accessA, shareA);
          ASSERT_NE(a, kInvalid);
          void* b = osFileOpen(path.c_str(), accessB, shareB);
          EXPECT_EQ(b == kInvalid, conflict);
          EXPECT_TRUE(!conflict || osGetSysError() == kvtest::HostError(kvtest::Err::kBusy)) << osGetSysError();
          osFileClose(b);
          osFileClose(a);
        }
  // With two handles open, a third must meet both: the one that forbids it
  // may have been opened before or after one that does not.
  std::vector<std::pair<int, int>> modes;
  for (int access : {1, 2, 3})
    for (int share : {0, 0x100, 0x200, 0x300}) modes.emplace_back(access, share);
  for (auto [accessA, shareA] : modes)
    for (auto [accessB, shareB] : modes) {
      if (Conflict(accessA, shareA, accessB, shareB)) continue;
      void* a = osFileOpen(path.c_str(), accessA, shareA);
      void* b = osFileOpen(path.c_str(), accessB, shareB);
      ASSERT_NE(b, kInvalid);
      for (auto [accessC, shareC] : modes) {
        bool conflict = Conflict(accessA, shareA, accessC, shareC) || Conflict(accessB, shareB, accessC, shareC);
        void* c = osFileOpen(path.c_str(), accessC, shareC);
        EXPECT_EQ(c == kInvalid, conflict) << "A " << accessA << "/" << shareA << "  B " << accessB << "/" << shareB
                                           << "  C " << accessC << "/" << shareC;
        osFileClose(c);
      }
      osFileClose(b);
      osFileClose(a);
    }
  // A refused create leaves the file as it was.
  void* reader = osFileOpen(path.c_str(), 1, 0x100);
  EXPECT_EQ(osFileOpen(path.c_str(), 2 | 4, 0x300), kInvalid);
  EXPECT_EQ(kvtest::ReadFile(path), "content");
  osFileClose(reader);

}

TEST(FileShare, RacingConflictingOpensNeverBothSucceed) {
  TempDir dir;
  std::string path = dir / "race.txt";
  kvtest::WriteFile(path, "r");
  std::atomic<bool> ok[2] = {false, false};
  int both = 0;
  // A rendezvous of the two threads that counts the rounds in which both
  // opens succeeded. (Not std::barrier: its waits can miss a wake-up with
  // the MinGW runtime and hang.)
  std::mutex lock;
  std::condition_variable turned;
  int arrived = 0;
  unsigned rounds = 0;
  auto sync = [&](bool count) {
    std::unique_lock<std::mutex> hold(lock);
    unsigned mine = rounds;
    if (++arrived == 2) {
      if (count) both += ok[0] && ok[1];
      arrived = 0;
      ++rounds;
      turned.notify_all();
    } else {
      turned.wait(hold, [&] { return rounds != mine; });
    }
  };
  // A reads and refuses writers; B writes.
  auto run = [&](int access, int share) {
    for (int i = 0; i < 300; ++i) {
      void* f = osFileOpen(path.c_str(), access, share);
      ok[access - 1] = f != osInvalidFileHandle();
      sync(true);  // both tried: count the round
      osFileClose(f);
      sync(false);
    }
  };
  std::thread a(run, 1, 0x100), b(run, 2, 0x300);
  a.join();
  b.join();
  EXPECT_EQ(both, 0);
}

// The reference: the line ended by the first LF or NUL within `limit` bytes
// from `pos` (a CR before the LF dropped) and where the next one starts.
std::optional<std::pair<std::string, std::size_t>> ReferenceLine(std::string const& data, std::size_t pos,
                                                                  unsigned int limit) {
  std::size_t end = data.find_first_of(std::string("\n\0", 2), pos);
  if (end == std::string::npos || end - pos >= (limit == 0 ? 65535 : limit)) return std::nullopt;
  std::size_t cr = data[end] == '\n' && end > pos && data[end - 1] == '\r' ? 1 : 0;
  return std::pair{data.substr(pos, end - pos - cr), end + 1};
}

TEST(FileReadLine, LineEndsLimitsAndThePositionLeftBehind) {
  TempDir dir;
  std::string path = dir / "lines.txt";
  auto check = [&](std::string const& data, unsigned int limit, std::vector<std::string> const& lines,
                   long long restAt) {
    SCOPED_TRACE(testing::Message() << "data of " << data.size() << " bytes, limit " << limit);
    kvtest::WriteFile(path, data);
    void* f = osFileOpen(path.c_str(), 1, 0x300);
    cKV_String line;
    for (auto const& want : lines) {
      ASSERT_TRUE(osFileReadLine(f, line, limit));
      EXPECT_EQ(Text(line), want);
    }
    line = "untouched";
    EXPECT_FALSE(osFileReadLine(f, line, limit));
    EXPECT_EQ(Text(line), "untouched");
    EXPECT_EQ(osFileTell(f), restAt);
    osFileClose(f);
  };
  check("one\r\ntwo\nthree", 0, {"one", "two"}, 9);
  check("abc\r\r\nd\re\n\r\n", 0, {"abc\r", "d\re", ""}, 12);
  check(std::string(65534, 'a') + "\n" + std::string(65535, 'b') + "\n", 0, {std::string(65534, 'a')}, 65535);
  check("", 0, {}, 0);

}

TEST(FileReadLine, RandomFilesMatchTheReferenceOnHandlesMadeHereAndElsewhere) {
  TempDir dir;
  std::string path = dir / "random.txt";
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    std::string data;
    while (data.size() < 200000) {
      // Lengths around the first look (512 bytes), the chunks after it and the limits.
      static constexpr std::size_t kLengths[] = {0, 1, 3, 4, 5, 510, 511, 512, 513, 16895, 16896, 16897, 40000};
      std::size_t length = rng() % 3 == 0 ? kLengths[rng() % 13] : rng() % 200;
      for (std::size_t i = 0; i < length; ++i) data += static_cast<char>('a' + rng() % 26);
      if (rng() % 5 == 0) data += '\r';
      data += (rng() % 20 == 0) ? '\0' : '\n';
    }
    kvtest::WriteFile(path, data);
    unsigned int const limits[] = {0, 4, 5, 512, 513, 16897, 100000};
    unsigned int limit = limits[rng() % 7];
    // Every third round reads a descriptor that the caller opened itself.
    void* f = round % 3 == 0 ? kvtest::OpenOwn(path) : osFileOpen(path.c_str(), 1, 0x300);
    ASSERT_NE(f, kInvalid);
    cKV_String line;
    for (std::size_t pos = 0; pos < data.size();) {
      SCOPED_TRACE(testing::Message() << "round " << round << " at " << pos << " limit " << limit);
      auto want = ReferenceLine(data, pos, limit);
      ASSERT_EQ(osFileReadLine(f, line, limit), want.has_value());
      if (!want) {  // the position stays at the line; step over it
        ASSERT_EQ(osFileTell(f), static_cast<long long>(pos));
        pos = data.find_first_of(std::string("\n\0", 2), pos) + 1;
        osFileSeek(f, static_cast<long long>(pos), eFileSeekBegin);
        continue;
      }
      ASSERT_EQ(Text(line), want->first);
      pos = want->second;
      ASSERT_EQ(osFileTell(f), static_cast<long long>(pos));
    }
    EXPECT_FALSE(osFileReadLine(f, line, limit));
    osFileClose(f);
  }
}

TEST(FileReadLine, FailuresLeaveThePositionAtTheLineStartAndPipesDoNotHang) {
  TempDir dir;
  std::string path = dir / "fail.txt";
  std::string longLine(3000, 'L');
  kvtest::WriteFile(path, "short\n" + longLine + "\n");
  void* f = osFileOpen(path.c_str(), 1, 0x300);
  cKV_String line("ab");  // too short to take the line without memory
  for (auto [point, error] : {std::pair{"alloc", ENOMEM}, std::pair{"io.read", EIO}}) {
    ScopedFault fault(point, error);
    EXPECT_FALSE(osFileReadLine(f, line, 0)) << point;
    EXPECT_EQ(Text(line), "ab");
    EXPECT_EQ(osFileTell(f), 0);
  }
  ASSERT_TRUE(osFileReadLine(f, line, 0));
  EXPECT_EQ(Text(line), "short");

  // The long line is found ahead and then read in one piece; when that read
  // fails the line is left empty and the position back at its start.
  {
    ScopedFault fault("io.read", EIO, 2);
    EXPECT_FALSE(osFileReadLine(f, line, 0));
    EXPECT_EQ(fault.Failures(), 1u);
  }
  EXPECT_EQ(Text(line), "");
  EXPECT_EQ(osFileTell(f), 6);
  ASSERT_TRUE(osFileReadLine(f, line, 0));
  EXPECT_TRUE(Text(line) == longLine);
  osFileClose(f);

  // Pipes run the scan and re-read without hanging.
  void* writer = nullptr;
  ASSERT_TRUE(kvtest::MakePipe(f, writer));
  ASSERT_TRUE(kvtest::WritePipe(writer, "abc\ndef\n"));
  kvtest::ClosePipeEnd(writer);
  // The scan consumes "abc\n"; the pipe cannot go back, so the line read
  // after it is the next four bytes.
  ASSERT_TRUE(osFileReadLine(f, line, 0));
  EXPECT_EQ(Text(line), "def");
  EXPECT_FALSE(osFileReadLine(f, line, 0));
  osFileClose(f);
}

TEST(FileReadText, WholeTextCapsAndEveryReport) {
  TempDir dir;
  std::string path = dir / "text.txt";
  std::string const high = "\xC3\xA9t\xE9\r\n\xFF";  // byte for byte, line ends included
  std::tuple<std::string, unsigned int, std::string> const reads[] = {
      {"0123456789", 100, "0123456789"}, {"0123456789", 4, "0123"}, {"0123456789", 0, ""},
      {"0123456789", 0xFFFFFFFFu, "0123456789"}, {"", 100, ""}, {std::string("ab\0cd", 5), 100, "ab"},
      {high, 100, high}};
  cKV_Error err;
  cKV_String text("previous, longer text");
  for (auto const& [content, cap, want] : reads) {
    kvtest::WriteFile(path, content);
    EXPECT_TRUE(osReadFileTxt(&err, path.c_str(), text, cap));
    EXPECT_EQ(Text(text), want) << cap;
    EXPECT_TRUE(text.Cmp(want.c_str())) << cap;  // a text read holds a buffer, also an empty one
  }
  EXPECT_TRUE(err.IsNotError());

  int const descriptors = kvtest::OpenFileCount();
  std::string missing = dir / "missing.txt", longName = dir.Path() + "/" + std::string(5000, 'n');
  kvtest::WriteFile(path, "0123456789");
  // No fault point: the host fails on its own.
  std::tuple<char const*, char const*, int, std::string> const failures[] = {
      {missing.c_str(), nullptr, 0, "Failed to open file [" + missing + "]"},
      {dir.Path().c_str(), nullptr, 0, "Failed to open file [" + dir.Path() + "]"},
      {path.c_str(), "io.seek", EIO, "Failed to get size of file [" + path + "]"},
      {path.c_str(), "alloc", ENOMEM, "Failed to alloc 11 bytes of memory"},
      {path.c_str(), "io.read", EIO, "Failed to read 10 bytes from file [" + path + "]"},
  };
  for (auto const& [name, point, error, report] : failures) {
    std::optional<ScopedFault> fault;
    if (point != nullptr) fault.emplace(point, error);
    EXPECT_FALSE(osReadFileTxt(&err, name, text, 100));
    ExpectReport(err, report);
  }
  // Every failure closed what it opened (so nothing holds the file), and a
  // null record is fine.
  EXPECT_EQ(kvtest::OpenFileCount(), descriptors);
  EXPECT_FALSE(osReadFileTxt(nullptr, missing.c_str(), text, 100));
  EXPECT_FALSE(osReadFileTxt(&err, nullptr, text, 100));
  ExpectReport(err, "Failed to open file []");
}

TEST(FileReadText, FilesWithoutASizeAreReadToTheirEnd) {
  // A file that tells no size is read in growing steps: around the steps
  // and the cap, in both directions. The seek that asks the size fails
  // the way it does on /proc.
  TempDir dir;
  std::string const path = dir / "unsized.txt";
  std::string content;
  for (int i = 0; content.size() < 10000; ++i) content += std::to_string(i) + ",";
  content.resize(10000);
  kvtest::WriteFile(path, content);
  for (unsigned int cap : {0u, 1u, 4095u, 4096u, 4097u, 8191u, 8192u, 8193u, 9999u, 10000u, 10001u, 0xFFFFFFFFu}) {
    for (int why : {kvtest::HostError(kvtest::Err::kInvalidArgument), kvtest::HostError(kvtest::Err::kNotSeekable)}) {
      cKV_String text("previous text");
      ScopedFault unsized("io.seek", why);
      ASSERT_TRUE(osReadFileTxt(nullptr, path.c_str(), text, cap)) << cap;
      EXPECT_EQ(unsized.Failures(), 1u);
      EXPECT_EQ(Text(text), content.substr(0, cap)) << cap;
      EXPECT_TRUE(text.Cmp(content.substr(0, cap).c_str())) << cap;  // a buffer also when empty
    }
  }
  kvtest::WriteFile(dir / "empty", "");
  cKV_String empty("previous");
  {
    ScopedFault unsized("io.seek", kvtest::HostError(kvtest::Err::kInvalidArgument));
    EXPECT_TRUE(osReadFileTxt(nullptr, (dir / "empty").c_str(), empty, 100));
  }
  EXPECT_TRUE(empty.Cmp(""));

  // Every failure on the way leaves the text as it was and the file closed:
  // memory for the first step, for a later one, for the text; a read.
  int const descriptors = kvtest::OpenFileCount();
  std::tuple<char const*, unsigned, std::string> const failures[] = {
      {"alloc", 0, "Failed to alloc 4097 bytes of memory"},
      {"alloc", 1, "Failed to alloc 8193 bytes of memory"},
      {"alloc", 2, "Failed to alloc 16385 bytes of memory"},
      {"alloc", 3, "Failed to alloc 10001 bytes of memory"},
      {"io.read", 1, "Failed to read 4096 bytes from file [" + path + "]"},
  };
  for (auto const& [point, skip, report] : failures) {
    cKV_Error err;
    cKV_String text("kept");
    ScopedFault unsized("io.seek", kvtest::HostError(kvtest::Err::kInvalidArgument));
    ScopedFault fault(point, ENOMEM, skip);
    EXPECT_FALSE(osReadFileTxt(&err, path.c_str(), text, 100000)) << report;
    ExpectReport(err, report);
    EXPECT_EQ(Text(text), "kept");
  }
  EXPECT_EQ(kvtest::OpenFileCount(), descriptors);
}

}  // namespace
