// kvos process as its users see it.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/testing.h"

using kvtest::RunKvos;

namespace {

TEST(KvosProcess, StartsWatchesAndStops) {
  kvtest::TempDir dir;
  std::string mark = dir / "mark";
  auto started = RunKvos({"process", "start", "--wait", "sh", "-c \"echo done > '" + mark + "'\""});
  EXPECT_EQ(started.status, 0) << started.err;
  EXPECT_GT(std::stoul(started.out), 0u);
  EXPECT_EQ(kvtest::ReadFile(mark), "done\n");

  // Outlives the tool: it must not hold on to the tool's output.
  auto sleeper = RunKvos({"process", "start", "sh", "-c \"exec sleep 30 >/dev/null 2>&1\""});
  ASSERT_EQ(sleeper.status, 0) << sleeper.err;
  std::string pid = std::to_string(std::stoul(sleeper.out));
  auto exists = RunKvos({"process", "exists", pid});
  EXPECT_EQ(exists.status, 0);
  EXPECT_EQ(exists.out, "running\n");
  EXPECT_EQ(RunKvos({"process", "kill", pid}).status, 0);
  for (int i = 0; i < 3000 && RunKvos({"process", "exists", pid}).status == 0; ++i) usleep(10000);
  EXPECT_EQ(RunKvos({"process", "exists", pid}).out, "not running\n");

  auto missing = RunKvos({"process", "start", "/nonexistent/program"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("Failed to create process: GetLastError()=2"), std::string::npos) << missing.err;
  auto invalid = RunKvos({"process", "kill", "0"});
  EXPECT_EQ(invalid.status, 1);
  EXPECT_NE(invalid.err.find("Invalid process id"), std::string::npos);
  auto gone = RunKvos({"process", "exists", "2147483647"});
  EXPECT_EQ(gone.status, 1);
  EXPECT_EQ(gone.out, "not running\n");
}

TEST(KvosProcess, DescribesItsProcess) {
  auto self = RunKvos({"process", "self"});
  EXPECT_EQ(self.status, 0);
  EXPECT_EQ(self.out.rfind("process ", 0), 0u);
  if (passwd* entry = getpwuid(geteuid())) {
    EXPECT_EQ(RunKvos({"process", "user"}).out, std::string(entry->pw_name) + "\n");
  }
  EXPECT_EQ(RunKvos({"process", "temp"}).out.back(), '\n');
}

TEST(KvosProcess, BadArguments) {
  for (auto const& args : std::vector<std::vector<std::string>>{
           {"process"}, {"process", "start"}, {"process", "exists"}, {"process", "kill", "x"}, {"process", "user", "x"}, {"process", "what"}}) {
    auto r = RunKvos(args);
    EXPECT_EQ(r.status, 2) << args.back();
    EXPECT_NE(r.err.find("Usage: kvos process"), std::string::npos);
  }
  EXPECT_EQ(RunKvos({"process", "--help"}).status, 0);
}

}  // namespace
