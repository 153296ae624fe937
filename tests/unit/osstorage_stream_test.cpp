#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "OS/osstorage.h"
#include "support/testing.h"

using Korvane::cDataBuf;
using Korvane::cFileIO;
using Korvane::cKV_Error;
using Korvane::cKV_String;
using Korvane::cMemoryIO;
using Korvane::iDataIO;
using kvtest::ScopedFault;
using kvtest::TempDir;

namespace {

unsigned char const* U(char const* text) { return reinterpret_cast<unsigned char const*>(text); }

std::string Data(cMemoryIO& io) {
  cDataBuf& b = io.GetBuffer();
  unsigned char* data = b;
  return data == nullptr ? std::string() : std::string(reinterpret_cast<char*>(data), b.GetLength());
}

cMemoryIO Over(std::string const& bytes) {
  cMemoryIO io;
  cDataBuf b;
  b.AddSegment(U(bytes.data()), static_cast<unsigned int>(bytes.size()));
  io.SetBuffer(b);
  return io;
}

::testing::AssertionResult Failed(iDataIO& io, std::string const& text) {
  cKV_Error& s = io.GetStatus();
  if (s.GetCode() != 3 || !s.GetUnit().Cmp(".\\osstorage") || !s.GetText().Cmp(text.c_str()))
    return ::testing::AssertionFailure() << "status is " << static_cast<char const*>(s.ToString()) << ", expected \""
                                         << text << "\"";
  return ::testing::AssertionSuccess();
}

// ------------------------------------------------------------ memory stream

TEST(MemoryIO, NumbersAreBareDecimalText) {
  cMemoryIO io;
  EXPECT_TRUE(io.WriteUlong(0));
  EXPECT_EQ(Data(io), "0");
  io.Reset();
  EXPECT_TRUE(io.WriteLong(-5));
  EXPECT_EQ(Data(io), "-5");
  io.Reset();
  EXPECT_TRUE(io.WriteUlong(4294967295u));
  EXPECT_TRUE(io.WriteLong(INT_MIN));
  EXPECT_TRUE(io.WriteLong(INT_MAX));
  EXPECT_EQ(Data(io), "4294967295-21474836482147483647");

  // Every digit count reads back as written.
  for (unsigned int u = 1; u <= 1000000000u; u *= 10) {
    io.Reset();
    ASSERT_TRUE(io.WriteUlong(u - 1) && io.WriteBytes(1, U("|")) && io.WriteLong(-static_cast<int>(u)));
    ASSERT_TRUE(io.Seek(0));
    unsigned int ru = 0;
    int rs = 0;
    unsigned char bar = 0;
    ASSERT_TRUE(io.ReadUlong(ru) && io.ReadBytes(1, &bar) && io.ReadLong(rs));
    ASSERT_EQ(ru, u - 1);
    ASSERT_EQ(rs, -static_cast<int>(u));
    ASSERT_TRUE(io.IsEof());
  }
}

TEST(MemoryIO, ReadingNumbersTakesAtMostElevenBytesAndClamps) {
  cMemoryIO io;
  io.WriteUlong(12);
  io.WriteUlong(34);
  ASSERT_TRUE(io.Seek(0));
  unsigned int u = 0;
  EXPECT_TRUE(io.ReadUlong(u));
  EXPECT_EQ(u, 1234u);
  EXPECT_EQ(io.Tell(), 4u);

  cMemoryIO twelve = Over("123456789012");
  EXPECT_TRUE(twelve.ReadUlong(u));
  EXPECT_EQ(u, 4294967295u);
  EXPECT_EQ(twelve.Tell(), 11u);
  EXPECT_TRUE(twelve.ReadUlong(u));
  EXPECT_EQ(u, 2u);
  EXPECT_TRUE(twelve.IsEof());

  cMemoryIO small = Over("00000000004x");  // 11 bytes, no overflow
  EXPECT_TRUE(small.ReadUlong(u));
  EXPECT_EQ(u, 4u);
  EXPECT_EQ(small.Tell(), 11u);

  int v = 0;
  cMemoryIO minus = Over("-7x");
  EXPECT_TRUE(minus.ReadLong(v));
  EXPECT_EQ(v, -7);
  EXPECT_EQ(minus.Tell(), 2u);

  cMemoryIO limits = Over("99999999999|-99999999999");
  unsigned char bar = 0;
  EXPECT_TRUE(limits.ReadLong(v));
  EXPECT_EQ(v, INT_MAX);
  EXPECT_TRUE(limits.ReadBytes(1, &bar));
  EXPECT_TRUE(limits.ReadLong(v));  // the sign counts toward the 11 bytes
  EXPECT_EQ(v, INT_MIN);
  EXPECT_TRUE(limits.ReadLong(v));
  EXPECT_EQ(v, 9);

  // The run stops at the data's length, even when the block holds more
  // digits behind it.
  cMemoryIO cut = Over("123456");
  ASSERT_TRUE(cut.GetBuffer().SetLength(3));
  EXPECT_TRUE(cut.ReadUlong(u));
  EXPECT_EQ(u, 123u);

  // No run: failure without moving, and sticky.
  struct Case {
    char const* bytes;
    bool isSigned;
  } const bad[] = {{" 12", false}, {"x1", false}, {"-1", false}, {"+1", false}, {"", false},
                   {"-", true},    {"-x", true},  {" -1", true},  {"+1", true}, {"", true}};
  for (auto const& c : bad) {
    cMemoryIO m = Over(c.bytes);
    int sv = 0;
    bool ok = c.isSigned ? m.ReadLong(sv) : m.ReadUlong(u);
    EXPECT_FALSE(ok) << c.bytes;
    EXPECT_TRUE(Failed(m, c.isSigned ? "Failed to read int" : "Failed to read tUlong")) << c.bytes;
    m.GetStatus().Reset();
    EXPECT_EQ(m.Tell(), 0u) << c.bytes;
  }
}

TEST(MemoryIO, FirstFailureIsStickyUntilCleared) {
  cMemoryIO io = Over("0123456789");
  ASSERT_TRUE(io.Seek(10));  // the end itself is a position
  EXPECT_TRUE(io.IsEof());
  EXPECT_FALSE(io.Seek(11));
  EXPECT_TRUE(Failed(io, "Failed to seek to position 11"));
  int line = io.GetStatus().GetLine();

  unsigned char byte = 0;
  unsigned int u = 0;
  int v = 0;
  EXPECT_EQ(io.Tell(), 0u);
  EXPECT_FALSE(io.Seek(0));
  EXPECT_FALSE(io.WriteBytes(1, U("x")));
  EXPECT_FALSE(io.WriteUlong(1));
  EXPECT_FALSE(io.WriteLong(1));
  EXPECT_FALSE(io.WriteFlush());
  EXPECT_FALSE(io.ReadBytes(1, &byte));
  EXPECT_FALSE(io.ReadUlong(u));
  EXPECT_FALSE(io.ReadLong(v));
  EXPECT_FALSE(io.IsEof());
  EXPECT_TRUE(Failed(io, "Failed to seek to position 11"));
  EXPECT_EQ(io.GetStatus().GetLine(), line);
  EXPECT_EQ(Data(io), "0123456789");

  io.Reset();  // empties the data but keeps the failure
  EXPECT_EQ(io.GetBuffer().GetLength(), 0u);
  EXPECT_EQ(io.GetBuffer().GetSize(), 16u);
  EXPECT_FALSE(io.WriteFlush());

  io.GetStatus().Reset();
  EXPECT_TRUE(io.WriteFlush());
  EXPECT_TRUE(io.IsEof());
  EXPECT_FALSE(io.ReadBytes(1, &byte));
  EXPECT_TRUE(Failed(io, "Failed to read 1 bytes"));

  // SetBuffer clears the status too, even with the stream's own buffer.
  io.SetBuffer(io.GetBuffer());
  EXPECT_TRUE(io.GetStatus().IsNotError());
  EXPECT_TRUE(io.WriteBytes(3, U("abc")));
  io.Seek(1);
  io.SetBuffer(io.GetBuffer());
  EXPECT_EQ(io.Tell(), 0u);
  EXPECT_EQ(Data(io), "abc");
}

TEST(MemoryIO, WritesOverwriteInTheMiddleAndAppendAtTheEnd) {
  cMemoryIO io;
  EXPECT_TRUE(io.IsEof());
  ASSERT_TRUE(io.WriteBytes(10, U("0123456789")));
  EXPECT_EQ(io.GetBuffer().GetSize(), 16u);
  ASSERT_TRUE(io.Seek(2));
  ASSERT_TRUE(io.WriteBytes(3, U("abc")));
  EXPECT_EQ(Data(io), "01abc56789");
  EXPECT_EQ(io.Tell(), 5u);
  ASSERT_TRUE(io.Seek(8));
  ASSERT_TRUE(io.WriteBytes(10, U("ABCDEFGHIJ")));
  EXPECT_EQ(Data(io), "01abc567ABCDEFGHIJ");
  EXPECT_EQ(io.GetBuffer().GetSize(), 32u);
  EXPECT_TRUE(io.WriteBytes(0, nullptr));

  unsigned char out[4] = {};
  ASSERT_TRUE(io.Seek(1));
  EXPECT_TRUE(io.ReadBytes(4, out));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "1abc");
  EXPECT_TRUE(io.ReadBytes(0, nullptr));
  EXPECT_EQ(io.Tell(), 5u);

  // Refused growth: false, nothing written and, unlike every other failure,
  // nothing recorded.
  {
    ScopedFault noMemory("alloc", ENOMEM);
    ASSERT_TRUE(io.Seek(18));
    EXPECT_FALSE(io.WriteBytes(20, U("01234567890123456789")));
    EXPECT_TRUE(io.GetStatus().IsNotError());
    EXPECT_EQ(io.Tell(), 18u);
  }
  EXPECT_EQ(Data(io), "01abc567ABCDEFGHIJ");
  EXPECT_FALSE(io.WriteBytes(3, nullptr));
  EXPECT_TRUE(io.GetStatus().IsNotError());

  // Counts that overflow 32 bits when added to the position.
  ASSERT_TRUE(io.Seek(5));
  EXPECT_FALSE(io.WriteBytes(0xFFFFFFFFu, U("x")));
  EXPECT_TRUE(io.GetStatus().IsNotError());
  unsigned char byte = 0;
  EXPECT_FALSE(io.ReadBytes(0xFFFFFFFFu, &byte));
  EXPECT_TRUE(Failed(io, "Failed to read -1 bytes"));
  io.GetStatus().Reset();
  EXPECT_FALSE(io.ReadBytes(0xFFFFFFFCu, &byte));
  io.GetStatus().Reset();
  EXPECT_FALSE(io.Seek(0xFFFFFFFFu));
  EXPECT_TRUE(Failed(io, "Failed to seek to position -1"));
  EXPECT_EQ(Data(io), "01abc567ABCDEFGHIJ");
}

TEST(MemoryIO, BuffersMoveInAndOut) {
  cDataBuf twenty;
  twenty.AddSegment(U("abcdefghijklmnopqrst"), 20);
  cMemoryIO io;
  io.WriteBytes(2, U("xy"));
  io.SetBuffer(twenty);
  EXPECT_EQ(twenty.GetLength(), 0u);
  EXPECT_EQ(static_cast<unsigned char*>(twenty), nullptr);
  unsigned char out[20];
  EXPECT_EQ(io.Tell(), 0u);
  EXPECT_TRUE(io.ReadBytes(20, out));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 20), "abcdefghijklmnopqrst");
  EXPECT_TRUE(io.IsEof());

  // A copy takes the block and the position and status; the source keeps its
  // position over an empty buffer, and still behaves.
  io.Seek(4);
  cMemoryIO copy(io);
  EXPECT_EQ(copy.Tell(), 4u);
  EXPECT_EQ(Data(copy), "abcdefghijklmnopqrst");
  EXPECT_EQ(io.GetBuffer().GetLength(), 0u);
  EXPECT_EQ(io.Tell(), 4u);
  EXPECT_FALSE(io.IsEof());  // not at the end of the data: beyond it
  unsigned char byte = 0;
  unsigned int u = 0;
  EXPECT_FALSE(io.ReadBytes(1, &byte));
  io.GetStatus().Reset();
  EXPECT_FALSE(io.ReadUlong(u));
  io.GetStatus().Reset();
  EXPECT_TRUE(io.WriteBytes(2, U("zz")));  // the gap before reads as zeros
  EXPECT_EQ(Data(io), std::string("\0\0\0\0zz", 6));

  cMemoryIO failed = Over("x");
  failed.ReadUlong(u);
  cMemoryIO assigned;
  assigned = failed;
  EXPECT_TRUE(Failed(assigned, "Failed to read tUlong"));
  EXPECT_EQ(Data(assigned), "x");
  assigned = assigned;
  EXPECT_EQ(Data(assigned), "x");
  EXPECT_TRUE(assigned.GetStatus().IsError());
}

// --------------------------------------------------------------- file stream

std::string Cloexec(std::string const& path) {
  // The flags of every descriptor of this process open on `path`.
  std::string found;
  std::error_code ec;
  std::string target = std::filesystem::canonical(path, ec).string();
  for (auto const& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code lec;
    auto link = std::filesystem::read_symlink(entry.path(), lec);
    if (lec || link.string() != target) continue;
    std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
    std::string key;
    std::string flags;
    while (info >> key) {
      if (key == "flags:") {
        info >> flags;
        break;
      }
    }
    found += (std::stoul(flags, nullptr, 8) & O_CLOEXEC) != 0 ? "e" : "-";
  }
  return found;
}

TEST(FileIO, OpensCloseOnExecWhateverTheMode) {
  TempDir dir;
  std::string path = dir / "f";
  kvtest::WriteFile(path, "data");
  for (char const* mode : {"r", "rb", "r+", "w", "wb+", "a", "ab", "a+", "re", "rbbbbbb"}) {
    cFileIO f;
    ASSERT_TRUE(f.Open(path.c_str(), mode)) << mode;
    EXPECT_EQ(Cloexec(path), "e") << mode;
    EXPECT_TRUE(f.Close());
    EXPECT_EQ(Cloexec(path), "") << mode;
  }
  cFileIO f;
  EXPECT_FALSE(f.Open(path.c_str(), ""));
  EXPECT_TRUE(Failed(f, "Files to open file [" + path + "] with mode []"));
  EXPECT_FALSE(f.Open(path.c_str(), nullptr));
  EXPECT_FALSE(f.Open(nullptr, "r"));
  EXPECT_TRUE(Failed(f, "Files to open file [] with mode [r]"));
}

TEST(FileIO, WritesAndReadsBackBytesAndNumbers) {
  TempDir dir;
  std::string path = dir / "numbers";
  cFileIO f;
  ASSERT_TRUE(f.Open(path.c_str(), "wb"));
  EXPECT_TRUE(f.WriteUlong(0));
  EXPECT_TRUE(f.WriteBytes(1, U(" ")));
  EXPECT_TRUE(f.WriteLong(-5));
  EXPECT_TRUE(f.WriteBytes(1, U("\n")));
  EXPECT_TRUE(f.WriteUlong(4294967295u));
  EXPECT_TRUE(f.WriteBytes(1, U(",")));
  EXPECT_TRUE(f.WriteLong(INT_MIN));
  EXPECT_TRUE(f.WriteBytes(0, nullptr));
  EXPECT_EQ(f.Tell(), 27u);
  EXPECT_TRUE(f.WriteFlush());
  EXPECT_TRUE(f.Close());
  EXPECT_EQ(kvtest::ReadFile(path), "0 -5\n4294967295,-2147483648");

  // Reading skips white space and takes a sign, as fscanf does, and clamps
  // to 32 bits.
  kvtest::WriteFile(path, " 0 \t-5\n4294967295,-2147483648 +17 4294967296 -1 99999999999 -99999999999 "
                          "000000000000000000042 7x -y");
  ASSERT_TRUE(f.Open(path.c_str(), "rb"));
  unsigned int u = 1;
  int v = 0;
  unsigned char byte = 0;
  EXPECT_TRUE(f.ReadUlong(u));
  EXPECT_EQ(u, 0u);
  EXPECT_TRUE(f.ReadLong(v));
  EXPECT_EQ(v, -5);
  EXPECT_TRUE(f.ReadUlong(u));
  EXPECT_EQ(u, 4294967295u);
  EXPECT_TRUE(f.ReadBytes(1, &byte));
  EXPECT_EQ(byte, ',');
  EXPECT_TRUE(f.ReadLong(v));
  EXPECT_EQ(v, INT_MIN);
  EXPECT_TRUE(f.ReadUlong(u));
  EXPECT_EQ(u, 17u);
  EXPECT_TRUE(f.ReadUlong(u));
  EXPECT_EQ(u, 4294967295u);
  EXPECT_TRUE(f.ReadUlong(u));
  EXPECT_EQ(u, 4294967295u);  // "-1" as a 32-bit strtoul reads it
  EXPECT_TRUE(f.ReadLong(v));
  EXPECT_EQ(v, INT_MAX);
  EXPECT_TRUE(f.ReadLong(v));
  EXPECT_EQ(v, INT_MIN);
  EXPECT_TRUE(f.ReadUlong(u));
  EXPECT_EQ(u, 42u);
  EXPECT_TRUE(f.ReadLong(v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(f.ReadBytes(1, &byte));  // the byte after a number stays
  EXPECT_EQ(byte, 'x');
  EXPECT_FALSE(f.ReadLong(v));
  EXPECT_TRUE(Failed(f, "Failed to read int from file [" + path + "]"));
  f.GetStatus().Reset();
  EXPECT_TRUE(f.ReadBytes(1, &byte));  // a lone sign is consumed, as the runtime does
  EXPECT_EQ(byte, 'y');
  EXPECT_FALSE(f.IsEof());
  EXPECT_FALSE(f.ReadUlong(u));
  EXPECT_TRUE(Failed(f, "Failed to read tUlong from file [" + path + "]"));
  EXPECT_TRUE(f.IsEof());
}

// Random reads, number reads, seeks and writes against a model of the file:
// the position, the end flag and the bytes must follow it exactly, however
// the stream serves them (from its buffer or from the file).
TEST(FileIO, PositionsFollowEveryReadSeekAndWrite) {
  TempDir dir;
  std::string path = dir / "model";
  std::mt19937 rng(2024);
  std::string content;
  for (int i = 0; i < 20000; ++i) content.push_back("0123456789  \n-ab"[rng() % 16]);
  kvtest::WriteFile(path, content);
  cFileIO f;
  ASSERT_TRUE(f.Open(path.c_str(), "r+b"));
  std::size_t pos = 0;
  bool eof = false;
  bool writing = false;  // reads and writes are separated by a seek, as C wants
  std::vector<unsigned char> buf(9000);
  for (int step = 0; step < 20000; ++step) {
    SCOPED_TRACE(step);
    unsigned int op = rng() % 10;
    if (op < 2) {  // seek anywhere, near the end included
      pos = rng() % (content.size() + 3);
      if (pos > content.size()) pos = content.size();
      ASSERT_TRUE(f.Seek(static_cast<unsigned int>(pos)));
      eof = false;
      writing = false;
    } else if (op == 2 && !writing) {  // a byte back, as the delimiter skip does
      if (pos == 0) continue;
      ASSERT_TRUE(f.Seek(static_cast<unsigned int>(--pos)));
      eof = false;
    } else if (op == 3 && (writing || rng() % 2 == 0)) {
      if (!writing) {
        ASSERT_TRUE(f.Seek(static_cast<unsigned int>(pos)));
        writing = true;
        eof = false;
      }
      std::size_t n = rng() % 40;
      std::string bytes(n, static_cast<char>('A' + rng() % 26));
      ASSERT_TRUE(f.WriteBytes(static_cast<unsigned int>(n), U(bytes.c_str())));
      content.replace(pos, std::min(n, content.size() - pos), bytes);
      pos += n;
    } else if (!writing && op < 7) {
      std::size_t n = rng() % 3 == 0 ? rng() % 9000 : rng() % 8;
      bool ok = f.ReadBytes(static_cast<unsigned int>(n), buf.data());
      std::size_t got = std::min(n, content.size() - pos);
      ASSERT_EQ(ok, got == n);
      ASSERT_EQ(std::string(reinterpret_cast<char*>(buf.data()), got), content.substr(pos, got));
      pos += got;
      if (!ok) {
        eof = true;
        f.GetStatus().Reset();
      }
    } else if (!writing) {  // a number, the way fscanf reads it
      std::size_t p = pos;
      while (p < content.size() && (content[p] == ' ' || content[p] == '\n')) ++p;
      std::size_t start = p;
      if (p < content.size() && content[p] == '-') ++p;
      std::size_t digits = p;
      while (p < content.size() && content[p] >= '0' && content[p] <= '9') ++p;
      int value = 0;
      bool ok = f.ReadLong(value);
      ASSERT_EQ(ok, p > digits);
      if (ok) {
        ASSERT_EQ(value, cKV_String::ToLong(content.substr(start, p - start).c_str()));
      }
      pos = p;
      if (p == content.size()) eof = true;  // the conversion looked past the end
      f.GetStatus().Reset();
    } else {
      continue;
    }
    ASSERT_EQ(f.Tell(), pos);
    if (!writing) {
      ASSERT_EQ(f.IsEof(), eof);
    }
  }
  ASSERT_TRUE(f.Close());
  EXPECT_EQ(kvtest::ReadFile(path), content);
}

TEST(FileIO, EndShowsOnlyAfterAReadFails) {
  TempDir dir;
  std::string path = dir / "ten";
  kvtest::WriteFile(path, "0123456789");
  cFileIO f;
  ASSERT_TRUE(f.Open(path.c_str(), "rb"));
  unsigned char buf[16];
  EXPECT_TRUE(f.ReadBytes(10, buf));
  EXPECT_FALSE(f.IsEof());
  EXPECT_EQ(f.Tell(), 10u);
  EXPECT_FALSE(f.ReadBytes(1, buf));
  EXPECT_TRUE(Failed(f, "Failed to read 1 bytes from file [" + path + "]"));
  EXPECT_TRUE(f.IsEof());
  f.GetStatus().Reset();
  EXPECT_TRUE(f.Seek(4));  // seeking clears the end
  EXPECT_FALSE(f.IsEof());
  EXPECT_TRUE(f.ReadBytes(6, buf));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 6), "456789");
  // A number that runs into the end is read, and the end shows.
  EXPECT_TRUE(f.Seek(7));
  unsigned int u = 0;
  EXPECT_TRUE(f.ReadUlong(u));
  EXPECT_EQ(u, 789u);
  EXPECT_TRUE(f.IsEof());

  // A file of 0 bytes.
  std::string empty = dir / "empty";
  kvtest::WriteFile(empty, "");
  ASSERT_TRUE(f.Open(empty.c_str(), "rb"));
  EXPECT_FALSE(f.IsEof());
  EXPECT_EQ(f.Tell(), 0u);
  EXPECT_FALSE(f.ReadUlong(u));
  EXPECT_TRUE(f.IsEof());
  f.GetStatus().Reset();
  EXPECT_FALSE(f.ReadBytes(1, buf));
  EXPECT_TRUE(Failed(f, "Failed to read 1 bytes from file [" + empty + "]"));
}

TEST(FileIO, WithoutAFileEveryOperationFailsOnce) {
  cFileIO f;
  EXPECT_TRUE(f.Close());
  EXPECT_TRUE(f.GetStatus().IsNotError());
  using Op = bool (*)(cFileIO&);
  Op const ops[] = {
      [](cFileIO& s) { return s.Tell() != 0; },
      [](cFileIO& s) { return s.Seek(0); },
      [](cFileIO& s) { return s.WriteBytes(1, U("x")); },
      [](cFileIO& s) { return s.WriteUlong(1); },
      [](cFileIO& s) { return s.WriteLong(1); },
      [](cFileIO& s) { return s.WriteFlush(); },
      [](cFileIO& s) {
        unsigned char b;
        return s.ReadBytes(1, &b);
      },
      [](cFileIO& s) {
        unsigned int n;
        return s.ReadUlong(n);
      },
      [](cFileIO& s) {
        int n;
        return s.ReadLong(n);
      },
      [](cFileIO& s) { return s.IsEof(); },
  };
  for (Op op : ops) {
    // Each reports the missing file itself when the status is clear; over
    // an earlier failure only IsEof records again.
    f.GetStatus().Reset();
    EXPECT_FALSE(op(f));
    EXPECT_TRUE(Failed(f, "No file opened"));
    f.GetStatus().Set(3, "unit", 1, "first");
    EXPECT_FALSE(op(f));
    EXPECT_TRUE(f.Close());  // does not look at the status and changes nothing
    if (op == ops[9]) {
      EXPECT_TRUE(Failed(f, "No file opened"));
    } else {
      EXPECT_TRUE(f.GetStatus().GetText().Cmp("first"));
    }
  }

  // IsEof does not look at the status: it records over an earlier failure.
  TempDir dir;
  EXPECT_FALSE(f.Open((dir / "missing").c_str(), "rb"));
  EXPECT_TRUE(Failed(f, "Files to open file [" + dir / "missing" + "] with mode [rb]"));
  EXPECT_FALSE(f.IsEof());
  EXPECT_TRUE(Failed(f, "No file opened"));
}

TEST(FileIO, OpenClearsTheStatusAndClosesFirst) {
  TempDir dir;
  std::string a = dir / "a";
  std::string b = dir / "b";
  cFileIO f;
  unsigned int u = 0;
  ASSERT_TRUE(f.Open(a.c_str(), "w+b"));
  EXPECT_FALSE(f.ReadUlong(u));
  ASSERT_TRUE(f.GetStatus().IsError());
  EXPECT_FALSE(f.Open((dir / "no/such").c_str(), "rb"));  // clears, then fails on its own
  EXPECT_TRUE(Failed(f, "Files to open file [" + dir / "no/such" + "] with mode [rb]"));

  ASSERT_TRUE(f.Open(a.c_str(), "wb"));
  EXPECT_TRUE(f.WriteBytes(3, U("abc")));  // buffered; the next Open's close writes it
  {
    ScopedFault refuse("stream.close", EIO);
    ASSERT_TRUE(f.Open(b.c_str(), "wb"));
    EXPECT_EQ(refuse.Failures(), 1u);
  }
  EXPECT_TRUE(f.GetStatus().IsNotError());  // the close failure was cleared
  EXPECT_EQ(kvtest::ReadFile(a), "abc");

  // A failing close is recorded; the stream is gone all the same (a second
  // close would be a double fclose, which the sanitizers catch).
  {
    ScopedFault refuse("stream.close", EIO);
    EXPECT_FALSE(f.Close());
  }
  EXPECT_TRUE(Failed(f, "Files to close file [" + b + "]"));
  EXPECT_TRUE(f.Close());
  f.GetStatus().Reset();
  EXPECT_FALSE(f.WriteFlush());
  EXPECT_TRUE(Failed(f, "No file opened"));
}

TEST(FileIO, HostFailuresAreRecordedOnceAndSticky) {
  TempDir dir;
  std::string path = dir / "f";
  kvtest::WriteFile(path, "12345 67890");
  cFileIO f;
  ASSERT_TRUE(f.Open(path.c_str(), "r+b"));

  {
    ScopedFault full("stream.write", ENOSPC, 0, 5);
    EXPECT_FALSE(f.WriteBytes(4, U("abcd")));
    EXPECT_TRUE(Failed(f, "Failed to write [4] bytes to file [" + path + "]"));
    EXPECT_FALSE(f.WriteBytes(4, U("abcd")));
    EXPECT_FALSE(f.WriteUlong(1));
    EXPECT_EQ(full.Failures(), 1u);  // later writes never reached the host
    f.GetStatus().Reset();
    EXPECT_FALSE(f.WriteUlong(1));
    EXPECT_TRUE(Failed(f, "Failed to write tUlong to file [" + path + "]"));
    f.GetStatus().Reset();
    EXPECT_FALSE(f.WriteLong(-1));
    EXPECT_TRUE(Failed(f, "Failed to write int to file [" + path + "]"));
    f.GetStatus().Reset();
  }
  {
    ScopedFault full("stream.flush", ENOSPC);
    EXPECT_FALSE(f.WriteFlush());
    EXPECT_TRUE(Failed(f, "Failed to flush data into file [" + path + "]"));
    f.GetStatus().Reset();
  }
  {
    ScopedFault broken("stream.read", EIO, 0, 5);
    unsigned char buf[4];
    unsigned int u = 0;
    int v = 0;
    EXPECT_FALSE(f.ReadBytes(4, buf));
    EXPECT_TRUE(Failed(f, "Failed to read 4 bytes from file [" + path + "]"));
    EXPECT_FALSE(f.ReadUlong(u));
    EXPECT_EQ(broken.Failures(), 1u);
    f.GetStatus().Reset();
    EXPECT_FALSE(f.ReadUlong(u));
    EXPECT_TRUE(Failed(f, "Failed to read tUlong from file [" + path + "]"));
    f.GetStatus().Reset();
    EXPECT_FALSE(f.ReadLong(v));
    EXPECT_TRUE(Failed(f, "Failed to read int from file [" + path + "]"));
    f.GetStatus().Reset();
  }
  {
    ScopedFault refuse("stream.seek", EINVAL);
    EXPECT_FALSE(f.Seek(3000000000u));
    EXPECT_TRUE(Failed(f, "Failed to seek file [" + path + "] into position -1294967296"));
    f.GetStatus().Reset();
  }
  // Cleared, the stream works again.
  EXPECT_TRUE(f.Seek(6));
  unsigned int u = 0;
  EXPECT_TRUE(f.ReadUlong(u));
  EXPECT_EQ(u, 67890u);
}

TEST(FileIO, FullDiskFailsTheFlushOrTheWrite) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "this machine has no writable /dev/full";
  cFileIO f;
  ASSERT_TRUE(f.Open("/dev/full", "wb"));
  EXPECT_TRUE(f.WriteBytes(10, U("0123456789")));  // still in the stream's buffer
  EXPECT_FALSE(f.WriteFlush());
  EXPECT_TRUE(Failed(f, "Failed to flush data into file [/dev/full]"));
  EXPECT_FALSE(f.WriteBytes(1, U("x")));
  EXPECT_TRUE(Failed(f, "Failed to flush data into file [/dev/full]"));

  ASSERT_TRUE(f.Open("/dev/full", "wb"));
  std::vector<unsigned char> big(1 << 20, 'x');
  EXPECT_FALSE(f.WriteBytes(static_cast<unsigned int>(big.size()), big.data()));
  EXPECT_TRUE(Failed(f, "Failed to write [1048576] bytes to file [/dev/full]"));
}

TEST(FileIO, CopiesHandTheStreamOver) {
  TempDir dir;
  std::string a = dir / "a";
  std::string b = dir / "b";
  cFileIO first;
  ASSERT_TRUE(first.Open(a.c_str(), "wb"));
  EXPECT_TRUE(first.WriteBytes(2, U("A1")));
  cFileIO second(first);
  EXPECT_TRUE(second.WriteBytes(2, U("A2")));
  EXPECT_FALSE(first.WriteBytes(1, U("x")));
  EXPECT_TRUE(Failed(first, "No file opened"));

  cFileIO third;
  ASSERT_TRUE(third.Open(b.c_str(), "wb"));
  EXPECT_TRUE(third.WriteBytes(2, U("B1")));
  third = second;  // closes b (flushing it) and takes a
  EXPECT_EQ(kvtest::ReadFile(b), "B1");
  EXPECT_TRUE(third.WriteBytes(2, U("A3")));
  third = third;
  EXPECT_TRUE(third.WriteBytes(2, U("A4")));
  EXPECT_FALSE(second.WriteFlush());
  // Three objects, one close: the sanitizers would see a double fclose.
}

TEST(FileIO, FileTruncatedWhileReadGivesAClearError) {
  TempDir dir;
  std::string path = dir / "shrinking";
  kvtest::WriteFile(path, std::string(256 * 1024, 'z'));
  cFileIO f;
  ASSERT_TRUE(f.Open(path.c_str(), "rb"));
  std::vector<unsigned char> block(4096);
  ASSERT_TRUE(f.ReadBytes(4096, block.data()));
  auto r = kvtest::Run({"truncate", "-s", "1000", path});
  if (r.status != 0) GTEST_SKIP() << "cannot run truncate: " << r.err;
  int reads = 0;
  while (f.ReadBytes(4096, block.data())) ASSERT_LT(++reads, 64);
  EXPECT_TRUE(Failed(f, "Failed to read 4096 bytes from file [" + path + "]"));
}

TEST(FileIO, PositionsBeyondWhat32BitsAddress) {
  TempDir dir;
  std::string path = dir / "sparse";
  kvtest::WriteFile(path, "");
  if (truncate(path.c_str(), 5ll << 30) != 0) GTEST_SKIP() << "no sparse 5 GiB file here: " << std::strerror(errno);
  cFileIO f;
  ASSERT_TRUE(f.Open(path.c_str(), "rb"));
  ASSERT_TRUE(f.Seek(4294967000u));  // below 4 GiB: reachable on this host
  EXPECT_EQ(f.Tell(), 4294967000u);
  std::vector<unsigned char> block(1000);
  ASSERT_TRUE(f.ReadBytes(1000, block.data()));
  EXPECT_EQ(f.Tell(), 4294967295u);  // past 4 GiB: as a failing ftell
  EXPECT_TRUE(f.GetStatus().IsNotError());
}

}  // namespace
