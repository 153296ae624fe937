// The log directory chosen from WDIR, through a real directory tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "OS/osio.h"
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
  void SetUp() override { setenv("TMPDIR", temp.Path().c_str(), 1); }
  void TearDown() override { unsetenv("TMPDIR"); }

  TempDir temp;  // the temporary directory of the process
  TempDir tree;  // where the WDIR candidates live
};

TEST_F(LogDir, ListedCandidatesInOrderAndTheTemporaryForm) {
  std::string const inTemp = temp.Path() + "/TLQ_Logs/", app = tree / "app", missing = tree / "missing",
                    fresh = tree / "fresh", file = tree / "file";
  ASSERT_TRUE(Korvane::osCreateDirectory(nullptr, app.c_str(), false));
  kvtest::WriteFile(file, "x");
  std::string huge;  // names too long for the host
  while (huge.size() < 100000) huge += tree / (std::string(300, 'x') + ";");
  // In order: a row may rely on what the rows before it made.
  struct {
    std::string wdir, dir, made;
    std::vector<std::string> notMade;
  } const cases[] = {
      {"", inTemp, "", {inTemp}},
      // One candidate, with or without its separator, in either spelling.
      {app, app + "/Logs", "", {app + "/Logs"}},
      {app + "/", app + "/Logs", "", {}},
      {tree.Path() + "\\app\\", app + "/Logs", "", {}},
      // The first candidate that exists wins; the missing ones are not made.
      {missing + ";" + app, app + "/Logs", "", {missing}},
      {missing + ";" + app + ";", app + "/Logs", "", {missing}},
      // Nothing exists: the first candidate alone is made, without parents.
      {fresh + ";" + missing, fresh + "/Logs", fresh, {missing, fresh + "/Logs"}},
      {tree / "a/b/c", inTemp, "", {tree / "a"}},
      // A trailing ';' ends the list: the candidate before it is still made.
      {tree / "trailing;", tree / "trailing/Logs", tree / "trailing", {}},
      // A leading ';' is the start of the first candidate (";/...", a
      // relative name that does not exist and cannot be made).
      {";" + app, inTemp, "", {}},
      // ";;" makes the second ';' part of the next candidate, which then does
      // not exist; so the first candidate is made.
      {missing + ";;" + app, missing + "/Logs", missing, {}},
      // The last ';' of ";;" at the end is a candidate of its own, ";"; it is
      // not made, being no first candidate.
      {tree / "other;;", tree / "other/Logs", tree / "other", {";"}},
      // Candidates that cannot serve: a file, names too long for the host.
      {file, inTemp, "", {}},
      {huge, inTemp, "", {}},
      {std::string(100000, 'y'), inTemp, "", {}},
  };
  EXPECT_EQ(LogDirFor(nullptr), inTemp);
  for (auto const& c : cases) {
    SCOPED_TRACE(c.wdir.substr(0, 200));
    EXPECT_EQ(LogDirFor(c.wdir.c_str()), c.dir);
    EXPECT_TRUE(c.made.empty() || IsDir(c.made)) << c.made;
    for (auto const& path : c.notMade) EXPECT_FALSE(IsDir(path)) << path;
  }
  EXPECT_EQ(kvtest::ReadFile(file), "x");

  // Without a usable TMPDIR the temporary form is /tmp's.
  setenv("TMPDIR", file.c_str(), 1);
  EXPECT_EQ(LogDirFor(nullptr), "/tmp/TLQ_Logs/");
}

}  // namespace
