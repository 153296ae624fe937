// Runs every C++ sample of the README, in order, in a scratch directory
// that is also the temporary directory, so that the files and logs they
// make go nowhere else.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "readme/harness.h"

namespace {

int g_failures = 0;

// Fills the stack that a sample is about to use, so that a buffer it reads
// without having written it shows as garbage instead of zeros.
[[gnu::noinline]] void DirtyStack() {
  volatile char junk[64 * 1024];
  for (std::size_t i = 0; i < sizeof junk; ++i) junk[i] = static_cast<char>('1' + i % 7);
}

}  // namespace

void readme::Check(bool ok, char const* what, int line) {
  if (ok) return;
  ++g_failures;
  std::fprintf(stderr, "README.md:%d: the sample does not do what it says: %s\n", line, what);
}

int main() {
  char const* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kvos-readme-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
    std::perror("readme samples: scratch directory");
    return 1;
  }
  setenv("TMPDIR", pattern.c_str(), 1);
  unsetenv("WDIR");
  int failed = 0;
  for (int i = 0; i < readme::kSampleCount; ++i) {
    int before = g_failures;
    DirtyStack();
    readme::kSamples[i].run();
    failed += g_failures == before ? 0 : 1;
    std::printf("README.md:%d: sample %s\n", readme::kSamples[i].line, g_failures == before ? "ran" : "FAILED");
  }
  if (chdir("/") == 0) {
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
  }
  std::printf("README samples: %d passed, %d failed\n", readme::kSampleCount - failed, failed);
  return failed == 0 ? 0 : 1;
}
