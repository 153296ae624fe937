// kvos log where only POSIX hosts show it: a file size limit that cuts a
// record as a full disk would.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/testing.h"

using kvtest::ReadFile;
using kvtest::RunKvos;
using kvtest::TempDir;

namespace {

std::string const head = "[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\n \\[[0-9A-F]+\\] LEVEL:";

TEST(KvosLogLinux, AWriteCutShortIsAFailureAndTheNextRecordStartsOnItsOwnLine) {
  TempDir dir;
  // A write cut short on an open file (as on a full disk) is a failure, and
  // the record did not go to standard output. The file size limit cuts the
  // write as a full disk would; its signal is ignored.
  kvtest::WriteFile(dir / "cut.log", std::string(1000, 'x'));
  auto cut = kvtest::Run({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 3; exec \"$0\" \"$@\"", KVOS_TOOL_PATH, "log",
                          "write", "--dir", dir.Path(), "--name", "cut", std::string(5000, 'm')});
  EXPECT_LT(ReadFile(dir / "cut.log").size(), 6000u);
  EXPECT_TRUE(cut.status == 1 && cut.out.empty());
  EXPECT_NE(cut.err.find("incomplete"), std::string::npos) << cut.err;
  // The next run's record starts on a line of its own and reads back whole,
  // time line included.
  auto next = RunKvos({"log", "write", "--dir", dir.Path(), "--name", "cut", "after the cut"});
  EXPECT_EQ(next.status, 0) << next.err;
  auto shown = RunKvos({"log", "show", dir / "cut.log", "--grep", "after the cut"});
  EXPECT_TRUE(std::regex_match(shown.out, std::regex(head + "2 FILE:unknown\\[0\\]\n MSG:after the cut\n\n")))
      << shown.out << shown.err;
  std::string const cutLog = ReadFile(dir / "cut.log");
  std::size_t const message = cutLog.rfind("\n MSG:after the cut");
  std::size_t const header = cutLog.rfind('\n', message - 1);
  ASSERT_TRUE(message != std::string::npos && header != std::string::npos && header > 0);
  EXPECT_EQ(header - cutLog.rfind('\n', header - 1) - 1, 24u);  // a time line of its own
}


}  // namespace
