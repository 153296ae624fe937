#include "OS/internal/iotext.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "OS/host/memory.h"

namespace Korvane::internal {

TextBuffer::~TextBuffer() { host::Free(_data); }

bool TextBuffer::Grow(std::size_t extra) {
  if (_failed) return false;
  if (_length + extra + 1 <= _capacity) return true;
  std::size_t capacity = _capacity < 256 ? 256 : _capacity;
  while (capacity < _length + extra + 1) capacity *= 2;
  void* block = host::Realloc(_data, capacity);
  if (block == nullptr) {
    _failed = true;
    return false;
  }
  _data = static_cast<char*>(block);
  _capacity = capacity;
  return true;
}

void TextBuffer::Append(char const* text, std::size_t length) {
  if (!Grow(length)) return;
  std::memcpy(_data + _length, text, length);
  _length += length;
  _data[_length] = '\0';
}

void TextBuffer::Append(char const* text) { Append(text, std::strlen(text)); }

void TextBuffer::AppendFormat(char const* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list sizing;
  va_copy(sizing, arguments);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int needed = std::vsnprintf(nullptr, 0, format, sizing);
  va_end(sizing);
  if (needed > 0 && Grow(static_cast<std::size_t>(needed))) {
    std::vsnprintf(_data + _length, static_cast<std::size_t>(needed) + 1, format, arguments);
    _length += static_cast<std::size_t>(needed);
  }
#pragma GCC diagnostic pop
  va_end(arguments);
}

void TextBuffer::Cut(std::size_t length) {
  if (length >= _length) return;
  _length = length;
  _data[_length] = '\0';
}

}  // namespace Korvane::internal
