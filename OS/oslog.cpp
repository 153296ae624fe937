#include "OS/oslog.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "OS/host/fault.h"
#include "OS/host/log.h"
#include "OS/host/memory.h"
#include "OS/host/time.h"
#include "OS/internal/report.h"
#include "OS/internal/timetext.h"
#include "OS/osio.h"
#include "OS/osmutex.h"
#include "OS/osthread.h"

namespace Korvane {

namespace {

constexpr char const kUnit[] = ".\\oslog";
// Record blocks up to this size stay with the log for the next records;
// longer records get a block of their own that goes with them.
constexpr std::size_t kKeptBlock = 64 * 1024;
constexpr std::size_t kInlineBlock = 1024;

char* PutDecimal(char* p, int value) {
  char digits[12];
  int n = 0;
  unsigned int magnitude = value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *p++ = '-';
  while (n > 0) *p++ = digits[--n];
  return p;
}

char* PutHex(char* p, unsigned int value) {
  char digits[8];
  int n = 0;
  do {
    digits[n++] = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  while (n > 0) *p++ = digits[--n];
  return p;
}

int LoadLevel(int const& level) { return __atomic_load_n(&level, __ATOMIC_RELAXED); }
void StoreLevel(int& level, int value) { __atomic_store_n(&level, value, __ATOMIC_RELAXED); }

}  // namespace

struct cKV_Log::State {
  std::atomic<int> owners{1};
  void* lock = nullptr;
  host::FileHandle file = host::InvalidFile();
  // The destination ends inside a line, where a record was cut short (a
  // full disk, a size limit): the next record starts with a line end, so
  // that a record always starts on a line of its own.
  bool midLine = false;

  // The time text of `second` in `zone`; it changes once a second, so it is
  // made again only when the second or the zone changes. Read and written
  // under the lock, so records follow the order of their time texts.
  bool timeValid = false;
  long long second = 0;
  host::ZoneStamp zone{};
  std::size_t timeLength = 0;
  char timeText[64] = {};

  char* block = nullptr;  // the kept record block, if any
  std::size_t blockSize = 0;
  char inlineBlock[kInlineBlock];

  ~State() {
    if (file != host::InvalidFile()) host::LogClose(file);
    osDestroyCriticalSection(lock);
    host::DeleteChars(block);
  }

  // The local time text now; empty when the host cannot give it.
  char const* TimeText() {
    long long now;
    long nanoseconds;
    if (!host::RealTime(now, nanoseconds)) {
      timeValid = false;
      return "";
    }
    host::ZoneStamp current = host::CurrentZone();
    if (timeValid && now == second && current == zone) return timeText;
    cKV_String text = internal::LocalTimeText(now);
    std::size_t length = text.Length();
    if (length == 0 || length >= sizeof timeText) {
      timeValid = false;
      return "";
    }
    std::memcpy(timeText, static_cast<char const*>(text), length + 1);
    timeLength = length;
    second = now;
    zone = current;
    timeValid = true;
    return timeText;
  }
};

// ---- construction ----------------------------------------------------------

namespace {

// The part that copies share, with its lock; null when either cannot be had.
template <class State>
State* NewState() {
  State* state = host::New<State>();
  if (state != nullptr && !osCreateCriticalSection(nullptr, state->lock)) {
    delete state;
    return nullptr;
  }
  return state;
}

}  // namespace

cKV_Log::cKV_Log(char const* path) : _state(nullptr), _fileName(path), _stream(nullptr), _outputLevel(2) {
  // Without its name the log would quietly fall back to standard output.
  if (path != nullptr && path[0] != '\0' && _fileName.Length() == 0) return;
  _state = NewState<State>();
  if (_state != nullptr && _fileName.Length() > 0) {
    _state->file = host::LogOpen(_fileName);
    if (_state->file != host::InvalidFile()) _state->midLine = host::LogEndsMidLine(_state->file, _fileName);
  }
}

cKV_Log::cKV_Log(void* stream)
    : _state(NewState<State>()), _fileName(), _stream(stream), _outputLevel(2) {}

cKV_Log::cKV_Log(cKV_Log const& other)
    : _state(other._state), _fileName(other._fileName), _stream(other._stream),
      _outputLevel(LoadLevel(other._outputLevel)) {
  if (_state != nullptr) _state->owners.fetch_add(1, std::memory_order_relaxed);
}

cKV_Log& cKV_Log::operator=(cKV_Log const& other) {
  if (this == &other) return *this;
  if (other._state != nullptr) other._state->owners.fetch_add(1, std::memory_order_relaxed);
  Release();
  _state = other._state;
  _fileName = other._fileName;
  _stream = other._stream;
  StoreLevel(_outputLevel, LoadLevel(other._outputLevel));
  return *this;
}

cKV_Log::~cKV_Log() { Release(); }

void cKV_Log::Release() {
  if (_state != nullptr && _state->owners.fetch_sub(1, std::memory_order_acq_rel) == 1) delete _state;
  _state = nullptr;
}

namespace {

// Finishes a factory: a log without its name or its lock would not do what
// was asked, so it is not handed out.
cKV_Log* Finish(cKV_Error* err, cKV_Log* log, bool complete, std::size_t partSize) {
  if (log == nullptr) {
    KV_REPORT(err, 7, kUnit, "Failed to allocate %d bytes", static_cast<int>(sizeof(cKV_Log)));
    return nullptr;
  }
  if (!complete) {
    delete log;
    KV_REPORT(err, 7, kUnit, "Failed to allocate %d bytes", static_cast<int>(partSize));
    return nullptr;
  }
  return log;
}

}  // namespace

cKV_Log* cKV_Log::Create(cKV_Error* err, char const* path) {
  cKV_Log* log = host::Fault("alloc") != 0 ? nullptr : new (std::nothrow) cKV_Log(path);
  return Finish(err, log, log != nullptr && log->_state != nullptr, sizeof(State));
}

cKV_Log* cKV_Log::Create(cKV_Error* err, void* stream) {
  cKV_Log* log = host::Fault("alloc") != 0 ? nullptr : new (std::nothrow) cKV_Log(stream);
  return Finish(err, log, log != nullptr && log->_state != nullptr, sizeof(State));
}

cKV_Log* cKV_Log::Create(cKV_Error* err, char const* baseDir, char const* subDir, char const* prefix,
                         char const* name, char const* suffix) {
  auto length = [](char const* text) { return text != nullptr ? std::strlen(text) : 0; };
  cKV_String path(baseDir);
  osEnsureTrailingSlash(path);
  path += subDir;
  osEnsureCorrectDirSlash(path);
  std::size_t base = length(baseDir);
  bool separated = base == 0 || baseDir[base - 1] == '/' || baseDir[base - 1] == '\\';
  std::size_t dirLength = base + (separated ? 0 : 1) + length(subDir);
  if (path.Length() != dirLength) {
    KV_REPORT(err, 7, kUnit, "Failed to allocate %d bytes", static_cast<int>(dirLength + 1));
    return nullptr;
  }

  // The creation reports into the caller's record, also the note of a first
  // attempt that failed on the way to success: callers judge by the result.
  osCreateDirectory(err, path, true);
  if (!osIsDirectory(path)) return nullptr;

  osEnsureTrailingSlash(path);
  std::size_t expected = path.Length() + length(name) + 4;
  if (length(prefix) > 0) {
    path += prefix;
    path += "_";
    expected += length(prefix) + 1;
  }
  path += name;
  if (length(suffix) > 0) {
    path += "_";
    path += suffix;
    expected += length(suffix) + 1;
  }
  path += ".log";
  if (path.Length() != expected) {
    KV_REPORT(err, 7, kUnit, "Failed to allocate %d bytes", static_cast<int>(expected + 1));
    return nullptr;
  }
  return Create(err, path);
}

// ---- level -----------------------------------------------------------------

bool cKV_Log::IsLog(cKV_Log* log, int level) { return log != nullptr && level <= LoadLevel(log->_outputLevel); }

void cKV_Log::SetOutputLevel(int level) {
  osEnterCriticalSection(_state->lock);
  StoreLevel(_outputLevel, level);
  osLeaveCriticalSection(_state->lock);
}

int cKV_Log::GetOutputLevel() {
  osEnterCriticalSection(_state->lock);
  int level = LoadLevel(_outputLevel);
  osLeaveCriticalSection(_state->lock);
  return level;
}

// ---- records ---------------------------------------------------------------

void cKV_Log::Log(cKV_Log* log, int level, char const* file, int line, char const* format, ...) {
  // A dropped record costs no lock; a level change made while this runs is
  // checked again under the lock.
  if (log == nullptr || level > LoadLevel(log->_outputLevel)) return;
  va_list args;
  va_start(args, format);
  log->Write(level, file != nullptr ? file : "unknown", line, format, args);
  va_end(args);
}

void cKV_Log::LogV(cKV_Log* log, int level, char const* file, int line, char const* format, va_list args) {
  if (log == nullptr || level > LoadLevel(log->_outputLevel)) return;
  log->Write(level, file != nullptr ? file : "unknown", line, format, args);
}

void cKV_Log::Log(cKV_Log* log, int level, cKV_Error const& error) {
  if (log == nullptr || level > LoadLevel(log->_outputLevel)) return;
  cKV_String unit = error.GetUnit();
  cKV_String text = error.GetText();
  log->WriteFormat(level, unit, error.GetLine(), "%s", static_cast<char const*>(text));
}

void cKV_Log::WriteFormat(int level, char const* file, int line, char const* format, ...) {
  va_list args;
  va_start(args, format);
  Write(level, file, line, format, args);
  va_end(args);
}

void cKV_Log::Write(int level, char const* file, int line, char const* format, va_list args) {
  if (format == nullptr) format = "";
  State& state = *_state;
  osEnterCriticalSection(state.lock);
  if (level > LoadLevel(_outputLevel)) {
    osLeaveCriticalSection(state.lock);
    return;
  }
  char const* time = state.TimeText();
  unsigned int thread = osGetCurrentThreadId();

  if (state.file == host::InvalidFile()) {
    // A stream keeps the C library's stream semantics: the message goes
    // straight into it, under the stream's lock so that other writers of
    // the same stream cannot cut into the record.
    FILE* out = _stream != nullptr ? static_cast<FILE*>(_stream) : stdout;
    char levelText[16];
    *PutDecimal(levelText, level) = '\0';
    host::StreamLock(out);
    bool failed = state.midLine && std::fputc('\n', out) == EOF;
    failed |= std::fprintf(out, "%s [%X] LEVEL:%s FILE:%s[%d]\n MSG:", time, thread, levelText, file, line) < 0;
    failed |= std::vfprintf(out, format, args) < 0;
    failed |= std::fputs("\n\n", out) == EOF;
    if (_stream != nullptr) failed |= std::fflush(out) != 0;
    host::StreamUnlock(out);
    // Where a failed stream stopped is not known: assume inside a line.
    state.midLine = failed;
    osLeaveCriticalSection(state.lock);
    return;
  }

  // A file gets the whole record in one write: compose it first.
  std::size_t timeLength = time[0] != '\0' ? state.timeLength : 0;
  std::size_t fileLength = std::strlen(file);
  char fixed[96];  // everything of the header but the time and the file
  char* p = fixed;
  *p++ = ' ';
  *p++ = '[';
  p = PutHex(p, thread);
  std::memcpy(p, "] LEVEL:", 8);
  p = PutDecimal(p + 8, level);
  std::memcpy(p, " FILE:", 6);
  p += 6;
  char* tail = p;
  *p++ = '[';
  p = PutDecimal(p, line);
  std::memcpy(p, "]\n MSG:", 7);
  p += 7;
  std::size_t before = static_cast<std::size_t>(tail - fixed);
  std::size_t after = static_cast<std::size_t>(p - tail);
  std::size_t lead = state.midLine ? 1 : 0;
  std::size_t header = lead + timeLength + before + fileLength + after;

  char* block = state.block != nullptr ? state.block : state.inlineBlock;
  std::size_t size = state.block != nullptr ? state.blockSize : sizeof state.inlineBlock;
  char* own = nullptr;  // a block for this record alone
  // Grows the block to `wanted` bytes keeping its first `keep`; false when
  // memory cannot be obtained (the block stays).
  auto grow = [&](std::size_t wanted, std::size_t keep) {
    char* bigger = host::NewChars(wanted);
    if (bigger == nullptr) return false;
    std::memcpy(bigger, block, keep);
    if (wanted <= kKeptBlock) {
      host::DeleteChars(state.block);
      state.block = bigger;
      state.blockSize = wanted;
    } else {
      host::DeleteChars(own);
      own = bigger;
    }
    block = bigger;
    size = wanted;
    return true;
  };
  if (header + 3 > size) grow(header + 3 > kKeptBlock ? header + 3 : kKeptBlock, 0);

  // The header, cut short only when no block can hold it; two bytes always
  // stay free for the record's end.
  char* end = block + size - 2;
  char* q = block;
  auto put = [&](char const* text, std::size_t length) {
    std::size_t n = length < static_cast<std::size_t>(end - q) ? length : static_cast<std::size_t>(end - q);
    std::memcpy(q, text, n);
    q += n;
  };
  put("\n", lead);
  put(time, timeLength);
  put(fixed, before);
  put(file, fileLength);
  put(tail, after);

  std::size_t room = static_cast<std::size_t>(end - q);  // for the message; its NUL may take the first end byte
  va_list again;
  va_copy(again, args);
  int produced = std::vsnprintf(q, room + 1, format, args);
  std::size_t message = produced > 0 ? static_cast<std::size_t>(produced) : 0;
  if (message > room) {
    std::size_t used = static_cast<std::size_t>(q - block);
    std::size_t wanted = used + message + 3;
    if (grow(wanted < kKeptBlock ? kKeptBlock : wanted, used)) {
      q = block + used;
      produced = std::vsnprintf(q, message + 1, format, again);
      message = produced > 0 ? static_cast<std::size_t>(produced) : 0;
      if (message > size - used - 3) message = size - used - 3;
    } else {
      message = room;
    }
  }
  va_end(again);
  q += message;
  *q++ = '\n';
  *q++ = '\n';
  long long written = host::LogAppend(state.file, block, static_cast<std::size_t>(q - block));
  // A write that took nothing left the file's end as it was.
  if (written > 0) state.midLine = block[written - 1] != '\n';
  host::DeleteChars(own);
  osLeaveCriticalSection(state.lock);
}

}  // namespace Korvane
