// kvos log as shell scripts use it: records in the applications' layout,
// the log directory and why, and reading files back whole.

// GCC 12 warns falsely about std::regex's innards in optimised builds.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <tuple>

#include "OS/osio.h"
#include "OS/oslog.h"
#include "support/testing.h"

using kvtest::ReadFile;
using kvtest::RunKvos;
using kvtest::TempDir;

namespace {

// `path` as the host writes it.
std::string H(std::string path) {
  for (char& c : path)
    if (c == '/' || c == '\\') c = kvtest::HostSeparator();
  return path;
}

// The applications' layout, byte for byte but for the time and thread id.
std::string const kHead = "[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\n \\[[0-9A-F]+\\] LEVEL:";

TEST(KvosLog, WriteAppendsOneRecordInTheLayout) {
  TempDir dir;
  auto r = RunKvos({"log", "write", "--dir", dir.Path(), "--sub", "jobs", "--name", "nightly", "--level", "5",
                    "--file", "backup.sh", "--line", "12", "started", "100%", "%s"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string const file = H(dir / "jobs/nightly.log");
  EXPECT_EQ(r.out, file + "\n");
  r = RunKvos({"log", "write", "--dir", dir.Path(), "--sub", "jobs", "--name", "nightly", "--", "--not",
               "an option\nsecond line"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string const& head = kHead;
  std::regex const both(head + "5 FILE:backup\\.sh\\[12\\]\n MSG:started 100% %s\n\n" + head +
                        "2 FILE:unknown\\[0\\]\n MSG:--not an option\nsecond line\n\n");
  EXPECT_TRUE(std::regex_match(ReadFile(file), both)) << ReadFile(file);

  // Bad arguments change nothing.
  std::string before = ReadFile(file);
  for (auto const& args : std::vector<std::vector<std::string>>{{"log", "write", "--dir", dir.Path()},
                                                                {"log", "write", "--level", "99999999999", "m"},
                                                                {"log", "write", "--bogus", "m"},
                                                                {"log", "tail"}}) {
    auto bad = RunKvos(args);
    EXPECT_EQ(bad.status, 2) << args.back();
    EXPECT_EQ(bad.err.rfind("kvos log: ", 0), 0u) << bad.err;
  }
  EXPECT_EQ(ReadFile(file), before);

  // "." and ".." steps in the directory, as mkdir -p takes them.
  auto dotted = RunKvos({"log", "write", "--dir", dir / "lgx/./a", "--sub", "b/../c", "hello"});
  EXPECT_EQ(dotted.status, 0) << dotted.err;
  EXPECT_NE(ReadFile(dir / "lgx/a/c/kvos.log").find(" MSG:hello\n\n"), std::string::npos);

  // A directory that cannot be made, a file that cannot be appended to.
  kvtest::WriteFile(dir / "plain", "");
  auto blocked = RunKvos({"log", "write", "--dir", dir / "plain", "m"});
  EXPECT_TRUE(blocked.status == 1 && blocked.err.find("plain") != std::string::npos) << blocked.err;
  ASSERT_TRUE(Korvane::osCreateDirectory(nullptr, (dir / "taken.log").c_str(), false));
  auto isDir = RunKvos({"log", "write", "--dir", dir.Path(), "--name", "taken", "to stdout"});
  EXPECT_TRUE(isDir.status == 1 && isDir.out.find("MSG:to stdout\n\n") != std::string::npos &&
              isDir.err.find("standard output") != std::string::npos) << isDir.err;

}

TEST(KvosLog, WhereTellsWhichCandidate) {
  TempDir dir;
  std::string const app = dir / "app";
  ASSERT_TRUE(Korvane::osCreateDirectory(nullptr, app.c_str(), false));
  // The temporary directory: TMPDIR on POSIX hosts, TMP on Windows.
  std::string const tempDir = dir.Path() + kvtest::HostSeparator();
  kvtest::SetEnv("TMPDIR", dir.Path().c_str());
  kvtest::SetEnv("TMP", tempDir.c_str());
  std::string const temp = H(dir / "TLQ_Logs/") + "\ntemporary directory: ";
  kvtest::SetEnv("WDIR", nullptr);
  EXPECT_EQ(RunKvos({"log", "where"}).out, temp + "WDIR is not set\n");
  std::pair<std::string, std::string> const cases[] = {
      {dir / "missing;" + app, H(app + "/Logs") + "\nWDIR element 2 of 2: " + app + "\n"},
      {dir / "new;" + dir / "other", H(dir / "new/Logs") + "\nWDIR element 1 of 2, created now: " + dir / "new\n"},
      {dir / "x/y;", temp + "no WDIR element is a directory, and the first (" + dir / "x/y) could not be created\n"},
      {"", temp + "WDIR is empty\n"},
  };
  for (auto const& [wdir, out] : cases) {
    kvtest::SetEnv("WDIR", wdir.c_str());
    EXPECT_EQ(RunKvos({"log", "where"}).out, out) << wdir;
  }
  EXPECT_EQ(RunKvos({"log", "where", "extra"}).status, 2);
  kvtest::SetEnv("WDIR", nullptr);
  kvtest::SetEnv("TMPDIR", nullptr);
  kvtest::SetEnv("TMP", nullptr);
}

std::string Record(char const* time, char const* thread, int level, std::string const& message) {
  return std::string(time) + "\n [" + thread + "] LEVEL:" + std::to_string(level) + " FILE:a.cpp[1]\n MSG:" +
         message + "\n\n";
}

TEST(KvosLog, ShowPrintsMatchingRecordsWhole) {
  TempDir dir;
  std::string const file = dir / "app.log";
  std::string const r1 = Record("Sat Mar 07 14:05:09 2009", "1A4", 2, "connected");
  std::string const r2 = Record("Sat Mar 07 14:05:10 2009", "1A4", 3, "two lines\nof text\n\nand a gap");
  std::string const r3 = Record("Sun Mar 08 00:00:00 2009", "7F", 0, "later [FILE:x] MSG: connected");
  kvtest::WriteFile(file, r1 + r2 + r3);

  auto all = RunKvos({"log", "show", file});
  EXPECT_TRUE(all.status == 0 && all.out == r1 + r2 + r3) << all.err;
  EXPECT_EQ(RunKvos({"log", "show", file, "--level", "2"}).out, r1 + r3);
  EXPECT_EQ(RunKvos({"log", "show", file, "--thread", "1a4"}).out, r1 + r2);
  EXPECT_EQ(RunKvos({"log", "show", file, "--thread", "0x7F"}).out, r3);
  EXPECT_EQ(RunKvos({"log", "show", file, "--grep", "connected"}).out, r1 + r3);
  EXPECT_EQ(RunKvos({"log", "show", file, "--grep", "of text\n\nand"}).out, r2);
  EXPECT_EQ(RunKvos({"log", "show", file, "--since", "2009-03-07 14:05:10"}).out, r2 + r3);

  // Lines that other programs ended with CR LF: the same records, shown
  // with line feeds.
  std::string crlf;
  for (char c : r1 + r2) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  kvtest::WriteFile(file, crlf + r3);
  auto fromCrlf = RunKvos({"log", "show", file, "--level", "2"});
  EXPECT_TRUE(fromCrlf.status == 0 && fromCrlf.out == r1 + r3) << fromCrlf.out << fromCrlf.err;
  EXPECT_EQ(RunKvos({"log", "show", file, "--grep", "of text\n\nand"}).out, r2);

  // Lines out of the layout: the first is named, every record still shown.
  kvtest::WriteFile(file, "garbage\n" + r1 + "torn header\n" + r2 + r3.substr(0, 40));
  auto mixed = RunKvos({"log", "show", file});
  EXPECT_TRUE(mixed.status == 1 && mixed.out == r1 + r2) << mixed.out;
  EXPECT_EQ(mixed.err, "kvos log: " + file + ":1: not in the record layout: \"garbage\"\n");
  kvtest::WriteFile(file, r1 + "Sat Mar 07 14:05:09 2009\n [1] LEVEL:1 FILE:x[1]\n MSG:cut off");
  auto cut = RunKvos({"log", "show", file});
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.out, r1 + "Sat Mar 07 14:05:09 2009\n [1] LEVEL:1 FILE:x[1]\n MSG:cut off");
  EXPECT_NE(cut.err.find(":5: the record that starts here does not end"), std::string::npos) << cut.err;

  // A record glued to the end of a torn line (a write cut short) is found
  // there with its time line; the torn record is shown up to where it was
  // cut and named. A torn time line, a torn header, a record without time.
  std::string const torn = "Sat Mar 07 14:05:10 2009\n [1A4] LEVEL:3 FILE:a.cpp[1]\n MSG:two li";
  std::string const noTime = " [1A4] LEVEL:1 FILE:a.cpp[1]\n MSG:no time\n\n";
  std::tuple<std::string, std::string, std::string> const glued[] = {
      {r1 + torn + r3, r1 + torn + "\n" + r3, ":5: the record that starts here does not end"},
      {r1 + "Sat Mar 07 14:0" + r3, r1 + r3, ":5: not in the record layout: \"Sat Mar 07 14:0\""},
      {r1 + "Sat Mar 07 14:05:10 2009\n [1A4] LEV" + r3, r1 + r3,
       ":5: not in the record layout: \"Sat Mar 07 14:05:10 2009\""},
      {r1 + torn + noTime + r3, r1 + torn + "\n" + noTime + r3, ":5: the record that starts here does not end"},
      {torn + torn + r3, torn + "\n" + torn + "\n" + r3, ":1: the record that starts here does not end"},
  };
  // A source file named like a header is no glued record.
  std::string const odd = " [1A4] LEVEL:2 FILE:a [7] LEVEL:1 FILE:b[1]\n MSG:m\n\n";
  kvtest::WriteFile(file, odd + r3);
  auto whole = RunKvos({"log", "show", file, "--level", "2"});
  EXPECT_TRUE(whole.status == 0 && whole.out == odd + r3) << whole.out << whole.err;
  for (auto const& [text, out, problem] : glued) {
    kvtest::WriteFile(file, text);
    auto shown = RunKvos({"log", "show", file});
    EXPECT_EQ(shown.status, 1);
    EXPECT_EQ(shown.out, out) << text;
    EXPECT_NE(shown.err.find(problem), std::string::npos) << shown.err;
    // The glued record keeps its time, so a time filter still finds it.
    EXPECT_EQ(RunKvos({"log", "show", file, "--since", "2009-03-08 00:00:00"}).out, r3) << text;
  }

  // What the library writes reads back.
  Korvane::cKV_Log* log = Korvane::cKV_Log::Create(nullptr, (dir / "lib.log").c_str());
  Korvane::cKV_Log::Log(log, 1, "lib.cpp", 7, "from %s", "the library");
  delete log;
  auto lib = RunKvos({"log", "show", dir / "lib.log", "--grep", "library"});
  EXPECT_TRUE(lib.status == 0 && lib.out == ReadFile(dir / "lib.log")) << lib.out;
  EXPECT_EQ(RunKvos({"log", "show", dir / "none.log"}).status, 1);
  for (auto const& args : std::vector<std::vector<std::string>>{{"log", "show", file, "--level"},
                                                                {"log", "show", file, "--thread", "xyz"},
                                                                {"log", "show", file, "--since", "2009-03-07"},
                                                                {"log", "show", file, "--since", "2009-02-29 00:00:00"}})
    EXPECT_EQ(RunKvos(args).status, 2) << args.back();
}

}  // namespace
