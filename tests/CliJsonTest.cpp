// zantrel-cli --json as a script reads it: every line of standard output is
// parsed by Python's json module, and what it says is held against the plain
// messages of the same run and against what the test files hold.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "batch/BatchModel.h"
#include "batch/Report.h"
#include "support/AviBuilder.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"

namespace {

using namespace ZantrelTest;

ProgramRun RunCli(const std::vector<std::string>& args, const std::string& interruptAfter = "") {
  std::vector<std::string> all = {ZANTREL_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram(all, interruptAfter);
}

// Parses each line of a report with json.loads (strict: a raw control
// character or a byte that is not UTF-8 fails it) and prints what it says,
// one field per word, file names as Python's ascii() writes them.
const char* const Flatten = R"PY(
import json, sys, os
data = open(sys.argv[1], 'rb').read()
assert data.endswith(b'\n'), 'the report ends its last line'
for raw in data.split(b'\n')[:-1]:
    o = json.loads(raw.decode('utf-8'))
    if o['type'] == 'file':
        out = o['output']
        print('file', ascii(os.path.basename(o['path'])), o['outcome'], o['errors'], o['video_frames'],
              o['audio_samples'], out if out is None else ascii(out), o['failure'] is not None)
        for f in o['findings']:
            print('finding', f['kind'], f['error'], f['offset'], f['stream'], f['frame'], f['milliseconds'],
                  '|' + f['message'])
    else:
        assert o['type'] == 'summary'
        counts = ' '.join('%s=%d' % kv for kv in sorted(o['outcomes'].items()))
        print('summary', o['files'], counts, '|' + o['line'])
)PY";

struct Parsed {
  bool Ok = false;
  std::vector<std::string> Lines;
  std::string Error;
};

Parsed ParseReport(const TempDir& dir, const std::string& report) {
  const std::string reportPath = dir / "report.jsonl";
  WriteFile(reportPath, Bytes(report.begin(), report.end()));
  const ProgramRun r = RunProgram({"python3", "-c", Flatten, reportPath});
  return {r.Status == 0, r.Lines(), r.Err};
}

// The film has MicroSecPerFrame 40000 (25 frames a second): video frames
// before a spot, then stretches of bytes no chunk header starts.
Bytes DamagedFile() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Chunk("01wb", 32).Chunk("00dc", 64).Fill(10, 0x07).Chunk("00dc", 64);
  b.Chunk("00dc", 48).Chunk("01wb", 32).Fill(26, 0x09).Chunk("00dc", 64);
  return b.Build();
}

Bytes GoodFile() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Chunk("01wb", 32);
  return b.EndMovi().Idx1().Build();
}

// The plain run's corrupted spots and resumes, as its lines say them.
struct Spot {
  std::int64_t Offset = 0, Frame = 0;
};

std::vector<std::string> Starting(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& l : lines)
    if (l.rfind(prefix, 0) == 0) out.push_back(l.substr(prefix.size()));
  return out;
}

struct CliJson : ::testing::Test {
  TempDir dir;
  std::string Put(const std::string& name, const Bytes& bytes) {
    WriteFile(dir / name, bytes);
    return dir / name;
  }
  void SetUp() override {
    if (!HaveProgram("python3")) GTEST_SKIP() << "python3 is needed to parse the report";
  }
};

TEST_F(CliJson, ACheckGivesOneObjectPerFileWithTheFindingsThePlainMessagesSay) {
  const std::string good = Put("a.avi", GoodFile());
  const std::string damaged = Put("damaged.avi", DamagedFile());
  const std::string notes = Put("notes.txt", Bytes(200, 'x'));
  const struct {
    std::string lang, corrupted, resuming;
  } cases[] = {
      {"en", "Corrupted data found at file offset ", "Resuming file scanning from offset "},
      {"fr", "Données corrompues trouvées à l'adresse ", "Reprise du balayage du fichier à partir de l'adresse "},
  };
  for (const auto& c : cases) {
    const ProgramRun plain = RunCli({"check", "--lang", c.lang, good, damaged, notes});
    const ProgramRun json = RunCli({"check", "--json", "--lang", c.lang, good, damaged, notes});
    EXPECT_EQ(json.Status, plain.Status) << c.lang;
    EXPECT_EQ(json.Status, 1) << c.lang;
    EXPECT_EQ(json.Err, "") << c.lang;
    const Parsed parsed = ParseReport(dir, json.Out);
    ASSERT_TRUE(parsed.Ok) << c.lang << ": " << parsed.Error << "\n" << json.Out;

    // The plain run's lines are the oracle for the messages, the spots'
    // offsets and frames, the Done counts and the summary.
    const std::vector<std::string> corrupted = Starting(plain.Lines(), c.corrupted);
    const std::vector<std::string> resuming = Starting(plain.Lines(), c.resuming);
    ASSERT_EQ(corrupted.size(), 2u) << c.lang << "\n" << plain.Out;
    ASSERT_EQ(resuming.size(), 2u) << c.lang;
    // "Done. Found 2 errors, 4 video frames, 64 audio samples": its numbers.
    std::vector<std::string> done;
    for (const std::string& l : plain.Lines()) {
      long long e = 0, v = 0, a = 0;
      if (std::sscanf(l.c_str(), "%*[^0-9]%lld%*[^0-9]%lld%*[^0-9]%lld", &e, &v, &a) == 3 &&
          l.find(c.lang == "en" ? "Done." : "Terminé.") == 0)
        done.push_back(std::to_string(e) + " " + std::to_string(v) + " " + std::to_string(a));
    }
    ASSERT_EQ(done.size(), 2u) << plain.Out;
    std::vector<std::string> expected = {"file 'a.avi' healthy " + done[0] + " None False"};
    expected.push_back("file 'damaged.avi' damaged " + done[1] + " None False");
    for (std::size_t i = 0; i < corrupted.size(); ++i) {
      long long offset = 0, frame = 0;
      ASSERT_EQ(std::sscanf(corrupted[i].c_str(), "%lld; %*[^0-9]%lld", &offset, &frame), 2) << corrupted[i];
      // 40 ms a frame, as the film's header says.
      expected.push_back("finding corrupted-data True " + std::to_string(offset) + " None " + std::to_string(frame) +
                         " " + std::to_string(frame * 40) + " |" + c.corrupted + corrupted[i]);
      expected.push_back("finding resumed-scan False " + resuming[i] + " None None None |" + c.resuming + resuming[i]);
    }
    // The film has no idx1: the line after the last resume says so.
    const std::vector<std::string> plainLines = plain.Lines();
    const auto lastResume = std::find(plainLines.begin(), plainLines.end(), c.resuming + resuming.back());
    ASSERT_LT(lastResume + 1, plainLines.end());
    expected.push_back("finding index-mismatch True None None None None |" + *(lastResume + 1));
    expected.push_back("file 'notes.txt' not-avi 0 0 0 None True");
    expected.push_back("summary 3 damaged=1 failed=0 healthy=1 left-healthy=0 not-avi=1 not-done=0 rebuilt=0 "
                       "repaired=0 skipped=0 stopped=0 |" + plain.Lines().back());
    EXPECT_EQ(parsed.Lines, expected) << c.lang << "\n" << plain.Out;
  }
}

TEST_F(CliJson, ANameWithInvalidUtf8AndANewlineGivesValidJson) {
  const std::string bad = Put("bad\xFF" "name\nx.avi", GoodFile());
  const std::string accented = Put("\xC3\xA9t\xC3\xA9\t.avi", Bytes(50, 'x'));
  const ProgramRun r = RunCli({"check", "--json", bad, accented});
  const Parsed parsed = ParseReport(dir, r.Out);
  ASSERT_TRUE(parsed.Ok) << parsed.Error << "\n" << r.Out;
  ASSERT_EQ(parsed.Lines.size(), 3u) << r.Out;
  EXPECT_EQ(parsed.Lines[0], "file 'bad\\ufffdname\\nx.avi' healthy 0 1 32 None False");
  EXPECT_EQ(parsed.Lines[1], "file '\\xe9t\\xe9\\t.avi' not-avi 0 0 0 None True") << "valid UTF-8 is kept";
}

TEST_F(CliJson, ARebuildGivesTheFileItWrote) {
  const struct {
    std::vector<std::string> options;
    std::string output;  // the name written, None for no file
    std::string outcome;
  } cases[] = {
      {{"--prefix", "Fixed."}, "'Fixed.damaged.avi'", "rebuilt"},
      {{"--in-place"}, "'damaged.avi'", "rebuilt"},
      {{"--skip-healthy", "--prefix", "Fixed."}, "None", "left-healthy"},
  };
  for (const auto& c : cases) {
    const std::string damaged = Put("damaged.avi", c.outcome == "rebuilt" ? DamagedFile() : GoodFile());
    std::vector<std::string> args = {"rebuild", "--json"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(damaged);
    const ProgramRun r = RunCli(args);
    EXPECT_EQ(r.Status, 0) << c.output;
    const Parsed parsed =
        ParseReport(dir, r.Out);
    ASSERT_TRUE(parsed.Ok) << parsed.Error << "\n" << r.Out;
    ASSERT_FALSE(parsed.Lines.empty());
    std::istringstream words(parsed.Lines[0]);
    std::string file, name, outcome, errors, frames, samples, output;
    words >> file >> name >> outcome >> errors >> frames >> samples >> output;
    EXPECT_EQ(outcome, c.outcome) << c.output;
    // The path as written, whole: the copy beside the file, or the file itself.
    const std::string folder = dir.Path();
    EXPECT_EQ(output, c.output == "None" ? "None" : "'" + folder + "/" + c.output.substr(1)) << parsed.Lines[0];
    if (c.output != "None") {
      struct stat st {};
      EXPECT_EQ(stat((dir / c.output.substr(1, c.output.size() - 2)).c_str(), &st), 0) << c.output;
    }
    std::remove((dir / "Fixed.damaged.avi").c_str());
  }
}

// A run stopped on its first file: that file is stopped, the next one never
// ran and is counted as not done.
TEST_F(CliJson, FilesAStoppedRunNeverCameToAreCountedNotDone) {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Fill(16, 0x01);
  const std::string longFile = Put("long.avi", b.Build());
  ASSERT_EQ(truncate(longFile.c_str(), 24ll << 30), 0);
  const std::string later = Put("later.avi", GoodFile());
  const ProgramRun r = RunCli({"check", "--json", longFile, later}, "\"findings\":[");
  EXPECT_EQ(r.Status, 1);
  const Parsed parsed = ParseReport(dir, r.Out);
  ASSERT_TRUE(parsed.Ok) << parsed.Error << "\n" << r.Out;
  ASSERT_EQ(parsed.Lines.size(), 2u) << r.Out;
  EXPECT_EQ(parsed.Lines[0].rfind("file 'long.avi' stopped ", 0), 0u) << parsed.Lines[0];
  EXPECT_EQ(parsed.Lines[1].rfind("summary 2 damaged=0 failed=0 healthy=0 left-healthy=0 not-avi=0 not-done=1 "
                                  "rebuilt=0 repaired=0 skipped=0 stopped=1 |", 0),
            0u)
      << parsed.Lines[1];
  std::remove(longFile.c_str());
}

struct NoQuestions : VEKRiff::Prompts {
  VEKRiff::PromptAnswer Ask(const std::string&, const std::string& text, VEKRiff::PromptButtons buttons,
                            VEKRiff::PromptIcon) override {
    ADD_FAILURE() << "unexpected question: " << text;
    return VEKRiff::ClosedAnswer(buttons);
  }
};

// A window's list keeps each row's findings beside its lines (which end with
// the place in the film) and saves the same report as the console prints,
// whether it takes the lines as they come or queued from the worker's thread.
TEST_F(CliJson, AListSavesTheReportTheConsolePrints) {
  const std::string good = Put("a.avi", GoodFile());
  const std::string damaged = Put("damaged.avi", DamagedFile());
  const std::string notes = Put("notes.txt", Bytes(200, 'x'));
  const ProgramRun console = RunCli({"check", "--json", good, damaged, notes});
  ASSERT_TRUE(ParseReport(dir, console.Out).Ok) << console.Out;
  for (const bool queued : {false, true}) {
    VEKRiff::BatchModel batch;
    for (const std::string& f : {good, damaged, notes}) batch.Add(f);
    const VEKRiff::FileList files = batch.Begin({0, 1, 2}, {});
    NoQuestions prompts;
    WorkerRunOptions options;
    options.OnEvent = [&](VEKRiff::IndexRebuilder& worker) {
      if (!queued || !batch.QueueLine(worker)) batch.Handle(worker, prompts);
    };
    RunWorker(files, options);
    batch.TakeQueuedLines([](int, const VEKRiff::LineList&, const VEKRiff::Finding*, std::string_view) {});
    ASSERT_NE(batch.Entry(1).Lines[2].find(" \u2014 "), std::string::npos) << "the list's line shows the film's place";
    EXPECT_EQ(VEKRiff::ListReport(batch), console.Out) << (queued ? "queued" : "as they come");
  }
}

// The escapes, byte for byte: what a JSON parser reads back is checked above.
TEST(ReportJson, StringsEscapeControlsAndReplaceBytesThatAreNotUtf8) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"plain", "\"plain\""},
      {"quote \" and \\", "\"quote \\\" and \\\\\""},
      {"\n\r\t\b\f", "\"\\n\\r\\t\\b\\f\""},
      {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xAC", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xAC\""},
      {"a\xFF" "b", "\"a\\ufffdb\""},
      {"\xC3", "\"\\ufffd\""},                                // cut short
      {"\xC0\xAF", "\"\\ufffd\\ufffd\""},                     // overlong
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},          // a surrogate
      {"\xE2\x82" "x", "\"\\ufffd\\ufffdx\""},                // a sequence broken off
  };
  for (const auto& c : cases) {
    std::string out;
    VEKRiff::AppendJsonString(out, c.in);
    EXPECT_EQ(out, c.out) << c.in;
  }
}

}  // namespace
