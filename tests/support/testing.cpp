#include "support/testing.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kvtest {

std::filesystem::path U8Path(std::string const& name) {
  return std::filesystem::path(std::u8string(reinterpret_cast<char8_t const*>(name.data()), name.size()));
}

namespace {
std::filesystem::path U8(std::string const& name) { return U8Path(name); }
}  // namespace

TempDir::~TempDir() {
  std::error_code ec;
  // Make everything removable again, even what a test made read-only.
  for (auto it = std::filesystem::recursive_directory_iterator(U8(_path), ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ec);
  std::filesystem::remove_all(U8(_path), ec);
}

std::string ReadFile(std::string const& path) {
  std::ifstream in(U8(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(std::string const& path, std::string const& content) {
  std::ofstream out(U8(path), std::ios::binary | std::ios::trunc);
  out << content;
}

#ifdef KVOS_TOOL_PATH
RunResult RunKvos(std::vector<std::string> const& args, std::string const& input) {
  std::vector<std::string> argv{KVOS_TOOL_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, input);
}
#endif

}  // namespace kvtest
