#include "OS/oslist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using Korvane::cKV_List2Item;
using Korvane::cKV_Queue;
using Korvane::cKV_QueueItem;
using Korvane::cKV_ValueSet;
using Korvane::ctKV_List2;

namespace {

struct Item : cKV_List2Item {
  explicit Item(int v = 0) : value(v) {}
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
  EXPECT_EQ(list.GetFirst(), nullptr);
  EXPECT_EQ(list.PopFirst(), nullptr);
  Item a(1), b(2), c(3), d(4), e(5);
  EXPECT_FALSE(a.IsInList());
  list.PushBack(&a);
  EXPECT_EQ(list.GetFirst(), &a);
  EXPECT_EQ(list.GetNext(&a), nullptr);
  EXPECT_TRUE(a.IsInList());
  list.Pop(&a);

  list.PushFront(&a);
  list.PushFront(&b);
  list.PushBack(&c);
  EXPECT_EQ(Walk(list), (std::vector<int>{2, 1, 3}));
  list.InsertAfter(nullptr, &d);  // null position: the end
  EXPECT_EQ(Walk(list), (std::vector<int>{2, 1, 3, 4}));
  list.InsertAfter(&b, &e);
  EXPECT_EQ(Walk(list), (std::vector<int>{2, 5, 1, 3, 4}));
  EXPECT_EQ(list.GetCount(), 5u);

  EXPECT_EQ(list.Pop(&e), &a);  // the follower
  EXPECT_EQ(list.Pop(&d), nullptr);  // was last
  EXPECT_FALSE(e.IsInList());
  EXPECT_EQ(list.Pop(&e), nullptr);  // not linked: nothing changes
  EXPECT_EQ(list.GetCount(), 3u);
  EXPECT_EQ(list.PopFirst(), &b);
  EXPECT_EQ(Walk(list), (std::vector<int>{1, 3}));
  EXPECT_EQ(list.PopFirst(), &a);
  EXPECT_EQ(list.PopFirst(), &c);
  EXPECT_EQ(list.PopFirst(), nullptr);
  EXPECT_EQ(list.GetCount(), 0u);
}

TEST(List, RemovingWhileWalkingAndDestroyingLeavesLinks) {
  std::vector<Item> items(10);
  List list;
  for (int i = 0; i < 10; ++i) {
    items[i].value = i;
    list.PushBack(&items[i]);
  }
  for (Item* i = list.GetFirst(); i != nullptr;) i = (i->value % 2 == 0) ? list.Pop(i) : list.GetNext(i);
  EXPECT_EQ(Walk(list), (std::vector<int>{1, 3, 5, 7, 9}));

  Item x(42);
  {
    List temporary;
    temporary.PushBack(&x);
  }
  EXPECT_TRUE(x.IsInList());  // the list's destructor does not touch elements

  // A random mix of operations against a model.
  std::mt19937 rng(5);
  std::vector<Item> pool(64);
  std::vector<Item*> model;
  List l;
  for (int step = 0; step < 20000; ++step) {
    Item* it = &pool[rng() % pool.size()];
    if (!it->IsInList()) {
      switch (rng() % 3) {
        case 0: l.PushBack(it); model.push_back(it); break;
        case 1: l.PushFront(it); model.insert(model.begin(), it); break;
        default: {
          if (model.empty()) { l.InsertAfter(nullptr, it); model.push_back(it); break; }
          std::size_t at = rng() % model.size();
          l.InsertAfter(static_cast<Item*>(model[at]), it);
          model.insert(model.begin() + static_cast<long>(at) + 1, it);
        }
      }
    } else {
      auto pos = std::find(model.begin(), model.end(), it);
      Item* follower = (pos + 1 == model.end()) ? nullptr : *(pos + 1);
      EXPECT_EQ(l.Pop(it), follower);
      model.erase(pos);
    }
    ASSERT_EQ(l.GetCount(), model.size());
  }
  std::vector<Item*> walked;
  for (Item* i = l.GetFirst(); i != nullptr; i = l.GetNext(i)) walked.push_back(i);
  EXPECT_EQ(walked, model);
  while (l.PopFirst() != nullptr) {
  }
}

TEST(Queue, FirstInFirstOut) {
  cKV_Queue q;
  cKV_QueueItem x, y;
  EXPECT_EQ(q.Pop(), nullptr);
  EXPECT_EQ(q.GetFirst(), nullptr);
  q.Push(&x);
  q.Push(&y);
  EXPECT_EQ(q.GetSize(), 2u);
  EXPECT_EQ(q.GetFirst(), &x);
  EXPECT_EQ(q.GetNext(&x), &y);
  EXPECT_EQ(q.GetNext(&y), nullptr);
  EXPECT_EQ(q.GetNext(nullptr), nullptr);
  EXPECT_EQ(q.Pop(), &x);
  EXPECT_EQ(q.GetNext(&x), nullptr);  // cleared on the way out
  EXPECT_EQ(q.GetSize(), 1u);
  EXPECT_EQ(q.Pop(), &y);
  EXPECT_EQ(q.GetSize(), 0u);
  EXPECT_EQ(q.Pop(), nullptr);
  EXPECT_EQ(q.GetSize(), 0u);
  // Usable again after running empty.
  q.Push(&y);
  q.Push(&x);
  EXPECT_EQ(q.Pop(), &y);
  EXPECT_EQ(q.Pop(), &x);
}

struct Flags : cKV_ValueSet {
  void Set(unsigned int bits) { _mask |= bits; }
  bool CheckValid() const override { return CheckPresent(0b1); }
};

TEST(ValueSet, PresenceAndExactness) {
  Flags f;
  EXPECT_TRUE(f.CheckPresent(0));
  EXPECT_TRUE(f.CheckExact(0));
  f.Set(0b0101);
  EXPECT_TRUE(f.CheckPresent(0b0001));
  EXPECT_TRUE(f.CheckPresent(0b0101));
  EXPECT_FALSE(f.CheckPresent(0b0011));
  EXPECT_TRUE(f.CheckExact(0b0101));
  EXPECT_FALSE(f.CheckExact(0b0001));
  Flags copy(f);
  EXPECT_TRUE(copy.CheckExact(0b0101));
  cKV_ValueSet& base = f;
  base.Reset();
  EXPECT_TRUE(f.CheckExact(0));
  EXPECT_FALSE(f.CheckPresent(0b0100));
  EXPECT_TRUE(copy.CheckValid());
}

}  // namespace
