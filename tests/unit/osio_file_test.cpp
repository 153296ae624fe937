#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "OS/osio.h"
#include "support/testing.h"

using namespace Korvane;
using kvtest::ScopedFault;
using kvtest::TempDir;

namespace {

void* const kInvalid = osInvalidFileHandle();

int OpenDescriptors() {
  int count = 0;
  for (auto const& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

std::string LineText(cKV_String const& s) { return std::string(static_cast<char const*>(s)); }

void ExpectReport(cKV_Error const& e, std::string const& text) {
  EXPECT_EQ(e.GetCode(), 3);
  EXPECT_STREQ(e.GetUnit(), ".\\osio");
  EXPECT_EQ(std::string(e.GetText()), text);
}

TEST(FileHandle, OpenModesCloseAndTheInvalidHandle) {
  TempDir dir;
  std::string path = dir / "a.bin";

  errno = 0;
  EXPECT_EQ(osFileOpen(path.c_str(), 1, 0x300), kInvalid);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(osFileOpen(nullptr, 1, 0x300), kInvalid);

  void* f = osFileOpen(path.c_str(), 3 | 4, 0x300);
  ASSERT_NE(f, kInvalid);
  int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(f));
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  unsigned int written = 0;
  EXPECT_TRUE(osFileWrite(f, reinterpret_cast<unsigned char const*>("hello"), 5, written));
  EXPECT_EQ(written, 5u);
  EXPECT_TRUE(osFlushFileBuffers(f));
  EXPECT_TRUE(osFileClose(f));
  EXPECT_EQ(f, kInvalid);
  EXPECT_FALSE(osFileClose(f));
  EXPECT_EQ(kvtest::ReadFile(path), "hello");

  // The create bit cuts an existing file; without it the content stays.
  f = osFileOpen(path.c_str(), 1, 0x300);
  ASSERT_NE(f, kInvalid);
  EXPECT_EQ(osFileSize(f), 5);
  osFileClose(f);
  f = osFileOpen(path.c_str(), 1 | 4, 0x300);  // read access only, still cut
  ASSERT_NE(f, kInvalid);
  EXPECT_EQ(osFileSize(f), 0);
  osFileClose(f);

  // Directories are not files.
  errno = 0;
  EXPECT_EQ(osFileOpen(dir.Path().c_str(), 1, 0x300), kInvalid);
  EXPECT_EQ(errno, EISDIR);

  // A value that cannot be a descriptor must not be truncated into one.
  unsigned char buf[4];
  unsigned int count = 77;
  void* bogus = reinterpret_cast<void*>(std::uintptr_t{1} << 40 | 1);
  EXPECT_FALSE(osFileRead(bogus, buf, 4, count));
  EXPECT_EQ(osFileTell(bogus), -1);
}

TEST(FileHandle, SeekTellAndSizeWithLargePositions) {
  TempDir dir;
  std::string path = dir / "big.bin";
  void* f = osFileOpen(path.c_str(), 3 | 4, 0);
  ASSERT_NE(f, kInvalid);
  long long const far = 5LL << 30;  // beyond 32 bits: sparse
  EXPECT_EQ(osFileSeek(f, far, eFileSeekBegin), far);
  unsigned int n = 0;
  ASSERT_TRUE(osFileWrite(f, reinterpret_cast<unsigned char const*>("xyz"), 3, n));
  EXPECT_EQ(osFileTell(f), far + 3);
  EXPECT_EQ(osFileSeek(f, -2, eFileSeekCurrent), far + 1);
  EXPECT_EQ(osFileSize(f), far + 3);
  EXPECT_EQ(osFileTell(f), far + 1);  // the size leaves the position
  EXPECT_EQ(osFileSeek(f, 0, eFileSeekEnd), far + 3);
  EXPECT_EQ(osFileSeek(f, -1, eFileSeekEnd), far + 2);
  EXPECT_EQ(osFileSeek(f, 10, static_cast<eKV_FileSeek>(7)), 10);  // unknown origin: from the start
  EXPECT_EQ(osFileSeek(f, -1, eFileSeekBegin), -1);

  // Reading: a count per request, 0 at the end.
  unsigned char buf[8];
  ASSERT_EQ(osFileSeek(f, far, eFileSeekBegin), far);
  EXPECT_TRUE(osFileRead(f, buf, sizeof buf, n));
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "xyz");
  EXPECT_TRUE(osFileRead(f, buf, sizeof buf, n));
  EXPECT_EQ(n, 0u);

  // Failures of the host come back as results.
  {
    ScopedFault fault("io.read", EIO);
    n = 99;
    EXPECT_FALSE(osFileRead(f, buf, sizeof buf, n));
    EXPECT_EQ(n, 99u);
  }
  {
    // The second seek of the size (to the end) fails.
    ScopedFault fault("io.seek", EIO, 1);
    EXPECT_EQ(osFileSize(f), -1);
  }
  osFileClose(f);
}

// Whether a second open must be refused, by the original host's rule: each
// access must be shared by every other open handle; handles without access
// take no part.
bool Conflicts(int accessA, int shareA, int accessB, int shareB) {
  if (accessA == 0 || accessB == 0) return false;
  int sharedByA = shareA >> 8, sharedByB = shareB >> 8;
  return (accessB & 3 & ~sharedByA) != 0 || (accessA & 3 & ~sharedByB) != 0;
}

TEST(FileShare, EveryPairOfModesFollowsTheSharingRule) {
  TempDir dir;
  std::string path = dir / "shared.txt";
  kvtest::WriteFile(path, "content");
  int const accesses[] = {0, 1, 2, 3};
  int const shares[] = {0, 0x100, 0x200, 0x300};
  for (int accessA : accesses)
    for (int shareA : shares)
      for (int accessB : accesses)
        for (int shareB : shares) {
          SCOPED_TRACE(testing::Message() << "A " << accessA << "/" << shareA << "  B " << accessB << "/" << shareB);
          void* a = osFileOpen(path.c_str(), accessA, shareA);
          ASSERT_NE(a, kInvalid);
          errno = 0;
          void* b = osFileOpen(path.c_str(), accessB, shareB);
          if (Conflicts(accessA, shareA, accessB, shareB)) {
            EXPECT_EQ(b, kInvalid);
            EXPECT_EQ(errno, EBUSY);
          } else {
            EXPECT_NE(b, kInvalid);
          }
          osFileClose(b);
          osFileClose(a);
        }
  // Several write-only handles that share writing coexist, and a reader that
  // refuses writes is kept out until all of them are closed.
  void* writers[5];
  for (void*& w : writers) {
    w = osFileOpen(path.c_str(), 2, 0x300);
    ASSERT_NE(w, kInvalid);
  }
  EXPECT_EQ(osFileOpen(path.c_str(), 1, 0x100), kInvalid);
  for (int i = 0; i < 4; ++i) osFileClose(writers[i]);
  EXPECT_EQ(osFileOpen(path.c_str(), 1, 0x100), kInvalid);
  osFileClose(writers[4]);
  void* reader = osFileOpen(path.c_str(), 1, 0x100);
  EXPECT_NE(reader, kInvalid);

  // A refused create leaves the file as it was.
  EXPECT_EQ(osFileOpen(path.c_str(), 2 | 4, 0x300), kInvalid);
  EXPECT_EQ(kvtest::ReadFile(path), "content");

  // The whole-text read refuses to share and so fails while any handle is
  // open, and succeeds once it is closed.
  cKV_Error err;
  cKV_String text;
  EXPECT_FALSE(osReadFileTxt(&err, path.c_str(), text, 100));
  ExpectReport(err, "Failed to open file [" + path + "]");
  osFileClose(reader);
  EXPECT_TRUE(osReadFileTxt(&err, path.c_str(), text, 100));
  EXPECT_EQ(LineText(text), "content");
}

TEST(FileShare, HoldsAcrossProcessesAndOnlyWhileTheHandleIsOpen) {
  TempDir dir;
  std::string path = dir / "x.txt";
  kvtest::WriteFile(path, "x");
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    void* f = osFileOpen(path.c_str(), 1, 0);
    char c = f != osInvalidFileHandle() ? 'y' : 'n';
    (void)!write(toParent[1], &c, 1);
    (void)!read(toChild[0], &c, 1);  // hold until the parent has looked
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_EQ(osFileOpen(path.c_str(), 1, 0x300), kInvalid);
  cKV_String text;
  EXPECT_FALSE(osReadFileTxt(nullptr, path.c_str(), text, 10));
  (void)!write(toChild[1], "g", 1);
  int status = 0;
  waitpid(pid, &status, 0);
  void* f = osFileOpen(path.c_str(), 1, 0x300);
  EXPECT_NE(f, kInvalid);
  osFileClose(f);
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
}

TEST(FileShare, RacingConflictingOpensNeverBothSucceed) {
  TempDir dir;
  std::string path = dir / "race.txt";
  kvtest::WriteFile(path, "r");
  constexpr int kRounds = 300;
  std::barrier sync(2);
  std::atomic<int> both{0};
  std::atomic<bool> okA{false}, okB{false};
  auto run = [&](int access, int share, std::atomic<bool>& ok) {
    for (int i = 0; i < kRounds; ++i) {
      void* f = osFileOpen(path.c_str(), access, share);
      ok = f != osInvalidFileHandle();
      sync.arrive_and_wait();
      if (access == 1 && okA && okB) ++both;
      sync.arrive_and_wait();
      osFileClose(f);
      sync.arrive_and_wait();
    }
  };
  // A reads and refuses writers; B writes.
  std::thread a(run, 1, 0x100, std::ref(okA));
  std::thread b(run, 2, 0x300, std::ref(okB));
  a.join();
  b.join();
  EXPECT_EQ(both.load(), 0);
}

TEST(FileShare, FileSystemsWithoutRecordLocksStillOpen) {
  TempDir dir;
  std::string path = dir / "nolocks.txt";
  kvtest::WriteFile(path, "n");
  void* first = osFileOpen(path.c_str(), 1, 0);
  ASSERT_NE(first, kInvalid);
  {
    ScopedFault fault("io.lock", ENOLCK, 0, 100);
    void* second = osFileOpen(path.c_str(), 1, 0);
    EXPECT_NE(second, kInvalid);  // nothing to enforce with
    osFileClose(second);
  }
  osFileClose(first);
}

// The reference: the first LF or NUL within `limit` bytes from `pos`.
struct Expected {
  bool ok;
  std::string text;
  std::size_t next;
};

Expected ReferenceLine(std::string const& data, std::size_t pos, unsigned int limit) {
  std::size_t budget = limit == 0 ? 65535 : limit;
  for (std::size_t i = pos; i < data.size() && i - pos < budget; ++i) {
    if (data[i] != '\n' && data[i] != '\0') continue;
    std::string text = data.substr(pos, i - pos);
    if (data[i] == '\n' && !text.empty() && text.back() == '\r') text.pop_back();
    return {true, text, i + 1};
  }
  return {false, "", pos};
}

TEST(FileReadLine, LineEndsLimitsAndThePositionLeftBehind) {
  TempDir dir;
  std::string path = dir / "lines.txt";
  auto check = [&](std::string const& data, unsigned int limit, std::vector<std::string> const& lines,
                   long long restAt) {
    SCOPED_TRACE(testing::Message() << "data of " << data.size() << " bytes, limit " << limit);
    kvtest::WriteFile(path, data);
    void* f = osFileOpen(path.c_str(), 1, 0x300);
    ASSERT_NE(f, kInvalid);
    cKV_String line;
    for (auto const& want : lines) {
      ASSERT_TRUE(osFileReadLine(f, line, limit));
      EXPECT_EQ(LineText(line), want);
    }
    line = "untouched";
    EXPECT_FALSE(osFileReadLine(f, line, limit));
    EXPECT_EQ(LineText(line), "untouched");
    EXPECT_EQ(osFileTell(f), restAt);
    osFileClose(f);
  };
  check("one\r\ntwo\nthree", 0, {"one", "two"}, 9);
  check("\n\nx\n", 0, {"", "", "x"}, 4);
  check(std::string("ab\0cd\n", 6), 0, {"ab", "cd"}, 6);
  check("abc\r\r\nd\re\n\r\n", 0, {"abc\r", "d\re", ""}, 12);
  check("abcd\nabcde\n", 5, {"abcd"}, 5);
  check(std::string(65534, 'a') + "\n" + std::string(65535, 'b') + "\n", 0, {std::string(65534, 'a')}, 65535);
  check("", 0, {}, 0);

  // A refused line is read once the limit allows it; reads of other kinds
  // continue exactly behind a line.
  kvtest::WriteFile(path, "abcdef\nrest\nlast");
  void* f = osFileOpen(path.c_str(), 1, 0x300);
  cKV_String line;
  EXPECT_FALSE(osFileReadLine(f, line, 6));
  EXPECT_EQ(osFileTell(f), 0);
  EXPECT_TRUE(osFileReadLine(f, line, 7));
  EXPECT_EQ(LineText(line), "abcdef");
  unsigned char buf[3];
  unsigned int n = 0;
  ASSERT_TRUE(osFileRead(f, buf, 3, n));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), "res");
  EXPECT_TRUE(osFileReadLine(f, line, 0));
  EXPECT_EQ(LineText(line), "t");
  EXPECT_FALSE(osFileReadLine(f, line, 0));  // "last" has no end
  EXPECT_EQ(osFileTell(f), 12);
  osFileClose(f);

  // A write-only handle cannot be read: false, position unmoved.
  f = osFileOpen(path.c_str(), 2, 0x300);
  osFileSeek(f, 3, eFileSeekBegin);
  EXPECT_FALSE(osFileReadLine(f, line, 0));
  EXPECT_EQ(osFileTell(f), 3);
  osFileClose(f);
}

TEST(FileReadLine, RandomFilesMatchTheReferenceOnBothReadingPaths) {
  TempDir dir;
  std::string path = dir / "random.txt";
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    std::string data;
    while (data.size() < 200000) {
      // Lengths around the scanning chunks (512 and 16384 bytes) and the limits.
      static constexpr std::size_t kLengths[] = {0, 1, 3, 4, 5, 510, 511, 512, 513, 16895, 16896, 16897, 40000};
      std::size_t length = rng() % 3 == 0 ? kLengths[rng() % 13] : rng() % 200;
      for (std::size_t i = 0; i < length; ++i) data += static_cast<char>('a' + rng() % 26);
      if (rng() % 5 == 0) data += '\r';
      data += (rng() % 20 == 0) ? '\0' : '\n';
    }
    kvtest::WriteFile(path, data);
    unsigned int const limits[] = {0, 4, 5, 512, 513, 16897, 100000};
    unsigned int limit = limits[rng() % 7];
    // Every third round goes through the small-read path (positioned reads
    // refused as by a descriptor that has none).
    bool smallReads = round % 3 == 0;
    ScopedFault fault("io.pread", smallReads ? ESPIPE : 0, 0, smallReads ? 1000000u : 0u);
    void* f = osFileOpen(path.c_str(), 1, 0x300);
    ASSERT_NE(f, kInvalid);
    std::size_t pos = 0;
    cKV_String line;
    for (int guard = 0; guard < 100000; ++guard) {
      Expected want = ReferenceLine(data, pos, limit);
      bool got = osFileReadLine(f, line, limit);
      ASSERT_EQ(got, want.ok) << "round " << round << " at " << pos << " limit " << limit;
      if (!got) {
        ASSERT_EQ(osFileTell(f), static_cast<long long>(pos));
        if (pos >= data.size()) break;
        // Step over the line that does not fit and go on.
        std::size_t end = data.find_first_of(std::string("\n\0", 2), pos);
        if (end == std::string::npos) break;
        pos = end + 1;
        osFileSeek(f, static_cast<long long>(pos), eFileSeekBegin);
        continue;
      }
      ASSERT_EQ(LineText(line), want.text) << "round " << round << " at " << pos;
      pos = want.next;
      ASSERT_EQ(osFileTell(f), static_cast<long long>(pos));
    }
    osFileClose(f);
  }
}

TEST(FileReadLine, FailuresLeaveThePositionAtTheLineStart) {
  TempDir dir;
  std::string path = dir / "fail.txt";
  std::string longLine(3000, 'L');
  kvtest::WriteFile(path, "short\n" + longLine + "\n");
  void* f = osFileOpen(path.c_str(), 1, 0x300);
  cKV_String line("ab");  // too short to take the line without memory
  {
    ScopedFault fault("alloc", ENOMEM);
    EXPECT_FALSE(osFileReadLine(f, line, 0));
  }
  EXPECT_EQ(LineText(line), "ab");
  EXPECT_EQ(osFileTell(f), 0);
  {
    ScopedFault fault("io.pread", EIO);
    EXPECT_FALSE(osFileReadLine(f, line, 0));
  }
  EXPECT_EQ(LineText(line), "ab");
  EXPECT_EQ(osFileTell(f), 0);
  ASSERT_TRUE(osFileReadLine(f, line, 0));
  EXPECT_EQ(LineText(line), "short");

  // The long line is read in a second pass; when that read fails the line
  // is left empty and the position back at its start.
  {
    ScopedFault fault("io.read", EIO);
    EXPECT_FALSE(osFileReadLine(f, line, 0));
  }
  EXPECT_EQ(LineText(line), "");
  EXPECT_EQ(osFileTell(f), 6);
  ASSERT_TRUE(osFileReadLine(f, line, 0));
  EXPECT_TRUE(LineText(line) == longLine);
  osFileClose(f);
}

TEST(FileReadLine, PipesRunTheScanAndReReadWithoutHanging) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "abc\ndef\n", 8), 8);
  close(fds[1]);
  void* f = reinterpret_cast<void*>(static_cast<std::intptr_t>(fds[0]));
  cKV_String line;
  // The scan consumes "abc\n"; the pipe cannot go back, so the line read
  // after it is the next four bytes.
  ASSERT_TRUE(osFileReadLine(f, line, 0));
  EXPECT_EQ(LineText(line), "def");
  EXPECT_FALSE(osFileReadLine(f, line, 0));
  osFileClose(f);
}

TEST(FileReadText, WholeTextCapsAndEveryReport) {
  TempDir dir;
  std::string path = dir / "text.txt";
  kvtest::WriteFile(path, "0123456789");
  cKV_Error err;
  cKV_String text("previous, longer text");
  EXPECT_TRUE(osReadFileTxt(&err, path.c_str(), text, 100));
  EXPECT_EQ(LineText(text), "0123456789");
  EXPECT_TRUE(osReadFileTxt(&err, path.c_str(), text, 4));
  EXPECT_EQ(LineText(text), "0123");
  EXPECT_TRUE(osReadFileTxt(&err, path.c_str(), text, 0));
  EXPECT_EQ(LineText(text), "");
  EXPECT_TRUE(osReadFileTxt(&err, path.c_str(), text, 0xFFFFFFFFu));
  EXPECT_EQ(LineText(text), "0123456789");
  EXPECT_TRUE(err.IsNotError());

  kvtest::WriteFile(path, "");
  EXPECT_TRUE(osReadFileTxt(&err, path.c_str(), text, 100));
  EXPECT_EQ(LineText(text), "");
  kvtest::WriteFile(path, std::string("ab\0cd", 5));
  EXPECT_TRUE(osReadFileTxt(&err, path.c_str(), text, 100));
  EXPECT_EQ(LineText(text), "ab");
  std::string high = "\xC3\xA9t\xE9\r\n\xFF";
  kvtest::WriteFile(path, high);
  EXPECT_TRUE(osReadFileTxt(nullptr, path.c_str(), text, 100));
  EXPECT_EQ(LineText(text), high);  // byte for byte, line ends included

  int const descriptors = OpenDescriptors();
  std::string missing = dir / "missing.txt";
  EXPECT_FALSE(osReadFileTxt(&err, missing.c_str(), text, 100));
  ExpectReport(err, "Failed to open file [" + missing + "]");
  EXPECT_FALSE(osReadFileTxt(&err, dir.Path().c_str(), text, 100));
  ExpectReport(err, "Failed to open file [" + dir.Path() + "]");
  EXPECT_FALSE(osReadFileTxt(&err, nullptr, text, 100));
  ExpectReport(err, "Failed to open file []");
  std::string longName = dir.Path() + "/" + std::string(5000, 'n');
  EXPECT_FALSE(osReadFileTxt(&err, longName.c_str(), text, 100));
  ExpectReport(err, "Failed to open file [" + longName + "]");

  kvtest::WriteFile(path, "0123456789");
  {
    ScopedFault fault("io.seek", ESPIPE);
    EXPECT_FALSE(osReadFileTxt(&err, path.c_str(), text, 100));
    ExpectReport(err, "Failed to get size of file [" + path + "]");
  }
  {
    ScopedFault fault("alloc", ENOMEM);
    EXPECT_FALSE(osReadFileTxt(&err, path.c_str(), text, 100));
    ExpectReport(err, "Failed to alloc 11 bytes of memory");
  }
  {
    ScopedFault fault("io.read", EIO);
    EXPECT_FALSE(osReadFileTxt(&err, path.c_str(), text, 100));
    ExpectReport(err, "Failed to read 10 bytes from file [" + path + "]");
  }
  // Every failure closed what it opened, and a null record is fine.
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_FALSE(osReadFileTxt(nullptr, missing.c_str(), text, 100));
  void* f = osFileOpen(path.c_str(), 1, 0);
  EXPECT_NE(f, kInvalid);  // nothing left holding the file
  osFileClose(f);
}

}  // namespace
