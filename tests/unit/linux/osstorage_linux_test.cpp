// Data streams on Linux: descriptors are opened close-on-exec whatever the
// mode says.
#include <fcntl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "OS/osstorage.h"
#include "support/testing.h"

using namespace Korvane;

namespace {

// The close-on-exec flag of every descriptor of this process open on `path`.
std::string Cloexec(std::string const& path) {
  std::string found;
  auto target = std::filesystem::canonical(path);
  for (auto const& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(entry.path(), ec) != target) continue;
    found += (fcntl(std::stoi(entry.path().filename()), F_GETFD) & FD_CLOEXEC) != 0 ? "e" : "-";
  }
  return found;
}

TEST(FileIO, OpensCloseOnExecWhateverTheMode) {
  kvtest::TempDir dir;
  std::string path = dir / "f";
  kvtest::WriteFile(path, "data");
  for (char const* mode : {"r", "rb", "r+", "w", "wb+", "a", "ab", "a+", "re", "rbbbbbb"}) {
    cFileIO f;
    ASSERT_TRUE(f.Open(path.c_str(), mode)) << mode;
    EXPECT_EQ(Cloexec(path), "e") << mode;
    EXPECT_TRUE(f.Close() && Cloexec(path).empty()) << mode;
  }
}

}  // namespace
