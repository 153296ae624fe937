// Text helpers of the file unit.
#ifndef KV_OS_INTERNAL_IOTEXT_H
#define KV_OS_INTERNAL_IOTEXT_H

#include <cstddef>

#include "OS/osstring.h"

namespace Korvane::internal {

// A writable block of at least size + 1 bytes in `text` (size > 0), or null
// when memory cannot be obtained; GetBuffer alone does not tell.
inline char* ReserveText(cKV_String& text, unsigned int size) {
  char* before = text.GetBuffer(0);
  unsigned int length = text.Length();
  char* block = text.GetBuffer(size);
  if (block == nullptr || (size > length && block == before)) return nullptr;
  return block;
}

// A growing byte buffer for texts built piece by piece (reports, paths).
// Allocation failures are sticky: the text then stays as far as it got.
class TextBuffer {
 public:
  TextBuffer() = default;
  ~TextBuffer();
  TextBuffer(TextBuffer const&) = delete;
  TextBuffer& operator=(TextBuffer const&) = delete;

  void Append(char const* text, std::size_t length);
  void Append(char const* text);
  void AppendFormat(char const* format, ...) __attribute__((format(printf, 2, 3)));
  // Keeps the first `length` bytes.
  void Cut(std::size_t length);

  char const* Text() const { return _data != nullptr ? _data : ""; }
  std::size_t Length() const { return _length; }
  bool Failed() const { return _failed; }

 private:
  bool Grow(std::size_t extra);

  char* _data = nullptr;
  std::size_t _length = 0;
  std::size_t _capacity = 0;
  bool _failed = false;
};

}  // namespace Korvane::internal

#endif
