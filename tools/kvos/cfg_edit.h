// The kvos cfg editor: a configuration file as the library reads it, held
// beside its lines, and edits that rewrite only the lines they name. Every
// other line is written back as the bytes it was. No file access here.
#ifndef KVOS_CFG_EDIT_H
#define KVOS_CFG_EDIT_H

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "OS/oscfg.h"

namespace kvos::cfg {

// The reader takes at most this many bytes of a line at a time and parses
// each piece as a line of its own.
constexpr std::size_t kPiece = 32767;

// Something to say about one line of a file.
struct Finding {
  int line;       // from 1
  bool blocking;  // the file is not edited while it has one
  std::string text;
};

enum class Outcome {
  kChanged,    // NewText() holds the edited file
  kUnchanged,  // the file already says what was asked
  kNoSection,
  kNoParam,
  kRefused,  // the edit cannot be made safely; `line` and `reason` say why
  kNoMemory,
};

struct EditResult {
  EditResult(Outcome o, int l = 0, std::string r = {}) : outcome(o), line(l), reason(std::move(r)) {}
  Outcome outcome;
  int line;  // the line of the file a refusal is about, 0 for none
  std::string reason;
};

class Document {
 public:
  Document() = default;
  Document(Document const&) = delete;
  Document& operator=(Document const&) = delete;

  // Takes the bytes of a file, finding what keeps it from being edited,
  // and with `withNotes` also the lines that read otherwise than they
  // look. False only when memory ran out.
  bool Load(std::string bytes, bool withNotes = false);

  Korvane::cKV_CfgFile const& Records() const { return _cfg; }
  int LineCount() const { return static_cast<int>(_lines.size()); }
  unsigned int RecordCount() const { return static_cast<unsigned int>(_orig.size()); }
  // In line order; at most kMaxFindings, then Omitted() more.
  std::vector<Finding> const& Findings() const { return _findings; }
  std::size_t Omitted() const { return _omitted; }
  // The first finding that keeps the file from being edited, or null.
  Finding const* Blocking() const;
  // The line where the reader stops reading, 0 when it reads every line.
  int StopLine() const { return _stopLine; }
  // What to say about the line of `record` when the reader takes it
  // otherwise than it looks (line 0: nothing).
  Finding NoteOn(Korvane::cKV_CfgRecord const* record) const;

  // One edit per document. The library's own operations decide what the
  // edit does to the records; the lines follow them. Before kChanged is
  // returned, the new text has been read back into exactly the edited
  // records.
  //
  // Sets parameter `name` of the first section `section`, creating either;
  // a null `comment` keeps the parameter's comment.
  EditResult Set(std::string const& section, std::string const& name, std::string const& value,
                 std::string const* comment);
  // Removes parameter `name` of section `section`, or, with a null `name`,
  // the section with everything in it but the comment block that leads
  // into the next section.
  EditResult Delete(std::string const& section, std::string const* name);
  std::string const& NewText() const { return _newText; }

  static constexpr std::size_t kMaxFindings = 100;

 private:
  struct Line {
    std::size_t start;   // in _text
    std::size_t length;  // with the line end
    std::size_t eol;     // 0 (last line without one), 1 (LF) or 2 (CR LF)
    int firstPiece;
    int pieces;
  };

  void Add(int line, bool blocking, std::string text);
  void NoteLines();
  Line const& LineOf(int piece) const { return _lines[static_cast<std::size_t>(_pieceLine[piece]) - 1]; }
  int LineNumber(int piece) const { return _pieceLine[static_cast<std::size_t>(piece)]; }
  std::string Content(Line const& line) const { return _text.substr(line.start, line.length - line.eol); }
  int PieceOf(Korvane::cKV_CfgRecord const* record) const;
  EditResult Refuse(int line, std::string reason) const;
  // A refusal when `section` is a header only to the reader: a later piece
  // of a longer line, which a person reads as something else.
  std::optional<EditResult> HeaderInPieces(Korvane::cKV_CfgRecord const* section) const;
  EditResult Render();

  std::string _text;  // the file without its byte order mark
  bool _bom = false;
  std::string _eol = "\n";  // for new lines
  std::vector<Line> _lines;
  std::vector<int> _pieceLine;  // line number of every piece
  Korvane::cKV_CfgFile _cfg;
  std::vector<Korvane::cKV_CfgRecord*> _orig;  // the record of every piece read, in order
  std::vector<Finding> _findings;
  std::size_t _omitted = 0;
  Finding _blocking{0, false, ""};  // line 0: none
  int _stopLine = 0;

  // What an edit did to the records read.
  std::vector<char> _removed;  // by piece
  int _changed = -1;           // the piece whose record was changed
  // Comments that a section's removal took along and that were put back:
  // new records that stand for original lines.
  std::vector<std::pair<Korvane::cKV_CfgRecord*, int>> _putBack;
  std::string _newText;
};

// Whether `name` can be a section or parameter name that reads back.
bool IsName(std::string const& name);
// Why `value` would not read back as itself, or empty when it would.
std::string ValueProblem(std::string const& value);
// Why `comment` would not read back as itself, or empty when it would.
std::string CommentProblem(std::string const& comment);

}  // namespace kvos::cfg

#endif
