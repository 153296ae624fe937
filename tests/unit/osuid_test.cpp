#include "OS/osuid.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

using Korvane::cKV_Uid;

namespace {

cKV_Uid FromText(std::string const& text) {
  cKV_Uid u;
  EXPECT_TRUE(u.FromString(text.c_str())) << text;
  return u;
}

TEST(Uid, EmptyAndIntegerValues) {
  for (auto [value, text] : {std::pair{0, "0x00000000000000000000000000000000"},
                              {-2, "0x000000000000fffffffe000000000000"},
                              {0x12345678, "0x00000000000012345678000000000000"}}) {
    EXPECT_STREQ(cKV_Uid(value).ToString(), text);
    EXPECT_TRUE(cKV_Uid(value).IsEmpty() == (value == 0) && cKV_Uid(value).IsNotEmpty() == (value != 0));
  }
  cKV_Uid empty, one(1);
  EXPECT_TRUE(empty.IsEmpty() && empty == cKV_Uid::GetEmpty());
  cKV_Uid assigned = one;
  assigned.SetEmpty();
  EXPECT_TRUE(assigned.IsEmpty() && assigned != one && one == cKV_Uid(1) && cKV_Uid::GetEmpty().IsEmpty());
}

TEST(Uid, OrderIsByFirstDifferingByteUnsigned) {
  cKV_Uid low = FromText("0x01ffffff000000000000000000000000");
  cKV_Uid high = FromText("0xff000000000000000000000000000000");
  cKV_Uid last = FromText("0x00000000000000000000000000000080");
  // Large differences still give -1 and +1 only.
  EXPECT_TRUE(low.Cmp(high) == -1 && high.Cmp(low) == 1 && low.Cmp(low) == 0);
  EXPECT_TRUE(cKV_Uid().Cmp(last) == -1 && last.Cmp(cKV_Uid()) == 1);
}

TEST(Uid, TextFormRoundTripsAndRejectsBadTexts) {
  std::mt19937 rng(11);
  for (int i = 0; i < 1000; ++i) {
    cKV_Uid u;
    for (int k = 0; k < 16; ++k) u.Buffer()[k] = static_cast<unsigned char>(rng());
    std::string text = static_cast<char const*>(u.ToString());
    cKV_Uid back(7);
    ASSERT_TRUE(back.FromString(text.c_str()) && back == u);
    // Upper-case digits and trailing characters are fine.
    for (std::size_t k = 2; k < text.size(); ++k) text[k] = static_cast<char>(std::toupper(text[k]));
    ASSERT_TRUE(FromText(text + " and more") == u);
  }

  // Too short, an upper-case prefix, bad digits, a "0x" inside (one digit
  // only), two signs: refused, the value kept.
  std::string const good = "0x0123456789abcdef0123456789abcdef";
  auto with = [&](std::size_t at, char const* part) { return std::string(good).replace(at, std::strlen(part), part); };
  cKV_Uid keep(42);
  for (std::string const& bad : {good.substr(0, 33), with(0, "0X"), with(20, "zz"), with(33, "g"), std::string(),
                                 with(2, "0x"), with(2, "+-")})
    EXPECT_FALSE(keep.FromString(bad.c_str())) << bad;
  EXPECT_TRUE(!keep.FromString(nullptr) && keep == cKV_Uid(42));

  // A pair is read as the C library reads a two-character hexadecimal
  // text that it must take whole: a blank or a sign may lead.
  EXPECT_STREQ(FromText(with(2, " f+f-1-0")).ToString(), "0x0f0fff0089abcdef0123456789abcdef");
}

}  // namespace
