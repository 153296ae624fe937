// A record format for cDataStorage, written the way a user of kv_Os writes
// one: records of raw bytes, each behind a text head with the body's size,
// separated by line feeds. Copy it as the template for a format of your own.
//
// The stream holds
//
//   KVREC1            the opening of the pass (WriteBegin / ReadBegin)
//   \n<size>\n:<body> one per record; the ':' only when the body is not empty
//   \n                the closing of the pass (WriteEnd), optional
//
// Why the ':': the storage skips delimiters (here line feeds, and zero bytes
// always) after a head, which would eat the first bytes of a body that
// starts with them. The guard is the last byte of the head, so the skip stops
// there; the first read of the body takes it.
//
// Read each non-empty body completely through ReadBytes (or the other body
// reads) before ending the record, so that the next head is where the
// storage looks for it.
#ifndef KV_EXAMPLES_LINERECORD_H
#define KV_EXAMPLES_LINERECORD_H

#include <OS/osstorage.h>

namespace example {

class cLineRecordFormat : public Korvane::cDataFormat {
 public:
  explicit cLineRecordFormat(Korvane::iDataIO* io = nullptr) { _io = io; }
  void SetIO(Korvane::iDataIO* io) { _io = io; }

  bool WriteBegin() override;
  bool WriteRecordHead(unsigned int size) override;
  // Body items: raw bytes, or numbers and strings as text with a closing
  // line feed, counted in the body's size (see SizeOf). A write beyond the
  // size the head announced fails.
  bool WriteBytes(unsigned int count, unsigned char const* bytes) override;
  bool WriteUlong(unsigned int value) override;
  bool WriteLong(int value) override;
  // The text must not hold a line feed.
  bool WriteString(char const* text) override;
  // The closing line feed, then a flush.
  bool WriteEnd() override;

  bool ReadBegin() override;
  bool ReadRecordHead(unsigned int& size) override;
  bool ReadBytes(unsigned int count, unsigned char* bytes) override;
  bool ReadUlong(unsigned int& value) override;
  bool ReadLong(int& value) override;
  bool ReadString(Korvane::cKV_String& text) override;
  // After the storage has reported the end: true when the stream is at its
  // end. On a file stream the end shows as a failed read, which this clears.
  bool ReadEnd() override;

  char const* GetDelims() override { return "\n"; }

  // Body bytes that the items take.
  static unsigned int SizeOf(unsigned int value);
  static unsigned int SizeOf(int value);
  static unsigned int SizeOf(char const* text);

  static constexpr char kMagic[] = "KVREC1";

 private:
  bool Put(char const* text, unsigned int count);
  bool TakeGuard();
  bool TakeLineFeed();

  unsigned int _left = 0;  // body bytes announced but not yet written or read
  bool _guard = false;     // the head's ':' is still on the stream
};

}  // namespace example

#endif
