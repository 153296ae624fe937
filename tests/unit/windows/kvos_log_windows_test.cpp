// kvos log where only Windows shows it: log file names that the host takes
// for its devices.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/testing.h"

using kvtest::RunKvos;
using kvtest::TempDir;

namespace {

std::vector<std::string> Names(std::string const& dir) {
  std::vector<std::string> names;
  for (auto const& entry : std::filesystem::directory_iterator(kvtest::U8Path(dir)))
    names.push_back(entry.path().filename().string());
  return names;
}

// The record would go to the device and be lost, or to a port; the tool
// used to say it went to standard output.
TEST(KvosLogWindows, DeviceNamesAreRefusedAndNamesLikeThemAreNot) {
  TempDir dir;
  for (std::string const name : {"nul", "CON", "Com1", "lpt9", "conin$", "AUX ", "prn.x"}) {
    auto r = RunKvos({"log", "write", "--dir", dir.Path(), "--name", name, "--", "lost?"});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.out, "") << name;
    EXPECT_NE(r.err.find("it names a device of the host"), std::string::npos) << name << ": " << r.err;
  }
  EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{});
  // One character more or less than a device name: a file like any other.
  for (std::string const name : {"nul0", "com10", "com", "lpt0", "conin", "x.nul"}) {
    auto r = RunKvos({"log", "write", "--dir", dir.Path(), "--name", name, "--", "kept"});
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    auto shown = RunKvos({"log", "show", dir / (name + ".log")});
    EXPECT_NE(shown.out.find(" MSG:kept\n"), std::string::npos) << name << ": " << shown.err;
  }
  EXPECT_EQ(Names(dir.Path()).size(), 6u);
}

}  // namespace
