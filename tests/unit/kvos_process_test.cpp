// kvos process as its users see it.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

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

TEST(KvosProcess, StartsWatchesAndStops) {
  kvtest::TempDir dir;
  std::string mark = dir / "mark";
  EXPECT_GT(std::stoul(Process({"start", "--wait", "sh", "-c \"echo done > '" + mark + "'\""}, 0).out), 0u);
  EXPECT_EQ(kvtest::ReadFile(mark), "done\n");

  // Outlives the tool: it must not hold on to the tool's output.
  std::string pid = std::to_string(std::stoul(Process({"start", "sh", "-c \"exec sleep 30 >/dev/null 2>&1\""}, 0).out));
  EXPECT_EQ(Process({"exists", pid}, 0).out, "running\n");
  Process({"kill", pid}, 0);
  for (int i = 0; i < 3000 && kvtest::RunKvos({"process", "exists", pid}).status == 0; ++i) usleep(10000);
  EXPECT_EQ(Process({"exists", pid}, 1).out, "not running\n");

  EXPECT_EQ(Process({"start", "/nonexistent/program"}, 1).err,
            "kvos process: Failed to create process: GetLastError()=2 [No such file or directory]\n");
  EXPECT_EQ(Process({"kill", "0"}, 1).err, "kvos process: Invalid process id\n");
  EXPECT_EQ(Process({"exists", "2147483647"}, 1).out, "not running\n");
}

TEST(KvosProcess, DescribesItsProcess) {
  EXPECT_EQ(Process({"self"}, 0).out.rfind("process ", 0), 0u);
  if (passwd* entry = getpwuid(geteuid())) {
    EXPECT_EQ(Process({"user"}, 0).out, std::string(entry->pw_name) + "\n");
  }
  EXPECT_TRUE(Process({"temp"}, 0).out.ends_with("/\n"));
}

TEST(KvosProcess, BadArguments) {
  for (auto const& args : std::vector<std::vector<std::string>>{
           {}, {"start"}, {"exists"}, {"kill", "x"}, {"user", "x"}, {"what"}})
    EXPECT_NE(Process(args, 2).err.find("Usage: kvos process"), std::string::npos);
  Process({"--help"}, 0);
}

}  // namespace
