// The kvos tool as its users see it: output, messages and exit statuses.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

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

}

// The commands that `kvos --help` lists.
std::set<std::string> ListedCommands() {
  std::set<std::string> names;
  std::string help = RunKvos({"--help"}).out;
  std::size_t at = help.find("Commands:\n");
  for (std::size_t line = at + 10; at != std::string::npos && help.compare(line, 2, "  ") == 0;
       line = help.find('\n', line) + 1) {
    std::size_t end = help.find(' ', line + 2);
    names.insert(help.substr(line + 2, end - line - 2));
  }
  return names;
}

TEST(KvosTool, EveryCommandHasHelpAndRefusesUnknownOptions) {
  kvtest::TempDir dir;
  std::string const file = dir / "x.log";
  kvtest::WriteFile(file, "");
  // "--bogus" wherever an option may stand, in every command.
  std::vector<std::vector<std::string>> const lines{
      {"b64", "--bogus"}, {"b64", "encode", "1", "--bogus"}, {"b64", "decode", "--bogus"},
      {"error", "--bogus"}, {"error", "decode", "--bogus"}, {"error", "encode", "1", "2", "u", "--bogus"},
      {"error", "sys", "2", "--bogus"},
      {"uid", "--bogus"}, {"uid", "3", "--bogus"}, {"uid", "parse", "--bogus"},
      {"time", "--bogus"}, {"time", "0", "--bogus"},
      {"net", "--bogus"}, {"net", "if", "--bogus"}, {"net", "resolve", "localhost", "--bogus"},
      {"net", "name", "127.0.0.1", "--bogus"}, {"net", "ip", "1.2.3.4", "--bogus"},
      {"info", "--bogus"},
      {"load", "--bogus"}, {"load", "--count", "1", "--bogus"},
      {"proc", "--bogus", "self"}, {"proc", "self", "--interval", "10", "--bogus"},
      {"process", "--bogus"}, {"process", "start", "--bogus", "true"},
      {"process", "start", "--wait", "--bogus", "true"},
      {"process", "exists", "1", "--bogus"}, {"process", "kill", "--bogus", "1"}, {"process", "self", "--bogus"},
      {"process", "user", "--bogus"}, {"process", "temp", "--bogus"},
      {"log", "--bogus"}, {"log", "write", "--bogus", "m"}, {"log", "where", "--bogus"},
      {"log", "show", file, "--bogus"}, {"log", "show", "--bogus", file},
      {"log", "show", file, "--level", "1", "--bogus"},
      {"cfg", "--bogus"}, {"cfg", "get", dir / "a.cfg", "s", "n", "--bogus"}, {"cfg", "list", dir / "a.cfg", "--bogus"},
      {"cfg", "set", dir / "a.cfg", "s", "n", "v", "--bogus"}, {"cfg", "check", dir / "a.cfg", "--bogus"},
  };
  std::set<std::string> covered;
  for (auto const& line : lines) {
    auto r = RunKvos(line);
    std::string const shown = line[0] + " " + line[1];
    EXPECT_EQ(r.status, 2) << shown;
    EXPECT_EQ(r.err.rfind("kvos " + line[0] + ": unknown option --bogus\n", 0), 0u) << shown << ": " << r.err;
    EXPECT_TRUE(r.out.empty()) << shown;
    covered.insert(line[0]);
  }
  EXPECT_EQ(kvtest::ReadFile(file), "");
  EXPECT_FALSE(std::ifstream(dir / "a.cfg").good()) << "a refused edit made the file";
  EXPECT_EQ(ListedCommands(), covered) << "every command is in the table";

  // "--" ends the options: data may begin with "--".
  auto data = RunKvos({"error", "encode", "1", "2", "u", "--", "--bogus"});
  EXPECT_EQ(Said(data), "0|1:2:1:u:7:--bogus\n") << data.err;

  for (auto const& command : covered) {
    auto r = RunKvos({command, "--help"}), bare = RunKvos({command, "-h"});
    EXPECT_TRUE(r.status == 0 && r.out.rfind("Usage: kvos " + command, 0) == 0u) << command;
    EXPECT_NE(r.out.find("an unknown option is refused"), std::string::npos) << command;
    EXPECT_NE(r.out.find("2 the command line cannot be used"), std::string::npos) << command;
    EXPECT_EQ(bare.out, r.out) << command;
  }
}

// One rule for a text given on the command line that cannot be read:
// exit status 2, a message, the usage, and no output.
TEST(KvosTool, UnreadableArgumentTextsExitWithStatus2) {
  for (auto const& line : std::vector<std::vector<std::string>>{
           {"b64", "decode", "!!!"}, {"b64", "encode", "1x"}, {"uid", "parse", "zz"}, {"error", "decode", "garbage"},
           {"error", "sys", "two"}, {"time", "soon"}, {"net", "name", "1.2.3"}, {"process", "kill", "x"},
           {"process", "exists", "-1"}, {"uid", "ten"}, {"load", "--interval", "0"}, {"b64", "decode", ""},
           {"uid", "parse", ""}, {"error", "decode", ""}, {"time", ""}, {"process", "start", ""}}) {
    auto r = RunKvos(line);
    EXPECT_EQ(r.status, 2) << line[0] << " " << line[1];
    EXPECT_TRUE(r.out.empty()) << line[0] << " " << line[1];
    EXPECT_EQ(r.err.rfind("kvos " + line[0] + ": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("\nUsage: kvos " + line[0]), std::string::npos) << r.err;
  }
}

TEST(KvosTool, ErrorRecords) {
  auto r = RunKvos({"error", "decode", "3:10:1:u:16:File not found:x"});
  EXPECT_EQ(Said(r), "0|code: 3\nline: 10\nunit: u\ntext: File not found:x\n");

  auto bad = RunKvos({"error", "decode", "3:10:1:u:17:File not found:x"});
  EXPECT_TRUE(bad.status == 2 && bad.out.empty());
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
  EXPECT_TRUE(none.status == 2 && none.out.empty() && none.err.find("no base-64 number") != std::string::npos);

  // Only what the library reads whole: six digits at most, no value beyond
  // 32 signed bits (the library would wrap it).
  auto edges = RunKvos({"b64", "decode", "1$$$$$ -200000 100000 0 -0 000000"});
  EXPECT_EQ(Said(edges), "0|2147483647 -2147483648 1073741824 0 0 0\n");
  for (char const* bad : {"200000", "-200001", "3$$$$$", "zzzzzz", "0000000", "1 1234567", "zzzzzzzzzz", "-0000000"}) {
    auto r = RunKvos({"b64", "decode", bad});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_TRUE(r.out.empty()) << bad << ": " << r.out;
    EXPECT_NE(r.err.find("is no base-64 number of 32 bits"), std::string::npos) << bad << ": " << r.err;
  }
  // After "--" a "--help" is data too.
  kvtest::TempDir dir;
  auto logged = RunKvos({"log", "write", "--dir", dir.Path(), "--name", "h", "--", "--help"});
  EXPECT_EQ(logged.status, 0) << logged.err;
  EXPECT_NE(kvtest::ReadFile(dir / "h.log").find(" MSG:--help\n"), std::string::npos);
  auto dash = RunKvos({"b64", "decode", "-h"});  // data, not a help request
  EXPECT_EQ(Said(dash), "0|-43\n");
}

}  // namespace
