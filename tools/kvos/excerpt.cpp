// Quoting a line from a file in a message.
#include <cstdio>
#include <string>

#include "command.h"

namespace kvos {

std::string Excerpt(std::string const& text) {
  constexpr std::size_t kShown = 60;
  std::string out;
  for (unsigned char c : text.substr(0, kShown)) {
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 32 || c == 127) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (text.size() > kShown) out += "...";
  return out;
}

}  // namespace kvos
