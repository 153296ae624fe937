// Events on Linux, which has none of its own: manual-reset events with a
// wait for any of several, built on futex words. (Windows uses the host's.)
#include "OS/osevent.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <mutex>

#include "OS/host/memory.h"
#include "OS/host/sync.h"
#include "OS/internal/events.h"
#include "OS/internal/report.h"

namespace Korvane {

namespace {

constexpr int kNone = INT_MAX;

// Each wait in progress is a waiter with one link per event it waits on.
// Setting an event bumps the wake count of every waiter linked to it, so a
// set wakes all waiters at once and nobody polls. The set also leaves the
// link's index in the waiter: a set releases every wait in progress even
// when the event is reset before the woken thread gets to look at it.
struct Waiter {
  std::atomic<unsigned> wakes{0};
  std::atomic<int> fired{kNone};  // lowest index set while linked
};

struct Event;

// The event is kept here too: once linked, a wait reads its handles from its
// links, never again from the caller's array, whose variables the caller may
// close (and so set to null) while the wait is in progress.
struct Link {
  Link* prev;
  Link* next;
  Waiter* waiter;
  Event* event;
  int index;
};

// The event's word: bit 0 signalled, bit 1 some wait is linked, the rest a
// version that every set and every reset advances, so a wait can tell
// whether an event changed while it looked at several.
constexpr unsigned kSignalled = 1;
constexpr unsigned kLinked = 2;
constexpr unsigned kVersion = 4;

struct Event {
  explicit Event(bool set) : word(set ? kSignalled : 0) { links.prev = links.next = &links; }

  std::atomic<unsigned> word;
  // The handle, one per wait in progress, and a setter that has to wake
  // waits: closing the handle while they run leaves the event alive until
  // they are done.
  std::atomic<int> refs{1};
  std::mutex lock;  // guards the list and its count
  Link links{};
  int linked = 0;
};

constexpr unsigned kInfinite = 0xFFFFFFFFu;
constexpr int kSpinChecks = 100;
constexpr int kLocalLinks = 8;

constinit void* g_signalled = nullptr;
constinit void* g_nonSignalled = nullptr;

void Release(Event* e) {
  if (e->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete e;
}

// A wait links itself (raising kLinked) before it looks at the words, and a
// setter reads kLinked in the same read-modify-write that signals; so either
// the wait sees the signal or the setter sees the wait.
void Attach(Event* e, Link* link, Waiter* w, int index) {
  e->refs.fetch_add(1, std::memory_order_relaxed);
  link->waiter = w;
  link->event = e;
  link->index = index;
  std::lock_guard<std::mutex> guard(e->lock);
  link->next = &e->links;
  link->prev = e->links.prev;
  e->links.prev->next = link;
  e->links.prev = link;
  if (++e->linked == 1) e->word.fetch_or(kLinked, std::memory_order_seq_cst);
}

void Detach(Event* e, Link* link) {
  {
    std::lock_guard<std::mutex> guard(e->lock);
    link->prev->next = link->next;
    link->next->prev = link->prev;
    if (--e->linked == 0) e->word.fetch_and(~kLinked, std::memory_order_seq_cst);
  }
  Release(e);
}

constexpr int kScanAttempts = 64;

// The version and the signalled bit only.
unsigned StateOf(Event const* e) { return e->word.load(std::memory_order_seq_cst) & ~kLinked; }

// The lowest signalled index. A hit found by walking the array is confirmed
// by walking it again: if no event up to the hit changed in between, all of
// them held those states at one instant, so a set of a lower event that
// raced with the walk cannot be overtaken by a higher one. Versions only
// grow, so equal sums mean no change.
// `at(i)` gives the i-th event.
template <class At>
int Scan(int count, At at) {
  for (int attempt = 1;; ++attempt) {
    unsigned long long first = 0;
    int hit = -1;
    for (int i = 0; i < count && hit < 0; ++i) {
      unsigned v = StateOf(at(i));
      first += v;
      if ((v & kSignalled) != 0) hit = i;
    }
    if (hit <= 0) return hit;
    unsigned long long second = 0;
    for (int i = 0; i <= hit; ++i) second += StateOf(at(i));
    if (second == first || attempt == kScanAttempts) return hit;
  }
}

// What a linked wait has seen: the lowest index signalled now or set since
// it linked itself.
int Seen(int count, Link const* links, Waiter const& w) {
  int hit = Scan(count, [links](int i) { return links[i].event; });
  int fired = w.fired.load(std::memory_order_seq_cst);
  return fired != kNone && (hit < 0 || fired < hit) ? fired : hit;
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
  if (e == nullptr) return;
  bool held = false;
  unsigned v = e->word.load(std::memory_order_acquire);
  while ((v & kSignalled) == 0) {
    // A woken wait may return and its caller close the event before this
    // call is done with it: hold a reference while waits are linked.
    if ((v & kLinked) != 0 && !held) {
      e->refs.fetch_add(1, std::memory_order_relaxed);
      held = true;
    }
    if (e->word.compare_exchange_weak(v, (v + kVersion) | kSignalled, std::memory_order_seq_cst)) {
      if ((v & kLinked) != 0) {
        // Waking under the lock keeps every linked wait alive: a wait
        // takes this lock to unlink before it returns.
        std::lock_guard<std::mutex> guard(e->lock);
        for (Link* l = e->links.next; l != &e->links; l = l->next) {
          std::atomic<int>& fired = l->waiter->fired;
          int was = fired.load(std::memory_order_seq_cst);
          while (l->index < was && !fired.compare_exchange_weak(was, l->index, std::memory_order_seq_cst)) {
          }
          l->waiter->wakes.fetch_add(1, std::memory_order_seq_cst);
          host::WakeWord(l->waiter->wakes);
        }
      }
      break;
    }
  }
  if (held) Release(e);
}

void osResetEvent(void*& event) {
  auto* e = static_cast<Event*>(event);
  if (e == nullptr) return;
  unsigned v = e->word.load(std::memory_order_relaxed);
  while ((v & kSignalled) != 0 &&
         !e->word.compare_exchange_weak(v, (v + kVersion) & ~kSignalled, std::memory_order_seq_cst)) {
  }
}

int osWaitForEvents(int count, void** events, unsigned int timeoutMs) {
  if (count < 1 || events == nullptr) return -1;
  for (int i = 0; i < count; ++i)
    if (events[i] == nullptr) return -1;
  int hit = Scan(count, [events](int i) { return static_cast<Event const*>(events[i]); });
  if (hit >= 0 || timeoutMs == 0) return hit;

  long long deadline = timeoutMs == kInfinite ? -1 : host::MonotonicNs() + timeoutMs * 1000000LL;
  Link local[kLocalLinks];
  Link* links = local;
  if (count > kLocalLinks) {
    links = static_cast<Link*>(host::Malloc(sizeof(Link) * static_cast<std::size_t>(count)));
    if (links == nullptr) return -1;
  }
  Waiter w;
  for (int i = 0; i < count; ++i) Attach(static_cast<Event*>(events[i]), &links[i], &w, i);
  for (;;) {
    unsigned seen = w.wakes.load(std::memory_order_seq_cst);
    hit = Seen(count, links, w);
    if (hit >= 0) break;
    if (!host::WaitWord(w.wakes, seen, deadline)) {
      hit = Seen(count, links, w);
      break;
    }
  }
  for (int i = 0; i < count; ++i) Detach(links[i].event, &links[i]);
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

int EventWaiters(void* event) noexcept {
  auto* e = static_cast<Event*>(event);
  std::lock_guard<std::mutex> guard(e->lock);
  return e->linked;
}

bool SignalledSoon(void* event) noexcept {
  auto const* e = static_cast<Event const*>(event);
  for (int i = 0; i < kSpinChecks; ++i) {
    if ((e->word.load(std::memory_order_acquire) & kSignalled) != 0) return true;
    host::SpinPause();
  }
  return false;
}

}  // namespace internal

}  // namespace Korvane
