#include "OS/osuid.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

using Korvane::cKV_Uid;

namespace {

cKV_Uid FromBytes(std::initializer_list<int> bytes) {
  cKV_Uid u;
  int i = 0;
  for (int b : bytes) u.Buffer()[i++] = static_cast<unsigned char>(b);
  return u;
}

TEST(Uid, EmptyAndIntegerValues) {
  cKV_Uid empty;
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_FALSE(empty.IsNotEmpty());
  EXPECT_STREQ(empty.ToString(), "0x00000000000000000000000000000000");
  EXPECT_TRUE(empty == cKV_Uid::GetEmpty());
  EXPECT_TRUE(cKV_Uid::GetEmpty().IsEmpty());
  EXPECT_EQ(&cKV_Uid::GetEmpty(), &cKV_Uid::GetEmpty());

  cKV_Uid one(1);
  EXPECT_STREQ(one.ToString(), "0x00000000000000000001000000000000");
  EXPECT_TRUE(one.IsNotEmpty());
  EXPECT_STREQ(cKV_Uid(-2).ToString(), "0x000000000000fffffffe000000000000");
  EXPECT_STREQ(cKV_Uid(0x12345678).ToString(), "0x00000000000012345678000000000000");
  EXPECT_TRUE(cKV_Uid(0).IsEmpty());

  cKV_Uid copy(one), assigned;
  assigned = one;
  assigned = assigned;
  EXPECT_TRUE(copy == one && assigned == one);
  assigned.SetEmpty();
  EXPECT_TRUE(assigned.IsEmpty());
  EXPECT_TRUE(assigned != one);
  EXPECT_TRUE(cKV_Uid::GetEmpty().IsEmpty());  // the shared empty value is untouched
}

TEST(Uid, OrderIsByFirstDifferingByteUnsigned) {
  cKV_Uid low = FromBytes({0x01, 0xFF, 0xFF, 0xFF});
  cKV_Uid high = FromBytes({0xFF, 0x00});
  EXPECT_EQ(low.Cmp(high), -1);
  EXPECT_EQ(high.Cmp(low), 1);
  EXPECT_EQ(low.Cmp(low), 0);
  cKV_Uid lastByte;
  lastByte.Buffer()[15] = 0x80;
  EXPECT_EQ(cKV_Uid().Cmp(lastByte), -1);
  EXPECT_EQ(lastByte.Cmp(cKV_Uid()), 1);
  // Large differences still give -1 and +1 only.
  EXPECT_EQ(FromBytes({0x00}).Cmp(FromBytes({0xFF})), -1);
}

TEST(Uid, TextFormRoundTripsAndRejectsBadTexts) {
  std::mt19937 rng(11);
  for (int i = 0; i < 1000; ++i) {
    cKV_Uid u;
    for (int k = 0; k < 16; ++k) u.Buffer()[k] = static_cast<unsigned char>(rng());
    std::string text = static_cast<char const*>(u.ToString());
    ASSERT_EQ(text.size(), 34u);
    cKV_Uid back(7);
    ASSERT_TRUE(back.FromString(text.c_str()));
    ASSERT_TRUE(back == u);
    // Upper-case digits and trailing characters are fine.
    for (std::size_t k = 2; k < text.size(); ++k) text[k] = static_cast<char>(std::toupper(text[k]));
    cKV_Uid upper;
    ASSERT_TRUE(upper.FromString((text + " and more").c_str()));
    ASSERT_TRUE(upper == u);
  }

  cKV_Uid keep(42);
  std::string const good = "0x0123456789abcdef0123456789abcdef";
  EXPECT_FALSE(keep.FromString(good.substr(0, 33).c_str()));
  EXPECT_FALSE(keep.FromString(("0X" + good.substr(2)).c_str()));
  std::string zz = good;
  zz[20] = 'z';
  zz[21] = 'z';
  EXPECT_FALSE(keep.FromString(zz.c_str()));
  std::string oneBad = good;
  oneBad[33] = 'g';
  EXPECT_FALSE(keep.FromString(oneBad.c_str()));
  EXPECT_FALSE(keep.FromString(""));
  EXPECT_FALSE(keep.FromString(nullptr));
  std::string pairPrefix = good;
  pairPrefix[2] = '0';
  pairPrefix[3] = 'x';  // a "0x" inside is one digit only
  EXPECT_FALSE(keep.FromString(pairPrefix.c_str()));
  EXPECT_TRUE(keep == cKV_Uid(42));

  // A pair is read as the C library reads a two-character hexadecimal
  // text that it must take whole: a blank or a sign may lead.
  std::string signs = good;
  signs.replace(2, 8, " f+f-1-0");
  cKV_Uid s;
  ASSERT_TRUE(s.FromString(signs.c_str()));
  EXPECT_EQ(s.GetBuffer()[0], 0x0F);
  EXPECT_EQ(s.GetBuffer()[1], 0x0F);
  EXPECT_EQ(s.GetBuffer()[2], 0xFF);
  EXPECT_EQ(s.GetBuffer()[3], 0x00);
  std::string minusF = good;
  minusF.replace(2, 2, "-f");
  ASSERT_TRUE(s.FromString(minusF.c_str()));
  EXPECT_EQ(s.GetBuffer()[0], 0xF1);
  std::string twoSigns = good;
  twoSigns.replace(2, 2, "+-");
  EXPECT_FALSE(s.FromString(twoSigns.c_str()));
}

}  // namespace
