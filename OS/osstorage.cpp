#include "OS/osstorage.h"

#include <cstdint>
#include <cstring>

#include "OS/host/memory.h"

namespace Korvane {

// ---------------------------------------------------------------- cDataBuf

cDataBuf::cDataBuf(unsigned int blockSize) : _data(nullptr), _blockSize(blockSize), _length(0), _size(0) {}

cDataBuf::cDataBuf(cDataBuf& source, unsigned int blockSize)
    : _data(source._data), _blockSize(blockSize), _length(source._length), _size(source._size) {
  source._data = nullptr;
  source._length = 0;
  source._size = 0;
}

// A null block holds nothing, whatever the count says: counting bytes that do
// not exist would send readers to address 0.
cDataBuf::cDataBuf(unsigned int count, unsigned char* block, unsigned int blockSize)
    : _data(block),
      _blockSize(blockSize),
      _length(block != nullptr ? count : 0),
      _size(block != nullptr ? count : 0) {}

cDataBuf::~cDataBuf() {
  if (_data != nullptr) host::Free(_data);
}

cDataBuf& cDataBuf::operator=(cDataBuf& source) {
  if (this == &source) return *this;
  if (_data != nullptr) host::Free(_data);
  _data = source._data;
  _length = source._length;
  _size = source._size;
  source._data = nullptr;
  source._length = 0;
  source._size = 0;
  return *this;
}

void cDataBuf::Clean() {
  if (_data != nullptr) host::Free(_data);
  _data = nullptr;
  _length = 0;
  _size = 0;
}

bool cDataBuf::SetSize(unsigned int size) {
  std::uint64_t block = _blockSize != 0 ? _blockSize : 1;
  std::uint64_t rounded = (size + block - 1) / block * block;
  if (rounded > 0xFFFFFFFFu) return false;
  auto r = static_cast<unsigned int>(rounded);

  // An adopted block with a count of 0 has size 0 but is still ours: it
  // takes the resizing path below, so it is never lost.
  if (_size == 0 && _data == nullptr) {
    if (r == 0) return true;
    auto* block = static_cast<unsigned char*>(host::Malloc(r));
    if (block == nullptr) return false;
    _data = block;
    _size = r;
    return true;
  }
  if (r == 0) {
    host::Free(_data);
    _data = nullptr;
  } else {
    auto* block = static_cast<unsigned char*>(host::Realloc(_data, r));
    if (block == nullptr) return false;
    _data = block;
  }
  _size = r;
  if (_length > r) _length = r;
  return true;
}

bool cDataBuf::SetLength(unsigned int length) {
  if (length <= _size) {
    _length = length;
    return true;
  }
  if (!SetSize(length)) return false;
  _length = length;
  return true;
}

bool cDataBuf::AddSegment(unsigned char const* bytes, unsigned int count) {
  if (count == 0) return true;
  if (bytes == nullptr || count > 0xFFFFFFFFu - _length) return false;
  if (_length + count > _size) {
    // Bytes of this very block would be left behind by the resize.
    auto at = reinterpret_cast<std::uintptr_t>(bytes) - reinterpret_cast<std::uintptr_t>(_data);
    bool own = _data != nullptr && at < _size;
    if (!SetSize(_length + count)) return false;
    if (own) bytes = _data + at;
  }
  std::memmove(_data + _length, bytes, count);
  _length += count;
  return true;
}

// ---------------------------------------------------------------- iDataIO

iDataIO::~iDataIO() = default;

// ------------------------------------------------------------- cDataFormat

cDataFormat::~cDataFormat() = default;

bool cDataFormat::ReadDelims() {
  if (_io == nullptr) return false;
  char const* delims = GetDelims();
  unsigned int start = _io->Tell();
  unsigned int skipped = 0;
  if (_io->IsEof()) return true;
  for (;;) {
    unsigned char byte = 0;
    if (!_io->ReadBytes(1, &byte)) return false;
    // A zero byte matches the delimiter string's terminator: it always
    // counts as a delimiter.
    bool isDelim = byte == 0 || (delims != nullptr && std::strchr(delims, byte) != nullptr);
    if (!isDelim) return _io->Seek(start + skipped);
    ++skipped;
    if (_io->IsEof()) return true;
  }
}

// ------------------------------------------------------------ cDataStorage

cDataStorage::~cDataStorage() = default;

bool cDataStorage::Begin() {
  if (Stream() == nullptr) return false;
  if (_mode == eWrite) {
    if (!_format->WriteBegin()) return false;
    return Stream()->WriteFlush();
  }
  return _format->ReadBegin();
}

bool cDataStorage::ReadRecordBegin(unsigned int& size, cDataFormat*& format) {
  iDataIO* io = Stream();
  if (_mode != eRead || io == nullptr) return false;
  _recordStart = io->Tell();
  _format->ReadDelims();
  if (io->IsEof()) {
    size = 0xFFFFFFFFu;
    format = nullptr;
    return true;
  }
  if (!_format->ReadRecordHead(size)) return false;
  _format->ReadDelims();
  format = _format;
  return true;
}

bool cDataStorage::ReadRecordCancel() {
  iDataIO* io = Stream();
  if (_mode != eRead || io == nullptr) return false;
  return io->Seek(_recordStart);
}

bool cDataStorage::WriteRecordBegin(unsigned int size, cDataFormat*& format) {
  if (_mode != eWrite || Stream() == nullptr) return false;
  if (!_format->WriteRecordHead(size)) return false;
  format = _format;
  return true;
}

bool cDataStorage::WriteRecordEnd(unsigned int size, unsigned char const* data) {
  iDataIO* io = Stream();
  if (_mode != eWrite || io == nullptr) return false;
  if (size == 0 || data == nullptr) return true;
  return io->WriteBytes(size, data);
}

}  // namespace Korvane
