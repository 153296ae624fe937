// The kvos cfg editor in-process: which lines an edit may touch, what it
// refuses, what check notes, and the file side (locking, copies, changes
// under its feet).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>

#include "cfg_edit.h"
#include "cfg_file.h"
#include "support/testing.h"

using namespace kvos::cfg;
using kvtest::TempDir;

namespace {

struct Op {
  std::string verb;  // "set" or "del"
  std::string section, name, value;
  std::optional<std::string> comment = std::nullopt;
};

Op Set(std::string s, std::string n, std::string v) { return {"set", std::move(s), std::move(n), std::move(v)}; }
Op Del(std::string s, std::string n = "") { return {"del", std::move(s), std::move(n), ""}; }

EditResult Perform(Document& doc, Op const& op) {
  if (op.verb == "set") return doc.Set(op.section, op.name, op.value, op.comment ? &*op.comment : nullptr);
  return doc.Delete(op.section, op.name.empty() ? nullptr : &op.name);
}

// The new text, or what happened instead.
std::string Apply(std::string const& text, Op const& op) {
  Document doc;
  EXPECT_TRUE(doc.Load(text));
  EditResult r = Perform(doc, op);
  switch (r.outcome) {
    case Outcome::kChanged: return doc.NewText();
    case Outcome::kUnchanged: return "(unchanged)";
    case Outcome::kNoSection: return "(no section)";
    case Outcome::kNoParam: return "(no parameter)";
    case Outcome::kRefused: return "(refused at line " + std::to_string(r.line) + ")";
    case Outcome::kNoMemory: return "(no memory)";
  }
  return "?";
}

TEST(KvosCfgEdit, EditsRewriteOnlyTheLinesTheyName) {
  std::string const bom = "\xEF\xBB\xBF";
  struct Case {
    std::string before;
    Op op;
    std::string after;
  } const cases[] = {
      // No blank line appears before a header, a lone '#' stays.
      {"[a]\nx = 1\n[b]\ny = 2\n", Set("a", "x", "2"), "[a]\nx = 2\n[b]\ny = 2\n"},
      {"#\n[a]\n#\nx = 1\n", Set("a", "y", "2"), "#\n[a]\n#\nx = 1\ny = 2\n"},
      // Lines that read as something else are kept as they are.
      {"[a]\nlog.level = 3\nkey: value\nname value\n", Set("a", "other", "1"),
       "[a]\nlog.level = 3\nkey: value\nname value\nother = 1\n"},
      {"[a]\n= 5\n\"q\n!x\n;c\nk = \"a # b\" # c\nx = 1\n", Set("a", "x", "2"),
       "[a]\n= 5\n\"q\n!x\n;c\nk = \"a # b\" # c\nx = 2\n"},
      // A byte order mark stays, and the section after it is found.
      {bom + "[net]\r\nport = 80\r\n", Set("net", "port", "81"), bom + "[net]\r\nport = 81\r\n"},
      {bom + "[net]\r\nport = 80\r\n", Set("net", "host", "h"), bom + "[net]\r\nport = 80\r\nhost = h\r\n"},
      // A changed line keeps its own line end; new lines take the file's.
      {"[a]\r\nx = 1\ny = 2\r\n", Set("a", "x", "5"), "[a]\r\nx = 5\ny = 2\r\n"},
      {"[a]\r\nx = 1\ny = 2\r\n", Set("a", "z", "5"), "[a]\r\nx = 1\ny = 2\r\nz = 5\r\n"},
      {"[a]\n\tx\t=\t1 ; c\n  y=2 # old\n", Set("a", "y", "3"), "[a]\n\tx\t=\t1 ; c\ny = 3 # old\n"},
      {"[a]\nx = 1 # old\n", {"set", "a", "x", "1", "new"}, "[a]\nx = 1 # new\n"},
      // Without a final line end, the file stays without one.
      {"[a]\nx = 1", Set("a", "x", "2"), "[a]\nx = 2"},
      {"[a]\nx = 1", Set("a", "y", "2"), "[a]\nx = 1\ny = 2"},
      {"[a]\r\nx = 1", Set("b", "y", "2"), "[a]\r\nx = 1\r\n\r\n[b]\r\ny = 2"},
      // A new section is set off by a blank line unless a comment does it.
      {"[a]\nx = 1\n", Set("b", "y", "2"), "[a]\nx = 1\n\n[b]\ny = 2\n"},
      {"[a]\nx = 1\n# end\n", Set("b", "y", "2"), "[a]\nx = 1\n# end\n[b]\ny = 2\n"},
      {"", Set("b", "y", "2"), "[b]\ny = 2\n"},
      {"g = 1\n[a]\n", Set("a", "x", "1"), "g = 1\n[a]\nx = 1\n"},
      // The first of several, names folded over A-Z only.
      {"[a]\nx = 1\nX = 2\n[A]\nx = 3\n", Set("A", "x", "9"), "[a]\nx = 9\nX = 2\n[A]\nx = 3\n"},
      {"[a]\nx = 1 # c\n", Set("A", "X", "1"), "(unchanged)"},
      // Not "already so" where the line says otherwise to a person.
      {"[a]\nkey: value\n", Set("a", "key", ""), "(refused at line 2)"},
      {"[a]\nlog.level = 3\n", Set("a", "log", ""), "(refused at line 2)"},
      {"[a]\nk = " + std::string(kPiece, 'v') + "\n", Set("a", "k", std::string(kPiece - 4, 'v')),
       "(refused at line 2)"},
      {"[a]\nk = \"a # b\" # c\n", Set("a", "k", "v"), "[a]\nk = v # c\n"},
      // A line that would not read back as written is refused: an odd
      // double quote makes the reader take the comment into the value.
      {"[a]\n", Set("a", "k", "a\"b"), "[a]\nk = a\"b\n"},
      {"[a]\n", {"set", "a", "k", "a\"b", "c"}, "(refused at line 0)"},
      // Deleting one parameter removes its line and nothing else.
      {"[a]\nx = 1\n  y = 2\r\nz\n", Del("a", "Y"), "[a]\nx = 1\nz\n"},
      {"[a]\nx = 1\ny = 2", Del("a", "y"), "[a]\nx = 1\n"},
      {"[a]\nname value\nx = 1\n", Del("a", "name"), "[a]\nx = 1\n"},
      {"[a]\nkey: value\nx = 1\n", Del("a", "KEY"), "[a]\nx = 1\n"},
      {"[a]\nname  value # a = b\n", Del("a", "name"), "[a]\n"},
      // A line whose name reads shorter than it looks is not deleted in
      // place of the parameter asked for.
      {"[a]\nlog.level = 3\nlog = 5\n", Del("a", "log"), "(refused at line 2)"},
      {"[a]\n  server string = NAS\n", Del("a", "server"), "(refused at line 2)"},
      {"[a]\nname a=b\n", Del("a", "name"), "(refused at line 2)"},
      {"[a]\nx = 1\n", Del("a", "y"), "(no parameter)"},
      {"[a]\nx = 1\n", Del("b", "x"), "(no section)"},
  };
  for (Case const& c : cases) EXPECT_EQ(Apply(c.before, c.op), c.after) << c.before;
}

TEST(KvosCfgEdit, DeletingASectionKeepsTheCommentsThatLeadIntoTheNext) {
  struct Case {
    std::string before, after;
  } const cases[] = {
      {"[a]\nx = 1\n# ---- b: database ----\n[b]\ny = 2\n", "# ---- b: database ----\n[b]\ny = 2\n"},
      // The remark right after the last parameter goes with the section;
      // the blank lines before the deleted header already set the block off.
      {"[z]\n\n[a]\nx = 1\n# about x\n\n# ---- b ----\n\n[b]\n", "[z]\n\n# ---- b ----\n\n[b]\n"},
      {"[z]\n[a]\nx = 1\n\n# ---- b ----\n[b]\n", "[z]\n\n# ---- b ----\n[b]\n"},
      {"[a]\nx = 1\n\n# b\n[b]\n", "# b\n[b]\n"},
      {"[a]\n# inside\nx = 1\n# right above b\n[b]\n", "# right above b\n[b]\n"},
      {"[z]\nx=1\n\n[a]\ny=2\n\n[c]\n", "[z]\nx=1\n\n[c]\n"},
      // The last section takes its trailing comments along.
      {"[b]\ny = 1\n[a]\nx = 1\n# trailing\n\n", "[b]\ny = 1\n"},
      {"[a]\nx = 1\n[A]\ny = 2\n", "[A]\ny = 2\n"},
      {"\xEF\xBB\xBF[a]\r\nx = 1\r\n\r\n; b\r\n[b]\r\n", "\xEF\xBB\xBF; b\r\n[b]\r\n"},
      {"[a]\nx = 1", ""},
  };
  for (Case const& c : cases) EXPECT_EQ(Apply(c.before, Del("a")), c.after) << c.before;
}

// Lines around the reader's piece size: a line of up to 32767 bytes with
// its line end is one line to the reader and can be rewritten; one more
// byte and it is two, which an edit must not cut.
TEST(KvosCfgEdit, LongLinesAreKeptWholeOrLeftAlone) {
  for (std::string const eol : {"\n", "\r\n"}) {
    for (std::size_t total : {kPiece - 1, kPiece, kPiece + 1}) {
      SCOPED_TRACE(std::to_string(total) + (eol.size() == 2 ? " CR LF" : " LF"));
      std::string line = "k = " + std::string(total - 4 - eol.size(), 'v');
      std::string text = "[a]" + eol + line + eol + "x = 1" + eol;
      std::string const expected = total <= kPiece ? "[a]" + eol + "k = 2" + eol + "x = 1" + eol : "(refused at line 2)";
      EXPECT_EQ(Apply(text, Set("a", "k", "2")), expected);
      // Other edits keep it byte for byte.
      EXPECT_EQ(Apply(text, Set("a", "x", "2")), "[a]" + eol + line + eol + "x = 2" + eol);
    }
  }
  // The reader's pieces of one long line: a comment, then a parameter k,
  // then a comment again. An edit that would fall between them is refused.
  std::string cut = "[a]\n# " + std::string(kPiece - 2, 'c') + "k = 1" + std::string(kPiece - 5, ' ') + "# tail\n";
  EXPECT_EQ(Apply(cut, Set("a", "new", "1")), "(refused at line 2)");
  EXPECT_EQ(Apply(cut, Set("a", "k", "2")), "(refused at line 2)");
  EXPECT_EQ(Apply(cut, Del("a", "k")), "(refused at line 2)");
  EXPECT_EQ(Apply(cut, Set("b", "k", "2")), cut + "[b]\nk = 2\n");
  EXPECT_EQ(Apply(cut, Del("a")), "");
  // A header that is only a piece of a long comment to the reader: what
  // goes under it would stand under another section for a person.
  std::string ghost = "[a]\nx = 1\n# " + std::string(kPiece - 2, 'c') + "[g]\nk = 1\n";
  for (Op const& op : {Set("g", "k", "2"), Set("g", "new", "2"), Del("g", "k"), Del("g")})
    EXPECT_EQ(Apply(ghost, op), "(refused at line 3)") << op.verb << " " << op.name;
  EXPECT_EQ(Apply(ghost, Set("a", "x", "2")), "[a]\nx = 2\n" + ghost.substr(10));
  // A real header that begins a long line is a header as it looks.
  std::string const wide = "[a]" + std::string(kPiece, ' ') + "\n";
  EXPECT_EQ(Apply(wide + "k = 1\n", Set("a", "k", "2")), wide + "k = 2\n");
  EXPECT_EQ(Apply(wide + "k = 1\n", Del("a", "k")), wide);
  EXPECT_EQ(Apply(wide + "k = 1\n[b]\n", Del("a")), "[b]\n");

  // A last line without line end gains one when a line is added after
  // it; it must still be one line to the reader.
  for (std::size_t length : {kPiece - 2, kPiece - 1, kPiece}) {
    std::string text = "[a]\n# " + std::string(length - 2, 'c');
    std::string result = Apply(text, Set("b", "x", "1"));
    if (length + 1 <= kPiece) {
      EXPECT_EQ(result, text + "\n[b]\nx = 1") << length;
    } else {
      Document doc;
      ASSERT_TRUE(doc.Load(text));
      EditResult r = doc.Set("b", "x", "1", nullptr);
      EXPECT_EQ(r.outcome, Outcome::kRefused);
      EXPECT_EQ(r.line, 2);
      EXPECT_EQ(r.reason, "the last line has no line end; with the one that the lines added after it need, it would be " +
                              std::to_string(kPiece + 1) + " bytes long, and the reader would read it otherwise");
    }
  }

  // A new line may be as long as the reader takes in one piece, no longer.
  for (std::size_t length : {kPiece - 6, kPiece - 5, kPiece - 4}) {
    std::string value(length, 'w');
    std::string result = Apply("[a]\n", Set("a", "x", value));
    if (length <= kPiece - 5)
      EXPECT_EQ(result, "[a]\nx = " + value + "\n") << length;
    else
      EXPECT_EQ(result, "(refused at line 0)") << length;
  }
}

TEST(KvosCfgEdit, CheckNotesWhatReadsOtherwiseThanItLooks) {
  std::string const text = "\xEF\xBB\xBFglobal = 1\n[a]\nlog.level = 3\nkey: value\nx = 1 ; no comment\nx = 2\n[]\n[A]\n# " +
                           std::string(40000, 'c') + "\n";
  Document doc;
  ASSERT_TRUE(doc.Load(text, true));
  EXPECT_EQ(doc.Blocking(), nullptr);
  std::vector<std::pair<int, std::string>> const expected = {
      {1, "byte order mark"}, {1, "'global' stands before the first section"},
      {3, "reads as the parameter 'log' with an empty value and the comment '.level = 3'"},
      {4, "reads as the parameter 'key' with an empty value and the comment ': value'"},
      {5, "';' begins no comment"}, {6, "'x' again in [a] (first at line 5)"},
      {7, "a section without a name"}, {8, "[A] again (first at line 2)"},
      {9, "40003 bytes long and the reader reads it as 2 lines"},
  };
  ASSERT_EQ(doc.Findings().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(doc.Findings()[i].line, expected[i].first);
    EXPECT_FALSE(doc.Findings()[i].blocking);
    EXPECT_NE(doc.Findings()[i].text.find(expected[i].second), std::string::npos) << doc.Findings()[i].text;
  }
  // Plain files give nothing to note; a flood of findings is cut short.
  Document plain;
  ASSERT_TRUE(plain.Load("# c\n[a]\nx = 1 # y\nflag\n\n[b]\nx = 2\n", true));
  EXPECT_TRUE(plain.Findings().empty());
  Document flood;
  std::string many;
  for (int i = 0; i < 150; ++i) many += std::string("#\0\n", 3);
  ASSERT_TRUE(flood.Load(many, true));
  EXPECT_EQ(flood.Findings().size(), Document::kMaxFindings);
  EXPECT_EQ(flood.Omitted(), 50u);
  ASSERT_NE(flood.Blocking(), nullptr);
  EXPECT_EQ(flood.Blocking()->line, 1);
}

// Random files of real-world line shapes and random edits: every line that
// the edit does not name stays byte for byte, and what it names reads back
// as asked.
struct FileMaker {
  std::mt19937 rng;
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
  template <class T, std::size_t N>
  T const& One(T const (&list)[N]) {
    return list[Pick(0, static_cast<int>(N) - 1)];
  }

  static constexpr char const* kSections[] = {"net", "Net", "log", "db", "x", "\xC3\xBC-s"};
  static constexpr char const* kNames[] = {"port", "Port", "host", "level", "x", "path", "_\xE2\x82\xAC"};
  static constexpr char const* kValues[] = {"1", "two words", "/a/b c", "\xC3\xBC", "", "v=w"};

  std::string Line() {
    std::string s = One(kSections), n = One(kNames), v = One(kValues);
    switch (Pick(0, 16)) {
      case 0: return "[" + s + "]";
      case 1: return "[ " + s + " ] # c";
      case 2: return "\t[" + s + "] ; old style";
      case 3: return n + " = " + v;
      case 4: return n + "=" + v;
      case 5: return "\t" + n + "\t=\t" + v + " # note";
      case 6: return "  " + n + " = " + v + " ; semi";
      case 7: return n + " = \"q # x\"";
      case 8: return n;
      case 9: return "# comment " + v;
      case 10: return "; comment";
      case 11: return "#";
      case 12: return "";
      case 13: return "   ";
      case 14: return "## " + n;
      case 15: return "# " + std::string(static_cast<std::size_t>(Pick(30000, 70000)), 'c');  // pieces
      default: return "#" + std::string(static_cast<std::size_t>(Pick(32760, 40000)), '#');
    }
  }

  std::string File() {
    std::string eol = Pick(0, 1) ? "\r\n" : "\n";
    std::string text = Pick(0, 3) == 0 ? "\xEF\xBB\xBF" : "";
    for (int i = Pick(0, 25); i > 0; --i) {
      text += Line();
      if (i > 1 || Pick(0, 3) != 0) text += Pick(0, 5) == 0 ? (eol == "\n" ? "\r\n" : "\n") : eol;
    }
    return text;
  }

  Op Edit() {
    std::string s = One(kSections), n = One(kNames);
    switch (Pick(0, 3)) {
      case 0: return Del(s, n);
      case 1: return Del(s);
      case 2: return {"set", s, n, One(kValues), "new remark"};
      default: return Set(s, n, One(kValues));
    }
  }
};

std::vector<std::string> Lines(std::string text) {
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

// What the library reads from `text` (without a byte order mark).
void Read(std::string const& text, Korvane::cKV_CfgFile& cfg) {
  std::size_t skip = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  Korvane::cKV_Error e;
  ASSERT_TRUE(cfg.ReadText(e, text.data() + skip, static_cast<unsigned int>(text.size() - skip)));
}

int CountParams(Korvane::cKV_CfgFile const& cfg, std::string const& section, std::string const& name) {
  int count = 0;
  Korvane::cKV_CfgRecord* s = cfg.FindSection(section.c_str());
  for (auto* r = s != nullptr ? cfg.GetNext(s) : nullptr; r != nullptr && r->GetType() != Korvane::eCfgSection;
       r = cfg.GetNext(r))
    count += r->GetType() == Korvane::eCfgParam && r->GetName().CmpNoCase(name.c_str()) ? 1 : 0;
  return count;
}

int CountSections(Korvane::cKV_CfgFile const& cfg, std::string const& name) {
  int count = 0;
  for (auto* r = cfg.GetFirst(); r != nullptr; r = cfg.GetNext(r))
    count += r->GetType() == Korvane::eCfgSection && r->GetName().CmpNoCase(name.c_str()) ? 1 : 0;
  return count;
}

TEST(KvosCfgEdit, RandomEditsOfRealWorldShapesTouchOnlyTheNamedLines) {
  int changed = 0;
  for (unsigned seed = 1; seed <= 1500; ++seed) {
    FileMaker make{std::mt19937(seed)};
    std::string const before = make.File();
    Op const op = make.Edit();
    SCOPED_TRACE("seed " + std::to_string(seed) + ": " + op.verb + " " + op.section + " " + op.name);
    Document doc;
    ASSERT_TRUE(doc.Load(before));
    ASSERT_EQ(doc.Blocking(), nullptr);
    EditResult r = Perform(doc, op);
    // These shapes never force a refusal.
    ASSERT_NE(r.outcome, Outcome::kRefused) << r.line << ": " << r.reason;
    if (r.outcome != Outcome::kChanged) continue;
    ++changed;
    std::string const& after = doc.NewText();

    // What the edit names reads back as asked.
    Korvane::cKV_CfgFile old, now;
    Read(before, old);
    Read(after, now);
    if (op.verb == "set") {
      auto* p = now.FindParam(now.FindSection(op.section.c_str()), op.name.c_str());
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(std::string(p->GetValue()), op.value);
      if (op.comment) {
        EXPECT_EQ(std::string(p->GetComment()), *op.comment);
      }
    } else if (!op.name.empty()) {
      EXPECT_EQ(CountParams(now, op.section, op.name), CountParams(old, op.section, op.name) - 1);
    } else {
      EXPECT_EQ(CountSections(now, op.section), CountSections(old, op.section) - 1);
    }
    EXPECT_EQ(after.compare(0, 3, "\xEF\xBB\xBF") == 0, before.compare(0, 3, "\xEF\xBB\xBF") == 0);

    // Everything else stays: the old and new lines differ in one run of
    // lines at most. A last line without line end gains one when lines
    // follow it now; compare with line ends completed.
    std::vector<std::string> a = Lines(before), b = Lines(after);
    std::size_t crlf = 0, lf = 0;
    for (auto const& line : a)
      if (line.back() == '\n') ++(line.size() >= 2 && line[line.size() - 2] == '\r' ? crlf : lf);
    std::string const eol = crlf > lf ? "\r\n" : "\n";
    bool openOld = !a.empty() && a.back().back() != '\n', openNew = !b.empty() && b.back().back() != '\n';
    if (op.verb == "set") {
      EXPECT_EQ(openNew, openOld);
    }
    if (openOld) a.back() += eol;
    if (openNew) b.back() += eol;
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) ++tail;
    std::size_t gone = a.size() - head - tail, added = b.size() - head - tail;
    if (op.verb == "set") {
      bool newSection = CountSections(old, op.section) == 0;
      bool newParam = newSection || CountParams(old, op.section, op.name) == 0;
      EXPECT_EQ(gone, newParam ? 0u : 1u);
      EXPECT_TRUE(newSection ? added == 2 || added == 3 : added == 1) << added;
    } else {
      EXPECT_EQ(added, 0u);
      EXPECT_GE(gone, 1u);
      if (!op.name.empty()) {
        EXPECT_EQ(gone, 1u);
      }
    }
  }
  EXPECT_GT(changed, 600);
}

// ---- the file side ----------------------------------------------------------

// The names in a directory, sorted.
std::vector<std::string> Names(TempDir const& dir) {
  std::vector<std::string> names;
  for (auto const& entry : std::filesystem::directory_iterator(dir.Path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// With copies that have no name until they are complete, and with named
// ones (file systems that cannot make the former).
TEST(KvosCfgFile, ReplacesOnlyWhatItReadAndNeverAnotherNewFile) {
  for (bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed ? "unnamed copies" : "named copies");
    TempDir dir;
    std::string const file = dir / "app.cfg";
    std::string why;
    {
      kvtest::WriteFile(file, "[a]\nx = 1\n");
      FileEdit edit(unnamed);
      ASSERT_EQ(edit.Open(file, false, why), Status::kOk) << why;
      EXPECT_EQ(edit.Replace("[a]\nx = 2\n", why), Status::kOk) << why;
      EXPECT_EQ(kvtest::ReadFile(file), "[a]\nx = 2\n");
    }
    // Written to in place, and replaced by another program's rename.
    for (bool rename : {false, true}) {
      SCOPED_TRACE(rename ? "renamed over" : "written in place");
      kvtest::WriteFile(file, "[a]\nx = 1\n");
      FileEdit edit(unnamed);
      ASSERT_EQ(edit.Open(file, false, why), Status::kOk) << why;
      EXPECT_TRUE(edit.Exists());
      EXPECT_EQ(edit.Bytes(), "[a]\nx = 1\n");
      if (rename) {
        kvtest::WriteFile(dir / "other", "[a]\nx = other\n");
        std::error_code ec;
        std::filesystem::rename(kvtest::U8Path(dir / "other"), kvtest::U8Path(file), ec);
        if (ec) {
          // Wine refuses to rename over a file that is open, whatever its
          // sharing allows.
          std::printf("[ HOST ] renaming over the file being edited is refused here (%s)\n", ec.message().c_str());
          std::filesystem::remove(kvtest::U8Path(dir / "other"));
          continue;
        }
      } else {
        kvtest::WriteFile(file, "[a]\nx = 22\n");
      }
      EXPECT_EQ(edit.Replace("[a]\nx = 2\n", why), Status::kFailed);
      EXPECT_NE(why.find("changed while it was being edited"), std::string::npos) << why;
      EXPECT_EQ(kvtest::ReadFile(file), rename ? "[a]\nx = other\n" : "[a]\nx = 22\n");
      EXPECT_EQ(Names(dir), std::vector<std::string>{"app.cfg"});
    }

    // A file that appears while a new one is being made is not overwritten:
    // the edit has to start again with it.
    std::string const fresh = dir / "fresh.cfg";
    for (bool appears : {true, false}) {
      FileEdit edit(unnamed);
      ASSERT_EQ(edit.Open(fresh, true, why), Status::kOk) << why;
      EXPECT_FALSE(edit.Exists());
      if (appears) {
        kvtest::WriteFile(fresh, "[mine]\n");
        EXPECT_EQ(edit.Replace("[a]\nx = 1\n", why), Status::kAgain);
        EXPECT_EQ(kvtest::ReadFile(fresh), "[mine]\n");
        ASSERT_TRUE(std::filesystem::remove(kvtest::U8Path(fresh)));
      } else {
        EXPECT_EQ(edit.Replace("[a]\nx = 1\n", why), Status::kOk) << why;
        EXPECT_EQ(kvtest::ReadFile(fresh), "[a]\nx = 1\n");
      }
      std::vector<std::string> const expected =
          appears ? std::vector<std::string>{"app.cfg"} : std::vector<std::string>{"app.cfg", "fresh.cfg"};
      EXPECT_EQ(Names(dir), expected);
    }
    // Opened while missing, without leave to create it.
    FileEdit missing(unnamed);
    EXPECT_EQ(missing.Open(dir / "none.cfg", false, why), Status::kFailed);
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(std::filesystem::exists(kvtest::U8Path(dir / "none.cfg")));
  }
}

}  // namespace
