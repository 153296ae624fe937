// What the README's samples take for granted: the library, the worked
// record format, and the standard headers a reader would add.
#ifndef KV_TESTS_README_HARNESS_H
#define KV_TESTS_README_HARNESS_H

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "OS/kv_Os.h"
#include "recordformat/linerecord.h"

namespace readme {

struct Sample {
  int line;  // where its code begins in the README
  void (*run)();
};
extern Sample const kSamples[];
extern int const kSampleCount;

// Records a failed check of the sample at `line`.
void Check(bool ok, char const* what, int line);

}  // namespace readme

#define README_CHECK(expression) ::readme::Check(static_cast<bool>(expression), #expression, __LINE__)

#endif
