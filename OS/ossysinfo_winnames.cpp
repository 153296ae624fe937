// The operating-system names of a Windows host, composed from its version
// record. Pure: the caller gathers the record.
#include <cstring>

#include "OS/internal/sysinfo.h"

namespace Korvane::sysinfo {

namespace {

constexpr unsigned kSuiteEnterprise = 0x0002;
constexpr unsigned kSuiteTerminal = 0x0010;
constexpr unsigned kSuiteDataCenter = 0x0080;
constexpr unsigned kSuitePersonal = 0x0200;
constexpr unsigned kSuiteBlade = 0x0400;

// Compares folding only the ASCII letters.
bool SameNoCase(char const* a, char const* b) {
  for (;; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

// A version without a name of its own, by number.
void NameUnlistedNt(WinVersion const& v, TextBuf& s, TextBuf& l) {
  s.Clear();
  s.Appendf("WinNT %u.%u", v.major, v.minor);
  l.Clear();
  l.Appendf("Microsoft Windows NT %u.%u", v.major, v.minor);
}

void AppendX64(WinVersion const& v, TextBuf& s, TextBuf& l) {
  if (v.x64) {
    s.Append(" x64");
    l.Append(" x64");
  }
}

void NameWorkstation(WinVersion const& v, TextBuf& s, TextBuf& l) {
  if (v.major == 5 && v.minor == 1) {
    s.Assign("WinXP");
    l.Assign("Microsoft Windows XP");
  } else if (v.major == 6 && v.minor == 0) {
    s.Assign("Vista");
    l.Assign("Microsoft Windows Vista");
  } else if (v.major == 6 && v.minor == 1) {
    s.Assign("Win7");
    l.Assign("Microsoft Windows 7");
  } else {
    NameUnlistedNt(v, s, l);
  }
  AppendX64(v, s, l);
  if (v.suiteMask & kSuitePersonal) {
    s.Append(" Home");
    l.Append(" Home Edition");
  } else {
    s.Append(" Prof");
    l.Append(" Professional");
  }
}

void NameServer(WinVersion const& v, TextBuf& s, TextBuf& l) {
  if (v.major == 5 && v.minor == 1) {
    s.Assign("Win2003");
    l.Assign("Microsoft Windows 2003");
  } else if (v.major == 5 && v.minor == 2) {
    s.Assign("Win2003R2");
    l.Assign("Microsoft Windows 2003 R2");
  } else if (v.major == 6 && v.minor == 0) {
    s.Assign("Win2008");
    l.Assign("Microsoft Windows 2008");
  } else if (v.major == 6 && v.minor == 1) {
    s.Assign("Win2008R2");
    l.Assign("Microsoft Windows 2008 R2");
  } else {
    NameUnlistedNt(v, s, l);
  }
  AppendX64(v, s, l);
  if (v.suiteMask & kSuiteDataCenter) {
    s.Append(" DataCenter Server");
    l.Append(" DataCenter Server");
  } else if (v.suiteMask & kSuiteEnterprise) {
    s.Append(v.major == 4 ? " Adv Server" : " Ent Server");
    l.Append(v.major == 4 ? " Advanced Server" : " Enterprise Server");
  } else if (v.suiteMask == kSuiteBlade) {
    s.Append(" Web Server");
    l.Append(" Web Server");
  } else {
    s.Append(" Server");
    l.Append(" Server");
  }
}

}  // namespace

void NameWindows(WinVersion const& v, char* shortName, std::size_t shortCap, char* longName,
                 std::size_t longCap) noexcept {
  TextBuf s(shortName, shortCap), l(longName, longCap);
  l.Assign("Windows unknown");
  s.Assign("Windows");
  if (!v.extended && !v.basic) return;

  char const* sp = v.servicePack != nullptr ? v.servicePack : "";
  if (v.platform == 1) {
    if (v.major != 4) return;
    if (v.minor == 0) {
      s.Assign("Win95");
      l.Assign("Microsoft Windows 95");
      if (sp[0] != '\0' && (sp[1] == 'C' || sp[1] == 'B')) l.Append(" OSR2");
    } else if (v.minor == 10) {
      s.Assign("Win98");
      l.Assign("Microsoft Windows 98");
      if (sp[0] != '\0' && sp[1] == 'A') l.Append(" SE");
    } else if (v.minor == 90) {
      l.Assign("Microsoft Windows ME");
    }
    return;
  }
  if (v.platform != 2) return;

  // Base names; the long ones end in a blank for the product type read from
  // the registry.
  if (v.major <= 4) {
    s.Clear();
    s.Appendf("WinNT %u.%u", v.major, v.minor);
    l.Clear();
    l.Appendf("Microsoft Windows NT %u.%u ", v.major, v.minor);
  } else if (v.major == 5 && v.minor == 0) {
    s.Assign("Win2000");
    l.Assign("Microsoft Windows 2000 ");
  }

  unsigned suite = 0, servicePack = 0;
  if (v.extended) {
    suite = v.suiteMask;
    servicePack = v.servicePackMajor;
    if (v.productType == 1)
      NameWorkstation(v, s, l);
    else if (v.productType == 3)
      NameServer(v, s, l);
  } else {
    if (char const* type = v.registryProductType) {
      if (SameNoCase(type, "WINNT"))
        l.Append("Workstation");
      else if (SameNoCase(type, "LANMANNT"))
        l.Append("Server");
      else if (SameNoCase(type, "SERVERNT"))
        l.Append("Advanced Server");
    }
    s.Assign("Windows");
  }
  if (suite & kSuiteTerminal) l.Append(" TS");
  if (servicePack != 0) l.Appendf(" SP%u", servicePack);
}

}  // namespace Korvane::sysinfo
