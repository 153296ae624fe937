#include "OS/oslist.h"

namespace Korvane {

cKV_List2Item::~cKV_List2Item() = default;

cKV_QueueItem::~cKV_QueueItem() = default;

cKV_Queue::cKV_Queue() : _first(nullptr), _last(nullptr), _count(0) {}

cKV_Queue::~cKV_Queue() = default;

void cKV_Queue::Push(cKV_QueueItem* item) {
  item->_next = nullptr;
  if (_last == nullptr) {
    _first = item;
    _last = item;
    _count = 1;
    return;
  }
  _last->_next = item;
  _last = item;
  ++_count;
}

cKV_QueueItem* cKV_Queue::Pop() {
  cKV_QueueItem* item = _first;
  if (item == nullptr) return nullptr;
  _first = item->_next;
  if (_first == nullptr) _last = nullptr;
  item->_next = nullptr;
  --_count;
  return item;
}

void cKV_ValueSet::Reset() { _mask = 0; }

cKV_ValueSet::~cKV_ValueSet() = default;

}  // namespace Korvane
