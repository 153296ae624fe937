// The log directory chosen from WDIR, through a real directory tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "OS/osio.h"
#include "OS/osprocess.h"
#include "support/testing.h"

using kvtest::TempDir;

namespace {

std::string LogDirFor(char const* wdir) {
  wdir == nullptr ? unsetenv("WDIR") : setenv("WDIR", wdir, 1);
  std::string dir(static_cast<char const*>(Korvane::osGetLogDir()));
  unsetenv("WDIR");
  return dir;
}

bool IsDir(std::string const& path) { return Korvane::osIsDirectory(path.c_str()); }

class LogDir : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TMPDIR", temp.Path().c_str(), 1);
    ASSERT_TRUE(Korvane::osCreateDirectory(nullptr, app.c_str(), false));
  }
  void TearDown() override { unsetenv("TMPDIR"); }

  TempDir temp;  // the temporary directory of the process
  TempDir tree;  // where the WDIR candidates live
  std::string const inTemp = temp.Path() + "/TLQ_Logs/", app = tree / "app", missing = tree / "missing";
};

TEST_F(LogDir, ListedDirectoriesAndTheTemporaryForm) {
  EXPECT_EQ(LogDirFor(nullptr), inTemp);
  EXPECT_EQ(LogDirFor(""), inTemp);
  EXPECT_FALSE(IsDir(inTemp));

  // One candidate, with or without its separator, in either spelling.
  EXPECT_EQ(LogDirFor(app.c_str()), app + "/Logs");
  EXPECT_EQ(LogDirFor((app + "/").c_str()), app + "/Logs");
  EXPECT_EQ(LogDirFor((tree.Path() + "\\app\\").c_str()), app + "/Logs");
  EXPECT_FALSE(IsDir(app + "/Logs"));

  // The first candidate that exists wins; the missing ones are not made.
  EXPECT_EQ(LogDirFor((missing + ";" + app).c_str()), app + "/Logs");
  EXPECT_EQ(LogDirFor((missing + ";" + app + ";").c_str()), app + "/Logs");
  EXPECT_FALSE(IsDir(missing));

  // Nothing exists: the first candidate alone is made, without parents.
  std::string const fresh = tree / "fresh";
  EXPECT_EQ(LogDirFor((fresh + ";" + missing).c_str()), fresh + "/Logs");
  EXPECT_TRUE(IsDir(fresh));
  EXPECT_FALSE(IsDir(missing));
  EXPECT_FALSE(IsDir(fresh + "/Logs"));
  EXPECT_EQ(LogDirFor((tree / "a/b/c").c_str()), inTemp);
  EXPECT_FALSE(IsDir(tree / "a"));

  // A trailing ';' ends the list: the candidate before it is still made.
  std::string const trailing = tree / "trailing";
  EXPECT_EQ(LogDirFor((trailing + ";").c_str()), trailing + "/Logs");
  EXPECT_TRUE(IsDir(trailing));
}

TEST_F(LogDir, CandidatesAreNeverEmpty) {
  // A leading ';' is the start of the first candidate (";/...", a
  // relative name that does not exist and cannot be made).
  EXPECT_EQ(LogDirFor((";" + app).c_str()), inTemp);
  // ";;" makes the second ';' part of the next candidate, which then does
  // not exist; so the first candidate is made.
  EXPECT_EQ(LogDirFor((missing + ";;" + app).c_str()), missing + "/Logs");
  EXPECT_TRUE(IsDir(missing));
  // The last ';' of ";;" at the end is a candidate of its own, ";"; it is
  // not made, being no first candidate.
  std::string const other = tree / "other";
  EXPECT_EQ(LogDirFor((other + ";;").c_str()), other + "/Logs");
  EXPECT_FALSE(IsDir(";"));
}

TEST_F(LogDir, CandidatesThatCannotServe) {
  // A file where a directory is wanted.
  std::string const file = tree / "file";
  kvtest::WriteFile(file, "x");
  EXPECT_EQ(LogDirFor(file.c_str()), inTemp);
  EXPECT_EQ(kvtest::ReadFile(file), "x");

  // A 100,000-character list of names too long for the host.
  std::string huge;
  while (huge.size() < 100000) huge += tree / (std::string(300, 'x') + ";");
  EXPECT_EQ(LogDirFor(huge.c_str()), inTemp);
  EXPECT_EQ(LogDirFor(std::string(100000, 'y').c_str()), inTemp);

  // Without a usable TMPDIR the temporary form is /tmp's.
  setenv("TMPDIR", file.c_str(), 1);
  EXPECT_EQ(LogDirFor(nullptr), "/tmp/TLQ_Logs/");
}

}  // namespace
