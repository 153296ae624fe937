#include "OS/oserror.h"

#include <cstdint>
#include <cstring>

#include "OS/host/error.h"

namespace Korvane {

cKV_Error::cKV_Error() : _code(0), _line(0) {}

cKV_Error::cKV_Error(cKV_Error const& other)
    : _code(other._code), _line(other._line), _unit(other._unit), _text(other._text) {}

cKV_Error& cKV_Error::operator=(cKV_Error const& other) {
  if (this != &other) {
    _code = other._code;
    _line = other._line;
    _unit = other._unit;
    _text = other._text;
  }
  return *this;
}

cKV_Error::~cKV_Error() = default;

bool cKV_Error::Set(int code, char const* unit, int line, char const* text) {
  _code = code;
  _line = line;
  _unit = unit;
  _text = text;
  return code == 0;
}

bool cKV_Error::SetFormat(int code, char const* unit, int line, char const* format, ...) {
  _code = code;
  _line = line;
  _unit = unit;
  va_list arguments;
  va_start(arguments, format);
  _text.FormatV(format, arguments);
  va_end(arguments);
  return code == 0;
}

bool cKV_Error::Set(cKV_Error* error, int code, char const* unit, int line, char const* text) {
  if (error == nullptr) return code == 0;
  return error->Set(code, unit, line, text);
}

bool cKV_Error::SetFormat(cKV_Error* error, int code, char const* unit, int line, char const* format, ...) {
  if (error == nullptr) return code == 0;
  error->_code = code;
  error->_line = line;
  error->_unit = unit;
  va_list arguments;
  va_start(arguments, format);
  error->_text.FormatV(format, arguments);
  va_end(arguments);
  return code == 0;
}

void cKV_Error::Reset() {
  _code = 0;
  _line = 0;
  _unit = nullptr;
  _text = nullptr;
}

cKV_String cKV_Error::GetText() const { return _text; }

cKV_String cKV_Error::ToString() const {
  cKV_String text;
  text.Format("%d:%d:%u:%s:%u:%s", _code, _line, _unit.Length(), static_cast<char const*>(_unit), _text.Length(),
              static_cast<char const*>(_text));
  return text;
}

namespace {

// Reads a strtol-style number at `pos` that must be followed by ':'; on
// success `pos` moves past the colon.
bool ReadField(char const* text, std::size_t& pos, int& value) {
  int consumed = 0;
  value = cKV_String::ToLong(text + pos, &consumed, 10);
  pos += static_cast<std::size_t>(consumed);
  if (text[pos] != ':') return false;
  ++pos;
  return true;
}

}  // namespace

bool cKV_Error::FromString(char const* text) {
  if (text == nullptr) return false;
  std::size_t const total = std::strlen(text);
  std::size_t pos = 0;
  int code = 0, line = 0, unitLength = 0, textLength = 0;
  if (!ReadField(text, pos, code) || !ReadField(text, pos, line) || !ReadField(text, pos, unitLength)) return false;
  if (unitLength < 0 || pos + static_cast<std::size_t>(unitLength) > total) return false;
  std::size_t const unitStart = pos;
  pos += static_cast<std::size_t>(unitLength);
  if (text[pos] != ':') return false;
  ++pos;
  if (!ReadField(text, pos, textLength)) return false;
  if (textLength < 0 || pos + static_cast<std::size_t>(textLength) > total) return false;
  std::size_t const textStart = pos;

  // Build both texts before touching the record, so that a failed
  // allocation also leaves it as it was.
  cKV_String unit, message;
  if (unitLength > 0) {
    char* block = unit.GetBuffer(static_cast<unsigned int>(unitLength));
    if (block == nullptr) return false;
    std::memcpy(block, text + unitStart, static_cast<std::size_t>(unitLength));
    block[unitLength] = '\0';
  }
  if (textLength > 0) {
    char* block = message.GetBuffer(static_cast<unsigned int>(textLength));
    if (block == nullptr) return false;
    std::memcpy(block, text + textStart, static_cast<std::size_t>(textLength));
    block[textLength] = '\0';
  }
  _code = code;
  _line = line;
  _unit.Swap(unit);
  _text.Swap(message);
  return true;
}

int osGetSysError() { return host::LastError(); }

cKV_String osGetSysErrorStr(int code) {
  char buf[512];
  char const* description = host::ErrorText(code, buf, sizeof buf);
  cKV_String result;
  if (description == nullptr) return result;
  std::size_t length = std::strlen(description);
  while (length > 0 && (description[length - 1] == '\r' || description[length - 1] == '\n')) --length;
  result.Format("GetLastError()=%d [%.*s]", code, static_cast<int>(length), description);
  return result;
}

}  // namespace Korvane
