// Directories, file times, file search, console keys and the file records.
#include <cstring>

#include "OS/host/error.h"
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

// mkdir of `path`, where a directory that is there already counts as made:
// a "." or ".." step of a path always is, and another process may make the
// same directory at the same time. False with the host's error otherwise.
bool MakeDirOrFind(char const* path) {
  if (host::MakeDir(path)) return true;
  int error = osGetSysError();
  if (error == host::ErrorNumber(host::ErrorKind::kExists) && osIsDirectory(path)) return true;
  host::SetLastError(error);
  return false;
}

// mkdir of one directory, reported in the caller's spelling `shown`.
bool CreateOne(cKV_Error* err, char const* path, char const* shown) {
  if (MakeDirOrFind(path)) return true;
  cKV_String why;
  return KV_REPORT(err, 3, kUnit, "Failed to create directory %s. %s", shown, SysText(why));
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
        internal::NoteReport(kUnit, "dir [%s] %s\n");
        report.AppendFormat("dir [%s] %s\n", entry, SysText(why));
        ok = false;
      }
    } else if (!host::RemoveFile(entry)) {
      internal::NoteReport(kUnit, "file [%s] %s\n");
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
    internal::NoteReport(kUnit, "dir [%s] %s\n");
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

// Both separators are read as separators: the host is asked about the path
// with every '\\' turned into '/', and reports show the caller's spelling.
// With parents it works as mkdir -p: the walk goes up the path until a
// directory exists or can be made, then back down making each step, and a
// step that exists already ("." and "..", or one made meanwhile) is passed.
// A loop rather than recursion, so that a path of any length cannot exhaust
// the stack. Of the reports made on the way up only the last one can remain
// in the record, so only that one is formatted.
bool osCreateDirectory(cKV_Error* err, char const* path, bool parents) {
  path = OrEmpty(path);
  if (path[0] == '\0') return KV_REPORT(err, 3, kUnit, "Directory with empty name can not be created");
  std::size_t length = std::strlen(path);
  char* work = host::NewChars(2 * (length + 1));
  if (work == nullptr) return osIsDirectory(path) || CreateOne(err, path, path);
  char* shown = work + length + 1;  // the caller's spelling of the same prefix
  auto restore = [&](std::size_t at) {
    shown[at] = path[at];
    work[at] = path[at] == '\\' ? '/' : path[at];
  };
  auto cutAt = [&](std::size_t at) { work[at] = shown[at] = '\0'; };
  for (std::size_t i = 0; i <= length; ++i) restore(i);

  bool ok = true;
  if (osIsDirectory(work)) {
    // nothing to make
  } else if (!parents) {
    ok = CreateOne(err, work, shown);
  } else {
    std::size_t current = length;  // work and shown hold the first `current` bytes
    std::size_t failedAt = 0;      // the prefix whose attempt failed last
    int pending = 0;               // and its errno, not yet reported
    auto flush = [&] {
      if (pending == 0) return;
      if (current < failedAt) restore(current);
      cKV_String why = osGetSysErrorStr(pending);
      KV_REPORT(err, 3, kUnit, "Failed to create directory %s. %s", shown, static_cast<char const*>(why));
      if (current < failedAt) cutAt(current);
      pending = 0;
    };
    for (;;) {
      if (MakeDirOrFind(work)) {
        flush();
        break;
      }
      pending = osGetSysError();
      failedAt = current;
      // The parent ends at the last separator, a final one not counted.
      std::size_t cut = current;
      for (std::size_t i = current; i-- > 0;)
        if (work[i] == '/' && i + 1 != current) {
          cut = i;
          break;
        }
      if (cut == current) {
        pending = 0;
        ok = KV_REPORT(err, 3, kUnit, "Failed to create directory %s", shown);
        break;
      }
      cutAt(cut);
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
      restore(current);
      current = std::strlen(work);
      ok = CreateOne(err, work, shown);
    }
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
