// cFileIO: the data stream over a buffered C stream.
#include <cstdio>

#include "OS/host/stream.h"
#include "OS/internal/decimal.h"
#include "OS/internal/numparse.h"
#include "OS/internal/report.h"
#include "OS/osstorage.h"

namespace Korvane {

namespace {

constexpr char kUnit[] = ".\\osstorage";

char const* OrEmpty(char const* text) { return text != nullptr ? text : ""; }

bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsDigit(int c) { return c >= '0' && c <= '9'; }

}  // namespace

cFileIO::cFileIO() : _stream(nullptr) {}

cFileIO::cFileIO(cFileIO& other)
    : iDataIO(other), _fileName(other._fileName), _stream(other._stream), _status(other._status) {
  other._stream = nullptr;
}

cFileIO& cFileIO::operator=(cFileIO& other) {
  if (this == &other) return *this;
  // The target's own stream would otherwise be lost; the outcome of closing
  // it is replaced by the source's status anyway.
  if (_stream != nullptr) host::StreamClose(_stream);
  _fileName = other._fileName;
  _stream = other._stream;
  _status = other._status;
  other._stream = nullptr;
  return *this;
}

cFileIO::~cFileIO() {
  // A failure here would be recorded in a status nobody can read any more.
  if (_stream != nullptr) host::StreamClose(_stream);
}

bool cFileIO::Open(char const* path, char const* mode) {
  if (_stream != nullptr) Close();
  _status.Reset();
  std::FILE* stream = path != nullptr && mode != nullptr ? host::StreamOpen(path, mode) : nullptr;
  if (stream == nullptr)
    return KV_REPORT(&_status, 3, kUnit, "Files to open file [%s] with mode [%s]", OrEmpty(path), OrEmpty(mode));
  _stream = stream;
  _fileName = path;
  return true;
}

bool cFileIO::Close() {
  if (_stream == nullptr) return true;
  int result = host::StreamClose(_stream);
  _stream = nullptr;
  if (result != 0)
    return KV_REPORT(&_status, 3, kUnit, "Files to close file [%s]", static_cast<char const*>(_fileName));
  return true;
}

bool cFileIO::Ready() {
  if (_status.IsError()) return false;
  if (_stream == nullptr) return KV_REPORT(&_status, 3, kUnit, "No file opened");
  return true;
}

unsigned int cFileIO::Tell() {
  if (!Ready()) return 0;
  long long position = host::StreamTell(_stream);
  // A failing ftell gives -1, which callers see as 4294967295; so does a
  // position that 32 bits cannot address.
  if (position < 0 || position > 0xFFFFFFFFll) return 0xFFFFFFFFu;
  return static_cast<unsigned int>(position);
}

bool cFileIO::Seek(unsigned int position) {
  if (!Ready()) return false;
  if (host::StreamSeek(_stream, position) != 0)
    return KV_REPORT(&_status, 3, kUnit, "Failed to seek file [%s] into position %d",
                     static_cast<char const*>(_fileName), static_cast<int>(position));
  return true;
}

bool cFileIO::WriteBytes(unsigned int count, unsigned char const* bytes) {
  if (!Ready()) return false;
  if (count == 0) return true;
  if (bytes == nullptr || host::StreamWrite(_stream, bytes, count) < count)
    return KV_REPORT(&_status, 3, kUnit, "Failed to write [%d] bytes to file [%s]", static_cast<int>(count),
                     static_cast<char const*>(_fileName));
  return true;
}

bool cFileIO::WriteUlong(unsigned int value) {
  if (!Ready()) return false;
  char text[internal::kDecimalMax];
  auto length = static_cast<std::size_t>(internal::FormatUnsigned(value, text));
  if (host::StreamWrite(_stream, text, length) < length)
    return KV_REPORT(&_status, 3, kUnit, "Failed to write tUlong to file [%s]", static_cast<char const*>(_fileName));
  return true;
}

bool cFileIO::WriteLong(int value) {
  if (!Ready()) return false;
  char text[internal::kDecimalMax];
  auto length = static_cast<std::size_t>(internal::FormatSigned(value, text));
  if (host::StreamWrite(_stream, text, length) < length)
    return KV_REPORT(&_status, 3, kUnit, "Failed to write int to file [%s]", static_cast<char const*>(_fileName));
  return true;
}

bool cFileIO::WriteFlush() {
  if (!Ready()) return false;
  if (host::StreamFlush(_stream) != 0)
    return KV_REPORT(&_status, 3, kUnit, "Failed to flush data into file [%s]", static_cast<char const*>(_fileName));
  return true;
}

bool cFileIO::ReadBytes(unsigned int count, unsigned char* bytes) {
  if (!Ready()) return false;
  if (count == 0) return true;
  if (bytes == nullptr || host::StreamRead(_stream, bytes, count) < count)
    return KV_REPORT(&_status, 3, kUnit, "Failed to read %d bytes from file [%s]", static_cast<int>(count),
                     static_cast<char const*>(_fileName));
  return true;
}

// What fscanf's "%u" and "%d" read: white space skipped, an optional sign,
// then every digit; the byte after the number is given back (a lone sign is
// consumed, as the runtime does). The value clamps as a 32-bit long would.
bool cFileIO::ScanNumber(bool isSigned, unsigned int& value) {
  int c;
  do {
    c = host::StreamGetc(_stream);
  } while (IsSpace(c));
  if (c == EOF) return false;

  // Sign, at most 11 significant digits (already beyond 32 bits) and a NUL.
  char text[13];
  int n = 0;
  if (c == '+' || c == '-') {
    text[n++] = static_cast<char>(c);
    c = host::StreamGetc(_stream);
  }
  bool anyDigit = false;
  int significant = 0;
  for (; IsDigit(c); c = host::StreamGetc(_stream)) {
    anyDigit = true;
    if (significant == 0 && c == '0') continue;
    if (significant < 11) {  // more digits cannot change the clamped value
      text[n++] = static_cast<char>(c);
      ++significant;
    }
  }
  if (c != EOF) host::StreamUngetc(_stream, c);
  if (!anyDigit) return false;
  if (significant == 0) text[n++] = '0';
  text[n] = '\0';
  std::size_t used = 0;
  value = internal::ParseInt32(text, 10, isSigned, &used);
  return true;
}

bool cFileIO::ReadUlong(unsigned int& value) {
  if (!Ready()) return false;
  unsigned int read = 0;
  if (!ScanNumber(false, read))
    return KV_REPORT(&_status, 3, kUnit, "Failed to read tUlong from file [%s]", static_cast<char const*>(_fileName));
  value = read;
  return true;
}

bool cFileIO::ReadLong(int& value) {
  if (!Ready()) return false;
  unsigned int read = 0;
  if (!ScanNumber(true, read))
    return KV_REPORT(&_status, 3, kUnit, "Failed to read int from file [%s]", static_cast<char const*>(_fileName));
  value = static_cast<int>(read);
  return true;
}

bool cFileIO::IsEof() {
  if (_stream == nullptr) return KV_REPORT(&_status, 3, kUnit, "No file opened");
  return host::StreamEof(_stream);
}

}  // namespace Korvane
