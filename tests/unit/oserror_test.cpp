#include "OS/oserror.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "OS/internal/report.h"
#include "support/testing.h"

using namespace Korvane;

namespace {

// "code line unit|text" of a record.
std::string Rec(cKV_Error const& e) {
  return std::to_string(e.GetCode()) + " " + std::to_string(e.GetLine()) + " " + std::string(e.GetUnit()) + "|" +
         std::string(e.GetText());
}

TEST(Error, SetAndFormatFollowTheReportingConvention) {
  cKV_Error e;
  EXPECT_TRUE(Rec(e) == "0 0 |" && e.IsNotError());
  EXPECT_TRUE(e.Set(0, ".\\osio", 12, "kept") && !e.IsError() && Rec(e) == "0 12 .\\osio|kept");  // code 0 still stores
  EXPECT_TRUE(!e.SetFormat(3, ".\\osio", 40, "Failed to open file [%s]", "a.txt") && e.IsError());
  EXPECT_EQ(Rec(e), "3 40 .\\osio|Failed to open file [a.txt]");
  EXPECT_TRUE(!cKV_Error::SetFormat(nullptr, 6, ".\\ossocket", 1, "%s", "x") &&
              cKV_Error::SetFormat(nullptr, 0, ".\\ossocket", 1, "%s", "x"));

  cKV_Error* err = &e;
  std::string const reported = "5 " + std::to_string(__LINE__ + 1) + " .\\osprocess|Failed to kill process 42. why";
  EXPECT_FALSE(KV_REPORT(err, 5, ".\\osprocess", "Failed to kill process %d. %s", 42, "why"));
  EXPECT_EQ(Rec(cKV_Error(e)), reported);
}

TEST(Error, TextFormRoundTrips) {
  cKV_Error e, back;
  EXPECT_STREQ(e.ToString(), "0:0:0::0:");
  e.Set(3, "u", 10, "File not found:x");
  EXPECT_STREQ(e.ToString(), "3:10:1:u:16:File not found:x");
  ASSERT_TRUE(back.FromString("3:10:1:u:16:File not found:x and more"));
  EXPECT_EQ(Rec(back), "3 10 u|File not found:x");
  ASSERT_TRUE(back.FromString("0:0:0::0:"));
  EXPECT_EQ(Rec(back), "0 0 |");

  // Random records with colons and bytes above 127 in both texts.
  std::mt19937 rng(3);
  for (int i = 0; i < 200; ++i) {
    std::string unit, text;
    for (unsigned n = rng() % 20; n > 0; --n) unit += static_cast<char>(1 + rng() % 255);
    for (unsigned n = rng() % 200; n > 0; --n) text += static_cast<char>(1 + rng() % 255);
    cKV_Error r;
    r.Set(static_cast<int>(rng()), unit.c_str(), static_cast<int>(rng()), text.c_str());
    cKV_Error parsed;
    ASSERT_TRUE(parsed.FromString(r.ToString()));
    EXPECT_EQ(Rec(parsed), std::to_string(r.GetCode()) + " " + std::to_string(r.GetLine()) + " " + unit + "|" + text);
  }
}

TEST(Error, MalformedTextsLeaveTheRecordUnchanged) {
  cKV_Error e;
  e.Set(4, ".\\osthread", 77, "before");
  for (char const* bad : {
           "3:10:1:u:17:File not found:x",  // message runs past the end
           "3;10:1:u:16:File not found:x",  // code not followed by ':'
           "3:10:1:uX16:File not found:x",  // byte after the unit
           "3:10:-1:u:16:File not found:x",
           "3:10:2:u",   // unit reaches the end: no colon after it
           "3:10:1:u:",  // message length missing its colon
           "3:10:99999999999:u:1:x", "3:10:1:u:2147483647:x", "", static_cast<char const*>(nullptr),
       }) {
    EXPECT_TRUE(!e.FromString(bad) && Rec(e) == "4 77 .\\osthread|before") << bad;
  }

  // Fields read with strtol rules: blanks and signs, no digits read as 0.
  ASSERT_TRUE(e.FromString(" -3:+10: 1:u::"));
  EXPECT_EQ(Rec(e), "-3 10 u|");

  // A refused allocation while copying the texts changes nothing either.
  kvtest::ScopedFault noMemory("alloc", ENOMEM, 1);
  EXPECT_TRUE(!e.FromString("3:10:1:u:16:File not found:x") && Rec(e) == "-3 10 u|");
}

}  // namespace
