#include "OS/osuid.h"

#include <cstring>
#include <new>

#include "OS/host/process.h"
#include "OS/host/sync.h"
#include "OS/host/uid.h"
#include "OS/internal/uid.h"
#include "OS/osmutex.h"
#include "OS/osnet.h"
#include "OS/osprocess.h"
#include "OS/ostime.h"

namespace Korvane {

struct cKV_Uid::_EmptyBlock {
  alignas(cKV_Uid) unsigned char bytes[sizeof(cKV_Uid)];
};
constinit cKV_Uid::_EmptyBlock cKV_Uid::_empty = {};

void MakeEmptyUid() noexcept { new (cKV_Uid::_empty.bytes) cKV_Uid(); }

cKV_Uid::cKV_Uid() : _bytes{} {}

cKV_Uid::cKV_Uid(int value) : _bytes{} {
  auto v = static_cast<unsigned int>(value);
  _bytes[6] = static_cast<unsigned char>(v >> 24);
  _bytes[7] = static_cast<unsigned char>(v >> 16);
  _bytes[8] = static_cast<unsigned char>(v >> 8);
  _bytes[9] = static_cast<unsigned char>(v);
}

cKV_Uid::cKV_Uid(cKV_Uid const& other) { std::memcpy(_bytes, other._bytes, sizeof _bytes); }

cKV_Uid& cKV_Uid::operator=(cKV_Uid const& other) {
  if (this != &other) std::memcpy(_bytes, other._bytes, sizeof _bytes);
  return *this;
}

cKV_Uid::~cKV_Uid() = default;

bool cKV_Uid::operator==(cKV_Uid const& other) const { return std::memcmp(_bytes, other._bytes, 16) == 0; }
bool cKV_Uid::operator!=(cKV_Uid const& other) const { return !(*this == other); }

int cKV_Uid::Cmp(cKV_Uid const& other) const {
  int r = std::memcmp(_bytes, other._bytes, 16);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

bool cKV_Uid::IsEmpty() const {
  for (unsigned char b : _bytes)
    if (b != 0) return false;
  return true;
}

bool cKV_Uid::IsNotEmpty() const { return !IsEmpty(); }

void cKV_Uid::SetEmpty() { std::memset(_bytes, 0, sizeof _bytes); }

cKV_Uid const& cKV_Uid::GetEmpty() { return *std::launder(reinterpret_cast<cKV_Uid const*>(_empty.bytes)); }

cKV_String cKV_Uid::ToString() const {
  static char const kDigits[] = "0123456789abcdef";
  char text[35];
  text[0] = '0';
  text[1] = 'x';
  for (int i = 0; i < 16; ++i) {
    text[2 + 2 * i] = kDigits[_bytes[i] >> 4];
    text[3 + 2 * i] = kDigits[_bytes[i] & 0xF];
  }
  text[34] = '\0';
  return cKV_String(text);
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A pair of characters read as strtoul reads a two-character text in base
// 16 ("C" locale) that it must consume whole: two digits, or one digit
// after a blank or a sign. A minus negates in unsigned arithmetic; the byte
// is the low 8 bits.
bool Pair(char c0, char c1, unsigned char& byte) {
  int low = HexDigit(c1);
  if (low < 0) return false;
  int high = HexDigit(c0);
  if (high >= 0) {
    byte = static_cast<unsigned char>(high * 16 + low);
    return true;
  }
  switch (c0) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
    case '+':
      byte = static_cast<unsigned char>(low);
      return true;
    case '-':
      byte = static_cast<unsigned char>(0u - static_cast<unsigned int>(low));
      return true;
    default:
      return false;
  }
}

}  // namespace

bool cKV_Uid::FromString(char const* text) {
  if (text == nullptr) return false;
  for (int i = 0; i < 34; ++i)
    if (text[i] == '\0') return false;
  if (text[0] != '0' || text[1] != 'x') return false;
  unsigned char bytes[16];
  for (int i = 0; i < 16; ++i)
    if (!Pair(text[2 + 2 * i], text[3 + 2 * i], bytes[i])) return false;
  std::memcpy(_bytes, bytes, sizeof bytes);
  return true;
}

// --- Generation ------------------------------------------------------------

namespace {

// Generator state, made at load: the node, the lock and the last stamp.
// Where the load sequence may not ask for the adapters, the node is taken
// by the first Generate, from the same load time.
constinit unsigned char g_node[6] = {};
constinit bool g_nodePending = false;
constinit tTimeb g_loaded{};
constinit void* g_lock = nullptr;
constinit tTimeb g_last{};

void BigEndian(unsigned char* out, unsigned int value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i, value >>= 8) out[i] = static_cast<unsigned char>(value);
}

void LittleEndian(unsigned char* out, unsigned int value, int bytes) {
  for (int i = 0; i < bytes; ++i, value >>= 8) out[i] = static_cast<unsigned char>(value);
}

}  // namespace

void internal::UidNode(unsigned char (&node)[6], tTimeb const& loaded) noexcept {
  unsigned char mac[6] = {};
  osNetGetEtherMAC(mac);
  for (unsigned char b : mac)
    if (b != 0) {
      std::memcpy(node, mac, 6);
      return;
    }
  BigEndian(node, static_cast<unsigned int>(loaded.seconds), 4);
  BigEndian(node + 4, loaded.milliseconds, 2);
}

namespace {

// A fork waits until no thread generates, so the child does not inherit
// the lock taken. The child's copy of the forking thread has another thread
// id and may not unlock the recursive lock: it gets a fresh one.
void HoldGeneratorForFork() { osEnterCriticalSection(g_lock); }
void ReleaseGeneratorAfterFork() { osLeaveCriticalSection(g_lock); }
void RenewGeneratorInChild() {
  if (g_lock != nullptr) host::LockInit(g_lock);
}

}  // namespace

void StartUidGenerator() noexcept {
  g_loaded.GetTime();
  g_nodePending = !host::UidNodeAtLoad();
  if (!g_nodePending) internal::UidNode(g_node, g_loaded);
  osCreateCriticalSection(nullptr, g_lock);
  g_last = g_loaded;
  host::AtFork(HoldGeneratorForFork, ReleaseGeneratorAfterFork, RenewGeneratorInChild);
}

void StopUidGenerator() noexcept { osDestroyCriticalSection(g_lock); }

void cKV_Uid::Generate() {
  osEnterCriticalSection(g_lock);
  if (g_nodePending) {
    internal::UidNode(g_node, g_loaded);
    g_nodePending = false;
  }
  unsigned int pid = osGetCurrentProcessId();
  tTimeb now;
  now.GetTime();
  // One stamp per millisecond: wait for the clock to pass the last one,
  // sleeping to the next millisecond rather than spinning.
  while (!(now > g_last)) {
    if (now.seconds == 0 && now.milliseconds == 0) {
      // The clock cannot be read: count on from the last stamp.
      now = g_last;
      now.AddMilliseconds(1);
      break;
    }
    host::SleepUntilRealTime(g_last.seconds, (g_last.milliseconds + 1L) * 1000000L);
    now.GetTime();
  }
  g_last = now;
  std::memcpy(_bytes, g_node, 6);
  LittleEndian(_bytes + 6, pid, 4);
  LittleEndian(_bytes + 10, static_cast<unsigned int>(now.seconds), 4);
  LittleEndian(_bytes + 14, now.milliseconds, 2);
  osLeaveCriticalSection(g_lock);
}

}  // namespace Korvane
