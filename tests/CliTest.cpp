// zantrel-cli as a user runs it: arguments, standard output, exit status and
// the signals that stop it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "cli/ConsoleRun.h"
#include "batch/ExistingOutput.h"
#include "support/AviBuilder.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "util/WorkerThread.h"

extern char** environ;

namespace {

using namespace ZantrelTest;

// Runs the program; when interruptAfter is set, sends the signal once that
// text has appeared on standard output.
ProgramRun RunCli(const std::vector<std::string>& args, const std::string& interruptAfter = "", int signal = SIGINT) {
  std::vector<std::string> all = {ZANTREL_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram(all, interruptAfter, signal);
}

std::string Slurp(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

int PartialFiles(const TempDir& dir) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    count += entry.path().filename().string().find(".zantrel-partial") != std::string::npos;
  return count;
}

Bytes ReadHead(const std::string& path, std::size_t size) {
  Bytes bytes(size);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0) << path;
  if (fd < 0) return {};
  bytes.resize(static_cast<std::size_t>(std::max<ssize_t>(pread(fd, bytes.data(), size, 0), 0)));
  close(fd);
  return bytes;
}

// A long run: one chunk, then 24 GiB of zeros (sparse: no disk used) that the
// search has to read through.
Bytes LongFileHead() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Fill(16, 0x01);
  return b.Build();
}
constexpr long long LongFileSize = 24ll << 30;

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
  const Bytes good = GoodFile();
  const std::string file = Put("a.avi", good);
  const std::string emptyPrefix =
      "an empty --prefix names the file itself: use --in-place to repair the files themselves";
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{}, "missing command: check, rebuild or recover"},
      {{"repair", file}, "unknown command 'repair': use check, rebuild or recover"},
      {{"recover", file}, "recover needs a card or image and a folder: SOURCE FOLDER"},
      {{"recover", file, dir.Path(), file}, "recover needs a card or image and a folder: SOURCE FOLDER"},
      {{"recover", "--in-place", file, dir.Path()}, "recover takes only --reference and --lang"},
      {{"recover", "--json", file, dir.Path()}, "recover takes only --reference and --lang"},
      {{"check"}, "no file given"},
      {{"check", "--bogus", file}, "unknown option '--bogus'"},
      {{"rebuild", "--overwrite", "maybe", file}, "invalid value 'maybe' for --overwrite: use skip, abort or overwrite"},
      {{"rebuild", "--lang", "de", file}, "invalid value 'de' for --lang: use en or fr"},
      {{"rebuild", "--prefix"}, "option --prefix needs a value"},
      {{"check", "--in-place", file}, "--in-place, --prefix, --overwrite, --reference and --skip-healthy apply to rebuild only"},
      {{"check", "--reference", file, file}, "--in-place, --prefix, --overwrite, --reference and --skip-healthy apply to rebuild only"},
      {{"check", "--skip-healthy", file}, "--in-place, --prefix, --overwrite, --reference and --skip-healthy apply to rebuild only"},
      {{"rebuild", "--in-place", "--prefix", "x", file}, "--prefix and --overwrite apply to copies, not to --in-place"},
      // In place only with --in-place: an empty prefix would name the source.
      {{"rebuild", "--prefix", "", "--overwrite", "overwrite", file}, emptyPrefix},
      {{"rebuild", "--prefix=", file}, emptyPrefix},
      {{"check", dir.Path() + "/empty"}, "no AVI file in the folders given"},
  };
  std::filesystem::create_directory(dir / "empty");
  for (const auto& c : cases) {
    const ProgramRun r = RunCli(c.args);
    EXPECT_EQ(r.Status, 2) << ::testing::PrintToString(c.args);
    EXPECT_TRUE(r.Out.empty());
    EXPECT_EQ(r.Err, "zantrel-cli: " + c.error + "\nTry 'zantrel-cli --help' for more information.\n");
  }
  EXPECT_FALSE(Exists(dir / "Zantrel.a.avi"));
  EXPECT_EQ(ReadFile(file), good);
}

// A folder is its AVI files and its subfolders', in the order a person
// sorts names; hidden folders and other files are left out.
TEST_F(Cli, AFolderStandsForItsAviFilesInNaturalOrder) {
  namespace fs = std::filesystem;
  for (const char* folder : {"films", "films/sub", "films/.cache", "films/Extra10", "films/extra9"})
    fs::create_directory(dir / folder);
  const Bytes good = GoodFile();
  for (const char* name : {"films/clip10.avi", "films/clip2.avi", "films/Clip3.AVI", "films/notes.txt",
                           "films/sub/a.avi", "films/.cache/thumb.avi", "films/Extra10/y.avi", "films/extra9/x.avi",
                           "single.avi", "films/Zantrel.clip2.avi", "films/Zantrel.orphan.avi"})
    Put(name, good);
  Put("films/sub/b.avi", DamagedFile());
  fs::create_directory_symlink(dir / "films", dir / "films/sub/loop");
  const ProgramRun r = RunCli({"check", dir / "single.avi", dir / "films"});
  EXPECT_EQ(r.Status, 1) << r.Err;
  std::vector<std::string> processed;
  for (std::size_t at = r.Out.find("Processing file \""); at != std::string::npos;
       at = r.Out.find("Processing file \"", at + 1)) {
    const std::size_t from = at + 17;
    processed.push_back(r.Out.substr(from, r.Out.find('"', from) - from));
  }
  // extra9 before Extra10 and Clip3 between clip2 and clip10: letter case
  // aside. The copy of clip2 an earlier rebuild made is left out; a file
  // named like a copy of nothing in its folder is taken.
  EXPECT_EQ(processed, (std::vector<std::string>{"single.avi", "clip2.avi", "Clip3.AVI", "clip10.avi", "x.avi",
                                                 "y.avi", "a.avi", "b.avi", "Zantrel.orphan.avi"}));
  // The batch is summed up after its last file's lines.
  EXPECT_TRUE(r.Out.ends_with("\n\n9 files checked: 8 healthy, 1 damaged, 0 skipped, 0 not done.\n")) << r.Out;
}

TEST_F(Cli, HelpAndVersionGoToStandardOutput) {
  const ProgramRun help = RunCli({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("Usage: zantrel-cli check [options] FILE|FOLDER..."), std::string::npos);
  const ProgramRun version = RunCli({"--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out, "zantrel-cli 0.2.3.6\n");
}

TEST_F(Cli, StandardOutputCarriesExactlyTheMessageLines) {
  const std::string good = Put("good.avi", GoodFile());
  const ProgramRun r = RunCli({"check", good});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out,
            "Processing file \"good.avi\"\nChecking errors...\n"
            "Done. Found 0 errors, 1 video frames, 32 audio samples\n\n");
  EXPECT_EQ(r.Err, "") << "no progress display when standard error is not a terminal";
}

TEST_F(Cli, ExitStatusIsOneWhenAnyFileHasErrorsOrFails) {
  const std::string good = Put("good.avi", GoodFile());
  const std::string damaged = Put("damaged.avi", DamagedFile());
  const std::string notAvi = Put("text.avi", Bytes(100, 'x'));
  EXPECT_EQ(RunCli({"check", good, damaged}).Status, 1);
  EXPECT_EQ(RunCli({"check", notAvi, good}).Status, 1);
  EXPECT_EQ(RunCli({"rebuild", damaged}).Status, 0) << "a rebuilt file counts as a success, errors or not";
  // A healthy file left alone as asked is no failure; one that fails still is.
  EXPECT_EQ(RunCli({"rebuild", "--skip-healthy", "--prefix", "S.", good, damaged}).Status, 0);
  EXPECT_FALSE(Exists(dir / "S.good.avi"));
  EXPECT_EQ(RunCli({"rebuild", "--skip-healthy", "--prefix", "T.", good, notAvi}).Status, 1);
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
    const ProgramRun r = RunCli(args);
    EXPECT_EQ(r.Status, c.status) << c.line;
    ASSERT_GE(r.Lines().size(), 2u);
    EXPECT_EQ(r.Lines()[1], c.line);
    EXPECT_EQ(ReadFile(dir / "Zantrel.a.avi") != stale, c.replaced) << c.line;
  }
}

TEST_F(Cli, PrefixInPlaceAndLanguageOptionsAreHonoured) {
  const Bytes damaged = DamagedFile();
  const std::string a = Put("a.avi", damaged);
  const ProgramRun prefixed = RunCli({"rebuild", "--prefix", "Fixed-", a});
  EXPECT_EQ(prefixed.Status, 0);
  EXPECT_TRUE(Exists(dir / "Fixed-a.avi"));
  EXPECT_FALSE(Exists(dir / "Zantrel.a.avi"));

  const ProgramRun inPlace = RunCli({"rebuild", "--in-place", "--lang", "fr", a});
  EXPECT_EQ(inPlace.Status, 0);
  EXPECT_EQ(inPlace.Lines()[0], "Traitement du fichier \"a.avi\"");
  EXPECT_EQ(inPlace.Lines()[1], "Reconstruction de l'index...");
  EXPECT_EQ(ReadFile(a), ReadFile(dir / "Fixed-a.avi"));
  EXPECT_FALSE(Exists(dir / "Zantrel.a.avi"));
}

TEST_F(Cli, APrefixThatIsOnlyAFolderPartNeverWritesTheSource) {
  const Bytes damaged = DamagedFile();
  const std::string a = Put("a.avi", damaged);
  ASSERT_TRUE(std::filesystem::create_directory(dir / "sub"));
  const auto refusal = [&](const std::string& copy) {
    return "The copy \"" + copy +
           "\" would be this very file (a link to it, or the same file under another name): a copy never changes "
           "its source. Nothing was written.";
  };
  const struct {
    std::vector<std::string> options;
    int status;
    std::string line;  // the second line, after "Processing file"
    const char* copy;  // where the copy lands, or null
  } cases[] = {
      {{"--prefix", "./"}, 1, refusal(dir / "./a.avi"), nullptr},
      {{"--prefix", "./", "--overwrite", "overwrite"}, 1, refusal(dir / "./a.avi"), nullptr},
      {{"--prefix", "sub/../", "--overwrite", "abort"}, 1, refusal(dir / "sub/../a.avi"), nullptr},
      {{"--prefix", "sub/"}, 0, "Rebuilding index...", "sub/a.avi"},
      {{"--prefix", "missing/"}, 1, "Could not create file \"" + (dir / "missing/a.avi") + "\" (no such file or folder).", nullptr},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"rebuild"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(a);
    const ProgramRun r = RunCli(args);
    const std::string label = ::testing::PrintToString(c.options);
    EXPECT_EQ(r.Status, c.status) << label;
    ASSERT_GE(r.Lines().size(), 2u) << label;
    EXPECT_EQ(r.Lines()[1], c.line) << label;
    EXPECT_EQ(ReadFile(a), damaged) << label << ": the source was written to";
    if (c.copy) {
      EXPECT_NE(ReadFile(dir / c.copy), damaged) << label;
      std::remove((dir / c.copy).c_str());
    }
    EXPECT_EQ(PartialFiles(dir), 0) << label;
  }
}

// The console keeps in place behind --in-place even when it is handed an
// empty prefix without it.
TEST_F(Cli, AnEmptyPrefixWithoutInPlaceIsRefusedByTheRun) {
  const Bytes damaged = DamagedFile();
  ZantrelCli::Options o;
  o.CheckOnly = false;
  o.Prefix = "";
  o.OverwriteBehavior = VEKRiff::OverwriteReplace;
  o.Files = {Put("a.avi", damaged)};
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  const std::atomic<bool> stop{false};
  EXPECT_EQ(ZantrelCli::Run(o, out, nullptr, stop), ZantrelCli::ExitFileFailed);
  std::rewind(out);
  const std::string printed = Slurp(fileno(out));
  std::fclose(out);
  EXPECT_NE(printed.find("would be this very file"), std::string::npos) << printed;
  EXPECT_EQ(ReadFile(o.Files[0]), damaged);
}

// A stop sent to the process goes to the thread that waits for it, never
// to a worker busy in a walk, which would take it only at its next call into
// the system (ThreadSanitizer delays a signal until then).
TEST(WorkerThreads, LeaveStopSignalsToTheThreadThatStartedThem) {
  sigset_t inWorker, creatorBefore, creatorAfter;
  sigemptyset(&inWorker);
  pthread_sigmask(SIG_BLOCK, nullptr, &creatorBefore);
  VEK::StartWorkerThread([&] { pthread_sigmask(SIG_BLOCK, nullptr, &inWorker); }).join();
  pthread_sigmask(SIG_BLOCK, nullptr, &creatorAfter);
  const struct {
    int signal;
    bool blocked;  // in the worker
  } rows[] = {{SIGINT, true},   {SIGTERM, true}, {SIGHUP, true},  {SIGQUIT, true}, {SIGPIPE, true},
              {SIGSEGV, false}, {SIGBUS, false}, {SIGFPE, false}, {SIGABRT, false}};
  for (const auto& row : rows) {
    EXPECT_EQ(sigismember(&inWorker, row.signal) == 1, row.blocked) << strsignal(row.signal);
    EXPECT_EQ(sigismember(&creatorAfter, row.signal), sigismember(&creatorBefore, row.signal))
        << strsignal(row.signal) << ": the creator's mask changed";
  }
}

TEST_F(Cli, StopSignalsEndTheRunAndDeleteTheCopyBeingWritten) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    const std::string label = strsignal(signal);
    const Bytes head = LongFileHead();
    const std::string path = Put("long.avi", head);
    ASSERT_EQ(truncate(path.c_str(), LongFileSize), 0);
    const std::string later = Put("later.avi", GoodFile());
    const ProgramRun r = RunCli({"rebuild", path, later}, "Rebuilding index...\n", signal);
    EXPECT_EQ(r.Status, 1) << label;
    const auto lines = r.Lines();
    ASSERT_GE(lines.size(), 3u) << label;
    EXPECT_EQ(lines[lines.size() - 3], "Operation aborted.") << label;
    EXPECT_EQ(lines[lines.size() - 2], "") << label;
    EXPECT_EQ(lines.back(), "2 files: 0 rebuilt, 0 failed, 0 skipped, 2 not done.") << label;
    EXPECT_FALSE(Exists(dir / "Zantrel.long.avi")) << label;
    EXPECT_FALSE(Exists(dir / "Zantrel.later.avi")) << label;
    EXPECT_EQ(PartialFiles(dir), 0) << label << ": the temporary copy was left behind";
    EXPECT_EQ(std::filesystem::file_size(path), static_cast<std::uintmax_t>(LongFileSize)) << label;
    EXPECT_EQ(ReadHead(path, head.size()), head) << label << ": the source was written to";
    std::remove(path.c_str());
  }
}

// The terminal goes away under a run: it gets SIGHUP, and every later write
// to standard output and standard error fails (EIO). The run still stops as
// Ctrl+C stops it.
TEST_F(Cli, AClosedTerminalStopsTheRunAndDeletesTheCopyBeingWritten) {
  const std::string path = Put("long.avi", LongFileHead());
  ASSERT_EQ(truncate(path.c_str(), LongFileSize), 0);
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string terminal = ptsname(master);
  // A session of its own whose controlling terminal is the pseudo-terminal:
  // opening it there without O_NOCTTY makes it so.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own session, and the hang-up at its default however this test was
  // started (nohup, a shell's background).
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGHUP);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, terminal.c_str(), O_RDWR, 0);
  posix_spawn_file_actions_adddup2(&actions, 0, 1);
  posix_spawn_file_actions_adddup2(&actions, 0, 2);
  std::vector<std::string> all = {ZANTREL_CLI_PATH, "rebuild", path};
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, ZANTREL_CLI_PATH, &actions, &attributes, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  std::string seen;
  char c;
  while (seen.find("Rebuilding index...") == std::string::npos && read(master, &c, 1) == 1) seen += c;
  ASSERT_NE(seen.find("Rebuilding index..."), std::string::npos) << seen;
  close(master);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
  EXPECT_EQ(PartialFiles(dir), 0) << "the temporary copy was left behind";
  EXPECT_FALSE(Exists(dir / "Zantrel.long.avi"));
}

// The oracle: the escapes written out by hand.
TEST(CliEscaping, InvalidUtf8AndControlsAreEscapedValidTextPassesUnchanged) {
  const struct {
    const char* name;
    std::string in, out;
  } cases[] = {
      {"plain ASCII", "Processing file \"a b.avi\"", "Processing file \"a b.avi\""},
      {"French accents", "Vérification des erreurs... Échantillons", "Vérification des erreurs... Échantillons"},
      {"other scripts, 3 and 4 bytes", "映画 фильм 🎬.avi", "映画 фильм 🎬.avi"},
      {"the last code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
      {"a lone invalid byte", "a\xFF.avi", "a\\377.avi"},
      {"Latin-1 é", "caf\xE9.avi", "caf\\351.avi"},
      {"a stray continuation byte", "\x80x", "\\200x"},
      {"a truncated sequence, then valid text", "\xE6\x98.é", "\\346\\230.é"},
      {"a sequence cut by the end", "x\xF0\x9F\x8E", "x\\360\\237\\216"},
      {"an overlong slash", "\xC0\xAF", "\\300\\257"},
      {"an overlong three-byte form", "\xE0\x80\xAF", "\\340\\200\\257"},
      {"a surrogate", "\xED\xA0\x80", "\\355\\240\\200"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\\364\\220\\200\\200"},
      {"newline, tab, carriage return", "a\nb\tc\rd", "a\\nb\\tc\\rd"},
      {"other C0 controls and DEL", std::string("\x1B[2J\x01\x7F", 6) + std::string(1, '\0'),
       "\\033[2J\\001\\177\\000"},
      {"C1 controls", "\xC2\x9B" "1m\xC2\x85", "\\302\\2331m\\302\\205"},
      {"the first character after C1", "\xC2\xA0", "\xC2\xA0"},
      {"a backslash is doubled", "a\\377", "a\\\\377"},
  };
  for (const auto& c : cases) EXPECT_EQ(ZantrelCli::Escaped(c.in), c.out) << c.name;
}

TEST_F(Cli, ANameWithInvalidUtf8AndANewlineIsPrintedEscapedOnOneLine) {
  ZantrelCli::Options o;
  o.Files = {Put("bad\xFFname\nx.avi", GoodFile())};
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  const std::atomic<bool> stop{false};
  EXPECT_EQ(ZantrelCli::Run(o, out, nullptr, stop), ZantrelCli::ExitOk);
  std::rewind(out);
  const std::string printed = Slurp(fileno(out));
  std::fclose(out);
  EXPECT_EQ(printed,
            "Processing file \"bad\\377name\\nx.avi\"\nChecking errors...\n"
            "Done. Found 0 errors, 1 video frames, 32 audio samples\n\n");
}

}  // namespace

namespace {

// A film whose header list is damaged: a rebuild reads the reference for it.
Bytes HeaderDamagedFile() {
  Bytes bytes = GoodFile();
  std::fill(bytes.begin() + 12, bytes.begin() + 48, 0);
  return bytes;
}

std::size_t CountOf(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

}  // namespace

// A name in a list that leads to no file, to a pipe or to nothing at all is
// that file's failure, told with its name and why; the files after it are
// done, and the summary counts every file.
TEST_F(Cli, AFileThatCannotBeOpenedFailsAloneAndTheBatchGoesOn) {
  const std::string first = Put("first.avi", DamagedFile());
  const std::string last = Put("last.avi", DamagedFile());
  const std::string dangling = dir / "dangling.avi";
  const std::string fifo = dir / "fifo.avi";
  const std::string missing = dir / "missing.avi";
  ASSERT_EQ(::symlink((dir / "gone.avi").c_str(), dangling.c_str()), 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::string> failures = {
      "Could not open file \"" + dangling + "\" (a link to a file that does not exist).",
      "Could not open file \"" + fifo + "\" (not a regular file).",
      "Could not open file \"" + missing + "\" (no such file or folder).",
  };
  const struct {
    std::vector<std::string> options;
    std::string summary;
  } cases[] = {
      {{"check"}, "5 files checked: 0 healthy, 2 damaged, 3 failed, 0 skipped, 0 not done."},
      {{"rebuild"}, "5 files: 2 rebuilt, 3 failed, 0 skipped, 0 not done."},
      {{"rebuild", "--in-place"}, "5 files: 2 rebuilt, 3 failed, 0 skipped, 0 not done."},
  };
  for (const auto& c : cases) {
    WriteFile(first, DamagedFile());
    WriteFile(last, DamagedFile());
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {first, dangling, fifo, missing, last});
    const ProgramRun r = RunCli(args);
    const std::string label = ::testing::PrintToString(c.options);
    EXPECT_EQ(r.Status, 1) << label;
    const std::vector<std::string> lines = r.Lines();
    for (const std::string& failure : failures) EXPECT_EQ(CountOf(lines, failure), 1u) << label << ": " << failure;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("Done."); }), 2)
        << label << "\n" << r.Out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), c.summary) << label;
  }
  EXPECT_TRUE(Exists(dir / "Zantrel.first.avi"));
  EXPECT_TRUE(Exists(dir / "Zantrel.last.avi"));
  EXPECT_EQ(PartialFiles(dir), 0);
}

// A copy whose folder is missing fails alone: the prefix's folder exists for
// one file and not for the other.
TEST_F(Cli, ACopyWhosePrefixFolderIsMissingFailsAlone) {
  ASSERT_TRUE(std::filesystem::create_directories(dir / "x/sub"));
  ASSERT_TRUE(std::filesystem::create_directories(dir / "y"));
  const std::string a = Put("y/a.avi", DamagedFile());
  const std::string b = Put("x/b.avi", DamagedFile());
  const ProgramRun r = RunCli({"rebuild", "--prefix", "sub/", a, b});
  EXPECT_EQ(r.Status, 1);
  const std::vector<std::string> lines = r.Lines();
  EXPECT_EQ(CountOf(lines, "Could not create file \"" + (dir / "y/sub/a.avi") + "\" (no such file or folder)."), 1u)
      << r.Out;
  EXPECT_TRUE(Exists(dir / "x/sub/b.avi"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "2 files: 1 rebuilt, 1 failed, 0 skipped, 0 not done.");
}

// Each failure names what could not be done, which file, and why.
TEST_F(Cli, AFailureNamesTheFileAndTheReason) {
  const std::string film = Put("film.avi", HeaderDamagedFile());
  ASSERT_TRUE(std::filesystem::create_directory(dir / "folder.avi"));
  ASSERT_EQ(::mkfifo((dir / "pipe.avi").c_str(), 0600), 0);
  const auto reference = [](const std::string& name, const std::string& reason) {
    return "The reference file \"" + name + "\" could not be opened (" + reason + "). Nothing was written.";
  };
  const struct {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{"rebuild", "--reference", dir / "folder.avi", film}, reference(dir / "folder.avi", "a folder has that name")},
      {{"rebuild", "--reference", dir / "none.avi", film}, reference(dir / "none.avi", "no such file or folder")},
      {{"rebuild", "--in-place", "--reference", dir / "none.avi", film},
       reference(dir / "none.avi", "no such file or folder")},
      {{"rebuild", "--reference", dir / "pipe.avi", film}, reference(dir / "pipe.avi", "not a regular file")},
      {{"rebuild", "--in-place", "--reference", film, film},
       "The reference file \"" + film +
           "\" is the very file being rebuilt: a reference is another, healthy file from the same camera or "
           "encoder. Nothing was written."},
      {{"check", dir / "none.avi"}, "Could not open file \"" + (dir / "none.avi") + "\" (no such file or folder)."},
      {{"rebuild", dir / "none.avi"}, "Could not open file \"" + (dir / "none.avi") + "\" (no such file or folder)."},
      {{"rebuild", "--lang", "fr", "--reference", dir / "none.avi", film},
       "Le fichier de référence \"" + (dir / "none.avi") +
           "\" n'a pas pu être ouvert (fichier ou dossier introuvable). Rien n'a été écrit."},
  };
  const Bytes damaged = ReadFile(film);
  for (const auto& c : cases) {
    const ProgramRun r = RunCli(c.args);
    const std::string label = ::testing::PrintToString(c.args);
    EXPECT_EQ(r.Status, 1) << label;
    EXPECT_EQ(CountOf(r.Lines(), c.line), 1u) << label << "\n" << r.Out;
    EXPECT_EQ(ReadFile(film), damaged) << label;
    EXPECT_FALSE(Exists(dir / "Zantrel.film.avi")) << label;
    EXPECT_EQ(PartialFiles(dir), 0) << label;
  }
}
