#include "recordformat/linerecord.h"

#include <cstdio>
#include <cstring>
#include <string>

using Korvane::cKV_String;

namespace example {

namespace {

unsigned char const* Bytes(char const* text) { return reinterpret_cast<unsigned char const*>(text); }

}  // namespace

unsigned int cLineRecordFormat::SizeOf(unsigned int value) {
  char text[16];
  return static_cast<unsigned int>(std::snprintf(text, sizeof text, "%u", value)) + 1;
}

unsigned int cLineRecordFormat::SizeOf(int value) {
  char text[16];
  return static_cast<unsigned int>(std::snprintf(text, sizeof text, "%d", value)) + 1;
}

unsigned int cLineRecordFormat::SizeOf(char const* text) {
  return static_cast<unsigned int>(std::strlen(text != nullptr ? text : "")) + 1;
}

// ---------------------------------------------------------------- writing

bool cLineRecordFormat::WriteBegin() {
  _left = 0;
  return _io->WriteBytes(sizeof kMagic - 1, Bytes(kMagic));
}

bool cLineRecordFormat::WriteRecordHead(unsigned int size) {
  // Numbers run together on the stream, so every one is followed by a line
  // feed; the head starts with one to put each record on its own line.
  if (!_io->WriteBytes(1, Bytes("\n")) || !_io->WriteUlong(size) || !_io->WriteBytes(1, Bytes("\n")))
    return false;
  if (size > 0 && !_io->WriteBytes(1, Bytes(":"))) return false;
  _left = size;
  return true;
}

bool cLineRecordFormat::Put(char const* text, unsigned int count) {
  if (count > _left) return false;
  if (!_io->WriteBytes(count, Bytes(text))) return false;
  _left -= count;
  return true;
}

bool cLineRecordFormat::WriteBytes(unsigned int count, unsigned char const* bytes) {
  return Put(reinterpret_cast<char const*>(bytes), count);
}

bool cLineRecordFormat::WriteUlong(unsigned int value) {
  char text[16];
  int n = std::snprintf(text, sizeof text, "%u\n", value);
  return Put(text, static_cast<unsigned int>(n));
}

bool cLineRecordFormat::WriteLong(int value) {
  char text[16];
  int n = std::snprintf(text, sizeof text, "%d\n", value);
  return Put(text, static_cast<unsigned int>(n));
}

bool cLineRecordFormat::WriteString(char const* text) {
  if (text == nullptr) text = "";
  if (std::strchr(text, '\n') != nullptr) return false;
  unsigned int size = SizeOf(text);
  if (size > _left) return false;
  return Put(text, size - 1) && Put("\n", 1);
}

bool cLineRecordFormat::WriteEnd() { return _io->WriteBytes(1, Bytes("\n")) && _io->WriteFlush(); }

// ---------------------------------------------------------------- reading

bool cLineRecordFormat::ReadBegin() {
  unsigned char magic[sizeof kMagic - 1];
  _left = 0;
  _guard = false;
  return _io->ReadBytes(sizeof magic, magic) && std::memcmp(magic, kMagic, sizeof magic) == 0;
}

bool cLineRecordFormat::ReadRecordHead(unsigned int& size) {
  unsigned int value = 0;
  if (!_io->ReadUlong(value)) return false;
  size = value;
  _left = value;
  _guard = value > 0;
  return true;
}

bool cLineRecordFormat::TakeGuard() {
  if (!_guard) return true;
  unsigned char byte = 0;
  if (!_io->ReadBytes(1, &byte) || byte != ':') return false;
  _guard = false;
  return true;
}

bool cLineRecordFormat::TakeLineFeed() {
  unsigned char byte = 0;
  if (_left == 0 || !_io->ReadBytes(1, &byte) || byte != '\n') return false;
  --_left;
  return true;
}

bool cLineRecordFormat::ReadBytes(unsigned int count, unsigned char* bytes) {
  if (!TakeGuard() || count > _left) return false;
  // An empty body at the end of a file leaves the stream's status holding
  // the skip's failed read: reading nothing must not look at the stream.
  if (count == 0) return true;
  if (!_io->ReadBytes(count, bytes)) return false;
  _left -= count;
  return true;
}

bool cLineRecordFormat::ReadUlong(unsigned int& value) {
  if (!TakeGuard()) return false;
  unsigned int before = _io->Tell();
  unsigned int read = 0;
  if (!_io->ReadUlong(read)) return false;
  unsigned int used = _io->Tell() - before;
  if (used >= _left) return false;  // the number and its line feed must fit
  _left -= used;
  if (!TakeLineFeed()) return false;
  value = read;
  return true;
}

bool cLineRecordFormat::ReadLong(int& value) {
  if (!TakeGuard()) return false;
  unsigned int before = _io->Tell();
  int read = 0;
  if (!_io->ReadLong(read)) return false;
  unsigned int used = _io->Tell() - before;
  if (used >= _left) return false;
  _left -= used;
  if (!TakeLineFeed()) return false;
  value = read;
  return true;
}

bool cLineRecordFormat::ReadString(cKV_String& text) {
  if (!TakeGuard()) return false;
  std::string line;
  for (;;) {
    unsigned char byte = 0;
    if (_left == 0 || !_io->ReadBytes(1, &byte)) return false;
    --_left;
    if (byte == '\n') break;
    line.push_back(static_cast<char>(byte));
  }
  text = line.c_str();
  return true;
}

bool cLineRecordFormat::ReadEnd() {
  if (!_io->IsEof()) return false;
  _io->GetStatus().Reset();
  return true;
}

}  // namespace example
