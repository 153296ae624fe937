// Intrusive containers: a doubly-linked list with sentinels, a FIFO queue,
// and a set of 32 presence bits. None of them allocates, copies or owns its
// elements, and none locks: one thread at a time, or under the caller's lock.
#ifndef KV_OS_OSLIST_H
#define KV_OS_OSLIST_H

#include "OS/osbase.h"

namespace Korvane {

class cKV_List2;

// Base of every list element. Copying copies the links as they are, so a
// copy of a linked element claims to be linked without being so: do not copy
// linked elements. The destructor does not unlink.
class KV_OS_API cKV_List2Item {
 public:
  cKV_List2Item() : _pr(nullptr), _ne(nullptr) {}
  cKV_List2Item(cKV_List2Item const&) = default;
  cKV_List2Item& operator=(cKV_List2Item const&) = default;
  virtual ~cKV_List2Item();

  bool IsInList() const { return _pr != nullptr; }

 private:
  friend class cKV_List2;
  cKV_List2Item* _pr;
  cKV_List2Item* _ne;
};

// Base of the typed list: two sentinels and a count. Copies share the
// elements with the source (member-wise copy) and must not be changed.
class KV_OS_API cKV_List2 {
 public:
  unsigned int GetCount() const { return _count; }

 protected:
  cKV_List2() : _count(0) {
    _head._ne = &_tail;
    _tail._pr = &_head;
  }
  cKV_List2(cKV_List2 const&) = default;
  cKV_List2& operator=(cKV_List2 const&) = default;
  ~cKV_List2() = default;  // leaves the elements as they are

  static cKV_List2Item*& Ne(cKV_List2Item* item) { return item->_ne; }
  static cKV_List2Item*& Pr(cKV_List2Item* item) { return item->_pr; }
  cKV_List2Item* GetNe(cKV_List2Item const* item) const { return item->_ne; }
  cKV_List2Item* GetPr(cKV_List2Item const* item) const { return item->_pr; }

  // Links `item` between `before` and `before`'s follower.
  void LinkAfter(cKV_List2Item* before, cKV_List2Item* item) {
    cKV_List2Item* after = before->_ne;
    item->_pr = before;
    item->_ne = after;
    before->_ne = item;
    after->_pr = item;
    ++_count;
  }
  // Unlinks `item` and returns its follower (null for the tail sentinel);
  // an unlinked item gives null and changes nothing.
  cKV_List2Item* Unlink(cKV_List2Item* item) {
    cKV_List2Item* next = item->_ne;
    cKV_List2Item* prev = item->_pr;
    if (next == nullptr || prev == nullptr) return nullptr;
    prev->_ne = next;
    next->_pr = prev;
    item->_pr = nullptr;
    item->_ne = nullptr;
    --_count;
    return next->_ne != nullptr ? next : nullptr;
  }
  // The element behind `item`, or null when that is the tail sentinel.
  cKV_List2Item* RealNext(cKV_List2Item const* item) const {
    cKV_List2Item* next = item->_ne;
    return next->_ne != nullptr ? next : nullptr;
  }

  cKV_List2Item _head;
  cKV_List2Item _tail;
  unsigned int _count;
};

// The typed list; T derives from cKV_List2Item. Every operation is
// constant-time and allocation-free.
template <class T>
class ctKV_List2 : public cKV_List2 {
 public:
  ctKV_List2() = default;
  ctKV_List2(ctKV_List2 const&) = default;
  ctKV_List2& operator=(ctKV_List2 const&) = default;
  ~ctKV_List2() = default;

  void PushBack(T* item) { LinkAfter(GetPr(&_tail), item); }
  void PushFront(T* item) { LinkAfter(&_head, item); }
  // A null position means the end of the list, not its front.
  void InsertAfter(T* after, T* item) {
    if (after == nullptr)
      PushBack(item);
    else
      LinkAfter(after, item);
  }
  // Returns the element that followed `item` (null if it was the last), so
  // a walk can remove as it goes; an unlinked `item` gives null.
  T* Pop(T* item) { return static_cast<T*>(Unlink(item)); }
  T* PopFirst() {
    T* first = GetFirst();
    if (first != nullptr) Unlink(first);
    return first;
  }
  T* GetFirst() const { return static_cast<T*>(RealNext(&_head)); }
  // `item` must be linked.
  T* GetNext(T const* item) const { return static_cast<T*>(RealNext(item)); }
};

// Base of every queue element.
class KV_OS_API cKV_QueueItem {
 public:
  cKV_QueueItem() : _next(nullptr) {}
  cKV_QueueItem(cKV_QueueItem const&) = default;
  cKV_QueueItem& operator=(cKV_QueueItem const&) = default;
  virtual ~cKV_QueueItem();

 private:
  friend class cKV_Queue;
  cKV_QueueItem* _next;
};

// First-in-first-out queue of caller-owned elements; no locking.
class KV_OS_API cKV_Queue {
 public:
  cKV_Queue();
  cKV_Queue(cKV_Queue const&) = default;
  cKV_Queue& operator=(cKV_Queue const&) = default;
  virtual ~cKV_Queue();  // leaves the elements as they are

  void Push(cKV_QueueItem* item);
  cKV_QueueItem* Pop();
  cKV_QueueItem* GetFirst() const { return _first; }
  cKV_QueueItem* GetNext(cKV_QueueItem* item) const { return item != nullptr ? item->_next : nullptr; }
  unsigned int GetSize() { return _count; }

 private:
  cKV_QueueItem* _first;
  cKV_QueueItem* _last;
  unsigned int _count;
};

// 32 presence bits, one per value of a derived record.
class KV_OS_API cKV_ValueSet {
 public:
  // True when every bit of `bits` is present; CheckPresent(0) is true.
  bool CheckPresent(unsigned int bits) const { return (_mask & bits) == bits; }
  bool CheckExact(unsigned int bits) const { return _mask == bits; }

  virtual void Reset();
  // Whether the present values form a complete, consistent record: each
  // derived record decides.
  virtual bool CheckValid() const = 0;
  virtual ~cKV_ValueSet();

 protected:
  cKV_ValueSet() : _mask(0) {}
  cKV_ValueSet(cKV_ValueSet const&) = default;
  cKV_ValueSet& operator=(cKV_ValueSet const&) = default;

  unsigned int _mask;
};

}  // namespace Korvane

#endif
