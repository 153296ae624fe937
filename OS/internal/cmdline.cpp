#include "OS/internal/cmdline.h"

namespace Korvane::internal {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

class Output {
 public:
  Output(char** argv, char* text) : _argv(argv), _text(text) {}
  void Begin() {
    if (_argv != nullptr) _argv[_count] = _text + _bytes;
    ++_count;
  }
  void Put(char c) {
    if (_text != nullptr) _text[_bytes] = c;
    ++_bytes;
  }
  void End() { Put('\0'); }
  int Count() const { return _count; }
  std::size_t Bytes() const { return _bytes; }

 private:
  char** _argv;
  char* _text;
  int _count = 0;
  std::size_t _bytes = 0;
};

}  // namespace

int SplitCommandLine(char const* line, char** argv, char* text, std::size_t& bytes) noexcept {
  Output out(argv, text);
  char const* p = line;
  while (IsBlank(*p)) ++p;

  // The program name: quotes group and vanish, backslashes are plain.
  out.Begin();
  bool inQuotes = false;
  for (; *p != '\0' && (inQuotes || !IsBlank(*p)); ++p) {
    if (*p == '"')
      inQuotes = !inQuotes;
    else
      out.Put(*p);
  }
  out.End();

  for (;;) {
    while (IsBlank(*p)) ++p;
    if (*p == '\0') break;
    out.Begin();
    inQuotes = false;
    for (;;) {
      // 2n backslashes and a quote: n backslashes and a quote that groups;
      // 2n+1 and a quote: n backslashes and a literal quote; backslashes
      // before anything else stay as they are. Inside quotes, "" is a
      // literal quote.
      bool copy = true;
      unsigned backslashes = 0;
      while (*p == '\\') {
        ++p;
        ++backslashes;
      }
      if (*p == '"') {
        if (backslashes % 2 == 0) {
          if (inQuotes && p[1] == '"') {
            ++p;
          } else {
            copy = false;
            inQuotes = !inQuotes;
          }
        }
        backslashes /= 2;
      }
      for (; backslashes > 0; --backslashes) out.Put('\\');
      if (*p == '\0' || (!inQuotes && IsBlank(*p))) break;
      if (copy) out.Put(*p);
      ++p;
    }
    out.End();
  }
  if (argv != nullptr) argv[out.Count()] = nullptr;
  bytes = out.Bytes();
  return out.Count();
}

}  // namespace Korvane::internal
