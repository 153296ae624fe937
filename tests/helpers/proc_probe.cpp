// A program that osprocess tests start: it writes what it was given (its
// arguments, session, descriptors, signal state, directory and one
// environment variable) into the file that KVOS_PROBE_OUT names.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  char const* out = std::getenv("KVOS_PROBE_OUT");
  if (out == nullptr) return 2;
  std::string report = "argc=" + std::to_string(argc) + "\n";
  for (int i = 0; i < argc; ++i) report += "arg=" + std::to_string(std::string(argv[i]).size()) + ":" + argv[i] + "\n";
  report += std::string("session_leader=") + (getsid(0) == getpid() ? "1" : "0") + "\n";
  std::string fds;
  if (DIR* d = opendir("/proc/self/fd")) {
    int own = dirfd(d);
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.' || std::atoi(e->d_name) == own) continue;
      fds += std::string(fds.empty() ? "" : ",") + e->d_name;
    }
    closedir(d);
  }
  report += "fds=" + fds + "\n";
  sigset_t mask;
  sigprocmask(SIG_BLOCK, nullptr, &mask);
  int blocked = 0;
  for (int s = 1; s < NSIG; ++s) blocked += sigismember(&mask, s) == 1 ? 1 : 0;
  report += "blocked=" + std::to_string(blocked) + "\n";
  struct sigaction pipe;
  sigaction(SIGPIPE, nullptr, &pipe);
  report += std::string("sigpipe_ignored=") + (pipe.sa_handler == SIG_IGN ? "1" : "0") + "\n";
  char cwd[4096];
  report += std::string("cwd=") + (getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?") + "\n";
  char const* env = std::getenv("KVOS_PROBE_ENV");
  report += std::string("env=") + (env != nullptr ? env : "(unset)") + "\n";

  std::string temp = std::string(out) + ".part";
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr) return 3;
  std::fwrite(report.data(), 1, report.size(), f);
  std::fclose(f);
  return std::rename(temp.c_str(), out) == 0 ? 0 : 4;
}
