// kvos cfg where POSIX hosts show it: devices, FIFOs and /proc, modes,
// owners, groups and access control lists, other users, lock queues,
// signals, and the host's limits of names.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <tuple>
#include <vector>

#include "support/testing.h"

using namespace kvtest;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

// The most the reader takes of a line at once.
constexpr std::size_t kPiece = 32767;

bool HasCopyLeft(std::string const& dir) {
  for (auto const& entry : std::filesystem::directory_iterator(dir))
    if (entry.path().filename().string().find(".kvos-") != std::string::npos) return true;
  return false;
}

// "status output| error text" of a run (without "| " when nothing went to
// the error output).
std::string Said(RunResult const& r) { return std::to_string(r.status) + " " + r.out + (r.err.empty() ? "" : "| " + r.err); }

std::string Kvos(std::vector<std::string> args, std::string const& input = "") {
  args.insert(args.begin(), "cfg");
  return Said(RunKvos(args, input));
}

// The command line that runs a program as the user nobody (with the extra
// groups given).
std::vector<std::string> Nobody(std::string const& groups = "") {
  return {"setpriv", "--reuid=65534", "--regid=65534", groups.empty() ? "--clear-groups" : "--groups=" + groups};
}

// Whether kvos can run as the user nobody here; `why` says why not.
bool CanRunAsNobody(std::string& why) {
  if (geteuid() != 0) {
    why = "switching to the user nobody needs root";
    return false;
  }
  std::vector<std::string> argv = Nobody();
  argv.insert(argv.end(), {KVOS_TOOL_PATH, "--version"});
  RunResult probe = kvtest::Run(argv);
  if (probe.status == 0) return true;
  why = "kvos does not run as nobody here (no setpriv, or a path that nobody cannot reach): " + probe.err;
  return false;
}

RunResult AsNobody(std::vector<std::string> const& args, std::string const& groups = "") {
  std::vector<std::string> argv = Nobody(groups);
  argv.insert(argv.end(), {KVOS_TOOL_PATH, "cfg"});
  argv.insert(argv.end(), args.begin(), args.end());
  return kvtest::Run(argv);
}

// A directory that the user nobody owns, with the given mode, inside `dir`.
std::string NobodysDir(TempDir const& dir, mode_t mode) {
  std::string path = dir / "nobody";
  EXPECT_EQ(chmod(dir.Path().c_str(), 0711), 0);
  EXPECT_EQ(mkdir(path.c_str(), 0755), 0);
  EXPECT_EQ(chown(path.c_str(), 65534, 65534), 0);
  EXPECT_EQ(chmod(path.c_str(), mode), 0);
  return path;
}




TEST(KvosCfgLinux, EditsOnlyRegularFilesAndReadsAnyInputOnce) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  ASSERT_EQ(symlink("missing.cfg", (dir / "dangling").c_str()), 0);
  WriteFile(dir / "one", "[S]\nk = 1\n");
  ASSERT_EQ(link((dir / "one").c_str(), (dir / "two").c_str()), 0);
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string sockPath = dir / "sock";
  ASSERT_LT(sockPath.size(), sizeof address.sun_path);
  std::copy(sockPath.begin(), sockPath.end(), address.sun_path);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(symlink("fifo", (dir / "to-fifo").c_str()), 0);
  std::vector<std::pair<std::string, std::string>> refused = {
      {"fifo", "named pipe"},   {"to-fifo", "named pipe"}, {"sock", "socket"}, {"", "directory"},
      {"dangling", "symbolic link to 'missing.cfg'"}, {"one", "2 hard links"},
      {"proc", "its size (0 bytes) is not what it reads (5 bytes)"}};
  // A file that any process may write and that is made up as it is read.
  ASSERT_EQ(symlink("/proc/self/comm", (dir / "proc").c_str()), 0);
  // A device as root: replacing it would have replaced /dev/null.
  if (mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
    refused.emplace_back("null", "character device");
  else
    std::printf("[  NOTE    ] no device node test: mknod: %s\n", std::strerror(errno));
  for (auto const& [name, kind] : refused) {
    // A FIFO without a writer must not make it wait.
    auto r = kvtest::Run({"timeout", "10", KVOS_TOOL_PATH, "cfg", "set", dir / name, "S", "k", "2"});
    EXPECT_EQ(r.status, 1) << name << ": " << r.err;
    EXPECT_THAT(r.err, AllOf(HasSubstr("cannot edit"), HasSubstr(kind))) << name;
  }
  close(sock);
  struct stat st;
  EXPECT_TRUE(lstat((dir / "fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
  EXPECT_TRUE(lstat((dir / "dangling").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.cfg"));
  EXPECT_TRUE(stat((dir / "two").c_str(), &st) == 0 && st.st_nlink == 2u);
  EXPECT_EQ(ReadFile(dir / "two"), "[S]\nk = 1\n");
  if (lstat((dir / "null").c_str(), &st) == 0) {
    EXPECT_TRUE(S_ISCHR(st.st_mode));
  }

  // Through a symbolic link the file behind it is edited, with its mode.
  std::string target = dir / "real.cfg", link = dir / "link.cfg";
  WriteFile(target, "[S]\r\na = 1\r\n");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  ASSERT_EQ(symlink("real.cfg", link.c_str()), 0);
  ASSERT_EQ(Kvos({"set", link, "S", "b", "2"}), "0 ");
  EXPECT_EQ(ReadFile(target), "[S]\r\na = 1\r\nb = 2\r\n");
  EXPECT_TRUE(lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  EXPECT_TRUE(stat(target.c_str(), &st) == 0 && (st.st_mode & 07777) == 0640u) << std::oct << st.st_mode;

  // Pipes are read once: standard input, and a FIFO with a writer.
  std::string const text = "[a]\nx = 1\n";
  EXPECT_EQ(Kvos({"get", "/dev/stdin", "a", "x"}, text), "0 1\n");
  EXPECT_EQ(Kvos({"list", "/dev/stdin", "a"}, text), "0 x = 1\n");
  EXPECT_EQ(Kvos({"check", "/dev/stdin"}, text), "0 /dev/stdin: read whole: 2 lines, 2 records\n");
  auto fifo = kvtest::Run({"/bin/sh", "-c", "printf '[a]\\nx = 7\\n' > \"$1\" & exec \"$0\" cfg get \"$1\" a x", KVOS_TOOL_PATH,
                   dir / "fifo"});
  EXPECT_EQ(Said(fifo), "0 7\n");
  // Links that lead to what has no name in a directory: a pipe, a file
  // deleted after it was opened. A redirected file is reached by its name.
  EXPECT_THAT(Kvos({"set", "/dev/stdin", "a", "x", "2"}, text),
              AllOf(StartsWith("1 | kvos cfg: cannot edit /dev/stdin: it is a pipe;"), HasSubstr("regular files")));
  std::string gone = dir / "gone.cfg";
  WriteFile(gone, text);
  auto deleted = kvtest::Run({"/bin/sh", "-c", "exec 3<\"$1\"; rm \"$1\"; exec \"$0\" cfg set /dev/fd/3 a x 2",
                              KVOS_TOOL_PATH, gone});
  EXPECT_EQ(deleted.status, 1);
  EXPECT_THAT(deleted.err, AllOf(HasSubstr("it leads to '" + gone + " (deleted)', a file that no directory holds"),
                                 Not(HasSubstr("symbolic link"))));
  WriteFile(gone, text);
  auto redirected = kvtest::Run({"/bin/sh", "-c", "exec \"$0\" cfg set /dev/stdin a x 3 <\"$1\"", KVOS_TOOL_PATH, gone});
  EXPECT_EQ(Said(redirected), "0 ");
  EXPECT_EQ(ReadFile(gone), "[a]\nx = 3\n");
  EXPECT_FALSE(HasCopyLeft(dir.Path()));
}

// The bytes of a POSIX access control list attribute: entries of (tag,
// permissions, id), in the order the host keeps them.
std::string AccessList(std::vector<std::tuple<std::uint16_t, std::uint16_t, std::uint32_t>> const& entries) {
  std::string bytes;
  auto put = [&bytes](std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  put(2, 4);  // version
  for (auto const& [tag, perm, id] : entries) {
    put(tag, 2);
    put(perm, 2);
    put(id, 4);
  }
  return bytes;
}

std::string Attribute(std::string const& path, char const* name) {
  char value[256];
  ssize_t n = getxattr(path.c_str(), name, value, sizeof value);
  return n < 0 ? "(none: " + std::string(std::strerror(errno)) + ")" : std::string(value, static_cast<std::size_t>(n));
}

TEST(KvosCfgLinux, KeepsModeOwnerAndGroupAndNeedsWritePermission) {
  TempDir dir;
  // A new file gets the mode any new file would get.
  std::string fresh = dir / "fresh.cfg";
  auto r = kvtest::Run({"/bin/sh", "-c", "umask 027; exec \"$0\" cfg set \"$1\" S k v", KVOS_TOOL_PATH, fresh});
  ASSERT_EQ(r.status, 0) << r.err;
  struct stat st;
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // An access control list that lets another user write, and a user's
  // own attribute, stay with the file.
  std::string listed = dir / "listed.cfg";
  WriteFile(listed, "[S]\nk = 1\n");
  ASSERT_EQ(chmod(listed.c_str(), 0644), 0);
  std::string const acl = AccessList({{1, 6, ~0u}, {2, 6, 65534}, {4, 4, ~0u}, {0x10, 6, ~0u}, {0x20, 4, ~0u}});
  bool attributes = setxattr(listed.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0 &&
                    setxattr(listed.c_str(), "user.origin", "by hand", 7, 0) == 0;
  if (attributes) {
    ASSERT_EQ(Kvos({"set", listed, "S", "k", "2"}), "0 ");
    EXPECT_EQ(Attribute(listed, "system.posix_acl_access"), acl);
    EXPECT_EQ(Attribute(listed, "user.origin"), "by hand");
    ASSERT_EQ(stat(listed.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    EXPECT_EQ(ReadFile(listed), "[S]\nk = 2\n");
  } else {
    std::printf("[  NOTE    ] no extended attribute test: %s\n", std::strerror(errno));
  }

  std::string why;
  if (geteuid() != 0) GTEST_SKIP() << "owner and group tests need root";
  // Root keeps the owner and group of another user's file.
  std::string theirs = dir / "theirs.cfg";
  WriteFile(theirs, "[S]\n");
  ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(theirs.c_str(), 0604), 0);
  ASSERT_EQ(Kvos({"set", theirs, "S", "k", "v"}), "0 ");
  ASSERT_EQ(stat(theirs.c_str(), &st), 0);
  EXPECT_TRUE(st.st_uid == 65534u && st.st_gid == 65534u && (st.st_mode & 07777) == 0604u);

  // A user who may write the directory but not the file: refused.
  std::string home = NobodysDir(dir, 0755);
  std::string rootsFile = home + "/root.cfg";
  WriteFile(rootsFile, "[S]\nk = 1\n");
  ASSERT_EQ(chmod(rootsFile.c_str(), 0644), 0);
  if (!CanRunAsNobody(why)) GTEST_SKIP() << why;
  auto denied = AsNobody({"set", rootsFile, "S", "k", "2"});
  EXPECT_EQ(denied.status, 1);
  EXPECT_THAT(denied.err, HasSubstr("you may not write it"));
  ASSERT_EQ(stat(rootsFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(ReadFile(rootsFile), "[S]\nk = 1\n");
  // One who may write the file but not the directory cannot place a new
  // copy there, nor create a new file.
  std::string fixed = dir / "fixed";
  ASSERT_EQ(mkdir(fixed.c_str(), 0755), 0);
  std::string theirsThere = fixed + "/app.cfg";
  WriteFile(theirsThere, "[S]\nk = 1\n");
  ASSERT_EQ(chown(theirsThere.c_str(), 65534, 65534), 0);
  EXPECT_EQ(Said(AsNobody({"set", theirsThere, "S", "k", "2"})),
            "1 | kvos cfg: cannot write " + theirsThere +
                ": cannot make a new copy beside it: Permission denied; the file is unchanged\n");
  EXPECT_EQ(Said(AsNobody({"set", fixed + "/new.cfg", "S", "k", "2"})),
            "1 | kvos cfg: cannot write " + fixed + "/new.cfg: cannot create it: Permission denied\n");
  EXPECT_EQ(ReadFile(theirsThere), "[S]\nk = 1\n");
  // A sticky directory lets only the owner replace a file, whoever may
  // write it.
  ASSERT_EQ(chmod(fixed.c_str(), 01777), 0);
  std::string rootsThere = fixed + "/root.cfg";
  WriteFile(rootsThere, "[S]\nk = 1\n");
  ASSERT_EQ(chmod(rootsThere.c_str(), 0666), 0);
  EXPECT_EQ(Said(AsNobody({"set", rootsThere, "S", "k", "2"})),
            "1 | kvos cfg: cannot write " + rootsThere +
                ": its directory is sticky (as /tmp is), where only the file's owner may replace it; the file is "
                "unchanged\n");
  EXPECT_EQ(ReadFile(rootsThere), "[S]\nk = 1\n");
  EXPECT_EQ(Said(AsNobody({"set", theirsThere, "S", "k", "2"})), "0 ");
  EXPECT_EQ(ReadFile(theirsThere), "[S]\nk = 2\n");
  EXPECT_FALSE(HasCopyLeft(fixed));

  // A group member edits a group-writable file: the group stays, so the
  // others of the group can still write it.
  std::string shared = home + "/shared.cfg";
  WriteFile(shared, "[S]\nk = 1\n");
  ASSERT_EQ(chown(shared.c_str(), 0, 4242), 0);
  ASSERT_EQ(chmod(shared.c_str(), 0664), 0);
  auto member = AsNobody({"set", shared, "S", "k", "2"}, "4242");
  EXPECT_EQ(member.status, 0) << member.err;
  ASSERT_EQ(stat(shared.c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, 4242u);
  EXPECT_EQ(st.st_mode & 07777, 0664u);
  EXPECT_EQ(ReadFile(shared), "[S]\nk = 2\n");
  EXPECT_FALSE(HasCopyLeft(home));
}

// Edits of one file by several kvos runs take turns, also in a directory
// that its user cannot list (mode 0333), where no lock on the directory
// could be taken.
TEST(KvosCfgLinux, ConcurrentEditsTakeTurnsWhateverTheDirectoryAllows) {
  TempDir dir;
  std::string why;
  bool asNobody = geteuid() == 0;
  std::string work;
  if (asNobody) {
    if (!CanRunAsNobody(why)) GTEST_SKIP() << why;
    work = NobodysDir(dir, 0333);
  } else {
    work = dir / "work";
    ASSERT_EQ(mkdir(work.c_str(), 0333), 0);
  }
  std::string shared = work + "/shared.cfg";
  constexpr int kEditors = 16;
  std::vector<std::thread> editors;
  std::vector<int> status(kEditors, -1);
  for (int i = 0; i < kEditors; ++i)
    editors.emplace_back([&, i] {
      std::vector<std::string> args = {"set", shared, "S", "k" + std::to_string(i), "v"};
      if (asNobody) {
        status[i] = AsNobody(args).status;
      } else {
        args.insert(args.begin(), "cfg");
        status[i] = RunKvos(args).status;
      }
    });
  for (auto& t : editors) t.join();
  EXPECT_THAT(status, ::testing::Each(0));
  ASSERT_EQ(chmod(work.c_str(), 0755), 0);
  std::string listed = RunKvos({"cfg", "list", shared, "S"}).out;
  for (int i = 0; i < kEditors; ++i) EXPECT_THAT(listed, HasSubstr("k" + std::to_string(i) + " = v\n"));
  EXPECT_FALSE(HasCopyLeft(work));
}

// How many processes wait for a lock on the file with inode `ino`.
int LockWaiters(ino_t ino) {
  std::ifstream locks("/proc/locks");
  std::string const tag = ":" + std::to_string(ino) + " ";
  int waiting = 0;
  for (std::string line; std::getline(locks, line);)
    if (line.find("->") != std::string::npos && line.find(tag) != std::string::npos) ++waiting;
  return waiting;
}

// Edits that wait while other edits replace the file time after time, more
// often than any fixed number of retries: each time they find the file
// replaced, and each still gets its turn.
TEST(KvosCfgLinux, EditsQueuedBehindManyOthersAllGetTheirTurn) {
  TempDir dir;
  std::string const file = dir / "queued.cfg";
  // Another editor: holds the lock on the file, puts a new copy in its
  // place, locks that before letting the old one go.
  auto replace = [&](int generation) {
    std::string const copy = dir / "copy";
    WriteFile(copy, "[S]\n# generation " + std::to_string(generation) + "\n");
    int fd = open(copy.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(flock(fd, LOCK_EX), 0);
    EXPECT_EQ(rename(copy.c_str(), file.c_str()), 0);
    return fd;
  };
  int held = replace(0);
  constexpr int kEditors = 4, kGenerations = 120;
  std::vector<std::thread> editors;
  std::vector<RunResult> results(kEditors);
  for (int i = 0; i < kEditors; ++i)
    editors.emplace_back([&, i] { results[i] = RunKvos({"cfg", "set", file, "S", "k" + std::to_string(i), "v"}); });
  for (int g = 1; g <= kGenerations; ++g) {
    struct stat st;
    fstat(held, &st);
    // The host wakes waiters now and then to queue them again, so a count
    // may dip: one full count is enough.
    int spins = 0;
    while (LockWaiters(st.st_ino) < kEditors && ++spins < 30000) usleep(200);
    if (spins == 30000) {
      ADD_FAILURE() << "generation " << g << ": " << LockWaiters(st.st_ino) << " edits wait";
      break;
    }
    int next = replace(g);
    close(held);
    held = next;
  }
  close(held);
  for (auto& t : editors) t.join();
  std::string const text = ReadFile(file);
  EXPECT_THAT(text, AllOf(StartsWith("[S]\n"), HasSubstr("\n# generation 120\n")));
  for (int i = 0; i < kEditors; ++i) {
    // A slow machine may make one wait long enough to say so.
    EXPECT_EQ(results[i].status, 0) << results[i].err;
    EXPECT_THAT(results[i].err, Not(HasSubstr("cannot")));
    EXPECT_THAT(text, HasSubstr("k" + std::to_string(i) + " = v\n"));
  }
  EXPECT_FALSE(HasCopyLeft(dir.Path()));

  // A lock that another program keeps: the edit waits, and says so.
  int holder = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  RunResult patient;
  std::thread waiter([&] { patient = RunKvos({"cfg", "set", file, "S", "late", "1"}); });
  usleep(1500000);
  close(holder);
  waiter.join();
  EXPECT_EQ(Said(patient), "0 | kvos cfg: waiting for " + file + ", which another program has locked\n");
  EXPECT_THAT(ReadFile(file), HasSubstr("\nlate = 1\n"));
}

// Starts kvos with default signal handling and no output, blocking the
// signal `blocked` (0: none); its pid.
pid_t StartKvos(std::vector<std::string> args, int blocked = 0) {
  args.insert(args.begin(), KVOS_TOOL_PATH);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2}) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, interrupts;
  sigemptyset(&none);
  if (blocked != 0) sigaddset(&none, blocked);
  sigemptyset(&interrupts);
  for (int s : {SIGINT, SIGTERM}) sigaddset(&interrupts, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &interrupts);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return rc == 0 ? pid : -1;
}

// Whether process `pid` has a file of `dir` open other than `file`, before
// or after it was replaced: a new copy, named or not yet.
bool HoldsCopy(pid_t pid, std::string const& dir, std::string const& file) {
  std::error_code ec;
  for (auto const& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
    if (target.compare(0, dir.size() + 1, dir + "/") == 0 && target != file && target != file + " (deleted)")
      return true;
  }
  return false;
}

// An edit interrupted or killed while it writes its new copy leaves the
// file as it was and no copy behind, without help from a later edit.
TEST(KvosCfgLinux, InterruptedOrKilledEditsLeaveTheFileAsItWasAndNoCopy) {
  TempDir dir;
  std::string const file = dir / "big.cfg";
  std::string text;
  for (int i = 0; text.size() < (std::size_t{2} << 20); ++i)
    text += "[section" + std::to_string(i) + "]\n# about it\nkey = a value of some length\nother = 2\n\n";
  // The last: an interrupt that the caller blocks is none to the edit.
  for (auto [sig, blocked] : {std::pair{SIGINT, false}, {SIGTERM, false}, {SIGKILL, false}, {SIGINT, true}}) {
    SCOPED_TRACE(std::string(strsignal(sig)) + (blocked ? ", blocked" : ""));
    WriteFile(file, text);
    bool caught = false;
    int status = 0;
    for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
      pid_t pid = StartKvos({"cfg", "set", file, "section1", "key", "new"}, blocked ? sig : 0);
      ASSERT_GT(pid, 0);
      // Stop it while it holds its copy, so that the signal lands there.
      while (!HoldsCopy(pid, dir.Path(), file) && waitpid(pid, &status, WNOHANG) == 0) usleep(100);
      kill(pid, SIGSTOP);
      caught = HoldsCopy(pid, dir.Path(), file);
      if (caught) kill(pid, sig);
      kill(pid, SIGCONT);
      waitpid(pid, &status, 0);
      if (!caught) WriteFile(file, text);  // it finished first: try again
    }
    ASSERT_TRUE(caught) << "the edit never stopped while it held its copy";
    if (blocked) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      EXPECT_TRUE(ReadFile(file).find("[section1]\n# about it\nkey = new\n") != std::string::npos) << "no edit";
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
      EXPECT_TRUE(ReadFile(file) == text) << "the file was changed";
    }
    std::vector<std::string> names;
    for (auto const& entry : std::filesystem::directory_iterator(dir.Path()))
      names.push_back(entry.path().filename().string());
    EXPECT_THAT(names, ::testing::ElementsAre("big.cfg"));
  }
}

TEST(KvosCfgLinux, FailuresLeaveTheFileAsItWasAndNoCopy) {
  TempDir dir;
  std::string file = dir / "big.cfg";
  std::string text = "[S]\n";
  for (int i = 0; i < 100; ++i) text += "key" + std::to_string(i) + " = value number " + std::to_string(i) + "\n";
  WriteFile(file, text);
  // A file size limit makes the write fail as a full disk would; the
  // signal that comes with it must not kill the edit silently.
  auto r = kvtest::Run({"/bin/sh", "-c", "ulimit -f 1; exec \"$0\" cfg set \"$1\" S extra 1", KVOS_TOOL_PATH, file});
  EXPECT_EQ(Said(r), "1 | kvos cfg: cannot write " + file + ": File too large; the file is unchanged\n");
  EXPECT_EQ(ReadFile(file), text);
  EXPECT_FALSE(HasCopyLeft(dir.Path()));

  // A user's file that is merely named like a copy of it is no copy.
  WriteFile(dir / ".big.cfg.kvos-backup", text.substr(0, 50));
  EXPECT_EQ(Kvos({"set", file, "S", "extra", "1"}), "0 ");
  EXPECT_EQ(ReadFile(file), text + "extra = 1\n");
  EXPECT_EQ(ReadFile(dir / ".big.cfg.kvos-backup"), text.substr(0, 50));
  ASSERT_EQ(unlink((dir / ".big.cfg.kvos-backup").c_str()), 0);

  // A really full disk, where this machine lets a small one be mounted.
  std::string disk = dir / "disk";
  ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
  if (kvtest::Run({"mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", disk}).status != 0)
    GTEST_SKIP() << "no full disk test: cannot mount a small file system here";
  std::string full = disk + "/app.cfg";
  std::string large = "[S]\n# " + std::string(40000, 'f') + "\nk = 1\n";
  WriteFile(full, large);
  auto onFull = RunKvos({"cfg", "set", full, "S", "k", "2"});
  std::string left = ReadFile(full);
  bool copy = HasCopyLeft(disk);
  kvtest::Run({"umount", disk});
  EXPECT_EQ(Said(onFull), "1 | kvos cfg: cannot write " + full + ": No space left on device; the file is unchanged\n");
  EXPECT_EQ(left, large);
  EXPECT_FALSE(copy);
}

TEST(KvosCfgLinux, PathsAndNamesAtTheHostsLimits) {
  TempDir dir;
  // A file name of 255 bytes works (its new copy's name is shortened);
  // one more byte is refused by the host.
  for (std::size_t length : {254u, 255u, 256u}) {
    std::string path = dir / std::string(length, 'n');
    std::string said = Kvos({"set", path, "S", "k", "v"});
    if (length <= 255) {
      EXPECT_EQ(said, "0 ") << length;
      EXPECT_EQ(Kvos({"set", path, "S", "k", "w"}), "0 ") << length;
      EXPECT_EQ(ReadFile(path), "[S]\nk = w\n");
    } else {
      EXPECT_THAT(said, AllOf(StartsWith("1 | kvos cfg: cannot "), HasSubstr("File name too long")));
    }
  }
  // Paths of 4094 and 4095 bytes work; 4096 bytes are one too many.
  std::string deep = dir.Path();
  while (deep.size() < 3900) {
    deep += "/" + std::string(std::min<std::size_t>(200, 3950 - deep.size()), 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0) << deep.size();
  }
  for (std::size_t length : {4094u, 4095u, 4096u}) {
    std::string path = deep + "/" + std::string(length - deep.size() - 1, 'f');
    ASSERT_EQ(path.size(), length);
    std::string said = Kvos({"set", path, "S", "k", "v"});
    if (length < 4096) {
      EXPECT_EQ(said, "0 ") << length;
      EXPECT_EQ(Kvos({"set", path, "S", "k", "w"}), "0 ") << length;
      EXPECT_EQ(Kvos({"get", path, "S", "k"}), "0 w\n") << length;
    } else {
      EXPECT_THAT(said, AllOf(StartsWith("1 | kvos cfg: cannot "), HasSubstr("File name too long")));
      struct stat st;
      EXPECT_NE(stat(path.c_str(), &st), 0);
    }
  }
  EXPECT_FALSE(HasCopyLeft(deep));
}


}  // namespace
