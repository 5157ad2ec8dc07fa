// The batch model that every front-end is a view of: the rows a run takes
// and the questions it asks first, one row per file, and what a run's
// notifications do to the rows and to the batch's sum.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>

#include "batch/BatchModel.h"
#include "lang/Language.h"
#include "support/AviBuilder.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;
using VEKRiff::PromptAnswer;

struct ScriptedPrompts : VEKRiff::Prompts {
  std::vector<std::string> asked;  // caption and the text's first word
  std::vector<std::string> texts;  // the whole texts
  std::deque<PromptAnswer> answers;
  PromptAnswer Ask(const std::string& caption, const std::string& text, VEKRiff::PromptButtons buttons,
                   VEKRiff::PromptIcon) override {
    asked.push_back(caption + ": " + text.substr(0, text.find(' ')));
    texts.push_back(text);
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected question: " << text;
      return VEKRiff::ClosedAnswer(buttons);
    }
    const PromptAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
};

Bytes Clean() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Chunk("01wb", 32);
  return b.EndMovi().Idx1().Build();
}

Bytes Damaged() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Fill(10, 0x07).Chunk("01wb", 32);
  return b.Build();
}

// Damaged as a rebuild leaves a file: the bytes stay, the index skips them.
Bytes Repaired() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Fill(10, 0x07).Chunk("01wb", 32);
  return b.EndMovi().Idx1().Build();
}

// A check tells a file whose own index skips its damage from a healthy and a
// damaged one, in the result column, the marks, the summary and the exit
// status; in both languages.
TEST(BatchModel, ACheckTellsARepairedFileFromAHealthyAndADamagedOne) {
  const struct {
    const char* name;
    std::vector<Bytes> files;
    std::vector<RowMark> marks;
    std::vector<std::string> results, french;
    std::string summary, frenchSummary;
    bool succeeded;
  } cases[] = {
      {"healthy, repaired, damaged",
       {Clean(), Repaired(), Damaged()},
       {MarkOk, MarkOk, MarkErrors},
       {"Healthy", "Repaired", "Damaged: 2 errors"},
       {"Sain", "Réparé", "Endommagé : 2 erreurs"},
       "3 files checked: 1 healthy, 1 repaired, 1 damaged, 0 skipped, 0 not done.",
       "3 fichiers vérifiés — sains : 1, réparés : 1, endommagés : 1, ignorés : 0, non traités : 0.",
       false},
      {"no repaired file: the summary as it always was",
       {Clean(), Damaged()},
       {MarkOk, MarkErrors},
       {"Healthy", "Damaged: 2 errors"},
       {"Sain", "Endommagé : 2 erreurs"},
       "2 files checked: 1 healthy, 1 damaged, 0 skipped, 0 not done.",
       "2 fichiers vérifiés — sains : 1, endommagés : 1, ignorés : 0, non traités : 0.",
       false},
      {"a file that is no AVI file is counted apart from the damaged ones",
       {Clean(), Damaged(), Bytes(64, 'x')},
       {MarkOk, MarkErrors, MarkNotAvi},
       {"Healthy", "Damaged: 2 errors", "Not an AVI file"},
       {"Sain", "Endommagé : 2 erreurs", "Pas un fichier AVI"},
       "3 files checked: 1 healthy, 1 damaged, 1 not AVI, 0 skipped, 0 not done.",
       "3 fichiers vérifiés — sains : 1, endommagés : 1, non AVI : 1, ignorés : 0, non traités : 0.",
       false},
      {"repaired files alone succeed",
       {Repaired(), Repaired()},
       {MarkOk, MarkOk},
       {"Repaired", "Repaired"},
       {"Réparé", "Réparé"},
       "2 files checked: 0 healthy, 2 repaired, 0 damaged, 0 skipped, 0 not done.",
       "2 fichiers vérifiés — sains : 0, réparés : 2, endommagés : 0, ignorés : 0, non traités : 0.",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const bool french : {false, true}) {
      VEK::SetLanguage(french ? VEK::French : VEK::English);
      TempDir dir;
      VEKRiff::BatchModel batch;
      for (std::size_t i = 0; i < c.files.size(); ++i) {
        WriteFile(dir / (std::to_string(i) + ".avi"), c.files[i]);
        batch.Add(dir / (std::to_string(i) + ".avi"));
      }
      std::vector<int> rows;
      for (int i = 0; i < batch.Count(); ++i) rows.push_back(i);
      const VEKRiff::FileList files = batch.Begin(rows, {});
      ScriptedPrompts prompts;
      WorkerRunOptions options;
      options.OnEvent = [&](VEKRiff::IndexRebuilder& worker) { batch.Handle(worker, prompts); };
      RunWorker(files, options);
      const std::optional<std::string> summary = batch.SummaryLine();
      std::vector<RowMark> marks;
      std::vector<std::string> results, switched;
      for (int i = 0; i < batch.Count(); ++i) {
        marks.push_back(batch.Entry(i).Mark);
        results.push_back(ResultOf(batch.Entry(i)));
      }
      // Words of the language in use, whichever the run was made in.
      VEK::SetLanguage(french ? VEK::English : VEK::French);
      for (int i = 0; i < batch.Count(); ++i) switched.push_back(ResultOf(batch.Entry(i)));
      EXPECT_EQ(batch.SummaryLine(), std::optional<std::string>(french ? c.summary : c.frenchSummary));
      VEK::SetLanguage(VEK::English);
      EXPECT_EQ(marks, c.marks);
      EXPECT_EQ(results, french ? c.french : c.results);
      EXPECT_EQ(switched, french ? c.results : c.french);
      EXPECT_EQ(summary, std::optional<std::string>(french ? c.frenchSummary : c.summary));
      EXPECT_EQ(batch.AllSucceeded(), c.succeeded);
    }
  }
}

// The toolbar's commands run the whole list, whatever is selected; the row
// menu's the selected rows, one or more, without asking about their marks.
// A rewrite of originals is confirmed first, by a warning that names them.
TEST(BatchModel, ARunTakesTheWholeListOrTheSelectedRowsAndAsksAboutMarksAndOriginalsFirst) {
  using Scope = VEKRiff::RunScope;
  const Scope all = Scope::WholeList, chosen = Scope::SelectedRows;
  const std::string marked = "Check Errors: Proceed", markedRebuild = "Rebuild Index: Proceed",
                    warning = "Rebuild Index: You";
  const std::string warnAll =
      "You are about to modify 7 original files:\nf0.avi\nf1.avi\nf2.avi\nf3.avi\nf4.avi\nand 2 more\n\nIt is "
      "strongly recommended to create backups first. Click OK to start modifying them or Cancel to abort the "
      "operation.";
  const struct {
    const char* name;
    bool checkOnly;
    Scope scope;
    std::vector<int> marked, selected;
    bool keepOriginal;
    const char* prefix;
    bool warn;
    std::deque<PromptAnswer> answers;
    std::vector<std::string> asked;
    std::vector<int> rows;
    int leftOut;
    std::string warningText;  // empty: not checked
  } cases[] = {
      {"the whole list", true, all, {}, {}, true, "Zantrel.", true, {}, {}, {0, 1, 2, 3, 4, 5, 6}, 0, ""},
      {"one row selected: the toolbar still runs the whole list", true, all, {}, {2}, true, "Zantrel.", true, {}, {},
       {0, 1, 2, 3, 4, 5, 6}, 0, ""},
      {"one row selected, the row menu: that row", true, chosen, {}, {2}, true, "Zantrel.", true, {}, {}, {2}, 0, ""},
      {"two rows selected, the row menu", true, chosen, {}, {1, 3}, true, "Zantrel.", true, {}, {}, {1, 3}, 0, ""},
      {"marked rows left out, asked once", true, all, {1, 2}, {}, true, "Zantrel.", true, {PromptAnswer::No},
       {marked}, {0, 3, 4, 5, 6}, 2, ""},
      {"marked rows kept, the question named by its command", false, all, {0, 2}, {}, true, "Zantrel.", true,
       {PromptAnswer::Yes}, {markedRebuild}, {0, 1, 2, 3, 4, 5, 6}, 0, ""},
      {"marked rows the user selected: no question", true, chosen, {0, 1}, {1, 2}, true, "Zantrel.", true, {}, {},
       {1, 2}, 0, ""},
      {"nothing selected, the row menu: nothing", true, chosen, {}, {}, true, "Zantrel.", true, {}, {}, {}, 0, ""},
      {"in place, warning cancelled", false, all, {}, {}, false, "Zantrel.", true, {PromptAnswer::Cancel}, {warning},
       {}, 0, warnAll},
      {"in place, warning confirmed", false, all, {}, {}, false, "Zantrel.", true, {PromptAnswer::Ok}, {warning},
       {0, 1, 2, 3, 4, 5, 6}, 0, warnAll},
      {"in place, one selected row: the warning names it", false, chosen, {}, {4}, false, "Zantrel.", true,
       {PromptAnswer::Ok}, {warning}, {4}, 0,
       "You are about to modify 1 original file:\nf4.avi\n\nIt is strongly recommended to create backups first. "
       "Click OK to start modifying them or Cancel to abort the operation."},
      {"an empty prefix rewrites the original", false, all, {}, {}, true, "", true, {PromptAnswer::Cancel}, {warning},
       {}, 0, warnAll},
      {"in place, warning turned off", false, all, {}, {}, false, "Zantrel.", false, {}, {}, {0, 1, 2, 3, 4, 5, 6}, 0,
       ""},
      {"a check is no rewrite", true, all, {}, {}, false, "", true, {}, {}, {0, 1, 2, 3, 4, 5, 6}, 0, ""},
      {"the marks first, then the warning", false, all, {0, 2, 3, 4, 5, 6}, {}, false, "Zantrel.", true,
       {PromptAnswer::No, PromptAnswer::Ok}, {markedRebuild, warning}, {1}, 6, ""},
      {"nothing left to run: no warning", false, all, {0, 1, 2, 3, 4, 5, 6}, {}, false, "Zantrel.", true,
       {PromptAnswer::No}, {markedRebuild}, {}, 7, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VEKRiff::BatchModel batch;
    for (int i = 0; i < 7; ++i) ASSERT_TRUE(batch.Add("/nowhere/f" + std::to_string(i) + ".avi"));
    for (int i : c.marked) batch.SetMark(i, MarkOk);
    std::vector<bool> selected(7);
    for (int i : c.selected) selected[i] = true;
    VEKRiff::RunOptions options;
    options.CheckOnly = c.checkOnly;
    options.KeepOriginal = c.keepOriginal;
    options.Prefix = c.prefix;
    options.ModifyOriginalPrompt = c.warn;
    ScriptedPrompts prompts;
    prompts.answers = c.answers;
    const VEKRiff::RunChoice choice = batch.ChooseRows(options, c.scope, selected, prompts);
    EXPECT_EQ(choice.Rows, c.rows);
    EXPECT_EQ(choice.LeftOut, c.leftOut);
    EXPECT_EQ(prompts.asked, c.asked);
    if (!c.warningText.empty()) {
      EXPECT_EQ(prompts.texts.back(), c.warningText);
    }
    EXPECT_TRUE(prompts.answers.empty());
    for (int i = 0; i < 7; ++i)
      EXPECT_EQ(batch.Entry(i).Mark, std::count(c.marked.begin(), c.marked.end(), i) ? MarkOk : MarkNone)
          << "choosing keeps every mark, row " << i;
  }
}

// A row keeps its result until a run reaches its file: a rebuild stopped at
// its first file's existing-copy question leaves the other rows as the check
// left them.
TEST(BatchModel, ARowKeepsItsResultUntilTheRunReachesIt) {
  TempDir dir;
  WriteFile(dir / "a.avi", Damaged());
  WriteFile(dir / "b.avi", Clean());
  WriteFile(dir / "c.avi", Bytes(64, 'x'));
  WriteFile(dir / "Zantrel.a.avi", Bytes(16, 'p'));
  VEKRiff::BatchModel batch;
  for (const char* name : {"a.avi", "b.avi", "c.avi"}) ASSERT_TRUE(batch.Add(dir / name));
  ScriptedPrompts prompts;
  auto run = [&](const VEKRiff::RunOptions& options) {
    const VEKRiff::FileList files = batch.Begin({0, 1, 2}, options);
    WorkerRunOptions o;
    o.CheckOnly = options.CheckOnly;
    o.OnEvent = [&](VEKRiff::IndexRebuilder& worker) { batch.Handle(worker, prompts); };
    RunWorker(files, o);
  };
  run({});
  const std::vector<std::string> checked = {"Damaged: 2 errors", "Healthy", "Not an AVI file"};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ResultOf(batch.Entry(i)), checked[i]) << i;
  VEKRiff::RunOptions rebuild;
  rebuild.CheckOnly = false;
  prompts.answers = {PromptAnswer::Cancel};
  run(rebuild);
  EXPECT_EQ(ResultOf(batch.Entry(0)), "Stopped");
  EXPECT_EQ(ResultOf(batch.Entry(1)), "Healthy");
  EXPECT_EQ(batch.Entry(1).Mark, MarkOk);
  EXPECT_EQ(ResultOf(batch.Entry(2)), "Not an AVI file");
  EXPECT_EQ(batch.SummaryLine(), std::optional<std::string>("3 files: 0 rebuilt, 0 failed, 0 skipped, 3 not done."));
}

TEST(BatchModel, EachFileHasOneRowUnderItsWholePathHoweverItIsNamed) {
  TempDir dir;
  for (const char* name : {"clip10.avi", "clip2.avi", "sub/b.AVI", ".cache/x.avi", "note.txt"}) {
    std::filesystem::create_directories(std::filesystem::path(dir / name).parent_path());
    WriteFile(dir / name, Clean());
  }
#ifndef _WIN32
  // Wine makes no links (its CreateSymbolicLinkW succeeds and does nothing).
  std::filesystem::create_symlink(dir / "clip2.avi", dir / "link.avi");
#endif
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  const struct {
    const char* name;
    std::vector<std::string> given;
    std::vector<std::string> rows;  // under dir
  } cases[] = {
      {"a folder: its visible AVI files in natural order", {dir.Path()}, {"clip2.avi", "clip10.avi", "sub/b.AVI"}},
      {"a relative name", {"clip2.avi"}, {"clip2.avi"}},
      {"other spellings of one file", {"clip2.avi", "./clip2.avi", "sub/../clip2.avi"}, {"clip2.avi"}},
#ifndef _WIN32
      {"a link to a file listed", {"clip2.avi", "link.avi"}, {"clip2.avi"}},
#endif
      {"a folder after one of its files", {"sub//b.AVI", "."}, {"sub/b.AVI", "clip2.avi", "clip10.avi"}},
      {"a missing file is listed, for the run to say why", {"gone.avi", "./gone.avi"}, {"gone.avi"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VEKRiff::BatchModel batch;
    batch.AddPaths(c.given);
    std::vector<std::string> rows;
    for (const auto& e : batch.Entries()) rows.push_back(e.Path);
    std::vector<std::string> expected;
    for (const auto& r : c.rows) expected.push_back(std::filesystem::path(dir / r).make_preferred().string());
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(batch.AddPaths(c.given), 0) << "added again";
  }
  std::filesystem::current_path(cwd);
}

TEST(BatchModel, ARunsNotificationsGoToTheirRowsAndOneAnswerMayHoldForEveryExistingCopy) {
  const std::string exists = "File already exists: File";
  const struct {
    const char* name;
    std::deque<PromptAnswer> answers;
    std::vector<std::string> asked;
    bool replaced;
    std::vector<RowMark> marks;
    const char* summary;
  } cases[] = {
      {"Yes to all",
       {PromptAnswer::YesToAll},
       {exists},
       true,
       {MarkOk, MarkRebuilt, MarkNotAvi, MarkRebuilt},
       "3 files: 2 rebuilt, 1 not AVI, 0 failed, 0 skipped, 0 not done."},
      {"No to all",
       {PromptAnswer::NoToAll},
       {exists},
       false,
       {MarkOk, MarkSkipped, MarkNotAvi, MarkSkipped},
       "3 files: 0 rebuilt, 1 not AVI, 0 failed, 2 skipped, 0 not done."},
      {"each asked",
       {PromptAnswer::Yes, PromptAnswer::No},
       {exists, exists},
       false,
       {MarkOk, MarkRebuilt, MarkNotAvi, MarkSkipped},
       "3 files: 1 rebuilt, 1 not AVI, 0 failed, 1 skipped, 0 not done."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const Bytes placeholder(16, 'p');
    WriteFile(dir / "a.avi", Clean());
    WriteFile(dir / "b.avi", Damaged());
    WriteFile(dir / "c.avi", Bytes(64, 'x'));
    WriteFile(dir / "d.avi", Damaged());
    WriteFile(dir / "Zantrel.b.avi", placeholder);
    WriteFile(dir / "Zantrel.d.avi", placeholder);
    VEKRiff::BatchModel batch;
    batch.ShowFilmPositions = false;  // the engine's lines as they are
    batch.AddPaths({dir.Path()}, "Zantrel.");
    ASSERT_EQ(batch.Count(), 4) << "a folder leaves out the copies of its files";
    batch.SetMark(0, MarkOk);
    ScriptedPrompts prompts;
    prompts.answers = {PromptAnswer::No};  // the marked row stays out
    VEKRiff::RunOptions rebuild;
    rebuild.CheckOnly = false;
    const std::vector<int> rows = batch.ChooseRows(rebuild, VEKRiff::RunScope::WholeList, {}, prompts).Rows;
    const VEKRiff::FileList files = batch.Begin(rows, rebuild);
    EXPECT_EQ(batch.Entry(0).Mark, MarkOk) << "a row outside the run keeps its mark";
    prompts.asked.clear();
    prompts.answers = c.answers;
    std::vector<int> lineRows;
    WorkerRunOptions options;
    options.CheckOnly = false;
    options.OnEvent = [&](VEKRiff::IndexRebuilder& worker) {
      const VEKRiff::BatchChange change = batch.Handle(worker, prompts);
      if (change.Line) lineRows.push_back(change.Row);
    };
    const WorkerRunResult run = RunWorker(files, options);
    std::vector<RowMark> marks;
    for (int i = 0; i < 4; ++i) marks.push_back(batch.Entry(i).Mark);
    EXPECT_EQ(marks, c.marks);
    EXPECT_EQ(prompts.asked, c.asked);
    EXPECT_EQ(ReadFile(dir / "Zantrel.d.avi") != placeholder, c.replaced);
    // Every line once, in the batch's list and in its own row's, in order,
    // and where each copy went, before the line that ends its file.
    std::vector<std::string> expected;
    std::string file;
    for (const std::string& line : run.Lines) {
      if (line.starts_with("Processing file \"")) file = line.substr(17, line.size() - 18);
      if (line.starts_with("Done.") && file != "a.avi") expected.push_back("Written to " + (dir / ("Zantrel." + file)));
      expected.push_back(line);
    }
    EXPECT_EQ(std::vector<std::string>(batch.AllLines().begin(), batch.AllLines().end()), expected);
    std::vector<std::string> joined;
    for (int i = 0; i < 4; ++i) {
      const auto& lines = batch.Entry(i).Lines;
      joined.insert(joined.end(), lines.begin(), lines.end());
      if (i > 0) {
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), "Processing file \"" + std::string(1, char('a' + i)) + ".avi\"");
      }
    }
    EXPECT_EQ(joined, expected);
    EXPECT_EQ(lineRows.size(), run.Lines.size());
    EXPECT_EQ(batch.SummaryLine(), std::optional<std::string>(c.summary));
    EXPECT_FALSE(batch.AllSucceeded());
  }
}

}  // namespace

namespace {

// A damaged spot's line in the lists tells where it is in the film, by the
// video stream's rate, else the main header's frame time. The engine's line
// names the frame already ("Video Frame 2085"): the note adds the time only.
TEST(BatchModel, ADamagedSpotsLineTellsItsPlaceInTheFilm) {
  const struct {
    const char* name;
    std::uint32_t scale, rate, microSecPerFrame;
    const char* note;  // after the engine's line, English then French; empty: none
    const char* frenchNote;
  } cases[] = {
      {"25 frames a second", 1, 25, 40000, " \u2014 at 00:01:23", " \u2014 \u00e0 00:01:23"},
      {"NTSC", 1001, 30000, 40000, " \u2014 at 00:01:09", " \u2014 \u00e0 00:01:09"},
      {"a stream rate of 0: the main header's frame time", 1, 0, 100000, " \u2014 at 00:03:28",
       " \u2014 \u00e0 00:03:28"},
      {"no rate at all", 0, 0, 0, "", ""},
  };
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < 2085; ++i) b.Chunk("00dc", 8);
  Bytes film = b.Fill(10, 0x07).Chunk("00dc", 8).EndMovi().Build();
  const std::string tag = "strh";
  const auto strh = std::search(film.begin(), film.end(), tag.begin(), tag.end()) - film.begin();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VEK::StoreLe32(&film[strh + 8 + 20], c.scale);
    VEK::StoreLe32(&film[strh + 8 + 24], c.rate);
    VEK::StoreLe32(&film[32], c.microSecPerFrame);
    TempDir dir;
    WriteFile(dir / "a.avi", film);
    for (const bool french : {false, true}) {
      VEK::SetLanguage(french ? VEK::French : VEK::English);
      VEKRiff::BatchModel batch;
      batch.Add(dir / "a.avi");
      const VEKRiff::FileList files = batch.Begin({0}, {});
      ScriptedPrompts prompts;
      WorkerRunOptions options;
      options.OnEvent = [&](VEKRiff::IndexRebuilder& worker) { batch.Handle(worker, prompts); };
      const WorkerRunResult run = RunWorker(files, options);
      VEK::SetLanguage(VEK::English);
      const std::string spot = french ? "Donn\u00e9es corrompues" : "Corrupted data";
      std::vector<std::string> notes;
      const auto& lines = batch.Entry(0).Lines;
      ASSERT_EQ(lines.size(), run.Lines.size());
      for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i].compare(0, run.Lines[i].size(), run.Lines[i]), 0) << "the engine's line comes first";
        if (run.Lines[i].compare(0, spot.size(), spot) != 0 && lines[i] == run.Lines[i]) continue;
        // The frame the note leaves out is the engine line's to say.
        EXPECT_NE(run.Lines[i].find(french ? "Image vid\u00e9o 2085" : "Video Frame 2085"), std::string::npos)
            << run.Lines[i];
        notes.emplace_back(lines[i].substr(run.Lines[i].size()));
      }
      EXPECT_EQ(notes, std::vector<std::string>{french ? c.frenchNote : c.note}) << (french ? "French" : "English");
    }
  }
}

// Which findings' notes name the frame: only where the line does not. A
// line of corrupted data names it; a place given with any other kind of
// line gets the frame beside its time.
TEST(BatchModel, APlaceInTheFilmNamesTheFrameOnlyWhereTheLineDoesNot) {
  using VEKRiff::FindingKind;
  const struct {
    FindingKind kind;
    bool placed;
    const char* english;
    const char* french;
  } rows[] = {
      {FindingKind::CorruptedData, true, " \u2014 at 01:02:03", " \u2014 \u00e0 01:02:03"},
      {FindingKind::CorruptedData, false, "", ""},
      {FindingKind::LostData, true, " \u2014 at 01:02:03, frame 93075", " \u2014 \u00e0 01:02:03, image 93075"},
      {FindingKind::ResumedScan, true, " \u2014 at 01:02:03, frame 93075", " \u2014 \u00e0 01:02:03, image 93075"},
      {FindingKind::HeaderDamage, true, " \u2014 at 01:02:03, frame 93075", " \u2014 \u00e0 01:02:03, image 93075"},
      {FindingKind::IndexMismatch, true, " \u2014 at 01:02:03, frame 93075", " \u2014 \u00e0 01:02:03, image 93075"},
      {FindingKind::SizeMismatch, true, " \u2014 at 01:02:03, frame 93075", " \u2014 \u00e0 01:02:03, image 93075"},
      {FindingKind::Note, true, " \u2014 at 01:02:03, frame 93075", " \u2014 \u00e0 01:02:03, image 93075"},
  };
  for (const auto& row : rows) {
    VEKRiff::Finding finding;
    finding.Kind = row.kind;
    if (row.placed) finding.At = VEKRiff::FilmPosition{93075, 3723999};
    for (const bool french : {false, true}) {
      VEK::SetLanguage(french ? VEK::French : VEK::English);
      const std::string note = VEKRiff::FilmPositionNote(finding);
      VEK::SetLanguage(VEK::English);
      EXPECT_EQ(note, french ? row.french : row.english) << static_cast<int>(row.kind) << (french ? " French" : "");
    }
  }
}

}  // namespace
