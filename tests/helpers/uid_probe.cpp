// A program that the identifier tests start: linked with the shared
// library as applications are, it prints N new identifiers, one a line.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "OS/osuid.h"

int main(int argc, char** argv) {
  if (argc != 3 || std::strcmp(argv[1], "uid") != 0) return 2;
  int count = std::atoi(argv[2]);
  for (int i = 0; i < count; ++i) {
    Korvane::cKV_Uid u;
    u.Generate();
    std::printf("%s\n", static_cast<char const*>(u.ToString()));
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
