// Runs after the unit tests: every message text that the library can report
// must have been reported by at least one of them.
//
//   kv_messages_check RECORDED EXPECTED SOURCES
//
// RECORDED is what the test programs wrote while they ran (watch.cpp),
// EXPECTED the number of tests of a whole run, SOURCES the library's source
// directory. The table below lists every message by unit; the sources are
// read to see that the table lists every report site's text and nothing
// more, so that a new message cannot go untested unnoticed. A run of only
// some tests cannot show that every message is reached: it is skipped
// (exit 77). Exit 1 names what is missing.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Message {
  char const* unit;
  char const* text;
};

// Every message text the library reports, as its format, by unit.
constexpr Message kMessages[] = {
    {".\\oscfg", "Failed to allocate %d bytes."},
    {".\\oscfg", "Files to open file [%s] for read"},
    {".\\oscfg", "Failed to read data from file [%s]"},
    {".\\oscfg", "Failed to open file [%s] for write"},
    {".\\oscfg", "Failed to write data into file [%s]"},

    {".\\osevent", "Failed to create event. WSAGetLastError()=%d"},

    {".\\osio", "Failed to open file [%s]"},
    {".\\osio", "Failed to get size of file [%s]"},
    {".\\osio", "Failed to alloc %d bytes of memory"},
    {".\\osio", "Failed to read %d bytes from file [%s]"},
    {".\\osio", "Directory with empty name can not be created"},
    {".\\osio", "Failed to create directory %s. %s"},
    {".\\osio", "Failed to create directory %s"},
    {".\\osio", "Failed to delete file [%s]. %s"},
    {".\\osio", "%s"},  // the deletion report, made of the two lines below
    {".\\osio", "dir [%s] %s\n"},
    {".\\osio", "file [%s] %s\n"},
    {".\\osio", "File not found:%s"},
    {".\\osio", "Failed to convert [%s] to UNC path: Invalid path"},
    {".\\osio", "Failed to convert [%s] to UNC path: Invalid data received from WNetGetUniversalName:%s"},
    {".\\osio", "Failed to convert [%s] to UNC path: ERROR_BAD_DEVICE (The string is invalid path.)"},
    {".\\osio",
     "Failed to convert [%s] to UNC path: ERROR_CONNECTION_UNAVAIL (There is no current connection to the remote "
     "device, but there is a remembered (persistent) connection to it.)"},
    {".\\osio", "Failed to convert [%s] to UNC path: ERROR_NOT_SUPPORTED (Network provider does not support UNC names)"},

    {".\\oslog", "Failed to allocate %d bytes"},

    {".\\osmutex", "Failed to allocate memory. Requested size:%d"},

    {".\\osprocess", "Failed to create process: %s"},
    {".\\osprocess", "Invalid process id"},
    {".\\osprocess", "Failed to open process %d. %s"},
    {".\\osprocess", "Failed to kill process %d. %s"},

    {".\\ossocket", "Failed to create TCP socket. WSAGetLastError()=%d"},
    {".\\ossocket", "Failed to shutdown socket. Socket:%u, WSAGetLastError()=%d"},
    {".\\ossocket", "Failed to close socket. Socket:%u, WSAGetLastError()=%d"},
    {".\\ossocket", "Failed to set non-blocking flag. Socket:%u, WSAGetLastError()=%d"},
    {".\\ossocket", "Failed to bind socket. Port=%d, WSAGetLastError()=%d"},
    {".\\ossocket", "Failed to place socket into listen state. Socket:%u, WSAGetLastError()=%d"},
    {".\\ossocket", "Failed to accept new connection. Socket:%u, WSAGetLastError()=%d"},
    {".\\ossocket", "Failed to get socket's unblocked read size. Socket:%d, WSAGetLastError()=%d"},
    {".\\ossocket", "Recv failed on socket %u. Bytes requested to read=%u. WSAGetLastError()=%d"},
    {".\\ossocket", "Send failed on socket %u. Bytes requested to send=%u. WSAGetLastError()=%d"},
    {".\\ossocket", "Recvfrom failed on socket %u. Bytes requested to read=%u. WSAGetLastError()=%d"},
    {".\\ossocket", "Sendto failed on socket %u. Bytes requested to send=%u. WSAGetLastError()=%d"},
    {".\\ossocket", "Failed to connect socket %u to ip=%d.%d.%d.%d, port=%d. WSAGetLastError()=%d\n"},
    {".\\ossocket", "Failed to get socket peer name. Socket:%u, WSAGetLastError()=%d"},
    {".\\ossocket", "getsockopt with SO_ERROR failed on socket %u. %s"},
    {".\\ossocket", "setsockopt with TCP_NODELAY failed on socket %u. WSAGetLastError()=%d"},
    {".\\ossocket", "setsockopt with SO_REUSEADDR failed on socket %u. WSAGetLastError()=%d"},
    {".\\ossocket", "Set multicast IP_MULTICAST_TTL=%d failed. WSAGetLastError()=%d"},
    {".\\ossocket", "Set multicast IP_MULTICAST_LOOP=%d failed. WSAGetLastError()=%d"},
    {".\\ossocket", "Set SO_LINGER=(%d,%d) failed. WSAGetLastError()=%d"},
    {".\\ossocket", "Failed to allocate memory. Requested size:%d"},
    {".\\ossocket", "Socket select failed. WSAGetLastError()=%d"},
    {".\\ossocket", "Failed to get address by host name [%s]. WSAGetLastError()=%d"},
    {".\\ossocket", "Failed to bind socket to port %d. WSAGetLastError()=%d"},
    {".\\ossocket", "Failed to join multicast group. WSAGetLastError()=%d"},
    {".\\ossocket", "Failed to drop multicast group. WSAGetLastError()=%d"},

    {".\\osstorage", "Files to open file [%s] with mode [%s]"},
    {".\\osstorage", "Files to close file [%s]"},
    {".\\osstorage", "No file opened"},
    {".\\osstorage", "Failed to seek file [%s] into position %d"},
    {".\\osstorage", "Failed to write [%d] bytes to file [%s]"},
    {".\\osstorage", "Failed to write tUlong to file [%s]"},
    {".\\osstorage", "Failed to write int to file [%s]"},
    {".\\osstorage", "Failed to flush data into file [%s]"},
    {".\\osstorage", "Failed to read %d bytes from file [%s]"},
    {".\\osstorage", "Failed to read tUlong from file [%s]"},
    {".\\osstorage", "Failed to read int from file [%s]"},
    {".\\osstorage", "Failed to seek to position %d"},
    {".\\osstorage", "Failed to read %d bytes"},
    {".\\osstorage", "Failed to read tUlong"},
    {".\\osstorage", "Failed to read int"},

    {".\\ossysinfo", "Failed to allocate memory. Requested size:%d"},
    {".\\ossysinfo", "GlobalMemoryStatusEx failed: %s"},
    {".\\ossysinfo", "Value is not requested"},
    {".\\ossysinfo", "%s failed. %s"},
    {".\\ossysinfo", "Failed to calculate"},

    {".\\osthread", "Failed to allocate memory for new thread. Requested size:%d"},
    {".\\osthread", "Failed to create new thread. %s"},
};

using Key = std::pair<std::string, std::string>;  // unit, text

std::string Shown(std::string const& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

std::string Unescape(std::string const& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
  }
  return out;
}

// ---- The sources ----

struct Site {
  std::string where;
  std::string text;
};

// The text of a C string literal starting at `at` (the opening quote);
// `at` moves behind the closing quote.
std::string Literal(std::string const& s, std::size_t& at) {
  std::string out;
  for (++at; at < s.size() && s[at] != '"'; ++at) {
    if (s[at] != '\\') {
      out += s[at];
      continue;
    }
    char c = s[++at];
    out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c == '0' ? '\0' : c;
  }
  ++at;
  return out;
}

// The report sites of one source file: the macros and the note of a report
// line, with the message argument that each takes. A message that is not a
// plain literal cannot be listed and is an error of its own.
void ScanFile(std::filesystem::path const& file, std::vector<Site>& sites, std::vector<std::string>& errors) {
  std::ifstream in(file, std::ios::binary);
  std::string const s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  struct Form {
    char const* name;
    int message;  // index of the message argument
  };
  Form const forms[] = {{"KV_REPORT_AT", 4}, {"KV_REPORT", 3}, {"NoteReport", 1}};
  auto isIdent = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; };
  int line = 1;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\n') ++line;
    if (s.compare(i, 2, "//") == 0) {
      while (i < s.size() && s[i] != '\n') ++i;
      ++line;
      continue;
    }
    if (s.compare(i, 2, "/*") == 0) {
      std::size_t end = s.find("*/", i + 2);
      for (std::size_t j = i; j < end && j < s.size(); ++j) line += s[j] == '\n';
      i = end == std::string::npos ? s.size() : end + 1;
      continue;
    }
    if (c == '"' || c == '\'') {
      for (++i; i < s.size() && s[i] != c; ++i)
        if (s[i] == '\\') ++i;
      continue;
    }
    if (!isIdent(c) || (i > 0 && isIdent(s[i - 1]))) continue;
    Form const* form = nullptr;
    for (Form const& f : forms) {
      std::size_t n = std::char_traits<char>::length(f.name);
      if (s.compare(i, n, f.name) == 0 && !isIdent(s[i + n])) {
        form = &f;
        break;
      }
    }
    if (form == nullptr) continue;
    std::size_t at = i + std::char_traits<char>::length(form->name);
    while (at < s.size() && std::isspace(static_cast<unsigned char>(s[at])) != 0) ++at;
    if (at >= s.size() || s[at] != '(') continue;  // the macro's definition or a mention
    std::string const where = file.filename().string() + ":" + std::to_string(line);
    // Split the arguments at the commas of the outer level.
    int depth = 0, argument = 0;
    std::string message;
    bool plain = true;
    for (++at; at < s.size(); ++at) {
      char d = s[at];
      if (d == '"') {
        if (argument == form->message) message += Literal(s, at);
        else Literal(s, at);
        --at;
        continue;
      }
      if (d == '(' || d == '[' || d == '{') ++depth;
      if (d == ')' || d == ']' || d == '}') {
        if (depth-- == 0) break;
      }
      if (d == ',' && depth == 0) {
        ++argument;
        continue;
      }
      if (argument == form->message && std::isspace(static_cast<unsigned char>(d)) == 0) plain = false;
    }
    if (!plain || argument < form->message)
      errors.push_back(where + ": the message of this report is not a plain text");
    else
      sites.push_back({where, message});
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: " << argv[0] << " RECORDED EXPECTED SOURCES\n";
    return 2;
  }
  std::set<Key> table;
  std::set<std::string> tableTexts;
  for (Message const& m : kMessages) {
    table.insert({m.unit, m.text});
    tableTexts.insert(m.text);
  }
  std::vector<std::string> errors;

  // The table against the sources.
  std::vector<Site> sites;
  for (auto const& entry : std::filesystem::recursive_directory_iterator(argv[3])) {
    std::string const ext = entry.path().extension().string();
    if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h") || entry.path().filename() == "report.h") continue;
    ScanFile(entry.path(), sites, errors);
  }
  std::set<std::string> sourceTexts;
  for (Site const& site : sites) {
    sourceTexts.insert(site.text);
    if (tableTexts.count(site.text) == 0)
      errors.push_back(site.where + ": a message the table lacks: \"" + Shown(site.text) + "\"");
  }
  for (std::string const& text : tableTexts)
    if (sourceTexts.count(text) == 0)
      errors.push_back("the table lists a message no source reports: \"" + Shown(text) + "\"");
  if (sites.empty()) errors.push_back(std::string("no report site found under ") + argv[3]);

  // What the tests reported.
  std::set<Key> reported;
  std::set<std::string> tests;
  std::ifstream recorded(argv[1]);
  for (std::string line; std::getline(recorded, line);) {
    std::size_t tab = line.find('\t');
    if (line.compare(0, 2, "T\t") == 0) {
      tests.insert(line.substr(2));
    } else if (line.compare(0, 2, "M\t") == 0 && (tab = line.find('\t', 2)) != std::string::npos) {
      reported.insert({Unescape(line.substr(2, tab - 2)), Unescape(line.substr(tab + 1))});
    }
  }
  long expected = 0;
  std::ifstream(argv[2]) >> expected;
  if (expected <= 0 || static_cast<long>(tests.size()) < expected) {
    for (std::string const& e : errors) std::cout << e << "\n";
    std::cout << "only " << tests.size() << " of " << expected
              << " tests ran: whether every message is reached is told by a run of all tests\n";
    return errors.empty() ? 77 : 1;
  }
  for (Key const& key : reported)
    if (table.count(key) == 0)
      errors.push_back("reported but not in the table: " + key.first + ": \"" + Shown(key.second) + "\"");
  std::size_t reached = 0;
  for (Key const& key : table) {
    if (reported.count(key) != 0)
      ++reached;
    else
      errors.push_back("no test reaches: " + key.first + ": \"" + Shown(key.second) + "\"");
  }
  for (std::string const& e : errors) std::cout << e << "\n";
  std::cout << reached << " of " << table.size() << " messages reached by " << tests.size() << " tests\n";
  return errors.empty() ? 0 : 1;
}
