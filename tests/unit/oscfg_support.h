// Helpers of the configuration file suites.
#ifndef KV_TESTS_UNIT_OSCFG_SUPPORT_H
#define KV_TESTS_UNIT_OSCFG_SUPPORT_H

#include <gtest/gtest.h>

#include <string>

#include "OS/oscfg.h"
#include "support/testing.h"

namespace cfgtest {

// The records in order: "S:name#comment", "P:name=value#comment",
// "C:comment", joined by '|'.
inline std::string Dump(Korvane::cKV_CfgFile const& cfg) {
  std::string out;
  for (Korvane::cKV_CfgRecord* r = cfg.GetFirst(); r != nullptr; r = cfg.GetNext(r)) {
    if (!out.empty()) out += '|';
    std::string name(r->GetName()), value(r->GetValue()), comment(r->GetComment());
    switch (r->GetType()) {
      case Korvane::eCfgSection:
        out += "S:" + name + "#" + comment;
        break;
      case Korvane::eCfgParam:
        out += "P:" + name + "=" + value + "#" + comment;
        break;
      case Korvane::eCfgComment:
        out += "C:" + comment;
        break;
      default:
        out += "?";
    }
  }
  return out;
}

// Appends the records of `text`, read from a file in `dir`.
inline bool ReadText(Korvane::cKV_CfgFile& cfg, kvtest::TempDir const& dir, std::string const& text) {
  std::string path = dir / "in.cfg";
  kvtest::WriteFile(path, text);
  Korvane::cKV_Error error;
  bool ok = cfg.ReadFile(error, path.c_str());
  EXPECT_TRUE(error.IsNotError()) << static_cast<char const*>(error.ToString());
  return ok;
}

// What the writer makes of `cfg`.
inline std::string WriteText(Korvane::cKV_CfgFile const& cfg, kvtest::TempDir const& dir) {
  std::string path = dir / "out.cfg";
  Korvane::cKV_Error error;
  EXPECT_TRUE(cfg.WriteFile(error, path.c_str())) << static_cast<char const*>(error.ToString());
  return kvtest::ReadFile(path);
}

}  // namespace cfgtest

#endif
