// Directories, file times, file search, console keys and the file records.
#include <cstring>

#include "OS/host/io.h"
#include "OS/host/memory.h"
#include "OS/internal/iotext.h"
#include "OS/internal/report.h"
#include "OS/osio.h"
#include "OS/osthread.h"

namespace Korvane {

namespace {

constexpr char kUnit[] = ".\\osio";

bool IsSep(char c) { return c == '/' || c == '\\'; }

char const* OrEmpty(char const* text) { return text != nullptr ? text : ""; }

char const* SysText(cKV_String& holder) {
  holder = osGetSysErrorStr(osGetSysError());
  return holder;
}

// mkdir of one directory, reported.
bool CreateOne(cKV_Error* err, char const* path) {
  if (host::MakeDir(path)) return true;
  cKV_String why;
  return KV_REPORT(err, 3, kUnit, "Failed to create directory %s. %s", path, SysText(why));
}

// ---- Masks ----

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool MatchPart(char const* mask, std::size_t maskLength, char const* name) {
  std::size_t m = 0, n = 0;
  std::size_t starMask = static_cast<std::size_t>(-1), starName = 0;
  while (name[n] != '\0') {
    if (m < maskLength && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (m < maskLength && (mask[m] == '?' || Fold(mask[m]) == Fold(name[n]))) {
      ++m;
      ++n;
    } else if (starMask != static_cast<std::size_t>(-1)) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < maskLength && mask[m] == '*') ++m;
  return m == maskLength;
}

// A final ".*" may also match nothing, so that "*.*" takes every name and
// "name.*" takes a name without extension, as applications expect.
bool MatchMask(char const* mask, char const* name) {
  std::size_t length = std::strlen(mask);
  if (MatchPart(mask, length, name)) return true;
  return length >= 2 && mask[length - 2] == '.' && mask[length - 1] == '*' && MatchPart(mask, length - 2, name);
}

struct Find {
  void* dir;
  char* mask;
};

bool NextMatch(Find* find, cKV_String& name) {
  char const* entry;
  host::PathKind kind;
  while (host::DirRead(find->dir, entry, kind) == 1)
    if (MatchMask(find->mask, entry)) {
      name = entry;
      return true;
    }
  return false;
}

// ---- Deleting ----

// The path of an entry inside a directory path that ends in a separator,
// built in one reused buffer.
class EntryPath {
 public:
  explicit EntryPath(char const* dir) { _text.Append(dir); }
  char const* With(char const* name, std::size_t dirLength) {
    _text.Cut(dirLength);
    _text.Append(name);
    return _text.Failed() ? nullptr : _text.Text();
  }

 private:
  internal::TextBuffer _text;
};

bool DeleteTree(cKV_Error* err, char const* path, bool recursive);

bool DeleteEntries(char const* dir, bool recursive, internal::TextBuffer& report) {
  bool ok = true;
  std::size_t dirLength = std::strlen(dir);
  EntryPath entryPath(dir);
  void* handle = host::DirOpen(dir);
  char const* name;
  host::PathKind kind;
  cKV_String why;
  while (handle != nullptr && host::DirRead(handle, name, kind) == 1) {
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    char const* entry = entryPath.With(name, dirLength);
    if (entry == nullptr) {
      ok = false;  // no memory for the name: the entry stays
      continue;
    }
    if (kind == host::kPathNone) kind = host::GetPathKind(entry, false);
    if (kind == host::kPathDir && recursive) {
      cKV_Error sub;
      if (!DeleteTree(&sub, entry, true)) {
        report.Append(sub.GetText());
        ok = false;
      }
    } else if (kind == host::kPathDir) {
      if (!host::RemoveDir(entry)) {
        report.AppendFormat("dir [%s] %s\n", entry, SysText(why));
        ok = false;
      }
    } else if (!host::RemoveFile(entry)) {
      report.AppendFormat("file [%s] %s\n", entry, SysText(why));
      ok = false;
    }
  }
  host::DirClose(handle);
  return ok;
}

// The host is asked about the path without the separator that is added for
// joining names and for the report: a directory whose path is just under the
// host's limit can still be deleted.
bool DeleteTree(cKV_Error* err, char const* path, bool recursive) {
  cKV_String dir(path);
  osEnsureTrailingSlash(dir);
  bool added = dir.Length() > std::strlen(path);
  if (!osIsDirectory(added ? path : static_cast<char const*>(dir))) return osDeleteFile(err, path);
  internal::TextBuffer report;
  bool ok = DeleteEntries(dir, recursive, report);
  if (ok && !host::RemoveDir(added ? path : static_cast<char const*>(dir))) {
    cKV_String why;
    report.AppendFormat("dir [%s] %s\n", static_cast<char const*>(dir), SysText(why));
    ok = false;
  }
  if (ok) return true;
  return KV_REPORT(err, 3, kUnit, "%s", report.Text());
}

}  // namespace

bool osFileIsExist(char const* path) {
  return path != nullptr && path[0] != '\0' && host::GetPathKind(path, false) != host::kPathNone;
}

bool osIsDirectory(char const* path) {
  return path != nullptr && path[0] != '\0' && host::GetPathKind(path, true) == host::kPathDir;
}

bool osDeleteFile(cKV_Error* err, char const* path) {
  path = OrEmpty(path);
  if (host::RemoveFile(path)) return true;
  cKV_String why;
  return KV_REPORT(err, 3, kUnit, "Failed to delete file [%s]. %s", path, SysText(why));
}

// The parents are created going up the path until one exists or can be
// made, then back down; a loop rather than recursion, so that a path of any
// length cannot exhaust the stack. Of the reports made on the way up only the
// last one can remain in the record, so only that one is formatted.
bool osCreateDirectory(cKV_Error* err, char const* path, bool parents) {
  path = OrEmpty(path);
  if (osIsDirectory(path)) return true;
  if (path[0] == '\0') return KV_REPORT(err, 3, kUnit, "Directory with empty name can not be created");
  if (!parents) return CreateOne(err, path);

  std::size_t length = std::strlen(path);
  char* work = host::NewChars(length + 1);
  if (work == nullptr) return CreateOne(err, path);
  std::memcpy(work, path, length + 1);
  std::size_t current = length;  // work holds the first `current` bytes of path
  std::size_t failedAt = 0;      // the prefix whose attempt failed last
  int pending = 0;               // and its errno, not yet reported
  auto flush = [&] {
    if (pending == 0) return;
    if (current < failedAt) work[current] = path[current];
    cKV_String why = osGetSysErrorStr(pending);
    KV_REPORT(err, 3, kUnit, "Failed to create directory %s. %s", work, static_cast<char const*>(why));
    if (current < failedAt) work[current] = '\0';
    pending = 0;
  };
  bool ok = true;
  for (;;) {
    if (host::MakeDir(work)) {
      flush();
      break;
    }
    pending = osGetSysError();
    failedAt = current;
    // The parent ends at the last separator, a final one not counted.
    std::size_t cut = current;
    for (std::size_t i = current; i-- > 0;)
      if (IsSep(work[i]) && i + 1 != current) {
        cut = i;
        break;
      }
    if (cut == current) {
      pending = 0;
      ok = KV_REPORT(err, 3, kUnit, "Failed to create directory %s", work);
      break;
    }
    work[cut] = '\0';
    current = cut;
    if (osIsDirectory(work)) {
      flush();
      break;
    }
    if (cut == 0) {
      pending = 0;
      ok = KV_REPORT(err, 3, kUnit, "Directory with empty name can not be created");
      break;
    }
  }
  while (ok && current < length) {
    work[current] = path[current];
    current = std::strlen(work);
    ok = CreateOne(err, work);
  }
  host::DeleteChars(work);
  return ok;
}

bool osDeleteDirectory(cKV_Error* err, char const* path, bool recursive) {
  path = OrEmpty(path);
  // A link is removed itself, never the tree it leads to.
  std::size_t length = std::strlen(path);
  while (length > 1 && IsSep(path[length - 1])) --length;
  cKV_String name;
  char* block = length > 0 ? internal::ReserveText(name, static_cast<unsigned int>(length)) : nullptr;
  if (block != nullptr) {
    std::memcpy(block, path, length);
    block[length] = '\0';
    if (host::GetPathKind(block, false) == host::kPathLink) return osDeleteFile(err, block);
  }
  return DeleteTree(err, path, recursive);
}

bool osGetFileTime(cKV_Error* err, char const* path, unsigned int& time) {
  path = OrEmpty(path);
  long long seconds = 0;
  if (!host::GetModTime(path, seconds) || seconds < 0 || seconds > 0xFFFFFFFFLL)
    return KV_REPORT(err, 3, kUnit, "File not found:%s", path);
  time = static_cast<unsigned int>(seconds);
  return true;
}

bool osSetFileTime(cKV_Error* err, char const* path, unsigned int time) {
  path = OrEmpty(path);
  if (!host::SetFileTimes(path, time)) return KV_REPORT(err, 3, kUnit, "File not found:%s", path);
  return true;
}

void* osFileFindFirst(char const* dir, char const* mask, cKV_String& name) {
  // The pattern's last component is the mask; what comes before is the
  // directory to read.
  internal::TextBuffer pattern;
  pattern.Append(OrEmpty(dir));
  if (pattern.Length() > 0 && !IsSep(pattern.Text()[pattern.Length() - 1])) pattern.Append("/", 1);
  pattern.Append(OrEmpty(mask));
  if (pattern.Failed()) return nullptr;
  std::size_t split = pattern.Length();
  while (split > 0 && !IsSep(pattern.Text()[split - 1])) --split;

  std::size_t maskLength = pattern.Length() - split;
  char* maskCopy = host::NewChars(maskLength + 1);
  if (maskCopy == nullptr) return nullptr;
  std::memcpy(maskCopy, pattern.Text() + split, maskLength + 1);
  pattern.Cut(split);
  void* dirHandle = host::DirOpen(split > 0 ? pattern.Text() : ".");
  Find* find = dirHandle != nullptr ? host::New<Find>(Find{dirHandle, maskCopy}) : nullptr;
  if (find == nullptr || !NextMatch(find, name)) {
    host::DirClose(dirHandle);
    delete find;
    host::DeleteChars(maskCopy);
    return nullptr;
  }
  return find;
}

bool osFileFindNext(void* find, cKV_String& name) {
  if (find == nullptr) return false;
  return NextMatch(static_cast<Find*>(find), name);
}

void osFileFindEnd(void*& find) {
  if (find == nullptr) return;
  auto* state = static_cast<Find*>(find);
  host::DirClose(state->dir);
  host::DeleteChars(state->mask);
  delete state;
  find = nullptr;
}

bool osWaitForConsoleInput(unsigned int ms, char& key) {
  host::ConsoleState state;
  host::ConsoleBegin(state);
  char c = 0;
  bool got = host::ConsoleTryRead(state, c) == 1;
  if (!got) {
    osSleep(ms);
    got = host::ConsoleTryRead(state, c) == 1;
  }
  host::ConsoleEnd(state);
  if (!got) return false;
  key = (c == '\r' || c == '\n') ? '\n' : c;
  return true;
}

cKV_FileInfo::cKV_FileInfo() : data1(0), data2(0) {}
cKV_FileInfo::cKV_FileInfo(cKV_FileInfo const& other) = default;
cKV_FileInfo& cKV_FileInfo::operator=(cKV_FileInfo const& other) = default;
cKV_FileInfo::~cKV_FileInfo() = default;

cKV_FolderInfo::cKV_FolderInfo() = default;
cKV_FolderInfo::cKV_FolderInfo(cKV_FolderInfo const& other) = default;
cKV_FolderInfo& cKV_FolderInfo::operator=(cKV_FolderInfo const& other) = default;
cKV_FolderInfo::~cKV_FolderInfo() = default;

}  // namespace Korvane
