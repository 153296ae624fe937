// kvos time where the C library takes its zone from TZ.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "support/testing.h"

using kvtest::RunKvos;

namespace {

// A zone that the host does not know shows UTC: the tool says so, and
// knows zone files and zone rules from unknown names.
TEST(KvosTime, UnknownZonesAreNamed) {
  std::optional<std::string> old;
  if (char const* tz = std::getenv("TZ")) old = tz;
  for (char const* zone : {"Bad/Zone", ":Bad/Zone", "Europe/Nowhere", "Foo", "<Foo", "/nonexistent/zone",
                           "Asia/../../../etc/passwd"}) {
    setenv("TZ", zone, 1);
    auto r = RunKvos({"time", "0"});
    EXPECT_EQ(r.status, 0) << zone;
    EXPECT_EQ(r.err, "kvos time: the time zone '" + std::string(zone) + "' of TZ is unknown; local times are UTC\n");
    EXPECT_EQ(r.out.rfind("time zone         " + std::string(zone) + " (unknown: UTC)\nnanoseconds       0\n"
                          "local             1970/01/01 00:00:00.000\n", 0), 0u) << r.out;
  }
  for (char const* zone : {"Asia/Tokyo", ":Asia/Tokyo", "/usr/share/zoneinfo/Asia/Tokyo", "JST-9", "<+09>-9", ":Foo5",
                           "EST5EDT,M3.2.0,M11.1.0", "UTC0", ""}) {
    setenv("TZ", zone, 1);
    auto r = RunKvos({"time", "0"});
    EXPECT_TRUE(r.status == 0 && r.err.empty()) << zone << ": " << r.err;
    EXPECT_EQ(r.out.find("unknown"), std::string::npos) << zone;
  }
  if (old)
    setenv("TZ", old->c_str(), 1);
  else
    unsetenv("TZ");
}

}  // namespace
