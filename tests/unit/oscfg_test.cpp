// Editing a configuration file in memory: section areas, lookups and the
// places where new records go.

#include <gtest/gtest.h>

#include <cerrno>

#include "oscfg_support.h"

using namespace cfgtest;
using namespace Korvane;
using namespace kvtest;

namespace {

constexpr char kExample[] = "# top\na = 1\n[S1]\nx = 1 # one\n# note\n[S2]\nx = 2\n";

class CfgEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ReadText(cfg, dir, kExample));
    original = Dump(cfg);
  }
  TempDir dir;
  cKV_CfgFile cfg;
  std::string original;
};

TEST_F(CfgEdit, LookupsFollowSectionAreasAndFoldOnlyAsciiCase) {
  ASSERT_EQ(original, "C:top|P:a=1#|S:S1#|P:x=1#one|C:note|S:S2#|P:x=2#");

  cKV_CfgRecord *s1 = cfg.FindSection("s1"), *s2 = cfg.FindSection("S2");
  ASSERT_TRUE(s1 != nullptr && s2 != nullptr);
  EXPECT_STREQ(s1->GetName(), "S1");

  // A null start is the first section, not the global area.
  cKV_CfgRecord *x1 = cfg.FindParam(nullptr, "x"), *x2 = cfg.FindParam(s2, "X");
  ASSERT_TRUE(x1 != nullptr && x2 != nullptr);
  EXPECT_EQ(cfgtest::Record(x1) + cfgtest::Record(x2), "P:x=1#oneP:x=2#");
  // A parameter start searches on from itself; a comment start from there.
  EXPECT_TRUE(cfg.FindParam(x1, "x") == x1 && cfg.FindParam(cfg.GetNext(x1), "x") == nullptr);

  // The global area is reached by no name.
  EXPECT_TRUE(cfg.FindParam(nullptr, "a") == nullptr && cfg.FindParam(s1, "a") == nullptr);
  EXPECT_EQ(cfg.FindParam(cfg.GetFirst(), "a"), cfg.GetNext(cfg.GetFirst()));  // only by walking to it


  // Only A..Z fold; bytes above 127 compare as they are.
  cKV_CfgFile high;
  ASSERT_TRUE(ReadText(high, dir, "[\xC4pfel]\n[]\n"));
  EXPECT_NE(high.FindSection("\xC4PFEL"), nullptr);
  EXPECT_TRUE(high.FindSection("\xE4pfel") == nullptr && high.FindParam(nullptr, "") == nullptr);
}

TEST_F(CfgEdit, EveryLookupFoldsTheAlphabetsEndsAndNothingBesideThem) {
  cKV_CfgFile ends;
  ASSERT_TRUE(ReadText(ends, dir, "[Zone]\nZeta = 1\nalpha = 2\n[abz]\n"));
  cKV_CfgRecord* zone = ends.FindSection("zONE");
  ASSERT_NE(zone, nullptr);
  EXPECT_EQ(ends.FindSection("ABZ"), ends.GetNext(ends.GetNext(ends.GetNext(zone))));
  EXPECT_EQ(ends.FindParam(zone, "zETA"), ends.GetNext(zone));
  EXPECT_EQ(ends.FindParam(nullptr, "ALPHA"), ends.GetNext(ends.GetNext(zone)));
  // The editing calls find by the same rule: no second section, the value
  // of the existing parameter changes, the named records go.
  EXPECT_EQ(ends.SetSect("ZONE", false, nullptr), zone);
  EXPECT_TRUE(ends.SetParam(zone, "ZETA", "9", nullptr));
  EXPECT_TRUE(ends.DelParam(zone, "ALPHA"));
  EXPECT_TRUE(ends.DelSect("AbZ"));
  EXPECT_EQ(Dump(ends), "S:Zone#|P:Zeta=9#");

  // '@' and '[' border the capitals, '`' and '{' the small letters: none
  // of them is a letter to fold.
  cKV_CfgRecord* at = ends.SetSect("@", false, nullptr);
  cKV_CfgRecord* bracket = ends.SetSect("[", false, nullptr);
  ASSERT_TRUE(at != nullptr && bracket != nullptr);
  EXPECT_TRUE(ends.FindSection("`") == nullptr && ends.FindSection("{") == nullptr);
  EXPECT_TRUE(ends.FindSection("@") == at && ends.FindSection("[") == bracket);
  EXPECT_TRUE(ends.SetParam(at, "p@", "1", nullptr));
  EXPECT_EQ(ends.FindParam(at, "p`"), nullptr);
}

TEST_F(CfgEdit, ParametersGoAfterTheLastParameterOfTheirSection) {
  cKV_CfgRecord* s1 = cfg.FindSection("S1");

  // New names go after x and before the trailing comment.
  ASSERT_TRUE(cfg.SetParam(s1, "y", "2", nullptr));
  EXPECT_EQ(Dump(cfg), "C:top|P:a=1#|S:S1#|P:x=1#one|P:y=2#|C:note|S:S2#|P:x=2#");

  // An existing one: a null comment keeps the comment, a null value empties.
  ASSERT_TRUE(cfg.SetParam(s1, "X", "3", nullptr) && cfg.SetParam(s1, "y", nullptr, "two"));
  EXPECT_EQ(Dump(cfg), "C:top|P:a=1#|S:S1#|P:x=3#one|P:y=#two|C:note|S:S2#|P:x=2#");

  // A record's own texts may be handed back to it, even crosswise.
  cKV_CfgRecord* x = cfg.FindParam(s1, "x");
  ASSERT_TRUE(cfg.SetParam(s1, "x", x->GetComment(), x->GetValue()));
  EXPECT_EQ(cfgtest::Record(x), "P:x=one#3");
  ASSERT_TRUE(cfg.SetParam(s1, "x", x->GetComment(), x->GetValue()));

  // AddParam duplicates; lookups and deletion take the first.
  ASSERT_TRUE(cfg.AddParam(s1, "x", "4", "dup"));
  EXPECT_EQ(Dump(cfg), "C:top|P:a=1#|S:S1#|P:x=3#one|P:y=#two|P:x=4#dup|C:note|S:S2#|P:x=2#");
  EXPECT_STREQ(cfg.FindParam(s1, "x")->GetValue(), "3");
  ASSERT_TRUE(cfg.DelParam(s1, "x"));
  EXPECT_STREQ(cfg.FindParam(s1, "x")->GetValue(), "4");

  // A section without parameters takes the new one right after its header,
  // before its comments.
  cKV_CfgRecord* s3 = cfg.SetSect("S3", false, nullptr);
  ASSERT_TRUE(cfg.AddComm(s3, "c3") && cfg.SetParam(s3, "z", "", nullptr));
  EXPECT_EQ(Dump(cfg), "C:top|P:a=1#|S:S1#|P:y=#two|P:x=4#dup|C:note|S:S2#|P:x=2#|S:S3#|P:z=#|C:c3");

  // Only a section record will do.
  cKV_CfgRecord* param = cfg.FindParam(s1, "y");
  EXPECT_FALSE(cfg.SetParam(nullptr, "q", "1", nullptr) || cfg.AddParam(param, "q", "1", nullptr));
}

TEST_F(CfgEdit, SectionsAndComments) {
  // A null position puts a comment before everything, global records too.
  ASSERT_TRUE(cfg.AddComm(nullptr, "first"));
  EXPECT_EQ(Dump(cfg).substr(0, 19), "C:first|C:top|P:a=1");
  ASSERT_TRUE(!cfg.DelComm(cfg.FindParam(nullptr, "x")) && cfg.DelComm(cfg.GetFirst()));
  EXPECT_EQ(Dump(cfg), original);

  // Finding a section in another case, without clearing, changes nothing.
  cKV_CfgRecord* s1 = cfg.FindSection("S1");
  EXPECT_TRUE(cfg.SetSect("s1", false, nullptr) == s1 && cfg.DelSect("missing"));

  // Clearing keeps the header and its comment unless one is given.
  EXPECT_EQ(cfg.SetSect("S1", true, nullptr), s1);
  EXPECT_EQ(Dump(cfg), "C:top|P:a=1#|S:S1#|S:S2#|P:x=2#");
  EXPECT_EQ(cfg.SetSect("S2", false, "second"), cfg.FindSection("S2"));
  EXPECT_EQ(Dump(cfg), "C:top|P:a=1#|S:S1#|S:S2#second|P:x=2#");

  // A comment taken from a record that the clearing removes is safe.
  ASSERT_TRUE(cfg.SetParam(s1, "k", "v", "from param"));
  cKV_CfgRecord* k = cfg.FindParam(s1, "k");
  EXPECT_EQ(cfg.SetSect("S1", true, k->GetComment()), s1);

  // New and nameless sections are appended; nameless ones every time.
  ASSERT_TRUE(cfg.SetSect("S3", false, "c") && cfg.SetSect("", false, nullptr) && cfg.SetSect(nullptr, false, nullptr));
  EXPECT_EQ(Dump(cfg), "C:top|P:a=1#|S:S1#from param|S:S2#second|P:x=2#|S:S3#c|S:#|S:#");

  // Removing a section takes its whole area and nothing else.
  EXPECT_TRUE(cfg.DelSect("s2"));
  EXPECT_EQ(Dump(cfg), "C:top|P:a=1#|S:S1#from param|S:S3#c|S:#|S:#");
}

TEST_F(CfgEdit, RunningOutOfMemoryIsReportedAndChangesNothing) {
  cKV_CfgRecord* s1 = cfg.FindSection("S1");
  {
    ScopedFault noMemory("alloc", ENOMEM, 0, 1000);
    EXPECT_EQ(cfg.SetSect("new", false, nullptr), nullptr);
    EXPECT_FALSE(cfg.SetParam(s1, "new", "1", nullptr) || cfg.AddParam(s1, "x", "1", nullptr));
    EXPECT_FALSE(cfg.AddComm(nullptr, "c") || cfg.SetParam(s1, "x", "changed", nullptr));
    // The comment cannot be stored, so the area is not cleared either.
    EXPECT_EQ(cfg.SetSect("S1", true, "comment"), nullptr);
  }
  EXPECT_EQ(Dump(cfg), original);

  // Each allocation of a new record in turn: the record, then its texts.
  for (unsigned skip = 0; skip < 4; ++skip) {
    ScopedFault noMemory("alloc", ENOMEM, skip);
    EXPECT_TRUE(!cfg.SetParam(s1, "new", "1", "c") && Dump(cfg) == original) << skip;
  }
}

}  // namespace
