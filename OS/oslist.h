/// \file
/// Intrusive containers: a doubly-linked list with sentinels, a FIFO queue,
/// and a set of 32 presence bits. None of them allocates, copies or owns its
/// elements, and none locks: one thread at a time, or under the caller's lock.
#ifndef KV_OS_OSLIST_H
#define KV_OS_OSLIST_H

#include "OS/osbase.h"

namespace Korvane {

class cKV_List2;

/// Base of every list element: the element carries its own links. Copying
/// copies the links as they are, so a copy of a linked element claims to be
/// linked without being so: do not copy linked elements. The destructor does
/// not unlink: remove an element before destroying it.
class KV_OS_API cKV_List2Item {
 public:
  /// An element in no list.
  cKV_List2Item() : _pr(nullptr), _ne(nullptr) {}
  /// Copies the links as they are.
  cKV_List2Item(cKV_List2Item const&) = default;
  /// Copies the links as they are.
  /// \return this element.
  cKV_List2Item& operator=(cKV_List2Item const&) = default;
  /// Does nothing; in particular it does not unlink the element.
  virtual ~cKV_List2Item();

  /// \return whether the element is linked into a list.
  bool IsInList() const { return _pr != nullptr; }

 private:
  friend class cKV_List2;
  cKV_List2Item* _pr;
  cKV_List2Item* _ne;
};

/// Base of the typed list ctKV_List2: two sentinels and a count. Copies
/// share the elements with the source (member-wise copy) and must not be
/// changed.
class KV_OS_API cKV_List2 {
 public:
  /// \return the number of linked elements.
  unsigned int GetCount() const { return _count; }

 protected:
  /// An empty list.
  cKV_List2() : _count(0) {
    _head._ne = &_tail;
    _tail._pr = &_head;
  }
  /// Copies the sentinels and the count: the copy refers to the source's
  /// elements.
  cKV_List2(cKV_List2 const&) = default;
  /// Copies the sentinels and the count.
  /// \return this list.
  cKV_List2& operator=(cKV_List2 const&) = default;
  /// Leaves the elements as they are.
  ~cKV_List2() = default;  // leaves the elements as they are

  /// \param item an element.
  /// \return a modifiable reference to the element's next link.
  static cKV_List2Item*& Ne(cKV_List2Item* item) { return item->_ne; }
  /// \param item an element.
  /// \return a modifiable reference to the element's previous link.
  static cKV_List2Item*& Pr(cKV_List2Item* item) { return item->_pr; }
  /// \param item an element.
  /// \return the element's next link.
  cKV_List2Item* GetNe(cKV_List2Item const* item) const { return item->_ne; }
  /// \param item an element.
  /// \return the element's previous link.
  cKV_List2Item* GetPr(cKV_List2Item const* item) const { return item->_pr; }

  /// Links `item` between `before` and `before`'s follower.
  /// \param before a linked element or the head sentinel.
  /// \param item an unlinked element.
  void LinkAfter(cKV_List2Item* before, cKV_List2Item* item) {
    cKV_List2Item* after = before->_ne;
    item->_pr = before;
    item->_ne = after;
    before->_ne = item;
    after->_pr = item;
    ++_count;
  }
  /// Unlinks an element.
  /// \param item the element.
  /// \return its follower, null when that is the tail sentinel; an unlinked
  ///   element gives null and changes nothing.
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
  /// \param item a linked element or the head sentinel.
  /// \return the element behind `item`, or null when that is the tail
  ///   sentinel.
  cKV_List2Item* RealNext(cKV_List2Item const* item) const {
    cKV_List2Item* next = item->_ne;
    return next->_ne != nullptr ? next : nullptr;
  }

  /// The sentinel before the first element.
  cKV_List2Item _head;
  /// The sentinel after the last element.
  cKV_List2Item _tail;
  /// The number of linked elements.
  unsigned int _count;
};

/// The typed intrusive list. Every operation is constant-time and
/// allocation-free; nothing checks that an element belongs to this list.
/// \tparam T the element type, derived from cKV_List2Item.
template <class T>
class ctKV_List2 : public cKV_List2 {
 public:
  /// An empty list.
  ctKV_List2() = default;
  /// A copy that refers to the source's elements: do not change either.
  ctKV_List2(ctKV_List2 const&) = default;
  /// Refers to the source's elements: do not change either afterwards.
  /// \return this list.
  ctKV_List2& operator=(ctKV_List2 const&) = default;
  /// Leaves the elements as they are.
  ~ctKV_List2() = default;

  /// Links an element at the end.
  /// \param item an unlinked element.
  void PushBack(T* item) { LinkAfter(GetPr(&_tail), item); }
  /// Links an element at the front.
  /// \param item an unlinked element.
  void PushFront(T* item) { LinkAfter(&_head, item); }
  /// Links an element behind another.
  /// \param after an element of this list; null means the end of the list,
  ///   not its front.
  /// \param item an unlinked element.
  void InsertAfter(T* after, T* item) {
    if (after == nullptr)
      PushBack(item);
    else
      LinkAfter(after, item);
  }
  /// Unlinks an element, so that a walk can remove as it goes.
  /// \param item an element of this list.
  /// \return the element that followed `item`, null if it was the last; an
  ///   unlinked `item` gives null and changes nothing.
  T* Pop(T* item) { return static_cast<T*>(Unlink(item)); }
  /// Unlinks the first element.
  /// \return that element, or null when the list is empty.
  T* PopFirst() {
    T* first = GetFirst();
    if (first != nullptr) Unlink(first);
    return first;
  }
  /// \return the first element, or null when the list is empty.
  T* GetFirst() const { return static_cast<T*>(RealNext(&_head)); }
  /// \param item a linked element.
  /// \return the element after `item`, or null when it is the last.
  T* GetNext(T const* item) const { return static_cast<T*>(RealNext(item)); }
};

/// Base of every queue element.
class KV_OS_API cKV_QueueItem {
 public:
  /// An element in no queue.
  cKV_QueueItem() : _next(nullptr) {}
  /// Copies the link as it is.
  cKV_QueueItem(cKV_QueueItem const&) = default;
  /// Copies the link as it is.
  /// \return this element.
  cKV_QueueItem& operator=(cKV_QueueItem const&) = default;
  /// Does nothing.
  virtual ~cKV_QueueItem();

 private:
  friend class cKV_Queue;
  cKV_QueueItem* _next;
};

/// First-in-first-out queue of caller-owned elements; no locking.
class KV_OS_API cKV_Queue {
 public:
  /// An empty queue.
  cKV_Queue();
  /// A copy that refers to the source's elements: do not change either.
  cKV_Queue(cKV_Queue const&) = default;
  /// Refers to the source's elements: do not change either afterwards.
  /// \return this queue.
  cKV_Queue& operator=(cKV_Queue const&) = default;
  /// Leaves the elements as they are.
  virtual ~cKV_Queue();  // leaves the elements as they are

  /// Appends an element at the end.
  /// \param item an element in no queue.
  void Push(cKV_QueueItem* item);
  /// Removes the oldest element.
  /// \return that element with its link cleared, or null when empty.
  cKV_QueueItem* Pop();
  /// \return the oldest element without removing it; null when empty.
  cKV_QueueItem* GetFirst() const { return _first; }
  /// \param item a queued element, or null.
  /// \return the element queued after `item`; null for the last and for null.
  cKV_QueueItem* GetNext(cKV_QueueItem* item) const { return item != nullptr ? item->_next : nullptr; }
  /// \return the number of queued elements.
  unsigned int GetSize() { return _count; }

 private:
  cKV_QueueItem* _first;
  cKV_QueueItem* _last;
  unsigned int _count;
};

/// 32 presence bits, one per value of a derived record, which sets and
/// clears them itself.
class KV_OS_API cKV_ValueSet {
 public:
  /// \param bits the values asked about.
  /// \return whether every bit of `bits` is present (others may be too);
  ///   CheckPresent(0) is true.
  bool CheckPresent(unsigned int bits) const { return (_mask & bits) == bits; }
  /// \param bits the values asked about.
  /// \return whether exactly the bits of `bits` are present.
  bool CheckExact(unsigned int bits) const { return _mask == bits; }

  /// Clears every bit; derived records may extend it.
  virtual void Reset();
  /// Each derived record decides what a valid record is.
  /// \return whether the present values form a complete, consistent record.
  virtual bool CheckValid() const = 0;
  /// Does nothing.
  virtual ~cKV_ValueSet();

 protected:
  /// No value present.
  cKV_ValueSet() : _mask(0) {}
  /// Copies the mask.
  cKV_ValueSet(cKV_ValueSet const&) = default;
  /// Copies the mask.
  /// \return this set.
  cKV_ValueSet& operator=(cKV_ValueSet const&) = default;

  /// Bit i set: value i of the derived record is present.
  unsigned int _mask;
};

}  // namespace Korvane

#endif
