// kvos process where POSIX hosts show it: programs run through sh, their
// exit statuses from signals, their standard streams, the user database.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/testing.h"

namespace {

// Runs `kvos process ARGS`, checks its exit status and hands back the rest.
kvtest::RunResult Process(std::vector<std::string> args, int status) {
  args.insert(args.begin(), "process");
  auto r = kvtest::RunKvos(args);
  EXPECT_EQ(r.status, status) << r.err;
  return r;
}

bool EndsWithin(std::string const& pid) {
  for (int i = 0; i < 3000 && kvtest::RunKvos({"process", "exists", pid}).status == 0; ++i) usleep(10000);
  return kvtest::RunKvos({"process", "exists", pid}).status == 1;
}

TEST(KvosProcessLinux, StartsWatchesAndStops) {
  kvtest::TempDir dir;
  std::string mark = dir / "mark";
  EXPECT_EQ(Process({"start", "--wait", "sh", "-c", "echo done > '" + mark + "'"}, 0).out, "");
  EXPECT_EQ(kvtest::ReadFile(mark), "done\n");

  // Unwaited, it outlives the tool without holding on to the tool's pipes
  // (the run would not end before it otherwise).
  std::string pid = std::to_string(std::stoul(Process({"start", "sleep", "30"}, 0).out));
  EXPECT_EQ(Process({"exists", pid}, 0).out, "running\n");
  for (int fd = 0; fd < 3; ++fd)
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + pid + "/fd/" + std::to_string(fd)), "/dev/null") << fd;
  Process({"kill", pid}, 0);
  EXPECT_TRUE(EndsWithin(pid));
  EXPECT_EQ(Process({"exists", pid}, 1).out, "not running\n");

  EXPECT_EQ(Process({"start", "/nonexistent/program"}, 1).err,
            "kvos process: Failed to create process: GetLastError()=2 [No such file or directory]\n");
  EXPECT_EQ(Process({"exists", "2147483647"}, 1).out, "not running\n");
}

TEST(KvosProcessLinux, WaitEndsWithTheProgramsExitStatus) {
  for (auto [script, status] : {std::pair{"exit 0", 0}, {"exit 3", 3}, {"exit 255", 255}, {"kill -9 $$", 128 + 9},
                                {"kill -TERM $$", 128 + 15}}) {
    auto r = Process({"start", "--wait", "sh", "-c", script}, status);
    EXPECT_EQ(r.out, "") << script;
  }
  // The program keeps the tool's standard output while it is waited for.
  EXPECT_EQ(Process({"start", "--wait", "echo", "hello"}, 0).out, "hello\n");
}

TEST(KvosProcessLinux, WordsAfterTheProgramAreItsOwn) {
  // Each word arrives as one argument, however it is written: blanks,
  // quotes, backslashes before a quote or at the end, nothing at all, and
  // words that the tool itself would take as options.
  std::vector<std::string> const words{"a b", "", "x\"y", "c:\\d\\", "e f\\\\", "e\\\"f",
                                       "\\\\\"", "\t", "--help", "--wait", "--", "-h"};
  std::vector<std::string> line{"start", "--wait", "sh", "-c", "for a; do printf '[%s]' \"$a\"; done", "sh"};
  line.insert(line.end(), words.begin(), words.end());
  std::string expected;
  for (auto const& w : words) expected += "[" + w + "]";
  EXPECT_EQ(Process(line, 0).out, expected);
  EXPECT_EQ(Process({"start", "--wait", "echo", "--help", "x"}, 0).out, "--help x\n");
  EXPECT_EQ(Process({"start", "--wait", "--", "echo", "-n", "x"}, 0).out, "x");

  // A program whose name holds a blank.
  kvtest::TempDir dir;
  std::string program = dir / "my prog";
  kvtest::WriteFile(program, "#!/bin/sh\necho \"$# $1\"\n");
  chmod(program.c_str(), 0755);
  EXPECT_EQ(Process({"start", "--wait", program, "one two"}, 0).out, "1 one two\n");
  // A name that the command line cannot carry, and none at all.
  for (auto const& bad : std::vector<std::vector<std::string>>{{"start", "a\"b"}, {"start", ""}, {"start", "--wait"}})
    EXPECT_NE(Process(bad, 2).err.find("Usage: kvos process"), std::string::npos);
}

TEST(KvosProcessLinux, KillRefusesTheSystemAndItselfWithoutForce) {
  for (auto const& pid : {"0", "1"}) {
    auto r = Process({"kill", pid}, 2);
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
  }
  // exec keeps the shell's id, so $$ is the tool's own.
  std::string const tool = KVOS_TOOL_PATH;
  auto self = kvtest::Run({"/bin/sh", "-c", "exec \"$0\" process kill $$", tool});
  EXPECT_EQ(self.status, 2);
  EXPECT_NE(self.err.find("is this tool; --force"), std::string::npos) << self.err;
  auto forced = kvtest::Run({"/bin/sh", "-c", "exec \"$0\" process kill --force $$", tool});
  EXPECT_EQ(forced.status, -1) << "the tool stopped itself";
  // Forced, 0 reaches the library, which refuses it.
  EXPECT_EQ(Process({"kill", "--force", "0"}, 1).err, "kvos process: Invalid process id\n");
  // Process 2 is no such guard.
  auto two = Process({"kill", "2147483647"}, 1);
  EXPECT_EQ(two.err.find("--force"), std::string::npos) << two.err;
}

TEST(KvosProcessLinux, DescribesItsProcess) {
  EXPECT_EQ(Process({"self"}, 0).out.rfind("process ", 0), 0u);
  if (passwd* entry = getpwuid(geteuid())) {
    EXPECT_EQ(Process({"user"}, 0).out, std::string(entry->pw_name) + "\n");
  }
  EXPECT_TRUE(Process({"temp"}, 0).out.ends_with("/\n"));
}

TEST(KvosProcessLinux, BadArguments) {
  for (auto const& args : std::vector<std::vector<std::string>>{
           {}, {"start"}, {"exists"}, {"kill", "x"}, {"kill", "1", "2"}, {"user", "x"}, {"what"}})
    EXPECT_NE(Process(args, 2).err.find("Usage: kvos process"), std::string::npos);
  auto help = Process({"--help"}, 0);
  for (char const* told : {"128 + the signal number", "--force", "/dev/null"})
    EXPECT_NE(help.out.find(told), std::string::npos) << told;
}

}  // namespace
