// Uses the installed library through its umbrella header, from C++17, the
// way an application of the framework does. Exits 0 when all is well.
#include <OS/kv_Os.h>

#include <cstdio>
#include <cstring>

using namespace Korvane;

namespace {

// An application's static object that calls the library while the program
// is being initialised: the library is loaded and started before it.
struct EarlyUser {
  EarlyUser() {
    cKV_String s;
    s.Format("%s-%d", "early", 1);
    ok = s == "early-1";
    // The process-wide events are made before any caller's initialiser.
    signalled = osWaitForEvents(1, &osGetSignalledEvent(), 0);
    nonSignalled = osWaitForEvents(1, &osGetNonSignalledEvent(), 0);
    // So are the empty identifier, the generator and the system description.
    emptyUid = cKV_Uid::GetEmpty().IsEmpty();
    cKV_Uid made;
    made.Generate();
    generated = made.IsNotEmpty();
    cpus = cKV_SysInfo::GetCpuCount();
  }
  bool emptyUid = false;
  bool generated = false;
  int cpus = 0;
  bool ok = false;
  int signalled = -2;
  int nonSignalled = -2;
};
EarlyUser const g_early;

int failures = 0;
void Check(bool condition, char const* what) {
  if (!condition) {
    std::fprintf(stderr, "consumer: %s failed\n", what);
    ++failures;
  }
}

}  // namespace

int main() {
  Check(g_early.ok, "use from a static initialiser");
  Check(g_early.signalled == 0 && g_early.nonSignalled == -1, "event pair ready for static initialisers");
  Check(g_early.emptyUid && g_early.generated, "identifiers ready for static initialisers");
  Check(g_early.cpus >= 1, "system description ready for static initialisers");

  cKV_String s("abc");
  s += s;
  Check(s == "abcabc", "string append");
  Check(s != "abc", "string inequality");

  cKV_Error e;
  cKV_Error::SetFormat(&e, 3, ".\\osio", 10, "File not found:%s", "x");
  cKV_Error back;
  Check(back.FromString(e.ToString()) && back.GetCode() == 3, "error record text form");

  char text[8] = {};
  int value = 0;
  cKV_DataConv::LongToStr64(-8388608, text);
  Check(std::strcmp(text, "-W000") == 0 && cKV_DataConv::Str64ToLong(text, value) == 5 && value == -8388608,
        "base-64 text");

  // The record list's members, called from the program (not inlined in an
  // unoptimised build): the library or the program must provide them.
  cKV_CfgFile cfg;
  cKV_Error cfgError;
  char const cfgText[] = "[net]\nport = 80\n";
  unsigned int records = 0;
  if (cfg.ReadText(cfgError, cfgText, sizeof cfgText - 1))
    for (cKV_CfgRecord* r = cfg.GetList().GetFirst(); r != nullptr; r = cfg.GetList().GetNext(r)) ++records;
  Check(records == 2 && records == cfg.GetList().GetCount(), "configuration records walked by the program");

  std::printf("consumer: kv_Os %s %s\n", KV_OS_VERSION_TEXT, failures == 0 ? "ok" : "FAILED");
  return failures == 0 ? 0 : 1;
}
