#include <gtest/gtest.h>

#include "OS/host/startup.h"

namespace {

// A static object of the program: the library must already be loaded when
// it is constructed, whatever the order of the program's own initialisers.
struct EarlyCaller {
  EarlyCaller() : sawReady(Korvane::host::LibraryReady()) {}
  bool sawReady;
};
EarlyCaller const g_early;

TEST(Startup, LoadSequenceRunsBeforeTheProgramsStaticObjects) {
  EXPECT_TRUE(g_early.sawReady);
  EXPECT_TRUE(Korvane::host::LibraryReady());
}

}  // namespace
