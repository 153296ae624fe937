#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "OS/osstorage.h"
#include "recordformat/linerecord.h"
#include "support/testing.h"

using namespace Korvane;
using example::cLineRecordFormat;
using kvtest::TempDir;
using ::testing::Return;

namespace {

constexpr unsigned int kEnd = 0xFFFFFFFFu;

unsigned char const* U(char const* text) { return reinterpret_cast<unsigned char const*>(text); }

void Fill(cMemoryIO& io, std::string const& bytes) {
  cDataBuf b;
  b.AddSegment(U(bytes.data()), static_cast<unsigned int>(bytes.size()));
  io.SetBuffer(b);
}

// A format stripped to the least: a bare number as head, blanks and line
// feeds between records, no opening. Bodies are read straight from the
// stream; the body items are the example's, unused here.
class BareFormat : public cLineRecordFormat {
 public:
  explicit BareFormat(iDataIO* io) : cLineRecordFormat(io) {}
  bool WriteRecordHead(unsigned int size) override { return _io->WriteUlong(size) && _io->WriteBytes(1, U(" ")); }
  bool ReadRecordHead(unsigned int& size) override { return _io->ReadUlong(size); }
  bool WriteBegin() override { return true; }
  bool ReadBegin() override { return true; }
  char const* GetDelims() override { return " \n"; }
};

class MockIO : public iDataIO {
 public:
  MOCK_METHOD(unsigned int, Tell, (), (override));
  MOCK_METHOD(bool, Seek, (unsigned int), (override));
  MOCK_METHOD(bool, WriteBytes, (unsigned int, unsigned char const*), (override));
  MOCK_METHOD(bool, WriteUlong, (unsigned int), (override));
  MOCK_METHOD(bool, WriteLong, (int), (override));
  MOCK_METHOD(bool, WriteFlush, (), (override));
  MOCK_METHOD(bool, ReadBytes, (unsigned int, unsigned char*), (override));
  MOCK_METHOD(bool, ReadUlong, (unsigned int&), (override));
  MOCK_METHOD(bool, ReadLong, (int&), (override));
  MOCK_METHOD(bool, IsEof, (), (override));
  MOCK_METHOD(cKV_Error&, GetStatus, (), (override));
};

class MockFormat : public BareFormat {
 public:
  explicit MockFormat(iDataIO* io) : BareFormat(io) {}
  MOCK_METHOD(bool, WriteBegin, (), (override));
  MOCK_METHOD(bool, ReadBegin, (), (override));
};

std::string Body(cMemoryIO& io, unsigned int size) {
  std::string body(size, '\0');
  EXPECT_TRUE(io.ReadBytes(size, reinterpret_cast<unsigned char*>(body.data())));
  return body;
}

// The next record's size as text, "end" at the end of data (with a null
// format), "fail" on a failure.
std::string Next(cDataStorage& storage, cDataFormat* expected) {
  unsigned int size = 0;
  cDataFormat* f = expected;
  if (!storage.ReadRecordBegin(size, f)) return "fail";
  if (size == kEnd) return f == nullptr ? "end" : "end with a format";
  return f == expected ? std::to_string(size) : "no format";
}

// ----------------------------------------------------------- the pass logic

TEST(DataStorage, ModesDecideWhatRunsAndWrongModesTouchNothing) {
  ::testing::StrictMock<MockIO> io;  // any call on the stream fails the test
  MockFormat format(&io);
  cDataFormat* f = &format;
  unsigned int size = 7;
  auto reads = [&](cDataStorage& s) { return s.ReadRecordBegin(size, f) || s.ReadRecordCancel(); };
  auto writes = [&](cDataStorage& s) { return s.WriteRecordBegin(3, f) || s.WriteRecordEnd(3, U("abc")); };

  cDataStorage writer(cDataStorage::eWrite, &format);
  EXPECT_FALSE(reads(writer) || writer.ReadRecordEnd());
  cDataStorage reader(cDataStorage::eRead, &format);
  EXPECT_TRUE(!writes(reader) && reader.ReadRecordEnd());
  EXPECT_TRUE(size == 7 && f == &format);

  // Begin: a write pass opens and flushes; a read pass reads.
  {
    ::testing::InSequence order;
    EXPECT_CALL(format, WriteBegin()).WillOnce(Return(true));
    EXPECT_CALL(io, WriteFlush()).WillOnce(Return(true));
    EXPECT_CALL(format, WriteBegin()).WillOnce(Return(false));
    EXPECT_CALL(format, ReadBegin()).WillOnce(Return(true));
    EXPECT_CALL(format, ReadBegin()).WillOnce(Return(false));
  }
  EXPECT_TRUE(writer.Begin() && !writer.Begin());  // no flush after a failed opening
  EXPECT_TRUE(reader.Begin() && !reader.Begin());

  // Empty bodies and null data write nothing.
  EXPECT_TRUE(writer.WriteRecordEnd(0, U("abc")) && writer.WriteRecordEnd(3, nullptr));
  EXPECT_CALL(io, WriteBytes(3, ::testing::_)).WillOnce(Return(false));
  EXPECT_FALSE(writer.WriteRecordEnd(3, U("abc")));

  // Without a format (or a stream) nothing runs.
  cDataStorage empty;
  EXPECT_TRUE(!empty.Begin() && !reads(empty) && empty.End());
  BareFormat detached(nullptr);
  empty.SetFormat(cDataStorage::eWrite, &detached);
  EXPECT_FALSE(empty.Begin() || writes(empty) || detached.ReadDelims());
}

TEST(DataStorage, ReadsRecordsUntilOnlyDelimitersAreLeft) {
  cMemoryIO io;
  BareFormat format(&io);
  cDataStorage storage(cDataStorage::eRead, &format);
  Fill(io, std::string("   \n\0 \n", 7));  // only delimiters and zero bytes
  EXPECT_EQ(Next(storage, &format), "end");
  EXPECT_TRUE(io.GetStatus().IsNotError());

  Fill(io, "\n5 hello\n 3\n\nabc \n");
  ASSERT_TRUE(storage.Begin());
  ASSERT_EQ(Next(storage, &format), "5");
  EXPECT_EQ(Body(io, 5), "hello");
  ASSERT_TRUE(storage.ReadRecordEnd());
  // Cancelled halfway, and repeated: the same record again.
  for (unsigned int part = 1; part <= 2; ++part) {
    ASSERT_EQ(Next(storage, &format), "3");
    EXPECT_EQ(Body(io, part), std::string("ab", part));
    EXPECT_TRUE(storage.ReadRecordCancel() && storage.ReadRecordCancel());  // twice: still the record's start
  }
  ASSERT_EQ(Next(storage, &format), "3");
  EXPECT_EQ(Body(io, 3), "abc");
  EXPECT_EQ(Next(storage, &format), "end");
  EXPECT_TRUE(storage.End());

  // A head that is not a number fails.
  Fill(io, "  x");
  EXPECT_EQ(Next(storage, &format), "fail");
}

// -------------------------------------------------- the example line format

using Records = std::vector<std::string>;

bool WritePass(iDataIO& io, Records const& records) {
  cLineRecordFormat format(&io);
  cDataStorage storage(cDataStorage::eWrite, &format);
  if (!storage.Begin()) return false;
  for (auto const& body : records) {
    cDataFormat* f = nullptr;
    auto size = static_cast<unsigned int>(body.size());
    if (!storage.WriteRecordBegin(size, f) || !storage.WriteRecordEnd(size, U(body.data()))) return false;
  }
  return format.WriteEnd();
}

// Reads until the end; false (with what was read so far) on any failure.
bool ReadPass(iDataIO& io, Records& records) {
  cLineRecordFormat format(&io);
  cDataStorage storage(cDataStorage::eRead, &format);
  if (!storage.Begin()) return false;
  for (int guard = 0; guard < 1000000; ++guard) {
    unsigned int size = 0;
    cDataFormat* f = nullptr;
    if (!storage.ReadRecordBegin(size, f)) return false;
    if (f == nullptr) return format.ReadEnd();
    // A damaged head can announce gigabytes; nothing written here is that big.
    cDataBuf body;
    if (size > (2u << 20) || !body.SetLength(size)) return false;
    if (!f->ReadBytes(size, body) || !storage.ReadRecordEnd()) return false;
    records.emplace_back(reinterpret_cast<char const*>(static_cast<unsigned char*>(body)), size);
  }
  ADD_FAILURE() << "the read pass does not end";
  return false;
}

std::string Image(cMemoryIO& io) {
  return std::string(reinterpret_cast<char const*>(static_cast<unsigned char*>(io.GetBuffer())),
                     io.GetBuffer().GetLength());
}

Records Generate(std::mt19937& rng, int count, unsigned int maxSize) {
  // Bodies that start with what a careless format would lose.
  std::string const starts[] = {"", "\n", std::string(1, '\0'), ":", "\n\n\0\n", "0", "12\n", " "};
  Records records;
  for (int i = 0; i < count; ++i) {
    std::string body = starts[rng() % 8];
    unsigned int size = rng() % 4 == 0 ? 0 : rng() % (maxSize + 1);
    while (body.size() < size) body.push_back(static_cast<char>(rng()));
    records.push_back(body);
  }
  return records;
}

TEST(LineRecordFormat, RoundTripsThroughMemoryAndFile) {
  TempDir dir;
  std::mt19937 rng(1234);
  std::vector<Records> lists = {{}, {""}, {"", ""}, {std::string(1, '\0')}, {"\n"}, {std::string(1 << 20, '\n')}};
  for (int i = 0; i < 40; ++i) lists.push_back(Generate(rng, static_cast<int>(rng() % 30), 300));
  for (int i = 0; i < 4; ++i) lists.push_back(Generate(rng, 6, 1 << 20));

  for (std::size_t n = 0; n < lists.size(); ++n) {
    Records const& records = lists[n];
    cMemoryIO memory;
    ASSERT_TRUE(WritePass(memory, records) && memory.Seek(0)) << n;
    Records fromMemory;
    ASSERT_TRUE(ReadPass(memory, fromMemory)) << n << ": " << static_cast<char const*>(memory.GetStatus().ToString());
    ASSERT_EQ(fromMemory, records) << n;

    std::string path = dir / "records";
    cFileIO file;
    ASSERT_TRUE(file.Open(path.c_str(), "wb") && WritePass(file, records) && file.Close()) << n;
    ASSERT_EQ(kvtest::ReadFile(path), Image(memory));  // both streams produce the same bytes
    ASSERT_TRUE(file.Open(path.c_str(), "rb"));
    Records fromFile;
    ASSERT_TRUE(ReadPass(file, fromFile)) << n << ": " << static_cast<char const*>(file.GetStatus().ToString());
    ASSERT_EQ(fromFile, records) << n;
    EXPECT_TRUE(file.GetStatus().IsNotError());  // ReadEnd cleared the end's failure
  }
}

TEST(LineRecordFormat, BodyItems) {
  cMemoryIO io;
  cLineRecordFormat format(&io);
  cDataStorage writer(cDataStorage::eWrite, &format);
  cDataFormat* f = nullptr;
  unsigned int size = cLineRecordFormat::SizeOf(4000000000u) + cLineRecordFormat::SizeOf(-17) +
                      cLineRecordFormat::SizeOf("name") + 3;
  ASSERT_TRUE(writer.Begin() && writer.WriteRecordBegin(size, f));
  EXPECT_TRUE(f->WriteUlong(4000000000u) && f->WriteLong(-17));
  EXPECT_TRUE(!f->WriteString("two\nlines") && f->WriteString("name"));
  EXPECT_TRUE(!f->WriteBytes(4, U("\0\n:x")) && f->WriteBytes(3, U("\0\n:")));  // not more than the head announced
  ASSERT_TRUE(writer.WriteRecordBegin(0, f) && f->WriteEnd());

  cDataStorage reader(cDataStorage::eRead, &format);
  ASSERT_TRUE(io.Seek(0) && reader.Begin());
  unsigned int u = 0;
  ASSERT_EQ(Next(reader, &format), std::to_string(size));
  int v = 0;
  cKV_String s;
  unsigned char tail[3] = {};
  ASSERT_TRUE(format.ReadUlong(u) && format.ReadLong(v) && format.ReadString(s));
  EXPECT_EQ(std::to_string(u) + " " + std::to_string(v) + " " + static_cast<char const*>(s), "4000000000 -17 name");
  ASSERT_TRUE(!format.ReadBytes(4, tail) && format.ReadBytes(3, tail));  // not past the body
  EXPECT_EQ(std::memcmp(tail, "\0\n:", 3), 0);
  EXPECT_EQ(Next(reader, &format), "0");  // an empty body needs no read
  EXPECT_EQ(Next(reader, &format), "end");
  EXPECT_TRUE(format.ReadEnd());
}

TEST(LineRecordFormat, DamagedImagesEndTheReadCleanly) {
  std::mt19937 rng(99);
  Records records = Generate(rng, 12, 40);
  cMemoryIO whole;
  ASSERT_TRUE(WritePass(whole, records));
  std::string image = Image(whole);

  // Cut at every length: a prefix of the records, then a failure or the end.
  for (std::size_t cut = 0; cut <= image.size(); ++cut) {
    cMemoryIO io;
    Fill(io, image.substr(0, cut));
    Records read;
    ReadPass(io, read);
    ASSERT_LE(read.size(), records.size());
    for (std::size_t i = 0; i < read.size(); ++i) ASSERT_EQ(read[i], records[i]) << cut;
  }

  // A file of 0 bytes is no image: the opening is missing.
  TempDir dir;
  std::string path = dir / "empty";
  kvtest::WriteFile(path, "");
  cFileIO file;
  ASSERT_TRUE(file.Open(path.c_str(), "rb"));
  Records read;
  EXPECT_FALSE(ReadPass(file, read));
  EXPECT_EQ(std::string(file.GetStatus().GetText()), "Failed to read 6 bytes from file [" + path + "]");
}

}  // namespace
