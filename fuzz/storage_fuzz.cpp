// Hostile bytes for the memory stream's number reading and for a read pass
// of the line record format.
#include <cstdint>
#include <cstring>
#include <vector>

#include "OS/osstorage.h"
#include "recordformat/linerecord.h"

using namespace Korvane;

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// What a number read must give: the run of at most 11 bytes from `at`,
// clamped to 32 bits. Returns the run's length, 0 for none.
unsigned int Expected(unsigned char const* at, unsigned int available, bool isSigned, long long& value) {
  unsigned int n = 0;
  bool negative = isSigned && available > 0 && at[0] == '-';
  if (negative) n = 1;
  unsigned long long magnitude = 0;
  unsigned int first = n;
  while (n < available && n < 11 && at[n] >= '0' && at[n] <= '9') magnitude = magnitude * 10 + (at[n++] - '0');
  if (n == first) return 0;
  if (!isSigned) value = magnitude > 0xFFFFFFFFull ? 0xFFFFFFFFll : static_cast<long long>(magnitude);
  else if (negative) value = magnitude > 0x80000000ull ? -0x80000000ll : -static_cast<long long>(magnitude);
  else value = magnitude > 0x7FFFFFFFull ? 0x7FFFFFFFll : static_cast<long long>(magnitude);
  return n;
}

cMemoryIO* Over(cMemoryIO& io, uint8_t const* data, size_t size) {
  cDataBuf b;
  if (!b.AddSegment(data, static_cast<unsigned int>(size))) return nullptr;
  io.SetBuffer(b);
  return &io;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > (1u << 20)) return 0;

  // Numbers: read at every position, both kinds, and compare.
  cMemoryIO numbers;
  if (Over(numbers, data, size) == nullptr) return 0;
  for (unsigned int pos = 0; pos < size; ++pos) {
    for (bool isSigned : {false, true}) {
      numbers.GetStatus().Reset();
      Check(numbers.Seek(pos));
      long long expected = 0;
      unsigned int run = Expected(data + pos, static_cast<unsigned int>(size) - pos, isSigned, expected);
      unsigned int u = 0;
      int v = 0;
      bool ok = isSigned ? numbers.ReadLong(v) : numbers.ReadUlong(u);
      Check(ok == (run > 0));
      if (ok) {
        Check(isSigned ? v == expected : u == static_cast<unsigned int>(expected));
        Check(numbers.Tell() == pos + run);
      } else {
        Check(numbers.GetStatus().IsError());
        numbers.GetStatus().Reset();
        Check(numbers.Tell() == pos);
      }
    }
  }

  // A read pass, with and without the format's opening in front.
  for (bool withMagic : {false, true}) {
    std::vector<uint8_t> image;
    if (withMagic) image.assign(example::cLineRecordFormat::kMagic, example::cLineRecordFormat::kMagic + 6);
    image.insert(image.end(), data, data + size);
    cMemoryIO io;
    if (Over(io, image.data(), image.size()) == nullptr) return 0;
    example::cLineRecordFormat format(&io);
    cDataStorage storage(cDataStorage::eRead, &format);
    if (!storage.Begin()) continue;
    std::vector<unsigned char> body;
    for (size_t records = 0;; ++records) {
      Check(records <= image.size());  // every record takes at least one byte
      unsigned int bodySize = 0;
      cDataFormat* f = nullptr;
      if (!storage.ReadRecordBegin(bodySize, f) || f == nullptr) break;
      Check(io.Tell() <= io.GetBuffer().GetLength());
      if (bodySize > image.size()) {
        unsigned char byte;
        Check(!f->ReadBytes(bodySize, &byte) || bodySize == 0);
        break;
      }
      body.resize(bodySize + 1);
      if (!f->ReadBytes(bodySize, body.data())) break;
      if (records % 3 == 1) storage.ReadRecordCancel();  // and read it again
      storage.ReadRecordEnd();
    }
  }
  return 0;
}
