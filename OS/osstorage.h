/// \file
/// Byte buffer, data streams and the framed record store: cDataBuf, the
/// stream interface iDataIO with its file (cFileIO) and memory (cMemoryIO)
/// implementations, and cDataFormat / cDataStorage.
#ifndef KV_OS_OSSTORAGE_H
#define KV_OS_OSSTORAGE_H

#include <cstdio>

#include "OS/osbase.h"
#include "OS/oserror.h"
#include "OS/osstring.h"

namespace Korvane {

/// A growable byte block that tells the bytes in use (length) from the bytes
/// allocated (size). The allocation grows to the next multiple of the block
/// size that holds what is asked for, never further, and the block comes from
/// malloc/realloc/free.
///
/// A block is never copied between buffers: the constructor from another
/// buffer and the assignment take it and leave the source empty (null, length
/// 0, size 0; its block size stays).
///
/// Choices of this library:
/// - A block size of 0 is treated as 1.
/// - A non-null block adopted with a count of 0 stays owned by the buffer:
///   the first growth resizes it with realloc and Clean, SetSize(0) and the
///   destructor release it, so it never leaks.
/// - A null block adopted with any count makes an empty buffer.
/// - AddSegment may append bytes of the buffer's own block.
/// - A size that cannot be expressed in 32 bits once rounded up, or an append
///   whose end passes 4 GiB, fails like a refused allocation.
/// A refused allocation returns false and leaves the buffer as it was.
class KV_OS_API cDataBuf {
 public:
  /// An empty buffer.
  /// \param blockSize the allocation granule.
  explicit cDataBuf(unsigned int blockSize = 16);
  /// Takes the source's block; the source is left empty.
  /// \param source the buffer whose block is taken.
  /// \param blockSize this buffer's allocation granule.
  cDataBuf(cDataBuf& source, unsigned int blockSize = 16);  // NOLINT: takes the block
  /// Adopts a block: length = size = count.
  /// \param count the bytes in the block.
  /// \param block a block from malloc, now owned by the buffer; null makes
  ///   an empty buffer.
  /// \param blockSize the allocation granule.
  cDataBuf(unsigned int count, unsigned char* block, unsigned int blockSize = 16);
  /// Releases the block.
  virtual ~cDataBuf();

  /// Releases this buffer's block and takes the source's, leaving the source
  /// empty; assigning a buffer to itself changes nothing. The block size
  /// stays.
  /// \param source the buffer whose block is taken.
  /// \return this buffer.
  cDataBuf& operator=(cDataBuf& source);

  /// Releases the block: length and size 0.
  void Clean();
  /// Resizes the allocation; shrinking cuts the length.
  /// \param size the bytes wanted, rounded up to the block size; 0 releases
  ///   the block.
  /// \return false, the buffer unchanged, when the allocation is refused.
  bool SetSize(unsigned int size);
  /// Sets the bytes in use, growing the allocation when needed; newly
  /// counted bytes keep whatever they held.
  /// \param length the bytes in use.
  /// \return false, the buffer unchanged, when the allocation is refused.
  bool SetLength(unsigned int length);
  /// Appends bytes after those in use; they may come from this buffer's own
  /// block.
  /// \param bytes the bytes.
  /// \param count their number.
  /// \return false, the buffer unchanged, when the allocation is refused.
  bool AddSegment(unsigned char const* bytes, unsigned int count);

  /// \return the bytes allocated.
  unsigned int GetSize() const { return _size; }
  /// \return the bytes in use.
  unsigned int GetLength() const { return _length; }
  /// One byte, with no bounds check.
  /// \param index the position.
  /// \return the byte, writable.
  unsigned char& At(int index) { return _data[index]; }
  /// One byte, with no bounds check.
  /// \param index the position.
  /// \return the byte, writable.
  unsigned char& operator[](int index) { return _data[index]; }
  /// \return the block; null when there is none.
  operator unsigned char*() { return _data; }               // NOLINT: implicit by design
  /// \return the block; null when there is none.
  operator unsigned char const*() const { return _data; }   // NOLINT: implicit by design

 private:
  unsigned char* _data;
  unsigned int _blockSize;
  unsigned int _length;
  unsigned int _size;
};

/// A sequential reader and writer of bytes and decimal 32-bit numbers.
///
/// Every stream keeps a status record. The first failure fills it (code 3,
/// unit ".\osstorage"); from then on every operation but GetStatus (and
/// cFileIO::IsEof, cFileIO::Close) fails at once without touching the data,
/// until the record is cleared with GetStatus().Reset(), cFileIO::Open or
/// cMemoryIO::SetBuffer.
///
/// Numbers are written as bare decimal digits (a leading '-' for negative
/// values): no separator, so whoever writes two numbers writes a delimiter
/// between them.
class KV_OS_API iDataIO {
 public:
  /// Establishes the interface only.
  iDataIO() {}
  /// Establishes the interface only.
  iDataIO(iDataIO const&) {}
  /// Does nothing.
  /// \return this stream.
  iDataIO& operator=(iDataIO const&) { return *this; }
  /// Does nothing.
  virtual ~iDataIO();

  /// \return the position from the start; 0 when the status holds a
  ///   failure.
  virtual unsigned int Tell() = 0;
  /// Moves the position.
  /// \param position the position from the start.
  /// \return whether it succeeded.
  virtual bool Seek(unsigned int position) = 0;
  /// Writes bytes.
  /// \param count the number of bytes.
  /// \param bytes the bytes.
  /// \return whether all were written.
  virtual bool WriteBytes(unsigned int count, unsigned char const* bytes) = 0;
  /// Writes an unsigned number as decimal digits.
  /// \param value the number.
  /// \return whether it was written.
  virtual bool WriteUlong(unsigned int value) = 0;
  /// Writes a signed number as decimal digits.
  /// \param value the number.
  /// \return whether it was written.
  virtual bool WriteLong(int value) = 0;
  /// Pushes buffered data to the underlying storage.
  /// \return whether it succeeded.
  virtual bool WriteFlush() = 0;
  /// Reads exactly `count` bytes or fails.
  /// \param count the number of bytes.
  /// \param bytes where they go.
  /// \return whether all were read.
  virtual bool ReadBytes(unsigned int count, unsigned char* bytes) = 0;
  /// Reads an unsigned decimal number.
  /// \param value gets the number.
  /// \return whether one was read.
  virtual bool ReadUlong(unsigned int& value) = 0;
  /// Reads a signed decimal number.
  /// \param value gets the number.
  /// \return whether one was read.
  virtual bool ReadLong(int& value) = 0;
  /// \return whether the end of the data is reached.
  virtual bool IsEof() = 0;
  /// \return the status record: the first failure since it was last
  ///   cleared, or no error.
  virtual cKV_Error& GetStatus() = 0;
};

/// A data stream over a buffered C stream opened by path and mode.
///
/// - The file is always opened close-on-exec, whatever mode is given.
/// - Reading numbers skips leading white space and accepts a sign, as fscanf
///   does; out-of-range numbers clamp to the 32-bit limits (unsigned: like a
///   32-bit strtoul, so "-1" reads as 4294967295).
/// - IsEof is true only after a read has tried to go past the end.
/// - Positions are 32-bit: Seek reaches any position below 4 GiB; Tell
///   returns 4294967295 for a position at or beyond 4 GiB (as for a failing
///   ftell), without recording anything.
/// - Copying hands the stream over: the copy (or the assigned-to object) gets
///   the file name, the status and the open stream, and the source is left
///   with no open file. So no stream is ever closed twice. An assignment first
///   closes the target's own stream.
class KV_OS_API cFileIO : public iDataIO {
 public:
  /// A stream with no open file.
  cFileIO();
  /// Takes the other's file name, status and open stream; the other is left
  /// with no open file.
  /// \param other the stream handed over.
  cFileIO(cFileIO& other);  // NOLINT: hands the stream over
  /// Closes this stream's own file, then takes the other's file name, status
  /// and open stream; the other is left with no open file.
  /// \param other the stream handed over.
  /// \return this stream.
  cFileIO& operator=(cFileIO& other);
  /// Closes the file.
  ~cFileIO() override;

  /// Opens a file, closing an open one first, and clears the status.
  /// \param path the file.
  /// \param mode the fopen mode, such as "rb" or "w+b".
  /// \return whether it opened; on failure the status holds "Files to open
  ///   file [%s] with mode [%s]".
  bool Open(char const* path, char const* mode);
  /// Closes the file. The stream is gone afterwards, even when closing it
  /// failed.
  /// \return true when nothing is open; false, with "Files to close file
  ///   [%s]" in the status, when closing failed.
  bool Close();

  /// \return the position; 4294967295 at or beyond 4 GiB.
  unsigned int Tell() override;
  /// \param position the position from the start, below 4 GiB.
  /// \return whether it succeeded.
  bool Seek(unsigned int position) override;
  /// \param count the number of bytes.
  /// \param bytes the bytes.
  /// \return whether all were written.
  bool WriteBytes(unsigned int count, unsigned char const* bytes) override;
  /// \param value the number.
  /// \return whether it was written.
  bool WriteUlong(unsigned int value) override;
  /// \param value the number.
  /// \return whether it was written.
  bool WriteLong(int value) override;
  /// \return whether the C stream's buffer was flushed.
  bool WriteFlush() override;
  /// \param count the number of bytes.
  /// \param bytes where they go.
  /// \return whether all were read.
  bool ReadBytes(unsigned int count, unsigned char* bytes) override;
  /// \param value gets the number.
  /// \return whether one was read.
  bool ReadUlong(unsigned int& value) override;
  /// \param value gets the number.
  /// \return whether one was read.
  bool ReadLong(int& value) override;
  /// \return whether a read has tried to go past the end; false, recorded,
  ///   when no file is open.
  bool IsEof() override;
  /// \return the status record.
  cKV_Error& GetStatus() override { return _status; }

 private:
  bool Ready();
  bool ScanNumber(bool isSigned, unsigned int& value);

  cKV_String _fileName;
  std::FILE* _stream;
  cKV_Error _status;
};

/// A data stream over an owned cDataBuf (block size 16); the buffer's length
/// is the end of the data, and writing in the middle overwrites.
///
/// - Reading numbers takes at most 11 bytes (digits, for ReadLong after an
///   optional leading '-') and skips no white space; out-of-range values
///   clamp to the 32-bit limits.
/// - A write that cannot grow the buffer (memory refused, or an end beyond
///   4 GiB) returns false without recording a failure; a null `bytes` with a
///   non-zero count is refused the same way. The bytes written may come from
///   the stream's own buffer.
/// - Copying takes the source's block as SetBuffer does, and copies its
///   position and status; the source keeps its position over an empty buffer.
class KV_OS_API cMemoryIO : public iDataIO {
 public:
  /// An empty stream.
  cMemoryIO();
  /// Takes the other's block, position and status; the other keeps its
  /// position over an empty buffer.
  /// \param other the stream whose block is taken.
  cMemoryIO(cMemoryIO& other);  // NOLINT: takes the block
  /// Takes the other's block, position and status; the other keeps its
  /// position over an empty buffer.
  /// \param other the stream whose block is taken.
  /// \return this stream.
  cMemoryIO& operator=(cMemoryIO& other);
  /// Releases the buffer.
  ~cMemoryIO() override;

  /// Takes a buffer's block (unless it is this stream's own buffer), then
  /// rewinds to 0 and clears the status.
  /// \param buffer the buffer, left empty.
  void SetBuffer(cDataBuf& buffer);
  /// \return the stream's own buffer; its length is the end of the data.
  cDataBuf& GetBuffer() { return _buffer; }
  /// Empties the data but keeps the allocation; the status stays.
  void Reset();

  /// \return the position; 0 when the status holds a failure.
  unsigned int Tell() override;
  /// \param position a position up to the length of the data.
  /// \return false, recorded, beyond the length.
  bool Seek(unsigned int position) override;
  /// \param count the number of bytes.
  /// \param bytes the bytes; they may come from this stream's own buffer.
  /// \return whether they were written.
  bool WriteBytes(unsigned int count, unsigned char const* bytes) override;
  /// \param value the number.
  /// \return whether it was written.
  bool WriteUlong(unsigned int value) override;
  /// \param value the number.
  /// \return whether it was written.
  bool WriteLong(int value) override;
  /// Nothing to push.
  /// \return whether the status is clear.
  bool WriteFlush() override;
  /// \param count the number of bytes.
  /// \param bytes where they go.
  /// \return false, recorded and nothing copied, when fewer are left.
  bool ReadBytes(unsigned int count, unsigned char* bytes) override;
  /// \param value gets the number.
  /// \return whether one was read.
  bool ReadUlong(unsigned int& value) override;
  /// \param value gets the number.
  /// \return whether one was read.
  bool ReadLong(int& value) override;
  /// \return whether the position is at the end of the data; false when the
  ///   status holds a failure.
  bool IsEof() override;
  /// \return the status record.
  cKV_Error& GetStatus() override { return _status; }

 private:
  bool ReadNumber(bool isSigned, unsigned int& value);

  cDataBuf _buffer;
  unsigned int _position;
  cKV_Error _status;
};

/// A record format: a concrete syntax bound to a stream. Users derive from it
/// and set `_io`; the library supplies only the skipping of delimiters.
///
/// The operations marked "format's own" are never called by the library:
/// they are the vocabulary through which callers read and write record bodies
/// and close a pass with a concrete format.
class KV_OS_API cDataFormat {
 public:
  /// A format without a stream.
  cDataFormat() : _io(nullptr) {}
  /// Copies the stream pointer.
  /// \param other the format copied.
  cDataFormat(cDataFormat const& other) = default;
  /// Copies the stream pointer.
  /// \param other the format copied.
  /// \return this format.
  cDataFormat& operator=(cDataFormat const& other) = default;
  /// Does nothing; the stream is not owned.
  virtual ~cDataFormat();

  /// Writes the head of a record.
  /// \param size the bytes of the body that follows.
  /// \return whether it was written.
  virtual bool WriteRecordHead(unsigned int size) = 0;
  /// Format's own: writes body bytes.
  /// \param count the number of bytes.
  /// \param bytes the bytes.
  /// \return whether they were written.
  virtual bool WriteBytes(unsigned int count, unsigned char const* bytes) = 0;
  /// Format's own: writes an unsigned number of a body.
  /// \param value the number.
  /// \return whether it was written.
  virtual bool WriteUlong(unsigned int value) = 0;
  /// Format's own: writes a signed number of a body.
  /// \param value the number.
  /// \return whether it was written.
  virtual bool WriteLong(int value) = 0;
  /// Format's own: writes a text of a body.
  /// \param text the text.
  /// \return whether it was written.
  virtual bool WriteString(char const* text) = 0;
  /// Format's own: closes a write pass.
  /// \return whether it succeeded.
  virtual bool WriteEnd() = 0;
  /// Reads a record head.
  /// \param size gets the bytes of the body that follows.
  /// \return whether a head was read.
  virtual bool ReadRecordHead(unsigned int& size) = 0;
  /// Format's own: reads body bytes.
  /// \param count the number of bytes.
  /// \param bytes where they go.
  /// \return whether they were read.
  virtual bool ReadBytes(unsigned int count, unsigned char* bytes) = 0;
  /// Format's own: reads an unsigned number of a body.
  /// \param value gets the number.
  /// \return whether one was read.
  virtual bool ReadUlong(unsigned int& value) = 0;
  /// Format's own: reads a signed number of a body.
  /// \param value gets the number.
  /// \return whether one was read.
  virtual bool ReadLong(int& value) = 0;
  /// Format's own: reads a text of a body.
  /// \param text gets the text.
  /// \return whether one was read.
  virtual bool ReadString(cKV_String& text) = 0;
  /// Format's own: closes a read pass.
  /// \return whether it succeeded.
  virtual bool ReadEnd() = 0;
  /// Skips delimiter bytes (and zero bytes, which always count as
  /// delimiters), leaving the stream at the first other byte or at its end.
  /// The stream must be seekable: the first other byte is given back by
  /// seeking.
  /// \return false without a stream, or when a read or the seek back fails.
  virtual bool ReadDelims();
  /// Writes the opening of a write pass, before the first record.
  /// \return whether it was written.
  virtual bool WriteBegin() = 0;
  /// Reads the opening of a read pass.
  /// \return whether it was read.
  virtual bool ReadBegin() = 0;
  /// \return the delimiter characters, zero-terminated.
  virtual char const* GetDelims() = 0;

  /// \return the format's stream, or null.
  iDataIO* GetIO() { return _io; }

 protected:
  /// The stream the format reads and writes; not owned.
  iDataIO* _io;  // not owned
};

/// Runs a read or a write pass of framed records over a format's stream. It
/// records nothing itself: when an operation fails, the reason (if any) is in
/// the stream's status.
///
/// Without a format (or a format without a stream), Begin and every
/// operation that touches the stream return false.
class KV_OS_API cDataStorage {
 public:
  /// The direction of a pass. Any int is a mode; all but eWrite take the
  /// read path of Begin.
  enum eMode : int {
    /// A read pass.
    eRead = 0,
    /// A write pass.
    eWrite = 1
  };

  /// A read pass without a format.
  cDataStorage() : _mode(eRead), _format(nullptr), _recordStart(0) {}
  /// A pass over a format's stream.
  /// \param mode the direction.
  /// \param format the record format, not owned.
  cDataStorage(eMode mode, cDataFormat* format) : _mode(mode), _format(format), _recordStart(0) {}
  /// Copies mode, format and record start.
  /// \param other the storage copied.
  cDataStorage(cDataStorage const& other) = default;
  /// Copies mode, format and record start.
  /// \param other the storage copied.
  /// \return this storage.
  cDataStorage& operator=(cDataStorage const& other) = default;
  /// Does nothing; the format is not owned.
  virtual ~cDataStorage();

  /// Sets mode and format; the record start stays.
  /// \param mode the direction.
  /// \param format the record format, not owned.
  void SetFormat(eMode mode, cDataFormat* format) {
    _mode = mode;
    _format = format;
  }

  /// Opens the pass: in write mode the format's WriteBegin, then a flush; in
  /// any other mode the format's ReadBegin.
  /// \return the result of those.
  bool Begin();
  /// Closes the pass; nothing is flushed or closed.
  /// \return true.
  bool End() { return true; }

  /// Begins reading a record: remembers the position, skips delimiters and
  /// reads the head, then the delimiters after it.
  /// \param size gets the body's size; 4294967295 when only delimiters are
  ///   left.
  /// \param format gets the storage's format, through which the caller
  ///   reads the body; null when only delimiters are left.
  /// \return false outside read mode or when the head cannot be read.
  bool ReadRecordBegin(unsigned int& size, cDataFormat*& format);
  /// Ends reading a record whose body the caller has consumed.
  /// \return true in read mode, false otherwise.
  bool ReadRecordEnd() { return _mode == eRead; }
  /// Rewinds to before the record last begun, so that it is read again.
  /// \return false outside read mode or when the stream cannot seek there.
  bool ReadRecordCancel();
  /// Begins writing a record by writing its head.
  /// \param size the bytes of the body that follows.
  /// \param format gets the storage's format, through which the caller may
  ///   write the body.
  /// \return false outside write mode or when the head cannot be written.
  bool WriteRecordBegin(unsigned int size, cDataFormat*& format);
  /// Writes the body bytes straight to the stream.
  /// \param size the number of bytes; 0 writes nothing.
  /// \param data the bytes; null writes nothing.
  /// \return false outside write mode or when the bytes cannot be written.
  bool WriteRecordEnd(unsigned int size, unsigned char const* data);

 private:
  iDataIO* Stream() const { return _format != nullptr ? _format->GetIO() : nullptr; }

  eMode _mode;
  cDataFormat* _format;
  unsigned int _recordStart;
};

}  // namespace Korvane

#endif
