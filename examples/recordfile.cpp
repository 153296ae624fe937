// Writes a few records with the line record format to a file and to a memory
// image, reads both back and prints what it read.
//
//   recordfile [FILE]      (default: records.kvrec in $TMPDIR or /tmp)
#include <OS/kv_Os.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "recordformat/linerecord.h"

using namespace Korvane;

namespace {

// One write pass: the opening, a head and a body per record, the closing.
bool WriteAll(iDataIO& io, std::vector<std::string> const& records) {
  example::cLineRecordFormat format(&io);
  cDataStorage storage(cDataStorage::eWrite, &format);
  if (!storage.Begin()) return false;
  for (auto const& body : records) {
    cDataFormat* f = nullptr;
    auto size = static_cast<unsigned int>(body.size());
    if (!storage.WriteRecordBegin(size, f) ||
        !storage.WriteRecordEnd(size, reinterpret_cast<unsigned char const*>(body.data())))
      return false;
  }
  return format.WriteEnd() && storage.End();
}

// One read pass: records until the storage reports the end.
bool ReadAll(iDataIO& io, std::vector<std::string>& records) {
  example::cLineRecordFormat format(&io);
  cDataStorage storage(cDataStorage::eRead, &format);
  if (!storage.Begin()) return false;
  for (;;) {
    unsigned int size = 0;
    cDataFormat* f = nullptr;
    if (!storage.ReadRecordBegin(size, f)) return false;
    if (f == nullptr) break;  // only delimiters left
    // The size comes from the data: a damaged or hostile head may claim up
    // to 4 GiB, so the body grows only as its bytes actually arrive.
    std::string body;
    for (unsigned int left = size; left > 0;) {
      unsigned int piece = left < 65536 ? left : 65536;
      std::size_t at = body.size();
      body.resize(at + piece);
      if (!f->ReadBytes(piece, reinterpret_cast<unsigned char*>(body.data() + at))) return false;
      left -= piece;
    }
    if (!storage.ReadRecordEnd()) return false;
    records.push_back(body);
  }
  return format.ReadEnd() && storage.End();
}

void Show(char const* where, std::vector<std::string> const& records) {
  std::printf("%s: %zu records\n", where, records.size());
  for (auto const& r : records) {
    std::printf("  %5zu bytes:", r.size());
    for (std::size_t i = 0; i < r.size() && i < 16; ++i) std::printf(" %02x", static_cast<unsigned char>(r[i]));
    std::printf("%s\n", r.size() > 16 ? " ..." : "");
  }
}

int Fail(char const* what, iDataIO& io) {
  std::fprintf(stderr, "recordfile: %s failed: %s\n", what, static_cast<char const*>(io.GetStatus().ToString()));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  if (argc > 1) {
    path = argv[1];
  } else {
    char const* tmp = std::getenv("TMPDIR");
    path = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/records.kvrec";
  }
  // Bodies may start with line feeds or zero bytes: the format keeps them.
  std::vector<std::string> records = {"hello", "", std::string("\n\0binary", 8), std::string(300, 'x')};

  cFileIO file;
  if (!file.Open(path.c_str(), "wb")) return Fail("open for writing", file);
  if (!WriteAll(file, records) || !file.Close()) return Fail("writing the file", file);
  std::vector<std::string> fromFile;
  if (!file.Open(path.c_str(), "rb")) return Fail("open for reading", file);
  if (!ReadAll(file, fromFile)) return Fail("reading the file", file);
  file.Close();

  cMemoryIO memory;
  if (!WriteAll(memory, records)) return Fail("writing the memory image", memory);
  std::printf("memory image: %u bytes\n", memory.GetBuffer().GetLength());
  memory.Seek(0);
  std::vector<std::string> fromMemory;
  if (!ReadAll(memory, fromMemory)) return Fail("reading the memory image", memory);

  Show(path.c_str(), fromFile);
  Show("memory", fromMemory);
  bool same = fromFile == records && fromMemory == records;
  std::printf("%s\n", same ? "both read back what was written" : "MISMATCH");
  return same ? 0 : 1;
}
