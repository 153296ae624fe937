// Helpers of the configuration file suites.
#ifndef KV_TESTS_UNIT_OSCFG_SUPPORT_H
#define KV_TESTS_UNIT_OSCFG_SUPPORT_H

#include <gtest/gtest.h>

#include <string>

#include "OS/oscfg.h"
#include "support/testing.h"

namespace cfgtest {

// One record as "S:name#comment", "P:name=value#comment" or "C:comment".
inline std::string Record(Korvane::cKV_CfgRecord const* r) {
  std::string name(r->GetName()), comment(r->GetComment());
  switch (r->GetType()) {
    case Korvane::eCfgSection: return "S:" + name + "#" + comment;
    case Korvane::eCfgParam: return "P:" + name + "=" + std::string(r->GetValue()) + "#" + comment;
    case Korvane::eCfgComment: return "C:" + comment;
    default: return "?";
  }
}

// The records in order, joined by '|'.
inline std::string Dump(Korvane::cKV_CfgFile const& cfg) {
  std::string out;
  for (Korvane::cKV_CfgRecord* r = cfg.GetFirst(); r != nullptr; r = cfg.GetNext(r))
    out += (out.empty() ? "" : "|") + Record(r);
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
