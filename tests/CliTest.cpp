// zantrel-cli as a user runs it: arguments, standard output, exit status and
// Ctrl+C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

#include "support/AviBuilder.h"
#include "support/TempDir.h"

extern char** environ;

namespace {

using namespace ZantrelTest;

struct Outcome {
  int status = -1;
  std::string out, err;
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

std::string Slurp(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

// Runs the program; when interruptAfter is set, sends SIGINT once that text
// has appeared on standard output.
Outcome RunCli(const std::vector<std::string>& args, const std::string& interruptAfter = "") {
  int out[2], err[2];
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(pipe(err), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  std::vector<std::string> all = {ZANTREL_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  EXPECT_EQ(posix_spawn(&pid, ZANTREL_CLI_PATH, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  Outcome result;
  if (!interruptAfter.empty()) {
    char c;
    while (result.out.find(interruptAfter) == std::string::npos && read(out[0], &c, 1) == 1) result.out += c;
    kill(pid, SIGINT);
  }
  result.out += Slurp(out[0]);
  result.err = Slurp(err[0]);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

Bytes GoodFile() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Chunk("01wb", 32);
  return b.EndMovi().Idx1().Build();
}

Bytes DamagedFile() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Fill(10, 0x07).Chunk("01wb", 32);
  return b.Build();
}

struct Cli : ::testing::Test {
  TempDir dir;
  std::string Put(const std::string& name, const Bytes& bytes) {
    WriteFile(dir / name, bytes);
    return dir / name;
  }
};

TEST_F(Cli, BadUsageExitsWithTwoAndSaysWhy) {
  const std::string file = Put("a.avi", GoodFile());
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"repair", file},
      {"check"},
      {"check", "--bogus", file},
      {"rebuild", "--overwrite", "maybe", file},
      {"rebuild", "--lang", "de", file},
      {"rebuild", "--prefix"},
      {"check", "--in-place", file},
      {"rebuild", "--in-place", "--prefix", "x", file},
  };
  for (const auto& args : cases) {
    const Outcome r = RunCli(args);
    EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("zantrel-cli: "), std::string::npos) << r.err;
  }
  EXPECT_FALSE(Exists(dir / "Zantrel.a.avi"));
}

TEST_F(Cli, HelpAndVersionGoToStandardOutput) {
  const Outcome help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: zantrel-cli check [options] FILE..."), std::string::npos);
  const Outcome version = RunCli({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "zantrel-cli 0.2.3.6\n");
}

TEST_F(Cli, StandardOutputCarriesExactlyTheMessageLines) {
  const std::string good = Put("good.avi", GoodFile());
  const Outcome r = RunCli({"check", good});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Processing file \"good.avi\"\nChecking errors...\n"
            "Done. Found 0 errors, 1 video frames, 1 audio samples\n\n");
  EXPECT_EQ(r.err, "") << "no progress display when standard error is not a terminal";
}

TEST_F(Cli, ExitStatusIsOneWhenAnyFileHasErrorsOrFails) {
  const std::string good = Put("good.avi", GoodFile());
  const std::string damaged = Put("damaged.avi", DamagedFile());
  const std::string notAvi = Put("text.avi", Bytes(100, 'x'));
  EXPECT_EQ(RunCli({"check", good, damaged}).status, 1);
  EXPECT_EQ(RunCli({"check", notAvi, good}).status, 1);
  EXPECT_EQ(RunCli({"rebuild", damaged}).status, 0) << "a rebuilt file counts as a success, errors or not";
}

TEST_F(Cli, AnExistingCopyIsSkippedUnlessToldOtherwise) {
  const std::string file = Put("a.avi", DamagedFile());
  const Bytes stale = {'s', 't', 'a', 'l', 'e'};
  struct Case {
    std::vector<std::string> options;
    int status;
    const char* line;
    bool replaced;
  } cases[] = {
      {{}, 1, "File skipped because destination file already exists.", false},
      {{"--overwrite", "skip"}, 1, "File skipped because destination file already exists.", false},
      {{"--overwrite=abort"}, 1, "Operation aborted because destination file already exists.", false},
      {{"--overwrite", "overwrite"}, 0, "Destination file already exists, it will be overwritten.", true},
  };
  for (const Case& c : cases) {
    WriteFile(dir / "Zantrel.a.avi", stale);
    std::vector<std::string> args = {"rebuild"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(file);
    const Outcome r = RunCli(args);
    EXPECT_EQ(r.status, c.status) << c.line;
    ASSERT_GE(r.Lines().size(), 2u);
    EXPECT_EQ(r.Lines()[1], c.line);
    EXPECT_EQ(ReadFile(dir / "Zantrel.a.avi") != stale, c.replaced) << c.line;
  }
}

TEST_F(Cli, PrefixInPlaceAndLanguageOptionsAreHonoured) {
  const Bytes damaged = DamagedFile();
  const std::string a = Put("a.avi", damaged);
  const Outcome prefixed = RunCli({"rebuild", "--prefix", "Fixed-", a});
  EXPECT_EQ(prefixed.status, 0);
  EXPECT_TRUE(Exists(dir / "Fixed-a.avi"));
  EXPECT_FALSE(Exists(dir / "Zantrel.a.avi"));

  const Outcome inPlace = RunCli({"rebuild", "--in-place", "--lang", "fr", a});
  EXPECT_EQ(inPlace.status, 0);
  EXPECT_EQ(inPlace.Lines()[0], "Traitement du fichier \"a.avi\"");
  EXPECT_EQ(inPlace.Lines()[1], "Reconstruction de l'index...");
  EXPECT_EQ(ReadFile(a), ReadFile(dir / "Fixed-a.avi"));
  EXPECT_FALSE(Exists(dir / "Zantrel.a.avi"));
}

TEST_F(Cli, CtrlCStopsTheRunAndDeletesTheCopyBeingWritten) {
  // A long run: one chunk, then 24 GiB of zeros (sparse: no disk used) that
  // the search has to read through.
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Fill(16, 0x01);
  const std::string path = Put("long.avi", b.Build());
  ASSERT_EQ(truncate(path.c_str(), 24ll << 30), 0);
  const std::string later = Put("later.avi", GoodFile());
  const Outcome r = RunCli({"rebuild", path, later}, "Rebuilding index...\n");
  EXPECT_EQ(r.status, 1);
  const auto lines = r.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Operation aborted.");
  EXPECT_EQ(lines.back(), "");
  EXPECT_FALSE(Exists(dir / "Zantrel.long.avi"));
  EXPECT_FALSE(Exists(dir / "Zantrel.later.avi"));
}

}  // namespace
