// The directory for log files, chosen from WDIR.
#include <cstring>

#include "OS/osio.h"
#include "OS/osprocess.h"

namespace Korvane {

namespace {

// The candidate that starts at `start`: it runs to the next ';' searched
// from its second character, so it is never empty unless the value is.
std::size_t CandidateEnd(char const* value, std::size_t start, std::size_t length) {
  if (start >= length) return start;
  char const* semicolon = std::strchr(value + start + 1, ';');
  return semicolon != nullptr ? static_cast<std::size_t>(semicolon - value) : length;
}

// The candidate as a path: both separators are taken, the host's is written.
cKV_String Candidate(char const* value, std::size_t start, std::size_t end) {
  cKV_String path;
  if (end > start) {
    char* block = path.GetBuffer(static_cast<unsigned int>(end - start));
    if (block == nullptr) return path;
    std::memcpy(block, value + start, end - start);
    block[end - start] = '\0';
  }
  osEnsureCorrectDirSlash(path);
  return path;
}

cKV_String InTemp() {
  cKV_String dir = osGetTemp();
  dir += "TLQ_Logs";
  osEnsureTrailingSlash(dir);
  osEnsureCorrectDirSlash(dir);
  return dir;
}

cKV_String InListed(cKV_String dir) {
  osEnsureTrailingSlash(dir);
  dir += "Logs";
  return dir;
}

}  // namespace

cKV_String osGetLogDir() {
  cKV_String wdir;
  if (!osGetEnv("WDIR", wdir)) return InTemp();
  char const* value = wdir;
  std::size_t length = std::strlen(value);

  for (std::size_t start = 0;;) {
    std::size_t end = CandidateEnd(value, start, length);
    cKV_String dir = Candidate(value, start, end);
    if (osIsDirectory(dir)) return InListed(dir);
    if (end >= length || end + 1 == length) break;
    start = end + 1;
  }

  cKV_String first = Candidate(value, 0, CandidateEnd(value, 0, length));
  if (first.Length() == 0) return InTemp();
  osCreateDirectory(nullptr, first, false);
  if (osIsDirectory(first)) return InListed(first);
  return InTemp();
}

}  // namespace Korvane
