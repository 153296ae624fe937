// The text form of configuration files: what each line reads as, what the
// writer writes, and what failing files and hosts give.
#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <random>
#include <utility>

#include "oscfg_support.h"

using namespace cfgtest;
using namespace Korvane;
using namespace kvtest;

namespace {

std::string ReadOne(TempDir const& dir, std::string const& text) {
  cKV_CfgFile cfg;
  ReadText(cfg, dir, text);
  return Dump(cfg);
}

std::string ErrorOf(cKV_Error const& e) {
  return std::to_string(e.GetCode()) + " " + static_cast<char const*>(e.GetUnit()) + " " +
         static_cast<char const*>(e.GetText());
}

TEST(CfgText, WhatEachLineReadsAs) {
  TempDir dir;
  std::vector<std::pair<std::string, std::string>> const cases = {
      {"key = abc # remark\n", "P:key=abc#remark"}, {"key = \"a # b\" # c\n", "P:key=a # b#c"},
      {"key = \"abc # def\n", "P:key=abc # def#"},  // unbalanced: the rest is value
      {"key\n", "P:key=#"},                         {"key junk\n", "P:key=#junk"},
      {"a.b = 1\n", "P:a=#.b = 1"},                 {"  k-_9\t=\tv  v\t \n", "P:k-_9=v  v#"},
      {"= 5\n", "C:= 5"},                           {"\"quoted\n", "C:\"quoted"},
      {"[ Name ] # c\n", "S:Name#c"},               {"[]\n", "S:#"},
      {"[S] x]\n", "S:S#x]"},  // whatever follows the bracket is the comment
      // CR LF line ends read like LF; a CR ends a value.
      {"[S] # c\r\n", "S:S#c"},                     {"key = v\rw\r\n", "P:key=v#w"},
      // A NUL ends the line as the parser sees it; no final line feed is needed.
      {std::string("k = 1\0 # hidden\n", 16), "P:k=1#"}, {"key = last", "P:key=last#"},
      // Rejected lines: nothing is read.
      {"[a b]\n", ""}, {"[abc\n", ""}, {"[1a]\n", ""}, {"1key = 2\n", ""},
  };
  for (auto const& [line, records] : cases) EXPECT_EQ(ReadOne(dir, line), records) << line;
}

TEST(CfgText, ARejectedLineEndsReadingQuietly) {
  TempDir dir;
  cKV_CfgFile cfg;
  cKV_Error error;
  error.Set(9, "keep", 1, "keep");
  std::string path = dir / "stop.cfg";
  kvtest::WriteFile(path, "[S]\na = 1\n[a b]\nb = 2\n");
  // Reading stops before the rejected line, and appends: the same file
  // twice gives the records before it twice.
  EXPECT_TRUE(cfg.ReadFile(error, path.c_str()) && cfg.ReadFile(error, path.c_str()));
  EXPECT_EQ(ErrorOf(error), "9 keep keep");
  EXPECT_EQ(Dump(cfg), "S:S#|P:a=1#|S:S#|P:a=1#");
}

TEST(CfgText, LongLinesAreReadInPieces) {
  TempDir dir;
  // 40000 characters: 32767, then the remaining 7233 with the line feed.
  EXPECT_EQ(ReadOne(dir, "# " + std::string(39998, 'c') + "\n[next]\n"),
            "C:" + std::string(32765, 'c') + "|P:" + std::string(7233, 'c') + "=#|S:next#");


  // A line of exactly 32767 bytes with its line feed is one piece.
  EXPECT_EQ(ReadOne(dir, std::string(32766, 'e') + "\n"), "P:" + std::string(32766, 'e') + "=#");
}

TEST(CfgText, WriterLayout) {
  TempDir dir;
  cKV_CfgFile cfg;
  cfg.SetParam(cfg.SetSect("S1", false, nullptr), "a", "1", "c");
  cfg.SetSect("S2", false, "d");
  EXPECT_EQ(WriteText(cfg, dir), "[S1]\na = 1 # c\n\n[S2] # d\n");

  // A comment before a section stands in for the blank line; a section
  // first in the file gets none.
  cKV_CfgFile more;
  ASSERT_TRUE(ReadText(more, dir, "[A]\n# about B\n[B]\nx =  # c\n= 5\n  \n[C]\n"));
  EXPECT_EQ(WriteText(more, dir), "[A]\n# about B\n[B]\nx =  # c\n# = 5\n\n[C]\n");

}

TEST(CfgText, TextInMemoryReadsAsTheSameBytesInAFile) {
  TempDir dir;
  std::string const lf32766 = std::string(32766, 'a'), cr = "\r\n";
  std::string const cases[] = {
      "",
      "[S]\nk = v # c\n\n; semi\nlast = 1",  // no final line feed
      "[S]\r\nk = v\r\n",
      // Around the piece size: the line feed, or the CR of CR LF, is the
      // 32767th byte, one before it or one past it.
      lf32766 + "\n[T]\n", lf32766.substr(1) + "\n[T]\n", lf32766 + "b\n[T]\n",
      lf32766.substr(1) + cr + "[T]\n", lf32766 + cr + "[T]\n", "# " + std::string(70000, 'c') + "\n[T]\n",
      std::string("k = 1\0 # hidden\nj = 2\n", 22),  // a NUL ends what the parser sees
      "[S]\na = 1\n[a b]\nb = 2\n",                  // reading stops quietly
      "k = 1\x1a\nj = 2\n",                            // a Ctrl-Z byte ends no file
  };
  for (std::string const& text : cases) {
    SCOPED_TRACE(text.substr(0, 40));
    cKV_CfgFile fromFile, fromText;
    ASSERT_TRUE(ReadText(fromFile, dir, text));
    // The bytes after the text are no line end and no NUL: a reader that
    // looked past `length` would take them into the last line.
    std::string memory = text + "[junk] = never\n";
    cKV_Error e;
    ASSERT_TRUE(fromText.ReadText(e, memory.data(), static_cast<unsigned int>(text.size())));
    EXPECT_TRUE(e.IsNotError());
    EXPECT_EQ(Dump(fromText), Dump(fromFile));
  }
  // Appends like ReadFile; a null text is empty.
  cKV_CfgFile twice;
  cKV_Error e;
  EXPECT_TRUE(twice.ReadText(e, "[S]\n", 4) && twice.ReadText(e, "x = 1\n", 6) && twice.ReadText(e, nullptr, 9));
  EXPECT_EQ(Dump(twice), "S:S#|P:x=1#");
  {
    ScopedFault noMemory("alloc", ENOMEM);
    EXPECT_FALSE(twice.ReadText(e, "y = 2\n", 6));
  }
  EXPECT_EQ(ErrorOf(e), "7 .\\oscfg Failed to allocate 32768 bytes.");
  EXPECT_EQ(Dump(twice), "S:S#|P:x=1#");
}

TEST(CfgText, OneRecordAsTextIsTheLineTheWriterWrites) {
  TempDir dir;
  cKV_CfgFile cfg;
  ASSERT_TRUE(ReadText(cfg, dir, "[S] # c\n[T]\nk = v # c\nk2 =\n# note\n\nflag\n"));
  std::string joined;
  for (cKV_CfgRecord* r = cfg.GetFirst(); r != nullptr; r = cfg.GetNext(r)) {
    std::string line(r->ToString());
    // Alone in a file, the record is exactly this line.
    cKV_CfgFile one;
    ASSERT_TRUE(ReadText(one, dir, line));
    EXPECT_EQ(WriteText(one, dir), line);
    joined += line;
  }
  // No blank line before [T]: that one belongs to the file, not the record.
  EXPECT_EQ(joined, "[S] # c\n[T]\nk = v # c\nk2 = \n# note\n\nflag = \n");
  {
    ScopedFault noMemory("alloc", ENOMEM);
    EXPECT_EQ(std::string(cfg.GetFirst()->ToString()), "");
  }
}

// Records that the writer can express: names of name characters, values
// without '#', double quotes, line breaks or edge blanks, trimmed comments.
struct RecordMaker {
  std::mt19937 rng;

  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }

  std::string Name(bool mayBeEmpty) {
    static char const kFirst[] = "abcxyzABCXYZ_-\x80\xC3\xFF";
    static char const kRest[] = "abcXYZ_-0189\xA4\xC3";
    int length = Pick(mayBeEmpty ? 0 : 1, 8);
    std::string s;
    for (int i = 0; i < length; ++i) s += i == 0 ? kFirst[Pick(0, sizeof kFirst - 2)] : kRest[Pick(0, sizeof kRest - 2)];
    return s;
  }

  std::string Text(bool allowHash) {
    static char const kChars[] = "aZ09 \t=[]._,;:'!\\/\xE4\xFF#\"";
    int length = Pick(0, 12);
    std::string s;
    for (int i = 0; i < length; ++i) {
      char c = kChars[Pick(0, sizeof kChars - 2)];
      s += c == '"' || (c == '#' && !allowHash) ? 'q' : c;
    }
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.erase(0, 1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    return s;
  }
};

TEST(CfgText, WrittenRecordsReadBackAsTheRecordsThatProducedThem) {
  TempDir dir;
  for (unsigned seed = 1; seed <= 300; ++seed) {
    RecordMaker make{std::mt19937(seed)};
    cKV_CfgFile cfg;
    cKV_CfgRecord *section = nullptr, *last = nullptr;  // last: the last section or comment made
    for (int i = make.Pick(0, 30); i > 0; --i) {
      int kind = make.Pick(0, 3);
      if (kind == 0) {
        // Unique names: an existing name would find its section again.
        std::string name = make.Name(true);
        if (!name.empty()) name += "_" + std::to_string(i);
        ASSERT_NE(last = section = cfg.SetSect(name.c_str(), false, make.Text(true).c_str()), nullptr);
      } else if (kind == 1 && section != nullptr) {
        std::string name = make.Name(false), value = make.Text(false);
        ASSERT_TRUE(cfg.AddParam(section, name.c_str(), value.c_str(), make.Text(true).c_str()));
      } else {
        ASSERT_TRUE(cfg.AddComm(last, make.Text(true).c_str()));
        last = last == nullptr ? cfg.GetFirst() : cfg.GetNext(last);
      }
    }
    // The expected read-back: the records, with a blank line before every
    // section that is not first and does not follow a comment.
    std::string expected;
    bool afterComment = true;
    for (cKV_CfgRecord* r = cfg.GetFirst(); r != nullptr; r = cfg.GetNext(r)) {
      if (r->GetType() == Korvane::eCfgSection && !afterComment) expected += "C:|";
      expected += cfgtest::Record(r) + "|";
      afterComment = r->GetType() == Korvane::eCfgComment;
    }
    if (!expected.empty()) expected.pop_back();
    std::string text = WriteText(cfg, dir);
    cKV_CfgFile back;
    ASSERT_TRUE(ReadText(back, dir, text));
    ASSERT_EQ(Dump(back), expected) << "seed " << seed << "\n" << text;
    ASSERT_EQ(WriteText(back, dir), text) << "seed " << seed;
  }
}

TEST(CfgText, FailuresAreReportedWithTheirMessages) {
  TempDir dir;
  cKV_CfgFile cfg;
  ASSERT_TRUE(ReadText(cfg, dir, "[S]\na = 1\nb = 2\nc = 3\n"));
  std::string const good = dir / "good.cfg", missing = dir / "missing.cfg", target = dir / "target.cfg";
  kvtest::WriteFile(good, "[T]\nx = 1\ny = 2\n");
  struct Case {
    bool write;
    std::string path;
    char const* point;  // the host operation made to fail, if any
    int error;
    unsigned skip;
    std::string expected;
  };
  std::string const full = kvtest::FullDevice().empty() ? target : kvtest::FullDevice();
  Case const cases[] = {
      {false, missing, nullptr, 0, 0, "3 .\\oscfg Files to open file [" + missing + "] for read"},
      {false, good, "cfg.open", EACCES, 0, "3 .\\oscfg Files to open file [" + good + "] for read"},
      {false, good, "alloc", ENOMEM, 0, "7 .\\oscfg Failed to allocate 32768 bytes."},
      // A read error ends the reading, keeping the records read before it.
      {false, good, "cfg.read", EIO, 2, "3 .\\oscfg Failed to read data from file [" + good + "]"},
      {true, dir.Path(), nullptr, 0, 0, "3 .\\oscfg Failed to open file [" + dir.Path() + "] for write"},
      // A full disk: the buffered lines fail when they are flushed (a really
      // full device where the host has one).
      {true, full, full == target ? "cfg.close" : nullptr, ENOSPC, 0,
       "3 .\\oscfg Failed to write data into file [" + full + "]"},
      // The walk stops at the failing line (the fault fails once).
      {true, target, "cfg.write", ENOSPC, 3, "3 .\\oscfg Failed to write data into file [" + target + "]"},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.expected);
    std::optional<ScopedFault> fault;
    if (c.point != nullptr) fault.emplace(c.point, c.error, c.skip);
    cKV_Error e;
    EXPECT_FALSE(c.write ? cfg.WriteFile(e, c.path.c_str()) : cfg.ReadFile(e, c.path.c_str()));
    EXPECT_EQ(ErrorOf(e), c.expected);
    EXPECT_EQ(fault ? fault->Failures() : 1u, 1u);
  }
  EXPECT_EQ(Dump(cfg), "S:S#|P:a=1#|P:b=2#|P:c=3#|S:T#|P:x=1#");

  // A record that cannot be made ends the reading quietly.
  cKV_CfgFile partial;
  cKV_Error e;
  {
    ScopedFault noMemory("alloc", ENOMEM, 4);
    EXPECT_TRUE(partial.ReadFile(e, good.c_str()) && e.IsNotError());
  }
  EXPECT_EQ(Dump(partial), "S:T#");
}

}  // namespace
