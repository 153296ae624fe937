#include "OS/osthread.h"

#include <cstdint>

#include "OS/host/error.h"
#include "OS/host/memory.h"
#include "OS/host/thread.h"
#include "OS/internal/report.h"

namespace Korvane {

namespace {

struct StartRecord {
  unsigned int (*function)(void*);
  void* arg;
  void (*notify)(bool, unsigned int, void*, unsigned int);
};

constexpr int kPriorityError = 0x7FFFFFFF;

void* ThreadBody(void* start) {
  auto* record = static_cast<StartRecord*>(start);
  unsigned int id = osGetCurrentThreadId();
  if (record->notify != nullptr) record->notify(true, id, record->arg, 0);
  unsigned int result = record->function(record->arg);
  if (record->notify != nullptr) record->notify(false, id, record->arg, result);
  delete record;
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(result));
}

}  // namespace

void* osCreateThread(cKV_Error* err, unsigned int (*function)(void*), void* arg,
                     void (*notify)(bool, unsigned int, void*, unsigned int)) {
  auto* record = host::New<StartRecord>(StartRecord{function, arg, notify});
  if (record == nullptr) {
    KV_REPORT(err, 7, ".\\osthread", "Failed to allocate memory for new thread. Requested size:%d",
              static_cast<int>(sizeof(StartRecord)));
    return nullptr;
  }
  void* handle = nullptr;
  bool started = false;
  if (function == nullptr)
    host::SetLastError(host::ErrorNumber(host::ErrorKind::kInvalidArgument));
  else
    started = host::ThreadCreate(ThreadBody, record, handle) == 0;
  if (!started) {
    KV_REPORT(err, 4, ".\\osthread", "Failed to create new thread. %s",
              static_cast<char const*>(osGetSysErrorStr(osGetSysError())));
    delete record;
    return nullptr;
  }
  return handle;
}

void osCloseThread(void*& thread) {
  if (thread == nullptr) return;
  host::ThreadJoin(thread);
  thread = nullptr;
}

unsigned int osGetCurrentThreadId() { return host::CurrentThreadId(); }

void osSleep(unsigned int ms) { host::SleepMs(ms); }

void osSetPriority(int priority) {
  if (priority < -2 || priority > 2) return;
  host::SetPriority(priority);
}

int osGetPriority() {
  int level = 0;
  return host::GetPriority(level) ? level : kPriorityError;
}

void osThreadDisableSignals() { host::BlockAsyncSignals(); }

}  // namespace Korvane
