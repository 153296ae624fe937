#include "cfg_edit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "command.h"

namespace kvos::cfg {
namespace {

using Korvane::cKV_CfgFile;
using Korvane::cKV_CfgRecord;
using Korvane::cKV_Error;
using Korvane::eCfgComment;
using Korvane::eCfgParam;
using Korvane::eCfgSection;

constexpr char kBom[] = "\xEF\xBB\xBF";

bool IsNameChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c >= 128;
}

bool IsEdgeBlank(char c) { return c == ' ' || c == '\t'; }

std::string Str(Korvane::cKV_String const& s) { return std::string(s, s.Length()); }

std::string Describe(cKV_CfgRecord const* r) {
  if (r == nullptr) return "nothing";
  std::string comment = Str(r->GetComment());
  std::string text;
  switch (r->GetType()) {
    case eCfgSection:
      text = "the section [" + Excerpt(Str(r->GetName())) + "]";
      if (!comment.empty()) text += " with the comment '" + Excerpt(comment) + "'";
      return text;
    case eCfgParam:
      text = "the parameter '" + Excerpt(Str(r->GetName())) + "' with " +
             (r->GetValue().Length() == 0 ? std::string("an empty value")
                                          : "the value '" + Excerpt(Str(r->GetValue())) + "'");
      if (!comment.empty()) text += " and the comment '" + Excerpt(comment) + "'";
      return text;
    default:
      return comment.empty() ? "a blank line" : "the comment '" + Excerpt(comment) + "'";
  }
}

bool Same(cKV_CfgRecord const* a, cKV_CfgRecord const* b) {
  return a->GetType() == b->GetType() && a->GetName() == b->GetName() && a->GetValue() == b->GetValue() &&
         a->GetComment() == b->GetComment();
}

bool IsBlankLine(cKV_CfgRecord const* r) {
  return r != nullptr && r->GetType() == eCfgComment && r->GetComment().Length() == 0;
}

// A name as the library compares names: only A-Z folded.
std::string Folded(Korvane::cKV_String const& name) {
  std::string s = Str(name);
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Whether a parameter's line says what the reader takes from it: the name,
// then '=', a comment or nothing. "log.level = 3" or "key: value" read as
// a parameter without value whose comment is the rest.
bool SaysWhatItReads(std::string const& content, cKV_CfgRecord const* param) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  std::size_t p = 0;
  while (p < content.size() && blank(content[p])) ++p;
  p += param->GetName().Length();
  while (p < content.size() && blank(content[p])) ++p;
  return p >= content.size() || content[p] == '=' || content[p] == '#';
}

// Whether a parameter's line names the parameter as a person would read
// it, even if the rest reads otherwise: "key: value" and "name value" do,
// "log.level = 3" and "server string = x" name another.
bool NamesItself(std::string const& content, cKV_CfgRecord const* param) {
  if (SaysWhatItReads(content, param)) return true;
  std::size_t p = content.find_first_not_of(" \t");
  p += param->GetName().Length();
  if (content[p] == ':') return true;
  if (content[p] != ' ' && content[p] != '\t') return false;
  // Words after the name: values of their own, unless an '=' makes them
  // part of a name.
  return content.find('=', p) >= content.find('#', p);
}

std::string LongLine(std::size_t length, int pieces) {
  return "the line is " + std::to_string(length) + " bytes long and the reader reads it as " + std::to_string(pieces) +
         " lines of at most " + std::to_string(kPiece) + " bytes";
}

}  // namespace

bool IsName(std::string const& name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  return std::all_of(name.begin(), name.end(), [](char c) { return IsNameChar(static_cast<unsigned char>(c)); });
}

std::string ValueProblem(std::string const& value) {
  if (value.find_first_of("\r\n") != std::string::npos) return "it holds a line break";
  if (value.find('#') != std::string::npos) return "it holds '#', which would begin a comment";
  if (!value.empty() && (IsEdgeBlank(value.front()) || IsEdgeBlank(value.back())))
    return "it begins or ends with a blank, which the reader drops";
  if (!value.empty() && (value.front() == '"' || value.back() == '"'))
    return "it begins or ends with a double quote, which the reader drops";
  return "";
}

std::string CommentProblem(std::string const& comment) {
  if (comment.find_first_of("\r\n") != std::string::npos) return "it holds a line break";
  if (!comment.empty() && (IsEdgeBlank(comment.front()) || IsEdgeBlank(comment.back())))
    return "it begins or ends with a blank, which the reader drops";
  return "";
}

void Document::Add(int line, bool blocking, std::string text) {
  _findings.push_back({line, blocking, std::move(text)});
}

Finding const* Document::Blocking() const { return _blocking.line > 0 ? &_blocking : nullptr; }

bool Document::Load(std::string bytes, bool withNotes) {
  auto byte = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  bool utf16 = bytes.size() >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF));
  if (bytes.compare(0, 3, kBom) == 0) {
    _bom = true;
    bytes.erase(0, 3);
  }
  _text = std::move(bytes);
  if (_text.size() > 0xFFFFFFFFu) return false;
  if (utf16) Add(1, true, "the file is UTF-16 text (it begins with a UTF-16 byte order mark); the reader reads 8-bit text");

  char const* text = _text.data();
  std::size_t crlf = 0, lf = 0;
  int piece = 0;
  for (std::size_t at = 0; at < _text.size();) {
    auto const* nl = static_cast<char const*>(std::memchr(text + at, '\n', _text.size() - at));
    std::size_t end = nl != nullptr ? static_cast<std::size_t>(nl - text) + 1 : _text.size();
    Line line{at, end - at, 0, piece, 0};
    if (nl != nullptr) {
      line.eol = end - at >= 2 && text[end - 2] == '\r' ? 2 : 1;
      ++(line.eol == 2 ? crlf : lf);
    }
    line.pieces = static_cast<int>((line.length + kPiece - 1) / kPiece);
    int number = static_cast<int>(_lines.size()) + 1;
    std::size_t content = line.length - line.eol;
    if (std::memchr(text + at, '\0', content) != nullptr)
      Add(number, true, "the line holds a NUL byte; the reader sees the line only up to it");
    if (std::memchr(text + at, '\r', content) != nullptr)
      Add(number, true,
          "the line holds a carriage return without a line feed after it; the reader ends no line there, so it "
          "takes what follows for part of this line");
    if (line.pieces > 1) Add(number, false, LongLine(line.length, line.pieces));
    _pieceLine.insert(_pieceLine.end(), static_cast<std::size_t>(line.pieces), number);
    piece += line.pieces;
    _lines.push_back(line);
    at = end;
  }
  if (crlf > lf) _eol = "\r\n";

  cKV_Error error;
  if (!_cfg.ReadText(error, _text.data(), static_cast<unsigned int>(_text.size()))) return false;
  _orig.reserve(_cfg.GetList().GetCount());
  for (cKV_CfgRecord* r = _cfg.GetFirst(); r != nullptr; r = _cfg.GetNext(r)) _orig.push_back(r);
  _removed.assign(_orig.size(), 0);
  if (_orig.size() < _pieceLine.size()) {
    _stopLine = _pieceLine[_orig.size()];
    Add(_stopLine, true,
        "the reader stops at this line, so it does not read the lines after it: " +
            Excerpt(Content(_lines[static_cast<std::size_t>(_stopLine) - 1])));
  }
  if (withNotes) NoteLines();

  std::stable_sort(_findings.begin(), _findings.end(),
                   [](Finding const& a, Finding const& b) { return a.line < b.line; });
  for (Finding const& f : _findings)
    if (f.blocking) {
      _blocking = f;
      break;
    }
  if (_findings.size() > kMaxFindings) {
    _omitted = _findings.size() - kMaxFindings;
    _findings.resize(kMaxFindings);
  }
  return true;
}

// Lines that the reader takes otherwise than a person would.
void Document::NoteLines() {
  if (_bom)
    Add(1, false,
        "the file begins with a UTF-8 byte order mark: kvos cfg keeps it and reads past it, but the library's "
        "reader takes it for part of the first line");
  std::unordered_map<std::string, int> sections, params;
  std::string section;
  bool inSection = false;
  for (std::size_t i = 0; i < _orig.size(); ++i) {
    cKV_CfgRecord const* r = _orig[i];
    int piece = static_cast<int>(i);
    Line const& line = LineOf(piece);
    bool starts = line.firstPiece == piece;  // pieces of long lines are noted as such
    int number = LineNumber(piece);
    if (r->GetType() == eCfgSection) {
      inSection = true;
      params.clear();
      section = Str(r->GetName());
      if (!starts) continue;
      if (section.empty()) {
        Add(number, false, "a section without a name: get, set and del reach neither it nor what is in it");
        continue;
      }
      auto [it, fresh] = sections.emplace(Folded(r->GetName()), number);
      if (!fresh)
        Add(number, false,
            "the section [" + Excerpt(section) + "] again (first at line " + std::to_string(it->second) +
                "): get, set and del reach only the first");
      continue;
    }
    if (r->GetType() != eCfgParam || !starts) continue;
    std::string name = Str(r->GetName());
    if (!inSection)
      Add(number, false, "the parameter '" + Excerpt(name) + "' stands before the first section: get, set and del do "
                         "not reach it");
    if (!SaysWhatItReads(Content(line), r))
      Add(number, false,
          "'" + Excerpt(Content(line)) + "' reads as " + Describe(r) + ", which is not what it seems to say");
    std::string value = Str(r->GetValue());
    if (value.find(" ;") != std::string::npos || value.find("\t;") != std::string::npos)
      Add(number, false, "the value of '" + Excerpt(name) + "' is '" + Excerpt(value) + "': ';' begins no comment after a value");
    if (inSection && !section.empty()) {
      auto [it, fresh] = params.emplace(Folded(r->GetName()), number);
      if (!fresh)
        Add(number, false,
            "the parameter '" + Excerpt(name) + "' again in [" + Excerpt(section) + "] (first at line " +
                std::to_string(it->second) + "): get, set and del reach only the first");
    }
  }
}

Finding Document::NoteOn(cKV_CfgRecord const* record) const {
  int piece = PieceOf(record);
  if (piece < 0) return {0, false, ""};
  Line const& line = LineOf(piece);
  if (line.pieces > 1) return {LineNumber(piece), false, LongLine(line.length, line.pieces)};
  if (record->GetType() == eCfgParam && !SaysWhatItReads(Content(line), record))
    return {LineNumber(piece), false,
            "'" + Excerpt(Content(line)) + "' reads as " + Describe(record) + ", which is not what it seems to say"};
  return {0, false, ""};
}

int Document::PieceOf(cKV_CfgRecord const* record) const {
  auto it = std::find(_orig.begin(), _orig.end(), record);
  return it == _orig.end() ? -1 : static_cast<int>(it - _orig.begin());
}

EditResult Document::Refuse(int line, std::string reason) const { return {Outcome::kRefused, line, std::move(reason)}; }

EditResult Document::Set(std::string const& section, std::string const& name, std::string const& value,
                         std::string const* comment) {
  if (Finding const* f = Blocking()) return Refuse(f->line, f->text);
  cKV_CfgRecord* sect = _cfg.FindSection(section.c_str());
  if (sect == nullptr) {
    // A blank line sets the new section off, as the library's writer would.
    cKV_CfgRecord* last = _orig.empty() ? nullptr : _orig.back();
    if (last != nullptr && last->GetType() != eCfgComment && !_cfg.AddComm(last, nullptr)) return {Outcome::kNoMemory};
    sect = _cfg.SetSect(section.c_str(), false, nullptr);
    if (sect == nullptr) return {Outcome::kNoMemory};
  } else if (auto refused = HeaderInPieces(sect)) {
    return *refused;
  } else if (cKV_CfgRecord* param = _cfg.FindParam(sect, name.c_str())) {
    // Before "already so": what the reader takes from such a line is not
    // what the file says to a person.
    int piece = PieceOf(param);
    Line const& line = LineOf(piece);
    if (line.pieces > 1) return Refuse(LineNumber(piece), LongLine(line.length, line.pieces) + ", so it cannot be rewritten");
    if (!SaysWhatItReads(Content(line), param))
      return Refuse(LineNumber(piece), "'" + Excerpt(Content(line)) + "' reads as " + Describe(param) +
                                           ", which is not what it seems to say; rewriting it would change it");
    if (param->GetValue() == value.c_str() && (comment == nullptr || param->GetComment() == comment->c_str()))
      return {Outcome::kUnchanged};
    _changed = piece;
  }
  if (!_cfg.SetParam(sect, name.c_str(), value.c_str(), comment != nullptr ? comment->c_str() : nullptr))
    return {Outcome::kNoMemory};
  return Render();
}

std::optional<EditResult> Document::HeaderInPieces(cKV_CfgRecord const* section) const {
  int piece = PieceOf(section);
  Line const& line = LineOf(piece);
  if (piece == line.firstPiece) return std::nullopt;  // a header as it looks
  return Refuse(LineNumber(piece), "the header [" + Excerpt(Str(section->GetName())) + "] is only what the reader makes of " +
                                       "part of a longer line: " + LongLine(line.length, line.pieces));
}

EditResult Document::Delete(std::string const& section, std::string const* name) {
  if (Finding const* f = Blocking()) return Refuse(f->line, f->text);
  cKV_CfgRecord* sect = _cfg.FindSection(section.c_str());
  if (sect == nullptr) return {Outcome::kNoSection};
  if (auto refused = HeaderInPieces(sect)) return *refused;
  if (name != nullptr) {
    cKV_CfgRecord* param = _cfg.FindParam(sect, name->c_str());
    if (param == nullptr) return {Outcome::kNoParam};
    int piece = PieceOf(param);
    Line const& line = LineOf(piece);
    if (line.pieces == 1 && !NamesItself(Content(line), param))
      return Refuse(LineNumber(piece), "'" + Excerpt(Content(line)) + "' reads as " + Describe(param) +
                                           ", which is not what it seems to say; it is not deleted as '" +
                                           Excerpt(*name) + "'");
    _removed[static_cast<std::size_t>(piece)] = 1;
    _cfg.DelParam(sect, name->c_str());  // the first of that name: this one
    return Render();
  }

  std::vector<cKV_CfgRecord*> area;
  cKV_CfgRecord* r = _cfg.GetNext(sect);
  for (; r != nullptr && r->GetType() != eCfgSection; r = _cfg.GetNext(r)) area.push_back(r);
  int const first = PieceOf(sect);
  cKV_CfgRecord* before = first > 0 ? _orig[static_cast<std::size_t>(first) - 1] : nullptr;
  // The comments that lead into the next section stay with it: the run of
  // comments at the end of the area, except the remark that directly
  // follows the last parameter up to the first blank line. When the run has
  // no blank line it stands directly above the next header and stays whole.
  std::size_t keep = area.size();
  if (r != nullptr) {
    std::size_t run = area.size();
    while (run > 0 && area[run - 1]->GetType() == eCfgComment) --run;
    std::size_t blank = run;
    while (blank < area.size() && !IsBlankLine(area[blank])) ++blank;
    if (blank == area.size()) {
      keep = run;
    } else {
      keep = blank;
      // Blank lines before the deleted header already set the block off.
      if (before == nullptr || IsBlankLine(before))
        while (keep < area.size() && IsBlankLine(area[keep])) ++keep;
    }
  }
  std::vector<std::pair<int, std::string>> kept;
  for (std::size_t i = keep; i < area.size(); ++i)
    kept.emplace_back(first + 1 + static_cast<int>(i), Str(area[i]->GetComment()));
  std::fill_n(_removed.begin() + first, area.size() + 1, 1);
  _cfg.DelSect(section.c_str());
  cKV_CfgRecord* after = before;
  for (auto const& [piece, text] : kept) {
    if (!_cfg.AddComm(after, text.c_str())) return {Outcome::kNoMemory};
    after = after != nullptr ? _cfg.GetNext(after) : _cfg.GetFirst();
    _putBack.emplace_back(after, piece);
  }
  return Render();
}

EditResult Document::Render() {
  // Where every record of the edited file comes from: an original piece,
  // the changed piece, or nowhere (a new line). The library only inserts
  // and removes records, so the originals keep their order.
  struct Item {
    cKV_CfgRecord* record;
    int piece;  // -1: new
    bool changed;
  };
  std::vector<Item> items;
  items.reserve(_orig.size() + 4);
  std::size_t j = 0, back = 0;
  for (cKV_CfgRecord* r = _cfg.GetFirst(); r != nullptr; r = _cfg.GetNext(r)) {
    while (j < _orig.size() && _removed[j] != 0) ++j;
    if (j < _orig.size() && r == _orig[j]) {
      items.push_back({r, static_cast<int>(j), static_cast<int>(j) == _changed});
      ++j;
    } else if (back < _putBack.size() && r == _putBack[back].first) {
      items.push_back({r, _putBack[back++].second, false});
    } else {
      items.push_back({r, -1, false});
    }
  }

  std::string out;
  out.reserve(_text.size() + 256);
  if (_bom) out = kBom;
  // The lines written, and which of them to read back: new and changed
  // ones, and an old last line that gained a line end. The reader takes
  // every line on its own, so the others read as they did.
  struct Written {
    std::size_t begin, end;  // in `out`
    std::size_t item, count;  // the records it must read as
    bool check;
    bool gained;  // an old last line that gained a line end
  };
  std::vector<Written> written;
  written.reserve(items.size());
  auto emit = [&](char const* bytes, std::size_t length, std::size_t item, std::size_t count, bool check) {
    if (!written.empty() && out.compare(written.back().end - 1, 1, "\n") != 0) {
      out += _eol;
      written.back().end = out.size();
      written.back().check = true;
      written.back().gained = true;
    }
    out.append(bytes, length);
    written.push_back({out.size() - length, out.size(), item, count, check, false});
  };
  for (std::size_t i = 0; i < items.size();) {
    Item const& item = items[i];
    if (item.piece >= 0 && !item.changed) {
      Line const& line = LineOf(item.piece);
      bool whole = item.piece == line.firstPiece;
      for (int k = 1; whole && k < line.pieces; ++k) {
        std::size_t next = i + static_cast<std::size_t>(k);
        whole = next < items.size() && items[next].piece == item.piece + k && !items[next].changed;
      }
      if (!whole)
        return Refuse(LineNumber(item.piece), LongLine(line.length, line.pieces) + "; the edit would cut it");
      emit(_text.data() + line.start, line.length, i, static_cast<std::size_t>(line.pieces), false);
      i += static_cast<std::size_t>(line.pieces);
      continue;
    }
    std::string eol = _eol;
    if (item.changed) {
      Line const& line = LineOf(item.piece);
      eol = _text.substr(line.start + line.length - line.eol, line.eol);
    }
    Korvane::cKV_String text = item.record->ToString();
    if (text.Length() == 0) return {Outcome::kNoMemory};
    std::string newLine(text, text.Length() - 1);  // without the writer's line feed
    if (newLine.size() + std::max<std::size_t>(eol.size(), 1) > kPiece)
      return Refuse(0, "the new line would be " + std::to_string(newLine.size() + eol.size()) +
                           " bytes long; the reader reads at most " + std::to_string(kPiece) + " bytes as one line");
    newLine += eol;
    emit(newLine.data(), newLine.size(), i, 1, true);
    ++i;
  }
  // A file without a final line end keeps that form when lines are added
  // at its end.
  if (!written.empty() && !_lines.empty() && _lines.back().eol == 0 && items[written.back().item].piece < 0) {
    out.resize(out.size() - _eol.size());
    written.back().end = out.size();
  }

  Korvane::cKV_Error error;
  for (std::size_t w = 0; w < written.size(); ++w) {
    Written const& line = written[w];
    if (!line.check) continue;
    cKV_CfgFile back;
    if (!back.ReadText(error, out.data() + line.begin, static_cast<unsigned int>(line.end - line.begin)))
      return {Outcome::kNoMemory};
    cKV_CfgRecord* b = back.GetFirst();
    for (std::size_t k = 0; k < line.count || b != nullptr; ++k, b = back.GetNext(b)) {
      cKV_CfgRecord const* a = k < line.count ? items[line.item + k].record : nullptr;
      if (a != nullptr && b != nullptr && Same(a, b)) continue;
      if (line.gained)
        return Refuse(LineNumber(items[line.item].piece),
                      "the last line has no line end; with the one that the lines added after it need, it would be " +
                          std::to_string(line.end - line.begin) + " bytes long, and the reader would read it otherwise");
      return Refuse(0, "the edited file would not read back as asked: its line " + std::to_string(w + 1) +
                           " would read as " + Describe(b) + " instead of " + Describe(a));
    }
  }
  _newText = std::move(out);
  return {Outcome::kChanged};
}

}  // namespace kvos::cfg
