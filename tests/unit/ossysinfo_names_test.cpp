// What names the host family and a Windows host's version: pure rules, the
// same on every host.
#include <gtest/gtest.h>

#include "OS/internal/sysinfo.h"
#include "OS/ossysinfo.h"

using namespace Korvane;

namespace {

TEST(SysInfo, HostTypeTexts) {
  EXPECT_STREQ(cKV_SysInfo::GetHostTypeStr(eHostLinux), "Linux");
  EXPECT_STREQ(cKV_SysInfo::GetHostTypeStr(eHostWindows), "Windows");
  EXPECT_STREQ(cKV_SysInfo::GetHostTypeStr(static_cast<eKV_HostType>(0)), "Unknown");
  EXPECT_EQ(cKV_SysInfo::GetHostTypeId("Linux"), 76);
  EXPECT_EQ(cKV_SysInfo::GetHostTypeId("Windows"), 87);
  for (char const* unknown : {"windows", "", static_cast<char const*>(nullptr)})
    EXPECT_EQ(cKV_SysInfo::GetHostTypeId(unknown), 85) << (unknown ? unknown : "null");
}

// ---- Windows names ------------------------------------------------------------

using sysinfo::WinVersion;

WinVersion Extended(unsigned major, unsigned minor, unsigned product, unsigned suite = 0, unsigned sp = 0,
                    bool x64 = false) {
  return {true, false, 2, major, minor, "", sp, suite, product, x64, nullptr};
}

WinVersion Basic(unsigned platform, unsigned major, unsigned minor, char const* sp, char const* registry = nullptr) {
  return {false, true, platform, major, minor, sp, 0, 0, 0, false, registry};
}

TEST(WindowsNames, EveryNamingRule) {
  WinVersion none = Extended(5, 1, 1);
  none.extended = false;
  struct {
    WinVersion v;
    char const *shortName, *longName;
  } const cases[] = {
      // Workstations.
      {Extended(6, 1, 1, 0x0200, 1, true), "Win7 x64 Home", "Microsoft Windows 7 x64 Home Edition SP1"},
      // A workstation replaces the base names, even the one of Windows 2000.
      {Extended(5, 0, 1), "WinNT 5.0 Prof", "Microsoft Windows NT 5.0 Professional"},
      // Terminal services, then the service pack.
      {Extended(5, 1, 1, 0x0010, 2), "WinXP Prof", "Microsoft Windows XP Professional TS SP2"},
      // Servers.
      {Extended(6, 1, 3, 0x0002, 0, true), "Win2008R2 x64 Ent Server",
       "Microsoft Windows 2008 R2 x64 Enterprise Server"},
      // 0x0400 with anything else is no web server.
      {Extended(5, 2, 3, 0x0410), "Win2003R2 Server", "Microsoft Windows 2003 R2 Server TS"},
      // Data centre goes before enterprise.
      {Extended(6, 0, 3, 0x0082), "Win2008 DataCenter Server", "Microsoft Windows 2008 DataCenter Server"},
      {Extended(4, 0, 3, 0x0002, 6), "WinNT 4.0 Adv Server", "Microsoft Windows NT 4.0 Advanced Server SP6"},
      {Extended(6, 2, 3), "WinNT 6.2 Server", "Microsoft Windows NT 6.2 Server"},
      // Product type 2 keeps the base names, trailing blank included.
      {Extended(5, 0, 2, 0, 4), "Win2000", "Microsoft Windows 2000  SP4"},
      // Only the basic record: the registry's product type, compared without
      // regard to case; the short name is always "Windows".
      {Basic(2, 4, 0, "", "LanmanNT"), "Windows", "Microsoft Windows NT 4.0 Server"},
      {Basic(2, 5, 0, "", "SERVERNT"), "Windows", "Microsoft Windows 2000 Advanced Server"},
      // Folding reaches the alphabet's first letter ('z' is in no name).
      {Basic(2, 4, 0, "", "lanmannt"), "Windows", "Microsoft Windows NT 4.0 Server"},
      {Basic(2, 4, 0, "", "winnt"), "Windows", "Microsoft Windows NT 4.0 Workstation"},
      {Basic(2, 3, 51, "", "Something"), "Windows", "Microsoft Windows NT 3.51 "},
      // The 95 family.
      {Basic(1, 4, 0, " C"), "Win95", "Microsoft Windows 95 OSR2"},
      {Basic(1, 4, 10, " A "), "Win98", "Microsoft Windows 98 SE"},
      {Basic(1, 4, 10, "A"), "Win98", "Microsoft Windows 98"},
      {Basic(1, 4, 90, ""), "Windows", "Microsoft Windows ME"},
      {Basic(1, 4, 0, nullptr), "Win95", "Microsoft Windows 95"},
      // Another platform, and no record at all.
      {Basic(3, 5, 1, ""), "Windows", "Windows unknown"},
      {none, "Windows", "Windows unknown"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.longName);
    char s[128], l[128];
    sysinfo::NameWindows(c.v, s, sizeof s, l, sizeof l);
    EXPECT_STREQ(s, c.shortName);
    EXPECT_STREQ(l, c.longName);
  }
  // The names are cut to the caller's blocks.
  char s[6], l[10];
  sysinfo::NameWindows(Extended(6, 1, 3, 0x0002, 1, true), s, sizeof s, l, sizeof l);
  EXPECT_STREQ(s, "Win20");
  EXPECT_STREQ(l, "Microsoft");
}

}  // namespace
