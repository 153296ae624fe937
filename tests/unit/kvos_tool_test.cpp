// The kvos tool as its users see it: output, messages and exit statuses.
#include <gtest/gtest.h>

#include "support/testing.h"

using kvtest::RunKvos;

namespace {

// "status|output" of a run.
std::string Said(kvtest::RunResult const& r) { return std::to_string(r.status) + "|" + r.out; }

TEST(KvosTool, DescribesItselfAndListsCommands) {
  auto r = RunKvos({});
  EXPECT_TRUE(r.status == 0 && r.out.find("kv_Os") != std::string::npos && r.out.find("b64") != std::string::npos);
  auto help = RunKvos({"--help"});
  EXPECT_TRUE(help.status == 0 && help.out.find("Usage: kvos") != std::string::npos);
  auto unknown = RunKvos({"no-such-command"});
  EXPECT_TRUE(unknown.status == 2 && unknown.out.empty());
  EXPECT_NE(unknown.err.find("unknown command"), std::string::npos);

  // Output that cannot be written is a failure, not a success.
  auto full = kvtest::Run({"/bin/sh", "-c", std::string("'") + KVOS_TOOL_PATH + "' b64 encode 1 >/dev/full"});
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("kvos: cannot write the output: No space left on device"), std::string::npos) << full.err;
}

TEST(KvosTool, EveryCommandHasHelp) {
  for (char const* command : {"error", "b64"}) {
    auto r = RunKvos({command, "--help"}), bare = RunKvos({command});
    EXPECT_TRUE(r.status == 0 && r.out.rfind("Usage: kvos ", 0) == 0u) << command;
    EXPECT_TRUE(bare.status == 2 && bare.err.find("Usage: kvos") != std::string::npos) << command;
  }
}

TEST(KvosTool, ErrorRecords) {
  auto r = RunKvos({"error", "decode", "3:10:1:u:16:File not found:x"});
  EXPECT_EQ(Said(r), "0|code: 3\nline: 10\nunit: u\ntext: File not found:x\n");

  auto bad = RunKvos({"error", "decode", "3:10:1:u:17:File not found:x"});
  EXPECT_TRUE(bad.status == 1 && bad.out.empty());
  EXPECT_NE(bad.err.find("not an error record"), std::string::npos);

  EXPECT_EQ(RunKvos({"error", "decode", "a", "b"}).status, 2);

  auto enc = RunKvos({"error", "encode", "6", "120", ".\\ossocket", "a:b"});
  EXPECT_EQ(Said(enc), "0|6:120:10:.\\ossocket:3:a:b\n");
  EXPECT_EQ(RunKvos({"error", "encode", "x", "1", "u", "m"}).status, 2);

  auto sys = RunKvos({"error", "sys", "2"});
  EXPECT_TRUE(sys.status == 0 && sys.out.rfind("GetLastError()=2 [", 0) == 0u);
  EXPECT_EQ(RunKvos({"error", "sys", "99999"}).status, 1);
}

TEST(KvosTool, Base64) {
  auto enc = RunKvos({"b64", "encode", "0", "63", "64", "-1", "2147483647", "-2147483648", "4294967295"});
  EXPECT_EQ(Said(enc), "0|0 $ 10 -1 1$$$$$ -200000 -1\n");
  for (char const* bad : {"4294967296", "12abc", " 5"}) EXPECT_EQ(RunKvos({"b64", "encode", bad}).status, 2) << bad;

  auto dec = RunKvos({"b64", "decode", "zz,1 -W000"});
  EXPECT_EQ(Said(dec), "0|3965 1 -8388608\n");
  auto none = RunKvos({"b64", "decode", "\xC3\xA9!-"});
  EXPECT_TRUE(none.status == 1 && none.out.empty());
  // After "--" a "--help" is data too.
  kvtest::TempDir dir;
  auto logged = RunKvos({"log", "write", "--dir", dir.Path(), "--name", "h", "--", "--help"});
  EXPECT_EQ(logged.status, 0) << logged.err;
  EXPECT_NE(kvtest::ReadFile(dir / "h.log").find(" MSG:--help\n"), std::string::npos);
  auto dash = RunKvos({"b64", "decode", "-h"});  // data, not a help request
  EXPECT_EQ(Said(dash), "0|-43\n");
}

}  // namespace
