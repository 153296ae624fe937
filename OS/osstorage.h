// Byte buffer, data streams and the framed record store: cDataBuf, the
// stream interface iDataIO with its file (cFileIO) and memory (cMemoryIO)
// implementations, and cDataFormat / cDataStorage.
#ifndef KV_OS_OSSTORAGE_H
#define KV_OS_OSSTORAGE_H

#include <cstdio>

#include "OS/osbase.h"
#include "OS/oserror.h"
#include "OS/osstring.h"

namespace Korvane {

// A growable byte block that tells the bytes in use (length) from the bytes
// allocated (size). The allocation grows to the next multiple of the block
// size that holds what is asked for, never further, and the block comes from
// malloc/realloc/free.
//
// A block is never copied between buffers: the constructor from another
// buffer and the assignment take it and leave the source empty (null, length
// 0, size 0; its block size stays).
//
// Choices of this library:
// - A block size of 0 is treated as 1.
// - A non-null block adopted with a count of 0 stays owned by the buffer:
//   the first growth resizes it with realloc and Clean, SetSize(0) and the
//   destructor release it, so it never leaks.
// - A null block adopted with any count makes an empty buffer.
// - AddSegment may append bytes of the buffer's own block.
// - A size that cannot be expressed in 32 bits once rounded up, or an append
//   whose end passes 4 GiB, fails like a refused allocation.
// A refused allocation returns false and leaves the buffer as it was.
class KV_OS_API cDataBuf {
 public:
  explicit cDataBuf(unsigned int blockSize = 16);
  cDataBuf(cDataBuf& source, unsigned int blockSize = 16);  // NOLINT: takes the block
  // Adopts `block` (from malloc): length = size = count.
  cDataBuf(unsigned int count, unsigned char* block, unsigned int blockSize = 16);
  virtual ~cDataBuf();

  // Takes the source's block; assigning a buffer to itself changes nothing.
  cDataBuf& operator=(cDataBuf& source);

  void Clean();
  // Resizes the allocation to `size` rounded up to the block size; shrinking
  // cuts the length. SetSize(0) releases the block.
  bool SetSize(unsigned int size);
  // Newly counted bytes keep whatever they held.
  bool SetLength(unsigned int length);
  bool AddSegment(unsigned char const* bytes, unsigned int count);

  unsigned int GetSize() const { return _size; }
  unsigned int GetLength() const { return _length; }
  // No bounds check.
  unsigned char& At(int index) { return _data[index]; }
  unsigned char& operator[](int index) { return _data[index]; }
  operator unsigned char*() { return _data; }               // NOLINT: implicit by design
  operator unsigned char const*() const { return _data; }   // NOLINT: implicit by design

 private:
  unsigned char* _data;
  unsigned int _blockSize;
  unsigned int _length;
  unsigned int _size;
};

// A sequential reader and writer of bytes and decimal 32-bit numbers.
//
// Every stream keeps a status record. The first failure fills it (code 3,
// unit ".\osstorage"); from then on every operation but GetStatus (and
// cFileIO::IsEof, cFileIO::Close) fails at once without touching the data,
// until the record is cleared with GetStatus().Reset(), cFileIO::Open or
// cMemoryIO::SetBuffer.
//
// Numbers are written as bare decimal digits (a leading '-' for negative
// values): no separator, so whoever writes two numbers writes a delimiter
// between them.
class KV_OS_API iDataIO {
 public:
  iDataIO() {}
  iDataIO(iDataIO const&) {}
  iDataIO& operator=(iDataIO const&) { return *this; }
  virtual ~iDataIO();

  virtual unsigned int Tell() = 0;
  virtual bool Seek(unsigned int position) = 0;
  virtual bool WriteBytes(unsigned int count, unsigned char const* bytes) = 0;
  virtual bool WriteUlong(unsigned int value) = 0;
  virtual bool WriteLong(int value) = 0;
  virtual bool WriteFlush() = 0;
  // Reads exactly `count` bytes or fails.
  virtual bool ReadBytes(unsigned int count, unsigned char* bytes) = 0;
  virtual bool ReadUlong(unsigned int& value) = 0;
  virtual bool ReadLong(int& value) = 0;
  virtual bool IsEof() = 0;
  virtual cKV_Error& GetStatus() = 0;
};

// A data stream over a buffered C stream opened by path and mode.
//
// - The file is always opened close-on-exec, whatever mode is given.
// - Reading numbers skips leading white space and accepts a sign, as fscanf
//   does; out-of-range numbers clamp to the 32-bit limits (unsigned: like a
//   32-bit strtoul, so "-1" reads as 4294967295).
// - IsEof is true only after a read has tried to go past the end.
// - Positions are 32-bit: Seek reaches any position below 4 GiB; Tell
//   returns 4294967295 for a position at or beyond 4 GiB (as for a failing
//   ftell), without recording anything.
// - Copying hands the stream over: the copy (or the assigned-to object) gets
//   the file name, the status and the open stream, and the source is left
//   with no open file. So no stream is ever closed twice. An assignment first
//   closes the target's own stream.
class KV_OS_API cFileIO : public iDataIO {
 public:
  cFileIO();
  cFileIO(cFileIO& other);  // NOLINT: hands the stream over
  cFileIO& operator=(cFileIO& other);
  ~cFileIO() override;

  bool Open(char const* path, char const* mode);
  // True when nothing is open. The stream is gone afterwards, even when
  // closing it failed.
  bool Close();

  unsigned int Tell() override;
  bool Seek(unsigned int position) override;
  bool WriteBytes(unsigned int count, unsigned char const* bytes) override;
  bool WriteUlong(unsigned int value) override;
  bool WriteLong(int value) override;
  bool WriteFlush() override;
  bool ReadBytes(unsigned int count, unsigned char* bytes) override;
  bool ReadUlong(unsigned int& value) override;
  bool ReadLong(int& value) override;
  bool IsEof() override;
  cKV_Error& GetStatus() override { return _status; }

 private:
  bool Ready();
  bool ScanNumber(bool isSigned, unsigned int& value);

  cKV_String _fileName;
  std::FILE* _stream;
  cKV_Error _status;
};

// A data stream over an owned cDataBuf (block size 16); the buffer's length
// is the end of the data, and writing in the middle overwrites.
//
// - Reading numbers takes at most 11 bytes (digits, for ReadLong after an
//   optional leading '-') and skips no white space; out-of-range values
//   clamp to the 32-bit limits.
// - A write that cannot grow the buffer (memory refused, or an end beyond
//   4 GiB) returns false without recording a failure; a null `bytes` with a
//   non-zero count is refused the same way. The bytes written may come from
//   the stream's own buffer.
// - Copying takes the source's block as SetBuffer does, and copies its
//   position and status; the source keeps its position over an empty buffer.
class KV_OS_API cMemoryIO : public iDataIO {
 public:
  cMemoryIO();
  cMemoryIO(cMemoryIO& other);  // NOLINT: takes the block
  cMemoryIO& operator=(cMemoryIO& other);
  ~cMemoryIO() override;

  // Takes the buffer's block (unless it is this stream's own buffer), then
  // rewinds to 0 and clears the status.
  void SetBuffer(cDataBuf& buffer);
  cDataBuf& GetBuffer() { return _buffer; }
  // Empties the data but keeps the allocation; the status stays.
  void Reset();

  unsigned int Tell() override;
  bool Seek(unsigned int position) override;
  bool WriteBytes(unsigned int count, unsigned char const* bytes) override;
  bool WriteUlong(unsigned int value) override;
  bool WriteLong(int value) override;
  bool WriteFlush() override;
  bool ReadBytes(unsigned int count, unsigned char* bytes) override;
  bool ReadUlong(unsigned int& value) override;
  bool ReadLong(int& value) override;
  bool IsEof() override;
  cKV_Error& GetStatus() override { return _status; }

 private:
  bool ReadNumber(bool isSigned, unsigned int& value);

  cDataBuf _buffer;
  unsigned int _position;
  cKV_Error _status;
};

// A record format: a concrete syntax bound to a stream. Users derive from it
// and set `_io`; the library supplies only the skipping of delimiters.
//
// The operations marked "format's own" are never called by the library:
// they are the vocabulary through which callers read and write record bodies
// and close a pass with a concrete format.
class KV_OS_API cDataFormat {
 public:
  cDataFormat() : _io(nullptr) {}
  cDataFormat(cDataFormat const& other) = default;
  cDataFormat& operator=(cDataFormat const& other) = default;
  virtual ~cDataFormat();

  // Writes the head of a record whose body has `size` bytes.
  virtual bool WriteRecordHead(unsigned int size) = 0;
  // Format's own: body items and the closing of a write pass.
  virtual bool WriteBytes(unsigned int count, unsigned char const* bytes) = 0;
  virtual bool WriteUlong(unsigned int value) = 0;
  virtual bool WriteLong(int value) = 0;
  virtual bool WriteString(char const* text) = 0;
  virtual bool WriteEnd() = 0;
  // Reads a record head and yields the body's size.
  virtual bool ReadRecordHead(unsigned int& size) = 0;
  // Format's own: body items and the closing of a read pass.
  virtual bool ReadBytes(unsigned int count, unsigned char* bytes) = 0;
  virtual bool ReadUlong(unsigned int& value) = 0;
  virtual bool ReadLong(int& value) = 0;
  virtual bool ReadString(cKV_String& text) = 0;
  virtual bool ReadEnd() = 0;
  // Skips delimiter bytes (and zero bytes, which always count as
  // delimiters), leaving the stream at the first other byte or at its end.
  // The stream must be seekable: the first other byte is given back by
  // seeking.
  virtual bool ReadDelims();
  // The opening of a write pass, written before the first record.
  virtual bool WriteBegin() = 0;
  // Reads the opening of a read pass.
  virtual bool ReadBegin() = 0;
  // The delimiter characters, zero-terminated.
  virtual char const* GetDelims() = 0;

  iDataIO* GetIO() { return _io; }

 protected:
  iDataIO* _io;  // not owned
};

// Runs a read or a write pass of framed records over a format's stream. It
// records nothing itself: when an operation fails, the reason (if any) is in
// the stream's status.
//
// Without a format (or a format without a stream), Begin and every
// operation that touches the stream return false.
class KV_OS_API cDataStorage {
 public:
  // Any int is a mode; all but eWrite take the read path of Begin.
  enum eMode : int { eRead = 0, eWrite = 1 };

  cDataStorage() : _mode(eRead), _format(nullptr), _recordStart(0) {}
  cDataStorage(eMode mode, cDataFormat* format) : _mode(mode), _format(format), _recordStart(0) {}
  cDataStorage(cDataStorage const& other) = default;
  cDataStorage& operator=(cDataStorage const& other) = default;
  virtual ~cDataStorage();

  void SetFormat(eMode mode, cDataFormat* format) {
    _mode = mode;
    _format = format;
  }

  // Write mode: the format's WriteBegin, then a flush. Any other mode: the
  // format's ReadBegin.
  bool Begin();
  bool End() { return true; }

  // True with `format` null and `size` 4294967295 when only delimiters are
  // left; true with the storage's format when a record head was read.
  bool ReadRecordBegin(unsigned int& size, cDataFormat*& format);
  bool ReadRecordEnd() { return _mode == eRead; }
  // Rewinds to before the record last begun, so that it is read again.
  bool ReadRecordCancel();
  bool WriteRecordBegin(unsigned int size, cDataFormat*& format);
  // Writes the body bytes straight to the stream; nothing for a size of 0 or
  // null data.
  bool WriteRecordEnd(unsigned int size, unsigned char const* data);

 private:
  iDataIO* Stream() const { return _format != nullptr ? _format->GetIO() : nullptr; }

  eMode _mode;
  cDataFormat* _format;
  unsigned int _recordStart;
};

}  // namespace Korvane

#endif
