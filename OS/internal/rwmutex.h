// The reader/writer mutex record behind its handle (tests look inside).
#ifndef KV_OS_INTERNAL_RWMUTEX_H
#define KV_OS_INTERNAL_RWMUTEX_H

namespace Korvane::internal {

struct RwMutex {
  void* lock;         // critical section guarding state and writer
  void* released;     // manual-reset event, signalled when the mutex becomes free
  int state;          // 0 free; n > 0 readers; -n one writer n levels deep
  unsigned int writer;  // thread id of the last writer; meaningful while state < 0
  // Threads that found the mutex taken and wait for `released`. Its state
  // matters only to them: while nobody waits it is left as it is, so an
  // uncontended hold costs no call into the host's event.
  int waiting;
  bool eventSet;      // the state last given to `released`
};

}  // namespace Korvane::internal

#endif
