// The kvos cfg editor's file side where POSIX hosts show it: copies held
// by a lock, and symbolic links named like copies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cfg_file.h"
#include "support/testing.h"

using namespace kvos::cfg;
using kvtest::TempDir;

namespace {

TEST(KvosCfgFileLinux, CopiesThatNoEditHoldsAreRemoved) {
  TempDir dir;
  std::string const file = dir / "app.cfg";
  kvtest::WriteFile(file, "[a]\n");
  // A killed edit's copy, a live one (held by its lock), and names that are
  // not copies of this file: of another file, one character more or less,
  // a user's own file named like a copy.
  std::string const dead = CopyName("app.cfg", "AbC123"), live = CopyName("app.cfg", "LiVe00");
  std::string const link = CopyName("app.cfg", "LinK00");
  std::string wrong = CopyName("app.cfg", "AbC124");
  wrong.replace(wrong.size() - 4, 4, dead.substr(dead.size() - 4));
  EXPECT_NE(wrong, dead);
  std::vector<std::string> const others = {dead + "x", dead.substr(0, dead.size() - 1), CopyName("other.cfg", "AbC123"),
                                           dead.substr(1), wrong, ".app.cfg.kvos-backup", ".app.cfg.kvos-"};
  EXPECT_EQ(dead.substr(0, 14), ".app.cfg.kvos-");
  for (auto const& name : others) kvtest::WriteFile(dir / name, "x");
  kvtest::WriteFile(dir / dead, "[a]\nhalf");
  kvtest::WriteFile(dir / live, "[a]\nbusy");
  ASSERT_EQ(symlink("app.cfg", (dir / link).c_str()), 0);
  int holder = open((dir / live).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);

  FileEdit edit;
  std::string why;
  ASSERT_EQ(edit.Open(file, false, why), Status::kOk) << why;
  EXPECT_FALSE(std::filesystem::exists(dir / dead));
  EXPECT_TRUE(std::filesystem::exists(dir / live));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / link));
  for (auto const& name : others) EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
  EXPECT_EQ(edit.Replace("[a]\nx = 1\n", why), Status::kOk) << why;
  EXPECT_EQ(kvtest::ReadFile(file), "[a]\nx = 1\n");
  close(holder);
}

}  // namespace
