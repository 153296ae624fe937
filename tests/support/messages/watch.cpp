// Linked into every unit test program: writes each message text that the
// library reports, and each test that starts, to one file shared by the
// whole run, for the check that every message is reached by some test.
//
// Lines: "M\t<unit>\t<format>" and "T\t<suite>.<test>", tabs, line ends and
// backslashes escaped. Each program writes a message once. Several programs
// append at once, and tests fork: every line is one write to a file opened
// for appending, and nothing here takes a lock.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>

#include "OS/internal/report.h"

namespace {

void Escape(std::string& out, char const* text) {
  for (char const* p = text; *p != '\0'; ++p) {
    switch (*p) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += *p;
    }
  }
}

// Opened before any test runs, so that tests that count their descriptors
// or use them all up neither see nor stop it.
int g_file = -1;

void Append(std::string const& line) {
  if (g_file < 0) return;
  ssize_t unused = write(g_file, line.data(), line.size());
  (void)unused;
}

// Messages seen by this program, by a hash of unit and text; 0 is free.
constexpr std::size_t kSlots = 4096;
std::atomic<std::uint64_t> g_seen[kSlots];

// True the first time `unit` and `format` are met.
bool FirstTime(char const* unit, char const* format) {
  std::uint64_t hash = 1469598103934665603ull;
  for (char const* text : {unit, "\t", format})
    for (char const* p = text; *p != '\0'; ++p) hash = (hash ^ static_cast<unsigned char>(*p)) * 1099511628211ull;
  if (hash == 0) hash = 1;
  for (std::size_t i = 0; i < kSlots; ++i) {
    std::atomic<std::uint64_t>& slot = g_seen[(hash + i) % kSlots];
    std::uint64_t was = slot.load();
    if (was == hash) return false;
    if (was == 0 && slot.compare_exchange_strong(was, hash)) return true;
    if (was == hash) return false;
  }
  return true;  // full: write it again rather than lose it
}

void Watch(char const* unit, char const* format) noexcept {
  int saved = errno;
  if (unit == nullptr) unit = "";
  if (format == nullptr) format = "";
  if (FirstTime(unit, format)) {
    try {
      std::string line = "M\t";
      Escape(line, unit);
      line += '\t';
      Escape(line, format);
      line += '\n';
      Append(line);
    } catch (...) {
    }
  }
  errno = saved;
}

class TestStarts : public ::testing::EmptyTestEventListener {
  void OnTestStart(::testing::TestInfo const& info) override {
    std::string line = "T\t";
    Escape(line, (std::string(info.test_suite_name()) + "." + info.name()).c_str());
    line += '\n';
    Append(line);
  }
};

struct Install {
  Install() {
    g_file = open(KV_MESSAGES_FILE, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    Korvane::internal::g_reportWatcher.store(&Watch, std::memory_order_release);
    ::testing::UnitTest::GetInstance()->listeners().Append(new TestStarts);
  }
} const g_install;

}  // namespace
