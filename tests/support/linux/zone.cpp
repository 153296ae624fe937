#include <cstdlib>
#include <filesystem>

#include "unit/ostime_zone.h"

namespace kvtest {

ScopedZone::ScopedZone(char const* zone) {
  char const* dir = std::getenv("TZDIR");
  std::string path = std::string(dir != nullptr ? dir : "/usr/share/zoneinfo") + "/" + zone;
  if (!std::filesystem::is_regular_file(path))
    ADD_FAILURE() << "time zone " << zone << " is not installed (" << path << ")";
  if (char const* old = std::getenv("TZ")) _old = old;
  setenv("TZ", zone, 1);
  tzset();
}

ScopedZone::~ScopedZone() {
  if (_old)
    setenv("TZ", _old->c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

bool HostLocalTime(long long t, std::tm& fields) {
  time_t host = static_cast<time_t>(t);
  return localtime_r(&host, &fields) != nullptr;
}

}  // namespace kvtest
