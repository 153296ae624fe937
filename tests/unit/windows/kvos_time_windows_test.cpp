// kvos time on Windows: the zone is the system's setting.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/testing.h"

using kvtest::RunKvos;

namespace {

// TZ is the C runtime's alone: the library, and so the tool, follow the
// system's zone, and a TZ of any text is neither used nor reported.
TEST(KvosTimeWindows, TheSystemZoneWhateverTzSays) {
  char const* old = std::getenv("TZ");
  std::string const saved = old != nullptr ? old : "";
  auto plain = RunKvos({"time", "0"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  std::string const label = plain.out.substr(0, plain.out.find('\n'));
  EXPECT_EQ(label.rfind("time zone         (system", 0), 0u) << label;
  for (char const* zone : {"Bad/Zone", "JST-9", ""}) {
    kvtest::SetEnv("TZ", zone);
    auto r = RunKvos({"time", "0"});
    EXPECT_TRUE(r.status == 0 && r.err.empty()) << zone << ": " << r.err;
    EXPECT_EQ(r.out, plain.out) << zone;
  }
  kvtest::SetEnv("TZ", old != nullptr ? saved.c_str() : nullptr);
}

}  // namespace
