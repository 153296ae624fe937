#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "OS/osstorage.h"
#include "support/testing.h"

using namespace Korvane;
using kvtest::ScopedFault;

namespace {

// "length/size:bytes in use", or "none" for a buffer without a block.
std::string State(cDataBuf const& b) {
  unsigned char const* data = b;
  if (data == nullptr) return b.GetLength() == 0 && b.GetSize() == 0 ? "none" : "no block, yet sized";
  return std::to_string(b.GetLength()) + "/" + std::to_string(b.GetSize()) + ":" +
         std::string(reinterpret_cast<char const*>(data), b.GetLength());
}

// The state after each change, or "refused".
std::string Size(cDataBuf& b, unsigned int n) { return b.SetSize(n) ? State(b) : "refused"; }
std::string Length(cDataBuf& b, unsigned int n) { return b.SetLength(n) ? State(b) : "refused"; }
std::string Add(cDataBuf& b, std::string const& bytes) {
  auto data = reinterpret_cast<unsigned char const*>(bytes.data());
  return b.AddSegment(data, static_cast<unsigned int>(bytes.size())) ? State(b) : "refused";
}

TEST(DataBuf, GrowsToTheNextBlockMultipleAndNoFurther) {
  cDataBuf b;
  EXPECT_EQ(State(b), "none");
  EXPECT_EQ(Size(b, 0), "none");  // nothing to allocate
  EXPECT_EQ(Size(b, 16), "0/16:");
  EXPECT_EQ(Size(b, 17), "0/32:");
  cDataBuf a;
  EXPECT_EQ(Add(a, "abcde"), "5/16:abcde");
  EXPECT_EQ(Add(a, "fghijklmnopq"), "17/32:abcdefghijklmnopq");

  // Appending nothing needs no memory, even from an empty buffer.
  {
    ScopedFault noMemory("alloc", ENOMEM);
    cDataBuf empty;
    EXPECT_TRUE(Add(empty, "") == "none" && empty.AddSegment(nullptr, 0));
    EXPECT_EQ(Add(a, ""), "17/32:abcdefghijklmnopq");
    EXPECT_EQ(noMemory.Failures(), 0u);
  }

  // Other block sizes, and 0 taken as 1.
  cDataBuf odd(3);
  EXPECT_EQ(Size(odd, 7), "0/9:");
  cDataBuf zero(0);
  EXPECT_EQ(Size(zero, 7), "0/7:");
  EXPECT_EQ(Add(zero, "12345678"), "8/8:12345678");

  // The buffer's own bytes, appended across a growth that moves the block.
  unsigned char const* own = zero;
  EXPECT_TRUE(zero.AddSegment(own + 2, 6) && zero.AddSegment(zero, 14));
  EXPECT_EQ(State(zero), "28/28:1234567834567812345678345678");
}

TEST(DataBuf, LengthAndShrinking) {
  cDataBuf b;
  ASSERT_EQ(Add(b, "abc"), "3/16:abc");
  unsigned char* before = b;
  // Within the size: no reallocation.
  EXPECT_TRUE(Length(b, 10).substr(0, 9) == "10/16:abc" && static_cast<unsigned char*>(b) == before);
  EXPECT_EQ(Length(b, 40).substr(0, 9), "40/48:abc");

  cDataBuf s;
  ASSERT_EQ(Add(s, "0123456789abcdefghij").substr(0, 6), "20/32:");
  EXPECT_EQ(Size(s, 8), "16/16:0123456789abcdef");  // shrinking cuts the bytes in use
  s.At(0) = 'X';
  s[1] = 'Y';
  EXPECT_EQ(State(s), "16/16:XY23456789abcdef");
  EXPECT_EQ(Size(s, 0), "none");
  EXPECT_EQ(Size(s, 17), "0/32:");  // still block size 16
}

TEST(DataBuf, BlocksMoveAndAreNeverCopied) {
  cDataBuf a(8);
  ASSERT_EQ(Add(a, "payload"), "7/8:payload");
  unsigned char* block = a;
  cDataBuf b(a, 32);
  EXPECT_TRUE(static_cast<unsigned char*>(b) == block && State(a) == "none");
  // Each keeps its own block size.
  EXPECT_EQ(Size(a, 1), "0/8:");
  EXPECT_EQ(Size(b, 33), "7/64:payload");

  cDataBuf c(4);
  ASSERT_EQ(Add(c, "old"), "3/4:old");  // released by the assignment
  block = b;
  c = b;
  EXPECT_TRUE(static_cast<unsigned char*>(c) == block && State(b) == "none");
  EXPECT_EQ(Size(c, 65), "7/68:payload");  // the target's block size stays 4
  cDataBuf& self = c;
  c = self;
  // Empty source: the target ends up empty, its old block released.
  cDataBuf none;
  c = none;
  EXPECT_EQ(State(c), "none");
}

TEST(DataBuf, AdoptsMallocBlocks) {
  auto* block = static_cast<unsigned char*>(std::malloc(5));
  std::memcpy(block, "hello", 5);
  cDataBuf b(5, block);
  EXPECT_TRUE(static_cast<unsigned char*>(b) == block && State(b) == "5/5:hello");
  EXPECT_EQ(Add(b, " world"), "11/16:hello world");  // realloc of the adopted block

  // A non-null block with a count of 0 is still owned: growing resizes it
  // and nothing leaks (the leak checker of the sanitizer build sees it).
  cDataBuf zero(0, static_cast<unsigned char*>(std::malloc(64)));
  EXPECT_EQ(zero.GetSize(), 0u);
  EXPECT_EQ(Add(zero, "abc"), "3/16:abc");
  // No block, no bytes: a count alone does not make any.
  cDataBuf nothing(5, nullptr);
  EXPECT_EQ(State(nothing), "none");
}

TEST(DataBuf, RefusedGrowthLeavesTheBufferAsItWas) {
  cDataBuf b;
  {
    ScopedFault noMemory("alloc", ENOMEM);
    EXPECT_TRUE(Size(b, 10) == "refused" && State(b) == "none");
  }
  ASSERT_EQ(Add(b, "0123456789"), "10/16:0123456789");
  unsigned char* block = b;
  {
    ScopedFault noMemory("alloc", ENOMEM, 0, 10);
    EXPECT_EQ(Add(b, "0123456789") + Length(b, 100) + Size(b, 1000), "refusedrefusedrefused");
    EXPECT_EQ(Length(b, 12).substr(0, 6), "12/16:");  // within the allocation: no heap call
    EXPECT_EQ(Length(b, 10), "10/16:0123456789");
    EXPECT_EQ(noMemory.Failures(), 3u);
  }
  EXPECT_EQ(static_cast<unsigned char*>(b), block);

  // Sizes past 32 bits once rounded, and appends whose end would pass 4 GiB,
  // fail before the heap is asked.
  EXPECT_EQ(Size(b, 0xFFFFFFF1u) + Length(b, 0xFFFFFFFFu), "refusedrefused");
  EXPECT_FALSE(b.AddSegment(reinterpret_cast<unsigned char const*>("x"), 0xFFFFFFFFu) || b.AddSegment(nullptr, 3));
  EXPECT_EQ(State(b), "10/16:0123456789");
  cDataBuf whole(0x80000000u);
  EXPECT_EQ(Size(whole, 0x80000001u), "refused");
}

}  // namespace
