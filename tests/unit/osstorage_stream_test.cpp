#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <random>

#include "OS/osstorage.h"
#include "support/testing.h"

using namespace Korvane;
using namespace kvtest;

namespace {

unsigned char const* U(char const* text) { return reinterpret_cast<unsigned char const*>(text); }

// "data@position" of a memory stream.
std::string State(cMemoryIO& io) {
  cDataBuf& b = io.GetBuffer();
  unsigned char* data = b;
  return (data == nullptr ? std::string() : std::string(reinterpret_cast<char*>(data), b.GetLength())) + "@" +
         std::to_string(io.Tell());
}

cMemoryIO Over(std::string const& bytes) {
  cMemoryIO io;
  cDataBuf b;
  b.AddSegment(U(bytes.data()), static_cast<unsigned int>(bytes.size()));
  io.SetBuffer(b);
  return io;
}

// Whether the call (its result given) failed and recorded `text`.
::testing::AssertionResult Failed(iDataIO& io, std::string const& text, bool result = false) {
  if (result) return ::testing::AssertionFailure() << "the call succeeded";
  Korvane::cKV_Error& s = io.GetStatus();
  if (s.GetCode() != 3 || !s.GetUnit().Cmp(".\\osstorage") || !s.GetText().Cmp(text.c_str()))
    return ::testing::AssertionFailure() << "status is " << static_cast<char const*>(s.ToString()) << ", expected \""
                                         << text << "\"";
  return ::testing::AssertionSuccess();
}

// Reads in turn ('u' ReadUlong, 'l' ReadLong, 'b' one byte) and lists each
// result with the position after it; a failure shows as "[its text]" and is
// cleared before the position is taken.
std::string Reads(iDataIO& io, char const* kinds) {
  std::string out;
  for (char const* k = kinds; *k != '\0'; ++k) {
    unsigned int u = 0;
    int v = 0;
    unsigned char b = 0;
    bool ok = *k == 'u' ? io.ReadUlong(u) : *k == 'l' ? io.ReadLong(v) : io.ReadBytes(1, &b);
    std::string r = *k == 'u' ? std::to_string(u) : *k == 'l' ? std::to_string(v) : std::string(1, char(b));
    if (!ok) {
      r = "[" + std::string(io.GetStatus().GetText()) + "]";
      io.GetStatus().Reset();
    }
    out += (k == kinds ? "" : " ") + r + "@" + std::to_string(io.Tell());
  }
  return out;
}

// Every operation of a stream, each with a harmless argument.
using Op = bool (*)(iDataIO&);
Op const kOps[] = {
    [](iDataIO& s) { return s.Tell() != 0; },
    [](iDataIO& s) { return s.Seek(0); },
    [](iDataIO& s) { return s.WriteBytes(1, U("x")); },
    [](iDataIO& s) { return s.WriteUlong(1); },
    [](iDataIO& s) { return s.WriteLong(1); },
    [](iDataIO& s) { return s.WriteFlush(); },
    [](iDataIO& s) { unsigned char b; return s.ReadBytes(1, &b); },
    [](iDataIO& s) { unsigned int n; return s.ReadUlong(n); },
    [](iDataIO& s) { int n; return s.ReadLong(n); },
    [](iDataIO& s) { return s.IsEof(); },  // last: cFileIO treats it apart
};

// ------------------------------------------------------------ memory stream

TEST(MemoryIO, NumbersAreBareDecimalTextReadAtMostElevenBytesAndClamped) {
  cMemoryIO out;
  EXPECT_TRUE(out.WriteUlong(0) && out.WriteLong(-5) && out.WriteUlong(4294967295u) && out.WriteLong(INT_MIN));
  EXPECT_EQ(State(out), "0-54294967295-2147483648@24");
  char const* const noU = "[Failed to read tUlong]@0";
  char const* const noL = "[Failed to read int]@0";
  struct Row {
    char const *bytes, *kinds, *expected;
  } const rows[] = {
      {"1234", "u", "1234@4"},
      {"123456789012", "uu", "4294967295@11 2@12"},
      // The sign counts toward the 11 bytes.
      {"99999999999|-99999999999", "lbll", "2147483647@11 |@12 -2147483648@23 9@24"},
      // No run: failure without moving.
      {" 12", "u", noU}, {"-1", "u", noU}, {"", "u", noU}, {"-x", "l", noL}, {"+1", "l", noL},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.bytes);
    cMemoryIO io = Over(row.bytes);
    EXPECT_EQ(Reads(io, row.kinds), row.expected);
  }
  // The run stops at the data's length, even when the block holds more
  // digits behind it.
  cMemoryIO cut = Over("123456");
  ASSERT_TRUE(cut.GetBuffer().SetLength(3));
  EXPECT_EQ(Reads(cut, "u"), "123@3");
}

TEST(MemoryIO, FirstFailureIsStickyUntilCleared) {
  cMemoryIO io = Over("0123456789");
  ASSERT_TRUE(io.Seek(10) && io.IsEof());  // the end itself is a position
  EXPECT_TRUE(Failed(io, "Failed to seek to position 11", io.Seek(11)));
  int line = io.GetStatus().GetLine();
  for (Op op : kOps) EXPECT_FALSE(op(io));
  EXPECT_TRUE(Failed(io, "Failed to seek to position 11"));
  EXPECT_EQ(io.GetStatus().GetLine(), line);
  EXPECT_EQ(State(io), "0123456789@0");  // a failed stream tells 0

  io.Reset();  // empties the data but keeps the failure
  EXPECT_TRUE(io.GetBuffer().GetLength() == 0 && io.GetBuffer().GetSize() == 16 && !io.WriteFlush());
  io.GetStatus().Reset();
  EXPECT_TRUE(io.WriteFlush() && io.IsEof());
  EXPECT_EQ(Reads(io, "b"), "[Failed to read 1 bytes]@0");
  EXPECT_FALSE(io.Seek(1));
  io.SetBuffer(io.GetBuffer());  // clears the status too
  EXPECT_TRUE(io.GetStatus().IsNotError());
}

TEST(MemoryIO, WritesOverwriteInTheMiddleAndAppendAtTheEnd) {
  cMemoryIO io;
  ASSERT_TRUE(io.WriteBytes(10, U("0123456789")) && io.GetBuffer().GetSize() == 16);
  ASSERT_TRUE(io.Seek(2) && io.WriteBytes(3, U("abc")));
  EXPECT_EQ(State(io), "01abc56789@5");
  ASSERT_TRUE(io.Seek(8) && io.WriteBytes(10, U("ABCDEFGHIJ")) && io.WriteBytes(0, nullptr));
  EXPECT_EQ(State(io), "01abc567ABCDEFGHIJ@18");
  EXPECT_EQ(io.GetBuffer().GetSize(), 32u);

  // The stream's own bytes written back into it: overlapping, and across a
  // growth that moves the block.
  cMemoryIO own = Over("0123456789abcdef");
  ASSERT_TRUE(own.Seek(2) && own.WriteBytes(10, own.GetBuffer()));
  EXPECT_EQ(State(own), "010123456789cdef@12");
  ASSERT_TRUE(own.Seek(16) && own.WriteBytes(16, own.GetBuffer()));
  EXPECT_EQ(State(own), "010123456789cdef010123456789cdef@32");

  // Refused growth, a null source and counts that overflow 32 bits when
  // added to the position: false, nothing written and, unlike every other
  // failure, nothing recorded.
  ASSERT_TRUE(io.Seek(18));
  {
    ScopedFault noMemory("alloc", ENOMEM);
    EXPECT_FALSE(io.WriteBytes(20, U("01234567890123456789")));
  }
  EXPECT_FALSE(io.WriteBytes(3, nullptr));
  EXPECT_EQ(State(io), "01abc567ABCDEFGHIJ@18");
  ASSERT_TRUE(io.Seek(5));
  EXPECT_FALSE(io.WriteBytes(0xFFFFFFFFu, U("x")));
  EXPECT_TRUE(io.GetStatus().IsNotError());
  unsigned char byte = 0;
  EXPECT_TRUE(Failed(io, "Failed to read -1 bytes", io.ReadBytes(0xFFFFFFFFu, &byte)));
  io.GetStatus().Reset();
  EXPECT_TRUE(Failed(io, "Failed to seek to position -1", io.Seek(0xFFFFFFFFu)));
  EXPECT_EQ(State(io), "01abc567ABCDEFGHIJ@0");
}

TEST(MemoryIO, BuffersMoveInAndOut) {
  cMemoryIO io = Over("abcdefghijklmnopqrst");

  // A copy takes the block and the position and status; the source keeps its
  // position over an empty buffer, and still behaves.
  io.Seek(4);
  cMemoryIO copy(io);
  EXPECT_EQ(State(copy), "abcdefghijklmnopqrst@4");
  EXPECT_EQ(State(io), "@4");
  EXPECT_TRUE(io.WriteBytes(2, U("zz")));  // the gap before reads as zeros
  EXPECT_EQ(State(io), std::string("\0\0\0\0zz@6", 8));

  cMemoryIO failed = Over("x");
  EXPECT_FALSE(kOps[7](failed));
  cMemoryIO assigned;
  assigned = failed;
  assigned = assigned;
  EXPECT_EQ(State(assigned), "x@0");
  EXPECT_TRUE(Failed(assigned, "Failed to read tUlong"));
}

// --------------------------------------------------------------- file stream

TEST(FileIO, OpensInEveryModeAndReportsBadArguments) {
  TempDir dir;
  std::string path = dir / "f";
  kvtest::WriteFile(path, "data");
  for (char const* mode : {"r", "rb", "r+", "w", "wb+", "a", "ab", "a+"}) {
    cFileIO f;
    ASSERT_TRUE(f.Open(path.c_str(), mode)) << mode;
    EXPECT_TRUE(f.Close()) << mode;
  }
  cFileIO f;
  EXPECT_TRUE(Failed(f, "Files to open file [" + path + "] with mode []", f.Open(path.c_str(), "")));
  EXPECT_FALSE(f.Open(path.c_str(), nullptr));
  EXPECT_TRUE(Failed(f, "Files to open file [] with mode [r]", f.Open(nullptr, "r")));
}

TEST(FileIO, WritesAndReadsBackBytesAndNumbers) {
  TempDir dir;
  std::string path = dir / "numbers";
  cFileIO f;
  EXPECT_TRUE(f.Open(path.c_str(), "wb") && f.WriteUlong(0) && f.WriteBytes(1, U(" ")) && f.WriteLong(-5) &&
              f.WriteBytes(1, U("\n")) && f.WriteUlong(4294967295u) && f.WriteBytes(1, U(",")) &&
              f.WriteLong(INT_MIN) && f.WriteBytes(0, nullptr));
  EXPECT_EQ(f.Tell(), 27u);
  EXPECT_TRUE(f.WriteFlush() && f.Close());
  EXPECT_EQ(kvtest::ReadFile(path), "0 -5\n4294967295,-2147483648");

  // Reading skips white space and takes a sign, as fscanf does, and clamps
  // to 32 bits ("-1" reads as a 32-bit strtoul reads it). The byte after a
  // number stays; a lone sign is consumed, as the runtime does.
  kvtest::WriteFile(path, " 0 \t-5\n4294967295,-2147483648 +17 4294967296 -1 99999999999 -99999999999 "
                          "000000000000000000042 7x -y");
  ASSERT_TRUE(f.Open(path.c_str(), "rb"));
  EXPECT_EQ(Reads(f, "ulubluuullulbl"),
            "0@2 -5@6 4294967295@17 ,@18 -2147483648@29 17@33 4294967295@44 4294967295@47 2147483647@59 "
            "-2147483648@72 42@94 7@96 x@97 [Failed to read int from file [" + path + "]]@99");
  EXPECT_EQ(Reads(f, "b"), "y@100");
  EXPECT_FALSE(f.IsEof());
  unsigned int u = 0;
  EXPECT_TRUE(Failed(f, "Failed to read tUlong from file [" + path + "]", f.ReadUlong(u)));
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
  bool eof = false, writing = false;  // reads and writes are separated by a seek, as C wants
  std::vector<unsigned char> buf(9000);
  for (int step = 0; step < 20000; ++step) {
    unsigned int op = rng() % 10;
    SCOPED_TRACE(testing::Message() << step << " op " << op << " at " << pos << " of " << content.size());
    if (op < 2 || (op == 2 && !writing && pos > 0)) {
      // Anywhere, near the end included, or a byte back as the delimiter skip does.
      pos = op < 2 ? std::min<std::size_t>(rng() % (content.size() + 3), content.size()) : pos - 1;
      ASSERT_TRUE(f.Seek(static_cast<unsigned int>(pos)));
      eof = writing = false;
    } else if (op == 3 && (writing || rng() % 2 == 0)) {
      ASSERT_TRUE(writing || f.Seek(static_cast<unsigned int>(pos)));
      writing = true;
      eof = false;
      std::string bytes(rng() % 40, static_cast<char>('A' + rng() % 26));
      ASSERT_TRUE(f.WriteBytes(static_cast<unsigned int>(bytes.size()), U(bytes.c_str())));
      content.replace(pos, std::min(bytes.size(), content.size() - pos), bytes);
      pos += bytes.size();
    } else if (!writing && op < 7) {
      std::size_t n = rng() % 3 == 0 ? rng() % 9000 : rng() % 8;
      bool ok = f.ReadBytes(static_cast<unsigned int>(n), buf.data());
      std::size_t got = std::min(n, content.size() - pos);
      ASSERT_EQ(ok, got == n);
      ASSERT_EQ(std::string(reinterpret_cast<char*>(buf.data()), got), content.substr(pos, got));
      pos += got;
      eof = eof || !ok;
      f.GetStatus().Reset();
    } else if (!writing) {  // a number, the way fscanf reads it
      std::size_t start = std::min(content.find_first_not_of(" \n", pos), content.size());
      std::size_t digits = start + (start < content.size() && content[start] == '-');
      std::size_t p = std::min(content.find_first_not_of("0123456789", digits), content.size());
      int value = 0;
      bool ok = f.ReadLong(value);
      ASSERT_EQ(ok, p > digits);
      ASSERT_TRUE(!ok || value == cKV_String::ToLong(content.substr(start, p - start).c_str())) << value;
      pos = p;
      eof = eof || p == content.size();  // the conversion looked past the end
      f.GetStatus().Reset();
    } else {
      continue;
    }
    ASSERT_EQ(f.Tell(), pos);
    ASSERT_TRUE(writing || f.IsEof() == eof) << "the end flag differs from the model";
  }
  ASSERT_TRUE(f.Close());
  EXPECT_EQ(kvtest::ReadFile(path), content);
}

TEST(FileIO, WithoutAFileEveryOperationFailsOnce) {
  cFileIO f;
  EXPECT_TRUE(f.Close() && f.GetStatus().IsNotError());
  for (Op op : kOps) {
    // Each reports the missing file itself when the status is clear; over
    // an earlier failure only IsEof records again.
    f.GetStatus().Reset();
    EXPECT_TRUE(Failed(f, "No file opened", op(f)));
    f.GetStatus().Set(3, "unit", 1, "first");
    EXPECT_FALSE(op(f));
    EXPECT_TRUE(f.Close());  // does not look at the status and changes nothing
    EXPECT_STREQ(f.GetStatus().GetText(), op == kOps[9] ? "No file opened" : "first");
  }
}

TEST(FileIO, OpenClearsTheStatusAndClosesFirst) {
  TempDir dir;
  std::string a = dir / "a", b = dir / "b";
  cFileIO f;
  ASSERT_TRUE(f.Open(a.c_str(), "w+b"));

  ASSERT_TRUE(f.Open(a.c_str(), "wb") && f.WriteBytes(3, U("abc")));  // buffered; the next Open's close writes it
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
    EXPECT_TRUE(Failed(f, "Files to close file [" + b + "]", f.Close()));
  }
  EXPECT_TRUE(f.Close());
}

TEST(FileIO, HostFailuresAreRecordedOnceAndSticky) {
  TempDir dir;
  std::string path = dir / "f";
  kvtest::WriteFile(path, "12345 67890");
  cFileIO f;
  ASSERT_TRUE(f.Open(path.c_str(), "r+b"));
  struct Row {
    char const* point;
    int error;
    Op op;
    std::string message;
  } const rows[] = {
      {"stream.write", ENOSPC, kOps[2], "Failed to write [1] bytes to file [" + path + "]"},
      {"stream.write", ENOSPC, kOps[3], "Failed to write tUlong to file [" + path + "]"},
      {"stream.write", ENOSPC, kOps[4], "Failed to write int to file [" + path + "]"},
      {"stream.flush", ENOSPC, kOps[5], "Failed to flush data into file [" + path + "]"},
      {"stream.read", EIO, kOps[6], "Failed to read 1 bytes from file [" + path + "]"},
      {"stream.read", EIO, kOps[7], "Failed to read tUlong from file [" + path + "]"},
      {"stream.read", EIO, kOps[8], "Failed to read int from file [" + path + "]"},
      {"stream.seek", EINVAL, [](iDataIO& s) { return s.Seek(3000000000u); },
       "Failed to seek file [" + path + "] into position -1294967296"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.message);
    ScopedFault fault(row.point, row.error, 0, 5);
    EXPECT_TRUE(Failed(f, row.message, row.op(f)));
    EXPECT_FALSE(row.op(f) || kOps[2](f));
    EXPECT_EQ(fault.Failures(), 1u);  // later calls never reached the host
    EXPECT_TRUE(Failed(f, row.message));
    f.GetStatus().Reset();
  }
  // Cleared, the stream works again.
  EXPECT_TRUE(f.Seek(6));
  EXPECT_EQ(Reads(f, "u"), "67890@11");
}

TEST(FileIO, CopiesHandTheStreamOver) {
  TempDir dir;
  std::string a = dir / "a", b = dir / "b";
  cFileIO first;
  ASSERT_TRUE(first.Open(a.c_str(), "wb") && first.WriteBytes(2, U("A1")));
  cFileIO second(first);
  EXPECT_TRUE(second.WriteBytes(2, U("A2")));
  EXPECT_TRUE(Failed(first, "No file opened", first.WriteBytes(1, U("x"))));

  cFileIO third;
  ASSERT_TRUE(third.Open(b.c_str(), "wb") && third.WriteBytes(2, U("B1")));
  third = second;  // closes b (flushing it) and takes a
  EXPECT_EQ(kvtest::ReadFile(b), "B1");
  third = third;
  EXPECT_TRUE(third.WriteBytes(2, U("A3")));
  EXPECT_FALSE(second.WriteFlush());
  // Three objects, one close: the sanitizers would see a double fclose.
}

TEST(FileIO, PositionsBeyondWhat32BitsAddress) {
  TempDir dir;
  std::string path = dir / "sparse";
  kvtest::WriteFile(path, "");
  std::error_code ec;
  std::filesystem::resize_file(path, 5ll << 30, ec);
  if (ec) GTEST_SKIP() << "no sparse 5 GiB file here: " << ec.message();
  cFileIO f;
  ASSERT_TRUE(f.Open(path.c_str(), "rb") && f.Seek(4294967000u));  // below 4 GiB: reachable on this host
  EXPECT_EQ(f.Tell(), 4294967000u);
  std::vector<unsigned char> block(1000);
  ASSERT_TRUE(f.ReadBytes(1000, block.data()));
  EXPECT_TRUE(f.Tell() == 4294967295u && f.GetStatus().IsNotError());  // past 4 GiB: as a failing ftell
}

}  // namespace
