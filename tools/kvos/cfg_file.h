// The file side of kvos cfg: reading any input once, and replacing a
// configuration file so that it is never damaged, never split from its
// other names and never changed by two edits at once. Everything that
// depends on the host lives in the body of this header (cfg_file_posix.cpp
// here); the editor itself touches no file.
#ifndef KVOS_CFG_FILE_H
#define KVOS_CFG_FILE_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace kvos::cfg {

// Larger input is no configuration file; it is refused before memory runs
// out.
constexpr std::size_t kMaxInput = std::size_t{1} << 30;

// Reads everything that `path` gives, once: a file, a pipe, a terminal.
// A directory is refused. False with the reason in `why`.
bool ReadInput(std::string const& path, std::string& bytes, std::string& why);

// The name of a new copy of the file named `base` beside it, from 6
// random name characters: a hidden name that ends in characters derived
// from the rest, so that only real copies are ever taken for copies.
std::string CopyName(std::string const& base, std::string const& random);

enum class Status {
  kOk,
  kFailed,  // `why` says why; the file is as it was
  kAgain,   // another program created the file meanwhile: open it again
};

// One edit of one file, from reading it to replacing it. While it is open,
// other kvos edits of the same file wait for it. Only regular files are
// edited, reached directly or through symbolic links; the replacement is a
// complete new copy in the same directory, renamed over the file, with the
// file's mode, its owner where the process may set it, and its group where
// the user belongs to it, and its extended attributes. If the file changed
// since it was read, it is not replaced.
class FileEdit {
 public:
  // The new copy has no name until it is complete, where the file system
  // allows that, so that an edit killed while writing it leaves nothing
  // behind. Without `unnamedCopies`, or where the file system does not
  // allow it, the copy has a hidden name from the start, and a later edit
  // removes one that a killed edit left.
  explicit FileEdit(bool unnamedCopies = true);
  ~FileEdit();
  FileEdit(FileEdit const&) = delete;
  FileEdit& operator=(FileEdit const&) = delete;

  // Opens, locks and reads the file that `path` names. A missing file is an
  // empty new one when `mayCreate`. Copies that killed edits of the same
  // file left behind are removed once nothing holds them, by an edit that
  // holds the file's lock. `waiting` is
  // called once if another program keeps the file locked for a while.
  Status Open(std::string const& path, bool mayCreate, std::string& why, std::function<void()> waiting = {});
  bool Exists() const;
  std::string const& Bytes() const;
  // Replaces the file with `bytes`. On any failure the file is untouched
  // and no copy is left.
  Status Replace(std::string const& bytes, std::string& why);

 private:
  struct State;
  std::unique_ptr<State> _s;
};

}  // namespace kvos::cfg

#endif
