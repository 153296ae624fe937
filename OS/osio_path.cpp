// Path strings, uni paths and network paths.
#include <cstring>
#include <initializer_list>
#include <utility>

#include "OS/host/io.h"
#include "OS/host/unc.h"
#include "OS/internal/iotext.h"
#include "OS/internal/report.h"
#include "OS/osio.h"

namespace Korvane {

namespace {

constexpr char kUnit[] = ".\\osio";

bool IsSep(char c) { return c == '/' || c == '\\'; }

char const* OrEmpty(char const* text) { return text != nullptr ? text : ""; }

// Index of the last separator, or -1.
long long LastSep(char const* path, std::size_t length) {
  for (std::size_t i = length; i-- > 0;)
    if (IsSep(path[i])) return static_cast<long long>(i);
  return -1;
}

cKV_String Slice(char const* text, std::size_t length) {
  cKV_String result;
  if (length == 0) return result;
  char* block = internal::ReserveText(result, static_cast<unsigned int>(length));
  if (block == nullptr) return result;
  std::memcpy(block, text, length);
  block[length] = '\0';
  return result;
}

// Stores the first `aLength` bytes of `a`, `mark` and all of `b` into
// `out`; leaves `out` as it was when memory is refused.
void Join(char const* a, std::size_t aLength, char mark, char const* b, cKV_String& out) {
  std::size_t bLength = std::strlen(b);
  cKV_String result;
  char* block = internal::ReserveText(result, static_cast<unsigned int>(aLength + 1 + bLength));
  if (block == nullptr) return;
  std::memcpy(block, a, aLength);
  block[aLength] = mark;
  std::memcpy(block + aLength + 1, b, bLength + 1);
  out = result;
}

// ---- Mount table ----

// Undoes the octal escapes (\040 for a space and so on) of a mount table
// field, in place.
void Unescape(char* field) {
  char* out = field;
  for (char* in = field; *in != '\0'; ++in) {
    if (in[0] == '\\' && in[1] >= '0' && in[1] <= '3' && in[2] >= '0' && in[2] <= '7' && in[3] >= '0' &&
        in[3] <= '7') {
      *out++ = static_cast<char>((in[1] - '0') * 64 + (in[2] - '0') * 8 + (in[3] - '0'));
      in += 3;
    } else {
      *out++ = *in;
    }
  }
  *out = '\0';
}

struct Mount {
  char const* root = nullptr;
  char const* point = nullptr;
  char const* type = nullptr;
  char const* source = nullptr;
};

// Splits one mount table line into its fields (in place). False for a line
// that does not have them.
bool ParseMountLine(char* line, Mount& mount) {
  char* fields[64];
  int count = 0;
  for (char* p = line; *p != '\0' && count < 64;) {
    while (*p == ' ') *p++ = '\0';
    if (*p == '\0') break;
    fields[count++] = p;
    while (*p != '\0' && *p != ' ') ++p;
  }
  int dash = -1;
  for (int i = 6; i < count; ++i)
    if (std::strcmp(fields[i], "-") == 0) {
      dash = i;
      break;
    }
  if (dash < 0 || dash + 2 >= count) return false;
  Unescape(fields[3]);
  Unescape(fields[4]);
  Unescape(fields[dash + 2]);
  mount.root = fields[3];
  mount.point = fields[4];
  mount.type = fields[dash + 1];
  mount.source = fields[dash + 2];
  return true;
}

// Whether `full` (absolute, normalised) lies in the tree mounted at `point`;
// the length of the part of `full` that `point` covers.
bool Covers(char const* point, char const* full, std::size_t& covered) {
  std::size_t length = std::strlen(point);
  while (length > 1 && point[length - 1] == '/') --length;
  if (length == 1 && point[0] == '/') {
    covered = 1;
    return full[0] == '/';
  }
  if (std::strncmp(point, full, length) != 0 || (full[length] != '\0' && full[length] != '/')) return false;
  covered = length;
  return true;
}

bool IsCifs(char const* type) {
  return std::strcmp(type, "cifs") == 0 || std::strcmp(type, "smb3") == 0 || std::strcmp(type, "smbfs") == 0;
}

bool IsNfs(char const* type) { return std::strcmp(type, "nfs") == 0 || std::strcmp(type, "nfs4") == 0; }

// Appends `part` to a server path as a component, without separators at
// either end.
void AppendPart(internal::TextBuffer& out, char const* part, std::size_t length) {
  while (length > 0 && IsSep(*part)) {
    ++part;
    --length;
  }
  while (length > 0 && IsSep(part[length - 1])) --length;
  if (length == 0) return;
  if (out.Length() > 0) out.Append("/", 1);
  std::size_t start = out.Length();
  out.Append(part, length);
  if (out.Failed()) return;
  // Shares may be written with backslashes; the path written uses '/'.
  for (char* p = const_cast<char*>(out.Text()) + start; *p != '\0'; ++p)
    if (*p == '\\') *p = '/';
}

// The absolute form of `path`: prefixed with the current directory when
// relative, "." and ".." and repeated separators resolved as text.
bool FullPath(char const* path, internal::TextBuffer& full) {
  internal::TextBuffer joined;
  if (!IsSep(path[0])) {
    char cwd[4096];
    if (!host::CurrentDir(cwd, sizeof cwd)) return false;
    joined.Append(cwd);
    joined.Append("/", 1);
  }
  joined.Append(path);
  if (joined.Failed()) return false;
  char const* p = joined.Text();
  while (*p != '\0') {
    while (IsSep(*p)) ++p;
    char const* part = p;
    while (*p != '\0' && !IsSep(*p)) ++p;
    std::size_t length = static_cast<std::size_t>(p - part);
    if (length == 0 || (length == 1 && part[0] == '.')) continue;
    if (length == 2 && part[0] == '.' && part[1] == '.') {
      long long last = LastSep(full.Text(), full.Length());
      full.Cut(last > 0 ? static_cast<std::size_t>(last) : 0);
      continue;
    }
    full.Append("/", 1);
    full.Append(part, length);
  }
  if (full.Length() == 0) full.Append("/", 1);
  return !full.Failed();
}

bool ReadMountTable(internal::TextBuffer& table) {
  host::FileHandle fd = host::OpenHostFile("/proc/self/mountinfo");
  if (fd == host::InvalidFile()) return false;
  char chunk[8192];
  long long n;
  while ((n = host::FileRead(fd, chunk, sizeof chunk)) > 0) table.Append(chunk, static_cast<std::size_t>(n));
  host::FileClose(fd);
  return n == 0 && !table.Failed();
}

// The network location of a local path: 1 found, 0 a local path (or no
// answer), -1 a network mount whose source cannot be read (`badSource`).
int LookUpNetworkPath(char const* path, cKV_String& server, cKV_String& serverPath, cKV_String& badSource) {
  internal::TextBuffer full;
  if (!FullPath(path, full)) return 0;
  internal::TextBuffer table;
  if (!ReadMountTable(table)) return 0;

  Mount best;
  std::size_t bestCovered = 0;
  char* text = const_cast<char*>(table.Text());
  for (char* line = text; *line != '\0';) {
    char* next = std::strchr(line, '\n');
    if (next != nullptr) *next++ = '\0';
    Mount mount;
    std::size_t covered = 0;
    // A later mount of the same or a longer point hides the earlier ones.
    if (ParseMountLine(line, mount) && Covers(mount.point, full.Text(), covered) && covered >= bestCovered) {
      best = mount;
      bestCovered = covered;
    }
    if (next == nullptr) break;
    line = next;
  }
  if (best.type == nullptr) return 0;

  char const* source = best.source;
  char const* serverStart = nullptr;
  std::size_t serverLength = 0;
  char const* share = "";
  if (IsCifs(best.type)) {
    if (!IsSep(source[0]) || !IsSep(source[1]) || source[2] == '\0' || IsSep(source[2])) {
      badSource = source;
      return -1;
    }
    serverStart = source + 2;
    char const* end = serverStart;
    while (*end != '\0' && !IsSep(*end)) ++end;
    serverLength = static_cast<std::size_t>(end - serverStart);
    share = end;
  } else if (IsNfs(best.type)) {
    char const* colon;
    if (source[0] == '[') {
      char const* close = std::strchr(source, ']');
      colon = close != nullptr && close[1] == ':' ? close + 1 : nullptr;
      serverStart = source + 1;
      serverLength = close != nullptr ? static_cast<std::size_t>(close - serverStart) : 0;
    } else {
      colon = std::strchr(source, ':');
      serverStart = source;
      serverLength = colon != nullptr ? static_cast<std::size_t>(colon - source) : 0;
    }
    if (colon == nullptr || serverLength == 0) {
      badSource = source;
      return -1;
    }
    share = colon + 1;
  } else {
    return 0;
  }

  internal::TextBuffer onServer;
  AppendPart(onServer, share, std::strlen(share));
  AppendPart(onServer, best.root, std::strlen(best.root));
  char const* rest = full.Text() + bestCovered;
  AppendPart(onServer, rest, std::strlen(rest));
  if (onServer.Failed()) return 0;
  server = Slice(serverStart, serverLength);
  serverPath = onServer.Text();
  return 1;
}

}  // namespace

cKV_String osExtractFilename(char const* path) {
  path = OrEmpty(path);
  std::size_t length = std::strlen(path);
  long long last = LastSep(path, length);
  if (last < 0 || static_cast<std::size_t>(last) + 1 == length) return cKV_String(path);
  return cKV_String(path + last + 1);
}

cKV_String osExtractFilepath(char const* path) {
  path = OrEmpty(path);
  long long last = LastSep(path, std::strlen(path));
  if (last < 0) return cKV_String();
  return Slice(path, static_cast<std::size_t>(last) + 1);
}

cKV_String osExtractFileExt(char const* path) {
  path = OrEmpty(path);
  for (std::size_t i = std::strlen(path); i-- > 0;) {
    if (IsSep(path[i])) break;
    if (path[i] == '.') return cKV_String(path + i + 1);
  }
  return cKV_String();
}

void osChangeFileExt(cKV_String& path, char const* ext) {
  ext = OrEmpty(ext);
  char const* text = path;
  std::size_t keep = std::strlen(text);
  for (std::size_t i = keep; i-- > 0;) {
    if (IsSep(text[i])) break;
    if (text[i] == '.') {
      keep = i;
      break;
    }
  }
  Join(text, keep, '.', ext, path);
}

void osEnsureCorrectDirSlash(cKV_String& path) {
  char* block = path.GetBuffer(0);
  if (block == nullptr) return;
  char const separator = host::PathSeparator();
  for (char* p = block; *p != '\0'; ++p)
    if (IsSep(*p)) *p = separator;
}

void osEnsureTrailingSlash(cKV_String& path) {
  unsigned int length = path.Length();
  if (length == 0 || IsSep(static_cast<char const*>(path)[length - 1])) return;
  char const separator[2] = {host::PathSeparator(), '\0'};
  path += separator;
}

void osEnsureNoTrailingSlash(cKV_String& path) {
  unsigned int length = path.Length();
  if (length == 0 || !IsSep(static_cast<char const*>(path)[length - 1])) return;
  path[static_cast<int>(length - 1)] = '\0';
}

bool osIsUncPath(char const* path) {
  return path != nullptr && IsSep(path[0]) && IsSep(path[1]) && path[2] != '?';
}

namespace {

// "\\server\rest": the server up to the next backslash, the path on it
// after that backslash (empty when there is none).
void SplitUnc(char const* unc, cKV_String& server, cKV_String& serverPath) {
  char const* name = unc + 2;
  char const* end = std::strchr(name, '\\');
  if (end == nullptr) {
    server = name;
    serverPath = "";
  } else {
    cKV_String rest(end + 1);  // copied first: `unc` may be one of the outputs
    server = Slice(name, static_cast<std::size_t>(end - name));
    serverPath = rest;
  }
}

}  // namespace

bool osConvertToUnc(cKV_Error* err, char const* path, cKV_String& server, cKV_String& serverPath) {
  path = OrEmpty(path);
  if (osIsUncPath(path)) {
    if (path[0] != '\\' || path[1] != '\\')
      return KV_REPORT(err, 3, kUnit, "Failed to convert [%s] to UNC path: Invalid path", path);
    SplitUnc(path, server, serverPath);
    return true;
  }
  if (path[0] == '\0') return false;
  char full[4096];
  char universal[4096];
  switch (host::UniversalNameNow(path, full, sizeof full, universal, sizeof universal)) {
    case host::UncAnswer::kFound:
      if (universal[0] != '\\' || universal[1] != '\\')
        return KV_REPORT(err, 3, kUnit,
                         "Failed to convert [%s] to UNC path: Invalid data received from WNetGetUniversalName:%s",
                         path, universal);
      SplitUnc(universal, server, serverPath);
      return true;
    case host::UncAnswer::kBadDevice:
      return KV_REPORT(err, 3, kUnit, "Failed to convert [%s] to UNC path: ERROR_BAD_DEVICE (The string is invalid path.)",
                       full);
    case host::UncAnswer::kConnectionUnavailable:
      return KV_REPORT(err, 3, kUnit,
                       "Failed to convert [%s] to UNC path: ERROR_CONNECTION_UNAVAIL (There is no current connection "
                       "to the remote device, but there is a remembered (persistent) connection to it.)",
                       full);
    case host::UncAnswer::kNotSupported:
      return KV_REPORT(err, 3, kUnit,
                       "Failed to convert [%s] to UNC path: ERROR_NOT_SUPPORTED (Network provider does not support "
                       "UNC names)",
                       full);
    case host::UncAnswer::kNoAnswer:
      return false;
    case host::UncAnswer::kMountTable:
      break;
  }
  cKV_String badSource;
  int found = LookUpNetworkPath(path, server, serverPath, badSource);
  if (found < 0)
    return KV_REPORT(err, 3, kUnit,
                     "Failed to convert [%s] to UNC path: Invalid data received from WNetGetUniversalName:%s", path,
                     static_cast<char const*>(badSource));
  return found > 0;
}

void osMakeLocalPath(cKV_String&) {}

bool osIsUniPath(char const* path) {
  for (char const* p = OrEmpty(path); *p != '\0' && *p != '|'; ++p)
    if (IsSep(*p)) return false;
  return true;
}

void osEncodeUniPath(char const* first, char const* second, cKV_String& uniPath) {
  first = OrEmpty(first);
  second = OrEmpty(second);
  Join(first, std::strlen(first), '|', second, uniPath);
}

bool osDecodeUniPath(char const* uniPath, cKV_String& first, cKV_String& second) {
  uniPath = OrEmpty(uniPath);
  char const* bar = uniPath;
  for (; *bar != '\0' && *bar != '|'; ++bar)
    if (IsSep(*bar)) return false;
  // Copies first: the input may point into either output.
  cKV_String head = Slice(uniPath, static_cast<std::size_t>(bar - uniPath));
  cKV_String tail(*bar == '|' ? bar + 1 : "");
  if (head.Length() != static_cast<unsigned int>(bar - uniPath)) return false;
  if (*bar == '|' && tail.Length() != std::strlen(bar + 1)) return false;
  for (auto [target, part] : {std::pair<cKV_String*, cKV_String*>{&first, &head}, {&second, &tail}}) {
    // Each part gets room in its string, an empty one too (just the NUL).
    unsigned int length = part->Length();
    char* block = internal::ReserveText(*target, length > 0 ? length : 1);
    if (block == nullptr) return false;
    std::memcpy(block, static_cast<char const*>(*part), length + 1);
  }
  return true;
}

}  // namespace Korvane
