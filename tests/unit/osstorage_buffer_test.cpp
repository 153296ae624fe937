#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "OS/osstorage.h"
#include "support/testing.h"

using namespace Korvane;
using namespace kvtest;

namespace {

unsigned char const* U(char const* text) { return reinterpret_cast<unsigned char const*>(text); }

// "length/size:bytes in use", or "none" for a buffer without a block.
std::string State(cDataBuf const& b) {
  unsigned char const* data = b;
  if (data == nullptr) return b.GetLength() == 0 && b.GetSize() == 0 ? "none" : "no block, yet sized";
  return std::to_string(b.GetLength()) + "/" + std::to_string(b.GetSize()) + ":" +
         std::string(reinterpret_cast<char const*>(data), b.GetLength());
}

TEST(DataBuf, GrowsToTheNextBlockMultipleAndNoFurther) {
  cDataBuf b;
  EXPECT_EQ(State(b), "none");
  EXPECT_TRUE(b.SetSize(0));  // nothing to allocate
  EXPECT_EQ(State(b), "none");
  EXPECT_TRUE(b.SetSize(1));
  EXPECT_EQ(State(b), "0/16:");
  EXPECT_TRUE(b.SetSize(16));
  EXPECT_EQ(State(b), "0/16:");
  EXPECT_TRUE(b.SetSize(17));
  EXPECT_EQ(State(b), "0/32:");

  cDataBuf a;
  ASSERT_TRUE(a.AddSegment(U("abcde"), 5));
  EXPECT_EQ(State(a), "5/16:abcde");
  ASSERT_TRUE(a.AddSegment(U("fghijklmnopq"), 12));
  EXPECT_EQ(State(a), "17/32:abcdefghijklmnopq");

  // Appending nothing needs no memory, even from an empty buffer.
  {
    ScopedFault noMemory("alloc", ENOMEM);
    cDataBuf empty;
    EXPECT_TRUE(empty.AddSegment(U("x"), 0) && empty.AddSegment(nullptr, 0) && a.AddSegment(U("x"), 0));
    EXPECT_EQ(noMemory.Failures(), 0u);
  }
  EXPECT_EQ(State(a), "17/32:abcdefghijklmnopq");

  // Other block sizes, and 0 taken as 1.
  cDataBuf odd(3);
  EXPECT_TRUE(odd.SetSize(7));
  EXPECT_EQ(odd.GetSize(), 9u);
  cDataBuf zero(0);
  EXPECT_TRUE(zero.SetSize(7));
  EXPECT_EQ(zero.GetSize(), 7u);
  EXPECT_TRUE(zero.AddSegment(U("12345678"), 8));
  EXPECT_EQ(zero.GetSize(), 8u);
}

TEST(DataBuf, LengthAndShrinking) {
  cDataBuf b;
  ASSERT_TRUE(b.AddSegment(U("abc"), 3));
  unsigned char* before = b;
  EXPECT_TRUE(b.SetLength(10));  // within the size: no reallocation
  EXPECT_EQ(static_cast<unsigned char*>(b), before);
  EXPECT_EQ(State(b).substr(0, 9), std::string("10/16:abc", 9));
  EXPECT_TRUE(b.SetLength(40));
  EXPECT_EQ(State(b).substr(0, 9), std::string("40/48:abc", 9));

  cDataBuf s;
  ASSERT_TRUE(s.AddSegment(U("0123456789abcdefghij"), 20));
  EXPECT_TRUE(s.SetSize(8));  // shrinking cuts the bytes in use
  EXPECT_EQ(State(s), "16/16:0123456789abcdef");
  s.At(0) = 'X';
  s[1] = 'Y';
  EXPECT_EQ(State(s), "16/16:XY23456789abcdef");

  EXPECT_TRUE(s.SetSize(0));
  EXPECT_EQ(State(s), "none");
  EXPECT_TRUE(s.AddSegment(U("again"), 5));
  EXPECT_EQ(State(s), "5/16:again");
  s.Clean();
  EXPECT_EQ(State(s), "none");
  EXPECT_TRUE(s.SetSize(17));  // still block size 16
  EXPECT_EQ(s.GetSize(), 32u);
}

TEST(DataBuf, BlocksMoveAndAreNeverCopied) {
  cDataBuf a(8);
  ASSERT_TRUE(a.AddSegment(U("payload"), 7));
  unsigned char* block = a;
  cDataBuf b(a, 32);
  EXPECT_EQ(static_cast<unsigned char*>(b), block);
  EXPECT_EQ(State(b), "7/8:payload");
  EXPECT_EQ(State(a), "none");
  // Each keeps its own block size.
  EXPECT_TRUE(a.SetSize(1) && b.SetSize(33));
  EXPECT_EQ(a.GetSize(), 8u);
  EXPECT_EQ(State(b), "7/64:payload");

  cDataBuf c(4);
  ASSERT_TRUE(c.AddSegment(U("old"), 3));  // released by the assignment
  block = b;
  c = b;
  EXPECT_EQ(static_cast<unsigned char*>(c), block);
  EXPECT_EQ(State(c), "7/64:payload");
  EXPECT_EQ(State(b), "none");
  EXPECT_TRUE(c.SetSize(65));  // the target's block size stays 4
  EXPECT_EQ(c.GetSize(), 68u);
  cDataBuf& self = c;
  c = self;
  EXPECT_EQ(State(c), "7/68:payload");

  // Empty source: the target ends up empty, its old block released.
  cDataBuf none;
  c = none;
  EXPECT_EQ(State(c), "none");
}

TEST(DataBuf, AdoptsMallocBlocks) {
  auto* block = static_cast<unsigned char*>(std::malloc(5));
  std::memcpy(block, "hello", 5);
  cDataBuf b(5, block);
  EXPECT_EQ(static_cast<unsigned char*>(b), block);
  EXPECT_EQ(State(b), "5/5:hello");
  ASSERT_TRUE(b.AddSegment(U(" world"), 6));  // realloc of the adopted block
  EXPECT_EQ(State(b), "11/16:hello world");

  // A non-null block with a count of 0 is still owned: growing resizes it
  // and nothing leaks (the leak checker of the sanitizer build sees it).
  cDataBuf zero(0, static_cast<unsigned char*>(std::malloc(64)));
  EXPECT_EQ(zero.GetSize(), 0u);
  EXPECT_TRUE(zero.AddSegment(U("abc"), 3));
  EXPECT_EQ(State(zero), "3/16:abc");
  cDataBuf released(0, static_cast<unsigned char*>(std::malloc(64)));
  EXPECT_TRUE(released.SetSize(0));
  EXPECT_EQ(State(released), "none");
}

TEST(DataBuf, RefusedGrowthLeavesTheBufferAsItWas) {
  cDataBuf b;
  {
    ScopedFault noMemory("alloc", ENOMEM);
    EXPECT_FALSE(b.SetSize(10));
    EXPECT_EQ(State(b), "none");
  }
  ASSERT_TRUE(b.AddSegment(U("0123456789"), 10));
  unsigned char* block = b;
  {
    ScopedFault noMemory("alloc", ENOMEM, 0, 10);
    EXPECT_FALSE(b.AddSegment(U("0123456789"), 10) || b.SetLength(100) || b.SetSize(1000));
    EXPECT_TRUE(b.SetLength(12) && b.SetLength(10));  // within the allocation: no heap call
    EXPECT_EQ(noMemory.Failures(), 3u);
  }
  EXPECT_EQ(static_cast<unsigned char*>(b), block);
  EXPECT_EQ(State(b), "10/16:0123456789");

  // Sizes past 32 bits once rounded, and appends whose end would pass 4 GiB,
  // fail before the heap is asked.
  EXPECT_FALSE(b.SetSize(0xFFFFFFF1u) || b.SetLength(0xFFFFFFFFu) || b.AddSegment(U("x"), 0xFFFFFFFFu) ||
               b.AddSegment(nullptr, 3));
  EXPECT_EQ(State(b), "10/16:0123456789");
  cDataBuf whole(0x80000000u);
  EXPECT_FALSE(whole.SetSize(0x80000001u));
}

}  // namespace
