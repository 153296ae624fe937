#include "OS/osevent.h"

#include <atomic>
#include <cerrno>
#include <mutex>

#include "OS/host/memory.h"
#include "OS/host/sync.h"
#include "OS/internal/events.h"
#include "OS/internal/report.h"

namespace Korvane {

namespace {

// Each wait in progress is a waiter with one link per event it waits on.
// Setting an event bumps the wake count of every waiter linked to it, so a
// set wakes all waiters at once and nobody polls.
struct Waiter {
  std::atomic<unsigned> wakes{0};
};

struct Link {
  Link* prev;
  Link* next;
  Waiter* waiter;
};

struct Event {
  explicit Event(bool set) : signalled(set ? 1 : 0) { links.prev = links.next = &links; }

  std::atomic<int> signalled;
  // Links in the list. Setters read it without the lock: a setter that finds
  // no waiter skips the lock, which keeps set and reset cheap.
  std::atomic<int> waiting{0};
  // The handle plus one per wait in progress: closing the handle while a
  // wait is in progress leaves the event alive until that wait ends.
  std::atomic<int> refs{1};
  std::mutex lock;  // guards the list
  Link links{};
};

constexpr unsigned kInfinite = 0xFFFFFFFFu;
constexpr int kLocalLinks = 8;

constinit void* g_signalled = nullptr;
constinit void* g_nonSignalled = nullptr;

void Release(Event* e) {
  if (e->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete e;
}

// The waiter registers before it looks at the flags, and a setter looks at
// `waiting` after it has raised the flag (both in one total order), so either
// the waiter sees the flag or the setter sees the waiter.
void Attach(Event* e, Link* link, Waiter* w) {
  e->refs.fetch_add(1, std::memory_order_relaxed);
  link->waiter = w;
  std::lock_guard<std::mutex> guard(e->lock);
  link->next = &e->links;
  link->prev = e->links.prev;
  e->links.prev->next = link;
  e->links.prev = link;
  e->waiting.fetch_add(1, std::memory_order_seq_cst);
}

void Detach(Event* e, Link* link) {
  {
    std::lock_guard<std::mutex> guard(e->lock);
    link->prev->next = link->next;
    link->next->prev = link->prev;
    e->waiting.fetch_sub(1, std::memory_order_relaxed);
  }
  Release(e);
}

int Scan(int count, void** events) {
  for (int i = 0; i < count; ++i)
    if (static_cast<Event*>(events[i])->signalled.load(std::memory_order_seq_cst) != 0) return i;
  return -1;
}

}  // namespace

bool osCreateEvent(cKV_Error* err, bool signalled, void*& event) {
  event = host::New<Event>(signalled);
  if (event == nullptr)
    return KV_REPORT(err, 1, ".\\osevent", "Failed to create event. WSAGetLastError()=%d", ENOMEM);
  return true;
}

void osDestroyEvent(void*& event) {
  if (event == nullptr) return;
  Release(static_cast<Event*>(event));
  event = nullptr;
}

void osSetEvent(void*& event) {
  auto* e = static_cast<Event*>(event);
  if (e == nullptr || e->signalled.load(std::memory_order_acquire) != 0) return;
  if (e->signalled.exchange(1, std::memory_order_seq_cst) != 0) return;
  if (e->waiting.load(std::memory_order_seq_cst) == 0) return;
  // Waking under the lock keeps every linked waiter alive: a waiter takes
  // this lock to unlink before its wait returns.
  std::lock_guard<std::mutex> guard(e->lock);
  for (Link* l = e->links.next; l != &e->links; l = l->next) {
    l->waiter->wakes.fetch_add(1, std::memory_order_seq_cst);
    host::WakeWord(l->waiter->wakes);
  }
}

void osResetEvent(void*& event) {
  auto* e = static_cast<Event*>(event);
  if (e != nullptr && e->signalled.load(std::memory_order_relaxed) != 0)
    e->signalled.store(0, std::memory_order_release);
}

int osWaitForEvents(int count, void** events, unsigned int timeoutMs) {
  if (count < 1 || events == nullptr) return -1;
  for (int i = 0; i < count; ++i)
    if (events[i] == nullptr) return -1;
  int hit = Scan(count, events);
  if (hit >= 0 || timeoutMs == 0) return hit;

  long long deadline = timeoutMs == kInfinite ? -1 : host::MonotonicNs() + timeoutMs * 1000000LL;
  Link local[kLocalLinks];
  Link* links = local;
  if (count > kLocalLinks) {
    links = static_cast<Link*>(host::Malloc(sizeof(Link) * static_cast<std::size_t>(count)));
    if (links == nullptr) return -1;
  }
  Waiter w;
  for (int i = 0; i < count; ++i) Attach(static_cast<Event*>(events[i]), &links[i], &w);
  for (;;) {
    unsigned seen = w.wakes.load(std::memory_order_seq_cst);
    hit = Scan(count, events);
    if (hit >= 0) break;
    if (!host::WaitWord(w.wakes, seen, deadline)) {
      hit = Scan(count, events);
      break;
    }
  }
  for (int i = 0; i < count; ++i) Detach(static_cast<Event*>(events[i]), &links[i]);
  if (links != local) host::Free(links);
  return hit;
}

void*& osGetSignalledEvent() { return g_signalled; }

void*& osGetNonSignalledEvent() { return g_nonSignalled; }

namespace internal {

void CreateEventPair() noexcept {
  osCreateEvent(nullptr, true, g_signalled);
  osCreateEvent(nullptr, false, g_nonSignalled);
}

void CloseEventPair() noexcept {
  osDestroyEvent(g_nonSignalled);
  osDestroyEvent(g_signalled);
}

int EventWaiters(void* event) noexcept { return static_cast<Event*>(event)->waiting.load(std::memory_order_seq_cst); }

}  // namespace internal

}  // namespace Korvane
