// cMemoryIO: the data stream over an owned byte buffer.
#include <cstdint>
#include <cstring>

#include "OS/internal/decimal.h"
#include "OS/internal/numparse.h"
#include "OS/internal/report.h"
#include "OS/osstorage.h"

namespace Korvane {

namespace {

constexpr char kUnit[] = ".\\osstorage";

// The most bytes a number read takes: 10 digits and one more, so that a
// value beyond 32 bits is seen (and clamped) rather than cut.
constexpr unsigned int kNumberRun = 11;

}  // namespace

cMemoryIO::cMemoryIO() : _buffer(16), _position(0) {}

cMemoryIO::cMemoryIO(cMemoryIO& other) : iDataIO(other), _buffer(16), _position(0) {
  SetBuffer(other._buffer);
  _position = other._position;
  _status = other._status;
}

cMemoryIO& cMemoryIO::operator=(cMemoryIO& other) {
  if (this == &other) return *this;
  SetBuffer(other._buffer);
  _position = other._position;
  _status = other._status;
  return *this;
}

cMemoryIO::~cMemoryIO() = default;

void cMemoryIO::SetBuffer(cDataBuf& buffer) {
  if (&buffer != &_buffer) _buffer = buffer;
  _position = 0;
  _status.Reset();
}

void cMemoryIO::Reset() {
  _buffer.SetLength(0);
  _position = 0;
}

unsigned int cMemoryIO::Tell() { return _status.IsError() ? 0 : _position; }

bool cMemoryIO::Seek(unsigned int position) {
  if (_status.IsError()) return false;
  if (position > _buffer.GetLength())
    return KV_REPORT(&_status, 3, kUnit, "Failed to seek to position %d", static_cast<int>(position));
  _position = position;
  return true;
}

bool cMemoryIO::WriteBytes(unsigned int count, unsigned char const* bytes) {
  if (_status.IsError()) return false;
  if (count == 0) return true;
  if (bytes == nullptr || count > 0xFFFFFFFFu - _position) return false;
  unsigned int end = _position + count;
  if (end > _buffer.GetSize()) {
    // Bytes of the stream's own block would be left behind by the resize.
    unsigned char* block = _buffer;
    auto at = reinterpret_cast<std::uintptr_t>(bytes) - reinterpret_cast<std::uintptr_t>(block);
    bool own = block != nullptr && at < _buffer.GetSize();
    if (!_buffer.SetSize(end)) return false;
    if (own) bytes = static_cast<unsigned char*>(_buffer) + at;
  }
  unsigned char* data = _buffer;
  // The position can lie beyond the data only when the buffer was shrunk or
  // taken behind the stream's back; the gap then reads as zeros, never as
  // stale or uninitialised bytes.
  unsigned int length = _buffer.GetLength();
  if (_position > length) std::memset(data + length, 0, _position - length);
  std::memmove(data + _position, bytes, count);  // the bytes may be the stream's own
  if (end > _buffer.GetLength()) _buffer.SetLength(end);  // within the size: cannot fail
  _position = end;
  return true;
}

bool cMemoryIO::WriteUlong(unsigned int value) {
  char text[32];
  int length = internal::FormatUnsigned(value, text);
  return WriteBytes(static_cast<unsigned int>(length), reinterpret_cast<unsigned char const*>(text));
}

bool cMemoryIO::WriteLong(int value) {
  char text[32];
  int length = internal::FormatSigned(value, text);
  return WriteBytes(static_cast<unsigned int>(length), reinterpret_cast<unsigned char const*>(text));
}

bool cMemoryIO::WriteFlush() { return _status.IsNotError(); }

bool cMemoryIO::ReadBytes(unsigned int count, unsigned char* bytes) {
  if (_status.IsError()) return false;
  unsigned int length = _buffer.GetLength();
  if (_position > length || count > length - _position || (bytes == nullptr && count != 0))
    return KV_REPORT(&_status, 3, kUnit, "Failed to read %d bytes", static_cast<int>(count));
  if (count != 0) std::memmove(bytes, static_cast<unsigned char*>(_buffer) + _position, count);
  _position += count;
  return true;
}

bool cMemoryIO::ReadNumber(bool isSigned, unsigned int& value) {
  unsigned int length = _buffer.GetLength();
  unsigned int available = _position < length ? length - _position : 0;
  if (available == 0) return false;
  if (available > kNumberRun) available = kNumberRun;
  unsigned char const* at = static_cast<unsigned char*>(_buffer) + _position;

  char text[kNumberRun + 1];
  unsigned int n = 0;
  if (isSigned && at[0] == '-') text[n++] = '-';
  unsigned int first = n;
  while (n < available && at[n] >= '0' && at[n] <= '9') {
    text[n] = static_cast<char>(at[n]);
    ++n;
  }
  if (n == first) return false;
  text[n] = '\0';
  std::size_t used = 0;
  value = internal::ParseInt32(text, 10, isSigned, &used);
  _position += n;
  return true;
}

bool cMemoryIO::ReadUlong(unsigned int& value) {
  if (_status.IsError()) return false;
  if (!ReadNumber(false, value)) return KV_REPORT(&_status, 3, kUnit, "Failed to read tUlong");
  return true;
}

bool cMemoryIO::ReadLong(int& value) {
  if (_status.IsError()) return false;
  unsigned int read = 0;
  if (!ReadNumber(true, read)) return KV_REPORT(&_status, 3, kUnit, "Failed to read int");
  value = static_cast<int>(read);
  return true;
}

bool cMemoryIO::IsEof() { return _status.IsNotError() && _position == _buffer.GetLength(); }

}  // namespace Korvane
