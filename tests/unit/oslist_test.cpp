#include "OS/oslist.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Korvane;

namespace {

struct Item : cKV_List2Item {
  explicit Item(int v) : value(v) {}
  int value;
};

using List = ctKV_List2<Item>;

std::vector<int> Walk(List const& list) {
  std::vector<int> out;
  for (Item* i = list.GetFirst(); i != nullptr; i = list.GetNext(i)) out.push_back(i->value);
  return out;
}

TEST(List, OrderInsertionAndRemoval) {
  List list;
  EXPECT_TRUE(list.GetFirst() == nullptr && list.PopFirst() == nullptr);
  Item a(1), b(2), c(3), d(4), e(5);
  list.PushFront(&a);
  list.PushFront(&b);
  list.PushBack(&c);
  list.InsertAfter(nullptr, &d);  // null position: the end
  list.InsertAfter(&b, &e);
  EXPECT_TRUE(Walk(list) == (std::vector<int>{2, 5, 1, 3, 4}) && list.GetCount() == 5u);

  EXPECT_TRUE(list.Pop(&e) == &a && list.Pop(&d) == nullptr);  // the follower; none after the last
  EXPECT_TRUE(!e.IsInList() && list.Pop(&e) == nullptr);  // not linked: nothing changes
  EXPECT_TRUE(list.GetCount() == 3 && list.PopFirst() == &b);
  EXPECT_EQ(Walk(list), (std::vector<int>{1, 3}));

  List().PushBack(&b);
  EXPECT_TRUE(b.IsInList());  // the list's destructor does not touch elements
}

TEST(Queue, FirstInFirstOut) {
  cKV_Queue q;
  cKV_QueueItem x, y;
  EXPECT_TRUE(q.Pop() == nullptr && q.GetFirst() == nullptr);
  for (int round = 0; round < 2; ++round) {  // usable again after running empty
    q.Push(&x);
    q.Push(&y);
    EXPECT_TRUE(q.GetSize() == 2 && q.GetFirst() == &x && q.GetNext(&x) == &y && q.GetNext(&y) == nullptr);
    EXPECT_TRUE(q.Pop() == &x && q.GetNext(&x) == nullptr && q.GetSize() == 1);  // cleared on the way out
    EXPECT_TRUE(q.Pop() == &y && q.Pop() == nullptr && q.GetSize() == 0);
  }
}

struct Flags : cKV_ValueSet {
  void Set(unsigned int bits) { _mask |= bits; }
  bool CheckValid() const override { return true; }
};

TEST(ValueSet, PresenceAndExactness) {
  Flags f;
  f.Set(0b0101);
  EXPECT_TRUE(f.CheckPresent(0b0101) && !f.CheckPresent(0b0011) && !f.CheckExact(0b0001));
  static_cast<cKV_ValueSet&>(f).Reset();
  EXPECT_TRUE(f.CheckPresent(0) && !f.CheckPresent(0b0100));
}

}  // namespace
