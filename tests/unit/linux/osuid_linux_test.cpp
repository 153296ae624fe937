// Identifiers and fork.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "OS/osuid.h"

using Korvane::cKV_Uid;

namespace {

// A fork while another thread sleeps inside Generate (holding the
// generator's lock) must leave the child a generator it can use.
TEST(UidLinux, ForkWhileAnotherThreadGenerates) {
  std::atomic<bool> stop{false};
  std::thread busy([&stop] { for (cKV_Uid u; !stop.load();) u.Generate(); });
  for (int i = 0; i < 10; ++i) {
    cKV_Uid u;
    pid_t child = fork();
    if (child == 0) alarm(5), u.Generate(), _exit(u.GetBuffer()[6] == static_cast<unsigned char>(getpid()) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's generator stayed locked";
  }
  stop.store(true);
  busy.join();
}

}  // namespace
