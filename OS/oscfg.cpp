#include "OS/oscfg.h"

#include <cstring>
#include <initializer_list>
#include <new>

#include "OS/host/cfgfile.h"
#include "OS/host/fault.h"
#include "OS/internal/report.h"

namespace Korvane {

// Exported through the declaration in the header.
template class ctKV_List2<cKV_CfgRecord>;

namespace {

constexpr char kUnit[] = ".\\oscfg";
// fgets-style reads of at most kLineBuffer - 1 bytes: a longer line comes in
// pieces, each parsed as a line of its own.
constexpr int kLineBuffer = 32768;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsNameChar(char c) {
  auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || IsDigit(c) || u == '_' || u == '-' || u >= 128;
}

// An empty name never matches, not even an empty one.
bool NameIs(cKV_String const& recordName, char const* name) {
  return name != nullptr && name[0] != '\0' && recordName.CmpNoCase(name);
}

// Replaces `s` by the `length` bytes at `text`; false when memory could not
// be obtained.
bool SetText(cKV_String& s, char const* text, int length) {
  if (length <= 0) {
    s = static_cast<char const*>(nullptr);
    return true;
  }
  char* block = s.GetBuffer(static_cast<unsigned int>(length));
  if (block == nullptr) return false;
  std::memcpy(block, text, static_cast<std::size_t>(length));
  block[length] = '\0';
  return true;
}

// Whether `s` now holds `text` (null meaning empty): string assignment keeps
// the old text when it cannot get memory.
bool Holds(cKV_String const& s, char const* text) { return s == (text != nullptr ? text : ""); }

// The pieces of the line written for a record, ended by a null piece;
// false for a record of no known type. The record's texts must outlive the
// pieces.
bool LinePieces(eKV_CfgType type, char const* name, char const* value, char const* comm, char const* (&pieces)[7]) {
  bool hasComm = comm[0] != '\0';
  auto set = [&pieces](std::initializer_list<char const*> list) {
    int i = 0;
    for (char const* piece : list) pieces[i++] = piece;
    pieces[i] = nullptr;
  };
  switch (type) {
    case eCfgSection:
      hasComm ? set({"[", name, "] # ", comm, "\n"}) : set({"[", name, "]\n"});
      return true;
    case eCfgParam:
      hasComm ? set({name, " = ", value, " # ", comm, "\n"}) : set({name, " = ", value, "\n"});
      return true;
    case eCfgComment:
      hasComm ? set({"# ", comm, "\n"}) : set({"\n"});
      return true;
  }
  return false;
}

}  // namespace

// ---- records ----------------------------------------------------------------

cKV_CfgRecord::cKV_CfgRecord(eKV_CfgType type, char const* name, char const* value, char const* comment)
    : _type(type), _name(name), _value(value), _comm(comment) {}

cKV_CfgRecord::cKV_CfgRecord(cKV_CfgRecord const& other) = default;

cKV_CfgRecord& cKV_CfgRecord::operator=(cKV_CfgRecord const& other) = default;

cKV_CfgRecord::~cKV_CfgRecord() = default;

cKV_String cKV_CfgRecord::ToString() const {
  cKV_String text;
  char const* pieces[7];
  if (!LinePieces(_type, _name, _value, _comm, pieces)) return text;
  std::size_t length = 0;
  for (char const* const* p = pieces; *p != nullptr; ++p) length += std::strlen(*p);
  char* block = text.GetBuffer(static_cast<unsigned int>(length));
  if (block == nullptr) return text;
  for (char const* const* p = pieces; *p != nullptr; ++p) {
    std::size_t n = std::strlen(*p);
    std::memcpy(block, *p, n);
    block += n;
  }
  *block = '\0';
  return text;
}

// ---- the file: records and editing ------------------------------------------

cKV_CfgFile::cKV_CfgFile() = default;

cKV_CfgFile::~cKV_CfgFile() { DelAll(); }

cKV_CfgRecord* cKV_CfgFile::_NewRecord(eKV_CfgType type, char const* name, char const* value,
                                       char const* comment) {
  if (host::Fault("alloc") != 0) return nullptr;
  auto* record = new (std::nothrow) cKV_CfgRecord(type, name, value, comment);
  if (record == nullptr) return nullptr;
  if (!Holds(record->_name, name) || !Holds(record->_value, value) || !Holds(record->_comm, comment)) {
    delete record;
    return nullptr;
  }
  return record;
}

cKV_CfgRecord* cKV_CfgFile::_Remove(cKV_CfgRecord* record) {
  cKV_CfgRecord* next = _list.Pop(record);
  delete record;
  return next;
}

void cKV_CfgFile::_ClearArea(cKV_CfgRecord* section) {
  cKV_CfgRecord* r = _list.GetNext(section);
  while (r != nullptr && r->_type != eCfgSection) r = _Remove(r);
}

cKV_CfgRecord* cKV_CfgFile::GetNext(cKV_CfgRecord* record) const {
  return record != nullptr ? _list.GetNext(record) : nullptr;
}

cKV_CfgRecord* cKV_CfgFile::FindSection(char const* name) const {
  if (name == nullptr || name[0] == '\0') return nullptr;
  for (cKV_CfgRecord* r = _list.GetFirst(); r != nullptr; r = _list.GetNext(r))
    if (r->_type == eCfgSection && NameIs(r->_name, name)) return r;
  return nullptr;
}

cKV_CfgRecord* cKV_CfgFile::FindParam(cKV_CfgRecord* from, char const* name) const {
  if (name == nullptr || name[0] == '\0') return nullptr;
  cKV_CfgRecord* r = from;
  if (r == nullptr) {
    // A null start is the first section, not the global area.
    r = _list.GetFirst();
    while (r != nullptr && r->_type != eCfgSection) r = _list.GetNext(r);
    if (r == nullptr) return nullptr;
  }
  if (r->_type == eCfgSection) r = _list.GetNext(r);
  for (; r != nullptr && r->_type != eCfgSection; r = _list.GetNext(r))
    if (r->_type == eCfgParam && NameIs(r->_name, name)) return r;
  return nullptr;
}

cKV_CfgRecord* cKV_CfgFile::SetSect(char const* name, bool clear, char const* comment) {
  cKV_CfgRecord* section = FindSection(name);
  if (section == nullptr) {
    section = _NewRecord(eCfgSection, name, nullptr, comment);
    if (section != nullptr) _list.PushBack(section);
    return section;
  }
  // The comment first: it may point into a record that the clearing
  // destroys, and a failure then leaves the section as it was.
  if (comment != nullptr) {
    section->_comm = comment;
    if (!Holds(section->_comm, comment)) return nullptr;
  }
  if (clear) _ClearArea(section);
  return section;
}

bool cKV_CfgFile::DelSect(char const* name) {
  cKV_CfgRecord* section = FindSection(name);
  if (section != nullptr) {
    _ClearArea(section);
    _Remove(section);
  }
  return true;
}

bool cKV_CfgFile::_InsertParam(cKV_CfgRecord* section, char const* name, char const* value, char const* comment,
                               bool replace) {
  if (section == nullptr || section->_type != eCfgSection) return false;
  cKV_CfgRecord* last = section;
  for (cKV_CfgRecord* r = _list.GetNext(section); r != nullptr && r->_type != eCfgSection; r = _list.GetNext(r)) {
    if (r->_type != eCfgParam) continue;
    if (replace && NameIs(r->_name, name)) {
      // Copies first: `value` or `comment` may be this record's own texts,
      // and replacing one of them frees the block the other points into.
      cKV_String newValue(value), newComm(comment);
      if (!Holds(newValue, value) || !Holds(newComm, comment)) return false;
      r->_value = newValue;
      if (!(r->_value == newValue)) return false;
      if (comment != nullptr) {
        r->_comm = newComm;
        if (!(r->_comm == newComm)) return false;
      }
      return true;
    }
    last = r;
  }
  cKV_CfgRecord* record = _NewRecord(eCfgParam, name, value, comment);
  if (record == nullptr) return false;
  _list.InsertAfter(last, record);
  return true;
}

bool cKV_CfgFile::SetParam(cKV_CfgRecord* section, char const* name, char const* value, char const* comment) {
  return _InsertParam(section, name, value, comment, true);
}

bool cKV_CfgFile::AddParam(cKV_CfgRecord* section, char const* name, char const* value, char const* comment) {
  return _InsertParam(section, name, value, comment, false);
}

bool cKV_CfgFile::DelParam(cKV_CfgRecord* section, char const* name) {
  if (section == nullptr || section->_type != eCfgSection) return false;
  cKV_CfgRecord* param = FindParam(section, name);
  if (param == nullptr) return false;
  _Remove(param);
  return true;
}

bool cKV_CfgFile::AddComm(cKV_CfgRecord* after, char const* text) {
  cKV_CfgRecord* record = _NewRecord(eCfgComment, nullptr, nullptr, text);
  if (record == nullptr) return false;
  if (after == nullptr)
    _list.PushFront(record);
  else
    _list.InsertAfter(after, record);
  return true;
}

bool cKV_CfgFile::DelComm(cKV_CfgRecord* record) {
  if (record == nullptr || record->_type != eCfgComment) return false;
  _Remove(record);
  return true;
}

void cKV_CfgFile::DelAll() {
  for (cKV_CfgRecord* r = _list.GetFirst(); r != nullptr;) r = _Remove(r);
}

// ---- the text form -----------------------------------------------------------

int cKV_CfgFile::_FindToken(char const* line, int position) {
  while (IsBlank(line[position])) ++position;
  return position;
}

int cKV_CfgFile::_GetName(char const* line, int& position, int& errorPosition) {
  errorPosition = -1;
  position = _FindToken(line, position);
  if (IsDigit(line[position])) {
    errorPosition = position;
    return 0;
  }
  int start = position;
  while (IsNameChar(line[position])) ++position;
  return position - start;
}

int cKV_CfgFile::_GetValue(char const* line, int& position, int& start) {
  int p = _FindToken(line, position);
  int first = p;
  int last = -1;  // the last character that is no space, tab or double quote
  bool quoted = false;  // an odd number of double quotes so far
  for (;; ++p) {
    char c = line[p];
    if (c == '\0' || c == '\r' || c == '\n' || (c == '#' && !quoted)) break;
    if (c == '"')
      quoted = !quoted;
    else if (c != ' ' && c != '\t')
      last = p;
  }
  position = p;
  start = line[first] == '"' ? first + 1 : first;
  return last >= start ? last - start + 1 : 0;
}

int cKV_CfgFile::_GetComm(char const* line, int position, int& start) {
  int p = _FindToken(line, position);
  if (line[p] == '#') p = _FindToken(line, p + 1);
  start = p;
  int end = p + static_cast<int>(std::strlen(line + p));
  while (end > p && IsBlank(line[end - 1])) --end;
  return end - p;
}

bool cKV_CfgFile::_ParseLine(char const* line) {
  eKV_CfgType type = eCfgComment;
  int nameAt = 0, nameLength = 0;
  int valueAt = 0, valueLength = 0;
  int commAt = 0, commLength = 0;
  int errorAt = -1;

  int p = _FindToken(line, 0);
  char c = line[p];
  if (c == '[') {
    int q = p + 1;
    nameLength = _GetName(line, q, errorAt);
    if (errorAt >= 0) return false;
    nameAt = q - nameLength;
    q = _FindToken(line, q);
    if (line[q] != ']') return false;
    type = eCfgSection;
    commLength = _GetComm(line, q + 1, commAt);
  } else if (c == '#') {
    commLength = _GetComm(line, p, commAt);
  } else {
    int q = p;
    nameLength = _GetName(line, q, errorAt);
    if (errorAt >= 0) return false;
    if (nameLength == 0) {
      // Nothing that could begin a name: the line is kept as a comment.
      commLength = _GetComm(line, p, commAt);
    } else {
      type = eCfgParam;
      nameAt = q - nameLength;
      q = _FindToken(line, q);
      if (line[q] == '=') {
        ++q;
        valueLength = _GetValue(line, q, valueAt);
      }
      commLength = _GetComm(line, q, commAt);
    }
  }

  cKV_CfgRecord* record = _NewRecord(type, nullptr, nullptr, nullptr);
  if (record == nullptr) return false;
  if (!SetText(record->_name, line + nameAt, nameLength) || !SetText(record->_value, line + valueAt, valueLength) ||
      !SetText(record->_comm, line + commAt, commLength)) {
    delete record;
    return false;
  }
  _list.PushBack(record);
  return true;
}

bool cKV_CfgFile::ReadFile(cKV_Error& error, char const* path) {
  if (path == nullptr) path = "";
  cKV_String buffer;
  char* line = buffer.GetBuffer(kLineBuffer);
  if (line == nullptr) return KV_REPORT(&error, 7, kUnit, "Failed to allocate %d bytes.", kLineBuffer);
  host::CfgStream* file = host::CfgOpenRead(path);
  if (file == nullptr) return KV_REPORT(&error, 3, kUnit, "Files to open file [%s] for read", path);
  int got;
  for (;;) {
    line[0] = '\0';
    got = host::CfgReadLine(file, line, kLineBuffer);
    // A rejected line ends the reading quietly; what came before it stays.
    if (got <= 0 || !_ParseLine(line)) break;
  }
  host::CfgClose(file);
  // A failing read is not retried: it would fail again at the same place.
  if (got < 0) return KV_REPORT(&error, 3, kUnit, "Failed to read data from file [%s]", path);
  return true;
}

bool cKV_CfgFile::ReadText(cKV_Error& error, char const* text, unsigned int length) {
  cKV_String buffer;
  char* line = buffer.GetBuffer(kLineBuffer);
  if (line == nullptr) return KV_REPORT(&error, 7, kUnit, "Failed to allocate %d bytes.", kLineBuffer);
  if (text == nullptr) length = 0;
  unsigned int at = 0;
  while (at < length) {
    // What one read of the file would give: up to the line feed, or as
    // many bytes as fit in the buffer.
    unsigned int window = length - at;
    if (window > static_cast<unsigned int>(kLineBuffer - 1)) window = kLineBuffer - 1;
    void const* lf = std::memchr(text + at, '\n', window);
    unsigned int piece = lf != nullptr ? static_cast<unsigned int>(static_cast<char const*>(lf) - (text + at)) + 1 : window;
    std::memcpy(line, text + at, piece);
    line[piece] = '\0';
    if (!_ParseLine(line)) break;
    at += piece;
  }
  return true;
}

namespace {

// Writes one line from its pieces; false when the host refused any of them.
bool PutLine(host::CfgStream* file, char const* const* pieces) {
  for (; *pieces != nullptr; ++pieces)
    if (host::CfgWrite(file, *pieces) < 0) return false;
  return true;
}

}  // namespace

bool cKV_CfgFile::WriteFile(cKV_Error& error, char const* path) const {
  if (path == nullptr) path = "";
  host::CfgStream* file = host::CfgOpenWrite(path);
  if (file == nullptr) return KV_REPORT(&error, 3, kUnit, "Failed to open file [%s] for write", path);
  bool ok = true;
  bool first = true;
  bool afterComment = false;
  for (cKV_CfgRecord* r = _list.GetFirst(); r != nullptr && ok; r = _list.GetNext(r)) {
    char const* pieces[7];
    if (!LinePieces(r->_type, r->_name, r->_value, r->_comm, pieces)) continue;
    // A blank line sets a section off, unless a comment already does.
    if (r->_type == eCfgSection && !first && !afterComment) host::CfgWrite(file, "\n");
    ok = PutLine(file, pieces);
    afterComment = r->_type == eCfgComment;
    first = false;
  }
  if (host::CfgClose(file) != 0 || !ok) return KV_REPORT(&error, 3, kUnit, "Failed to write data into file [%s]", path);
  return true;
}

}  // namespace Korvane
