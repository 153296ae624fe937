// kvos time as its users see it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>

#include "support/testing.h"
#include "unit/ostime_zone.h"

using kvtest::RunKvos;
using kvtest::ScopedZone;

namespace {

TEST(KvosTime, GivenValueInEveryForm) {
  ScopedZone zone("Asia/Tokyo");
  if (!zone.HereOrSay()) return;
  auto r = RunKvos({"time", "1236434709042000000"});
  EXPECT_EQ(r.status, 0) << r.err;
  // The zone's name is the host's: TZ's where the C library reads it, the
  // system's setting elsewhere.
  std::size_t const label = r.out.find('\n');
  ASSERT_EQ(r.out.rfind("time zone         ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("Tokyo"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(label + 1),
            "nanoseconds       1236434709042000000\n"
            "local             2009/03/07 23:05:09.042\n"
            "from local        1236434709042000000\n"
            "duration          343454:05:09.042000000\n"
            "UTC time of day   14:05:09\n"
            "seconds+ms        2009/03/07 23:05:09.042\n");

  // Beyond the seconds-plus-milliseconds form.
  auto top = RunKvos({"time", "0xFFFFFFFFFFFFFFFF"});
  EXPECT_EQ(top.status, 0) << top.err;
  EXPECT_NE(top.out.find("nanoseconds       18446744073709551615\n"), std::string::npos) << top.out;
  EXPECT_NE(top.out.find("duration          (beyond its 32-bit seconds)\n"
                         "UTC time of day   (beyond its 32-bit seconds)\n"
                         "seconds+ms        (beyond its 32-bit seconds)\n"),
            std::string::npos)
      << top.out;
}

TEST(KvosTime, CurrentTime) {
  ScopedZone zone("UTC");
  time_t before = time(nullptr);
  auto r = RunKvos({"time"});
  time_t after = time(nullptr);
  ASSERT_EQ(r.status, 0) << r.err;
  // Ten labelled lines; the asctime form is one line of 24 characters.
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 10) << r.out;
  auto asctime = r.out.find("\nasctime           ");
  ASSERT_NE(asctime, std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\n', asctime + 1), asctime + 19 + 24) << r.out;
  auto at = r.out.find("\nwhole seconds     ");
  unsigned long long whole = at == std::string::npos ? 0 : std::stoull(r.out.substr(at + 19));
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
