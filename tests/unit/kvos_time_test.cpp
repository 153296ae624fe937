// kvos time as its users see it.
#include <gtest/gtest.h>

#include <ctime>
#include <sstream>
#include <string>

#include "support/testing.h"
#include "unit/ostime_zone.h"

using kvtest::RunKvos;
using kvtest::ScopedZone;

namespace {

TEST(KvosTime, GivenValueInEveryForm) {
  ScopedZone zone("Asia/Tokyo");
  auto r = RunKvos({"time", "1236434709042000000"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "time zone         Asia/Tokyo\n"
            "nanoseconds       1236434709042000000\n"
            "local             2009/03/07 23:05:09.042\n"
            "from local        1236434709042000000\n"
            "duration          343454:05:09.042000000\n"
            "UTC time of day   14:05:09\n"
            "seconds+ms        2009/03/07 23:05:09.042\n");

  // Beyond the seconds-plus-milliseconds form, zero, and the second pass of
  // a repeated hour, which comes back as its first pass.
  ScopedZone newYork("America/New_York");
  struct {
    char const *value, *line;
  } const cases[] = {
      {"0xFFFFFFFFFFFFFFFF", "nanoseconds       18446744073709551615\n"},
      {"0xFFFFFFFFFFFFFFFF", "seconds+ms        (beyond its 32-bit seconds)\n"},
      {"0", "duration          0:00:00.000000000\n"},
      {"1257057000123456789", "local             2009/11/01 01:30:00.123\n"},
      {"1257057000123456789", "from local        1257053400123456789\n"},
  };
  for (auto const& c : cases) {
    auto given = RunKvos({"time", c.value});
    EXPECT_EQ(given.status, 0) << given.err;
    EXPECT_NE(given.out.find(c.line), std::string::npos) << c.line << given.out;
  }
}

TEST(KvosTime, CurrentTime) {
  ScopedZone zone("UTC");
  time_t before = time(nullptr);
  auto r = RunKvos({"time"});
  time_t after = time(nullptr);
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  int count = 0;
  unsigned long long whole = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_TRUE(line.rfind("asctime ", 0) != 0 || line.size() == 18u + 24u) << line;
    EXPECT_TRUE(line.rfind("local short ", 0) != 0 || line.size() == 18u + 8u) << line;
    if (line.rfind("whole seconds ", 0) == 0) whole = std::stoull(line.substr(18));
  }
  EXPECT_EQ(count, 10) << r.out;
  EXPECT_GE(whole, static_cast<unsigned long long>(before));
  EXPECT_LE(whole, static_cast<unsigned long long>(after));
}

TEST(KvosTime, BadArguments) {
  for (auto const& args : std::vector<std::vector<std::string>>{
           {"time", "-5"}, {"time", "18446744073709551616"}, {"time", "0x"}, {"time", " 5"}, {"time", "1", "2"}}) {
    auto r = RunKvos(args);
    EXPECT_EQ(r.status, 2) << args[1];
    EXPECT_NE(r.err.find("Usage: kvos time"), std::string::npos) << args[1];
    EXPECT_TRUE(r.out.empty()) << args[1];
  }
  auto help = RunKvos({"time", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: kvos time", 0), 0u);
}

}  // namespace
