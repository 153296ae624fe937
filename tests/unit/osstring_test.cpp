#include "OS/osstring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <tuple>

#include "support/testing.h"

// Fresh heap blocks are mostly zero, which hides a missing terminator: while
// this is set, every character block the strings get is filled with a byte
// that is neither NUL nor a digit. Blocks come from malloc so that the
// array deletes below can take any of them.
namespace {
std::atomic<bool> g_dirtyBlocks{false};

void* DirtyBlock(std::size_t size) noexcept {
  void* block = std::malloc(size > 0 ? size : 1);
  if (block != nullptr && g_dirtyBlocks.load()) std::memset(block, 0xA5, size);
  return block;
}
}  // namespace

void* operator new[](std::size_t size, std::nothrow_t const&) noexcept { return DirtyBlock(size); }
void* operator new[](std::size_t size) {
  if (void* block = DirtyBlock(size)) return block;
  throw std::bad_alloc();
}
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::nothrow_t const&) noexcept { std::free(block); }

using namespace Korvane;
using kvtest::ScopedFault;

namespace {

class DirtyBlocks {
 public:
  DirtyBlocks() { g_dirtyBlocks = true; }
  ~DirtyBlocks() { g_dirtyBlocks = false; }
  DirtyBlocks(DirtyBlocks const&) = delete;
  DirtyBlocks& operator=(DirtyBlocks const&) = delete;
};

bool HasBuffer(cKV_String const& s) { return !(s == static_cast<char const*>(nullptr)); }

// "result text" of a call that changes `s`.
std::string After(int result, cKV_String const& s) { return std::to_string(result) + " " + std::string(s); }

TEST(String, TwoEmptyRepresentations) {
  cKV_String none;
  ASSERT_TRUE(none.Length() == 0 && static_cast<char const*>(none) != nullptr);
  EXPECT_TRUE(none.GetBuffer(0) == nullptr && none == static_cast<char const*>(nullptr) && none == "");
  EXPECT_TRUE(cKV_String::CmpNoCase(nullptr, ""));
}

TEST(String, AssignmentAppendAndSelfReference) {
  cKV_String s("abc");
  s = static_cast<char const*>(s);  // its own buffer
  s += static_cast<char const*>(s);
  s += s;
  EXPECT_STREQ(s, "abcabcabcabc");
  s = "hello world";
  s = static_cast<char const*>(s) + 6;  // a suffix of its own text
  EXPECT_STREQ(s, "world");

  cKV_String c("leftright"), copy(c);  // its own block
  copy[0] = 'L';
  copy = copy;
  EXPECT_EQ(std::string(c) + " " + std::string(copy), "leftright Leftright");

  char* block = copy.DeattachBuffer();
  EXPECT_TRUE(std::strcmp(block, "Leftright") == 0 && !HasBuffer(copy));
  delete[] block;
}

TEST(String, GetBufferKeepsTextAndSurvivesRefusedMemory) {
  cKV_String s;
  char* b = s.GetBuffer(5);
  ASSERT_TRUE(b != nullptr && b[0] == '\0' && b[5] == '\0');
  std::strcpy(b, "12345");
  EXPECT_TRUE(s.Length() == 5 && s.GetBuffer(5) == b);  // not above the length: same block
  char* bigger = s.GetBuffer(10);
  EXPECT_TRUE(std::strcmp(bigger, "12345") == 0 && bigger[10] == '\0');

  ScopedFault noMemory("alloc", ENOMEM, 0, 2);
  EXPECT_TRUE(s.GetBuffer(100) == bigger && std::string(s) == "12345");
  EXPECT_EQ(cKV_String().GetBuffer(4), nullptr);
}

TEST(String, GetBufferTerminatesBothEndsOverDirtyMemory) {
  DirtyBlocks dirty;
  for (unsigned int size : {1u, 2u, 15u, 16u, 17u, 100u}) {
    // Without text the block starts empty; with text the text is kept. The
    // last byte is a terminator in both, whatever the memory held.
    cKV_String none, text("ab");
    char* fresh = none.GetBuffer(size);
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(fresh[0] == '\0' && fresh[size] == '\0') << size;
    EXPECT_EQ(none.Length(), 0u);
    char* kept = text.GetBuffer(size);
    ASSERT_NE(kept, nullptr);
    if (size <= 2) {
      EXPECT_STREQ(kept, "ab");  // not above the length: the same block
      continue;
    }
    EXPECT_TRUE(std::memcmp(kept, "ab", 3) == 0 && kept[size] == '\0') << size;
    // The bytes between belong to the caller: filling all of them still
    // leaves a text that ends inside the block.
    std::memset(kept, 'x', size);
    EXPECT_EQ(text.Length(), size);
  }
}

TEST(String, FormatGrowsPastTheGuessAndLeavesStringOnFailure) {
  cKV_String s;
  // "%s" guesses (3 * 120) / 100 = 3 bytes: 2 characters fit; 3, exactly
  // the limit, go through the doubling; so do results around the size of
  // the formatter's first scratch buffer, and far beyond it.
  for (std::size_t n : {2u, 3u, 511u, 512u, 513u, 100000u}) {
    std::string arg(n, 'q');
    EXPECT_EQ(After(s.Format("%s", arg.c_str()), s), std::to_string(n) + " " + arg);
  }
  // The arguments may point into the string's own text.
  s = "abc";
  EXPECT_EQ(After(s.Format("%s-%s", static_cast<char const*>(s), static_cast<char const*>(s)), s), "7 abc-abc");

  // Refused memory, or text that cannot be formatted (an invalid wide
  // character): 0, text kept.
  s = "keep";
  {
    ScopedFault noMemory("alloc", ENOMEM);
    EXPECT_EQ(After(s.Format("%s", std::string(1000, 'x').c_str()), s), "0 keep");
    EXPECT_EQ(noMemory.Failures(), 1u);
  }
  // A lone surrogate: the C formatter of one host refuses it, another's
  // drops it; a refusal must leave the text as it was.
  wchar_t const invalid[] = {static_cast<wchar_t>(0xD800), 0};
  if (std::snprintf(nullptr, 0, "%ls", invalid) < 0) {
    EXPECT_EQ(After(s.Format("%ls", invalid), s), "0 keep");
  }
}

// "value/characters used" of a parse.
std::string Parsed(char const* text, int base = 10) {
  int used = -1;
  int value = cKV_String::ToLong(text, &used, base);
  return std::to_string(value) + "/" + std::to_string(used);
}

TEST(String, FoldingReachesBothEndsOfTheAlphabetAndNoFurther) {
  // The letters at both ends fold; their neighbours in the code table
  // ('@' and '[' beside the capitals, '`' and '{' beside the small letters)
  // are no letters and do not.
  struct Pair {
    char const* upper;
    char const* lower;
    bool same;
  };
  Pair const pairs[] = {{"A", "a", true}, {"Z", "z", true}, {"AZ", "az", true}, {"@", "`", false}, {"[", "{", false}};
  for (auto const& [upper, lower, same] : pairs) {
    EXPECT_EQ(cKV_String(upper).CmpNoCase(lower), same) << upper;
    EXPECT_EQ(cKV_String(lower).CmpNoCase(upper), same) << upper;
    EXPECT_EQ(cKV_String::CmpNoCase(upper, lower), same) << upper;
    EXPECT_EQ(cKV_String(upper).CmpPrefixNoCase(lower, 0), same) << upper;
    EXPECT_EQ(cKV_String(lower).CmpPrefixNoCase(upper, 1), same) << upper;
  }
  cKV_String s("@AZ[`az{");
  s.MakeLower();
  EXPECT_STREQ(s, "@az[`az{");
  s.MakeUpper();
  EXPECT_STREQ(s, "@AZ[`AZ{");

  // Digits of the bases above ten fold the same way: 'a'/'A' is 10 and
  // 'z'/'Z' is 35; the bytes next to them end the number.
  EXPECT_EQ(Parsed("zZ", 36), "1295/2");
  EXPECT_EQ(Parsed("aA", 36), "370/2");
  for (char const* next : {"1@", "1[", "1`", "1{"}) EXPECT_EQ(Parsed(next, 36), "1/1") << next;
  EXPECT_EQ(Parsed("z", 35), "0/0");  // 'z' is worth 35, one too many
}

TEST(String, CaseAndComparisonsTouchOnlyAscii) {
  cKV_String s("aZ\xE9\xC9 09_{}");
  s.MakeUpper();
  EXPECT_STREQ(s, "AZ\xE9\xC9 09_{}");
  s.MakeLower();
  EXPECT_STREQ(s, "az\xE9\xC9 09_{}");

  cKV_String abc("abc");
  EXPECT_TRUE(abc != "abd");  // contents, not pointers
  EXPECT_FALSE(abc == static_cast<char const*>(nullptr) || abc.Cmp(nullptr));

  EXPECT_TRUE(cKV_String("AbC").CmpNoCase("aBc") && !cKV_String("AbC").CmpNoCase("aBcd"));
  // Only A..Z fold: 0xC9 and 0xE9 stay different, '[' is not an upper-case '{'.
  EXPECT_FALSE(cKV_String("\xC9").CmpNoCase("\xE9") || cKV_String::CmpNoCase("[", "{"));

  EXPECT_TRUE(cKV_String("ABC").CmpPrefixNoCase("abcdef", 0) && cKV_String("abx").CmpPrefixNoCase("ABy", 2));

  // Bytes are unsigned.
  EXPECT_TRUE(cKV_String::Compare("a", "b") == -1 && cKV_String::Compare("\xE9", "a") == 1);
}

TEST(String, NumberParsingHasThirtyTwoBitResults) {
  int used = -1;
  EXPECT_TRUE(cKV_String("ab123x").ToLong(2, &used, 10) == 123 && used == 3);
  EXPECT_EQ(Parsed("  -42z"), "-42/5");

  // Clamping as a 32-bit long.
  EXPECT_EQ(Parsed("2147483648"), "2147483647/10");
  EXPECT_EQ(Parsed("-2147483648"), "-2147483648/11");
  EXPECT_TRUE(cKV_String::ToUlong("4294967296") == 4294967295u && cKV_String::ToUlong("-1") == 4294967295u);

  // Bases and prefixes.
  EXPECT_EQ(Parsed("0x1F", 0), "31/4");
  EXPECT_EQ(Parsed("12", 1), "0/0");

  // Bad input: null texts and pointers give 0 with nothing taken.
  used = -1;
  EXPECT_TRUE(cKV_String::ToLong(nullptr, &used) == 0 && used == 0);
  used = -1;
  EXPECT_TRUE(cKV_String::ToUlong(nullptr, &used) == 0u && used == 0);
  EXPECT_EQ(cKV_String("7").ToLong(0, nullptr), 7);
}

TEST(String, NumberParsingFromAStartOutsideTheText) {
  // Digits lie behind the terminator in the block: a start past the end
  // must find nothing, not read them (nor anything before the block).
  cKV_String s;
  char* block = s.GetBuffer(12);
  ASSERT_NE(block, nullptr);
  std::memcpy(block, "12\0" "987654321", 12);
  block[12] = '\0';
  // start, value, consumed
  std::tuple<int, int, int> const cases[] = {{0, 12, 2}, {1, 2, 1},        {2, 0, 0},       {3, 0, 0},
                                             {4, 0, 0},  {12, 0, 0},       {13, 0, 0},      {INT_MAX, 0, 0},
                                             {-1, 0, 0}, {INT_MIN, 0, 0}};
  for (auto const& [start, value, consumed] : cases) {
    int used = -1;
    EXPECT_EQ(s.ToLong(start, &used, 10), value) << start;
    EXPECT_EQ(used, consumed) << start;
  }
  // Without buffer every start finds nothing.
  int used = -1;
  EXPECT_TRUE(cKV_String().ToLong(5, &used) == 0 && used == 0);
}

// "characters used/value" of a base-64 text.
std::string Decoded(char const* text) {
  int value = 12345;
  int used = cKV_DataConv::Str64ToLong(text, value);
  return std::to_string(used) + "/" + std::to_string(value);
}

TEST(DataConv, Base64KnownTexts) {
  EXPECT_EQ(Decoded("-W000") + " " + Decoded("zz,1") + " " + Decoded("-") + " " + Decoded("!"),
            "5/-8388608 2/3965 1/0 0/0");
  // Bytes above 127 are never digits, nor is anything outside the alphabet.
  EXPECT_EQ(Decoded("A\xFF"), "1/10");
  EXPECT_EQ(Decoded("$$$$$$"), "6/-1");  // bits shifted beyond 32 are lost
}

TEST(DataConv, Base64RoundTripsEveryBitPattern) {
  // Every value is expensive; walk all 2^32 patterns with a stride that is
  // prime to 2^32 and include every boundary of the digit counts.
  char text[8];
  int value = 0;
  auto check = [&](unsigned int u) {
    int v = static_cast<int>(u);
    int n = cKV_DataConv::LongToStr64(v, text);
    ASSERT_TRUE(n >= 1 && n <= 7) << n;
    text[n] = ',';
    ASSERT_TRUE(cKV_DataConv::Str64ToLong(text, value) == n && value == v) << v;
  };
  for (int bit = 0; bit < 32; ++bit) {
    unsigned int p = 1u << bit;
    for (unsigned int u : {p - 1, p, p + 1, ~p, 0u - p}) check(u);
  }
  for (unsigned long long u = 0; u < (1ull << 32); u += 65521ull * 7) check(static_cast<unsigned int>(u));
}

std::string DblText(double v) {
  char text[32];
  int n = cKV_DataConv::DblToStr(v, text);
  return static_cast<std::size_t>(n) == std::strlen(text) ? text : "length differs";
}

TEST(DataConv, DoublesAsSixteenDigitText) {
  double back = 0;
  for (double v : {-0.0, -2.5, 0.1, 123456789012345.6, 1e300, -1e-300, 4.9e-324, 3.141592653589793}) {
    std::string text = DblText(v);
    EXPECT_EQ(cKV_DataConv::StrToDbl(text.c_str(), back), static_cast<int>(text.size())) << text;
    EXPECT_EQ(back, v) << text;
  }
  // 0.1 + 0.2 needs 17 digits; 16 give its rounding.
  EXPECT_EQ(DblText(2500.0) + " " + DblText(1e20) + " " + DblText(0.1 + 0.2), "2500 1e+20 0.3");
}

TEST(DataConv, DoubleTextIgnoresTheCallersLocale) {
  char const* chosen = nullptr;
  for (char const* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8", "German_Germany.1252"})
    if ((chosen = std::setlocale(LC_NUMERIC, name)) != nullptr) break;
  // Without an installed one, compile a locale with a decimal comma.
  kvtest::TempDir dir;
  if (chosen == nullptr && kvtest::Run({"localedef", "-i", "de_DE", "-f", "UTF-8", dir / "de_DE.UTF-8"}).status == 0) {
    kvtest::SetEnv("LOCPATH", dir.Path().c_str());
    chosen = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    kvtest::SetEnv("LOCPATH", nullptr);
  }
  if (chosen == nullptr) GTEST_SKIP() << "no locale with a decimal comma is available";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  double back = 0;
  EXPECT_EQ(DblText(2.5), "2.5");
  EXPECT_TRUE(cKV_DataConv::StrToDbl("2.5", back) == 3 && back == 2.5);
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace
