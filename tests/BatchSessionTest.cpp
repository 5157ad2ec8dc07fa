// The session every window is a view of, driven without a window: what a run
// shows and in which order, the stop question that holds the worker, and the
// line that says which rows a run left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <thread>

#include <unistd.h>

#include "batch/BatchSession.h"
#include "support/AviBuilder.h"
#include "support/TempDir.h"

namespace {

using namespace ZantrelTest;
using VEKRiff::PromptAnswer;

struct Prompts : VEKRiff::Prompts {
  std::vector<std::string> asked;
  std::vector<VEKRiff::PromptButtons> buttonsAsked;
  std::deque<PromptAnswer> answers;
  std::function<void()> whileAsking;
  PromptAnswer Ask(const std::string&, const std::string& text, VEKRiff::PromptButtons buttons,
                   VEKRiff::PromptIcon) override {
    asked.push_back(text);
    buttonsAsked.push_back(buttons);
    if (whileAsking) whileAsking();
    if (answers.empty()) return VEKRiff::ClosedAnswer(buttons);
    const PromptAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
};

// What a window was told, in order.
struct View : VEKRiff::SessionView {
  std::vector<bool> selected;
  std::vector<std::string> shown;  // "file 2", "progress 3/5 c.avi", "summary ..."
  std::vector<std::string> lines;
  std::vector<bool> SelectedRows() const override { return selected; }
  void SelectRowAlone(int row) override { selected.assign(selected.size(), false), selected[row] = true; }
  void ShowRow(int, bool) override {}
  void ShowRunFile(int row) override { shown.push_back("file " + std::to_string(row)); }
  void ShowLine(int, const VEKRiff::LineList& kept) override { lines.push_back(std::string(kept.back())); }
  void FlushLines() override {}
  void ShowRunState() override {}
  void ShowProgress(const VEKRiff::RunProgress& p) override {
    shown.push_back("progress " + p.Position + " " + p.FileName);
  }
  void ShowSummary(const std::string& line) override { shown.push_back("summary " + line); }
  void ServeEventsButInput() override {}
};

struct Session {
  VEK::HandOverQueue handOvers;
  Prompts prompts;
  View view;
  VEKRiff::BatchSession session{handOvers, prompts, view};

  void Add(const std::string& path) {
    session.Model.Add(path);
    view.selected.push_back(false);
  }
  // Rows for healthy films of these names, made in dir.
  void AddHealthy(const TempDir& dir, std::initializer_list<const char*> names);
  // Serves the worker, as a window's event loop does, until the run ends.
  void RunToEnd() {
    while (session.Running()) {
      handOvers.WaitAndServe(std::chrono::milliseconds(10));
      session.TakeLines();
    }
  }
};

Bytes Clean() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Chunk("01wb", 32);
  return b.EndMovi().Idx1().Build();
}

void Session::AddHealthy(const TempDir& dir, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    WriteFile(dir / name, Clean());
    Add(dir / name);
  }
}

VEKRiff::RunOptions Options(bool checkOnly) {
  VEKRiff::RunOptions o;
  o.CheckOnly = checkOnly;
  return o;
}

// The title and the batch's bar are one value: each file's start shows the
// file and its place in the batch together, in order.
TEST(BatchSession, EachFilesStartShowsItsPlaceAndNameTogether) {
  TempDir dir;
  Session s;
  s.AddHealthy(dir, {"a.avi", "b.avi", "c.avi"});
  ASSERT_TRUE(s.session.Start(Options(true), VEKRiff::RunScope::WholeList));
  s.RunToEnd();
  EXPECT_EQ(s.view.shown, (std::vector<std::string>{"file 0", "progress 1/3 a.avi", "file 1", "progress 2/3 b.avi",
                                                    "file 2", "progress 3/3 c.avi",
                                                    "summary 3 files checked: 3 healthy, 0 damaged, 0 skipped, 0 "
                                                    "not done."}));
}

// The whole list asks about the rows with an earlier result and says how
// many it left out; the selected rows are what the user chose, asked nothing.
TEST(BatchSession, ARunSaysHowManyRowsWithAResultItLeftOut) {
  TempDir dir;
  Session s;
  s.AddHealthy(dir, {"a.avi", "b.avi", "c.avi"});
  ASSERT_TRUE(s.session.Start(Options(true), VEKRiff::RunScope::WholeList));
  s.RunToEnd();
  s.AddHealthy(dir, {"d.avi"});
  s.prompts.answers = {PromptAnswer::No};
  s.view.lines.clear();
  ASSERT_TRUE(s.session.Start(Options(true), VEKRiff::RunScope::WholeList));
  s.RunToEnd();
  ASSERT_EQ(s.prompts.asked, std::vector<std::string>{"Proceed with marked files as well ?"});
  EXPECT_EQ(s.session.Model.BatchRows(), std::vector<int>{3});
  ASSERT_FALSE(s.view.lines.empty());
  EXPECT_EQ(s.view.lines.front(), "3 files with an earlier result were left out.");

  s.prompts.asked.clear();
  s.view.selected = {true, false, true, false};
  ASSERT_TRUE(s.session.Start(Options(true), VEKRiff::RunScope::SelectedRows));
  s.RunToEnd();
  EXPECT_TRUE(s.prompts.asked.empty());
  EXPECT_EQ(s.session.Model.BatchRows(), (std::vector<int>{0, 2}));
}

// A rebuild says where its output went, and a row skipped because its copy
// already exists opens that copy.
TEST(BatchSession, ARebuildSaysWhereItsOutputWentAndASkippedRowOpensItsExistingCopy) {
  TempDir dir;
  Session s;
  s.AddHealthy(dir, {"a.avi", "b.avi"});
  WriteFile(dir / "Zantrel.b.avi", Clean());
  VEKRiff::RunOptions copy = Options(false);
  copy.OverwritePrompt = false;
  copy.OverwriteBehavior = VEKRiff::OverwriteSkip;
  ASSERT_TRUE(s.session.Start(copy, VEKRiff::RunScope::WholeList));
  s.RunToEnd();
  const auto& model = s.session.Model;
  ASSERT_EQ(model.Entry(0).Mark, MarkRebuilt);
  ASSERT_EQ(model.Entry(1).Mark, MarkSkipped);
  const auto& lines = model.Entry(0).Lines;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Written to " + (dir / "Zantrel.a.avi")), lines.end());
  EXPECT_NE(std::find(s.view.lines.begin(), s.view.lines.end(), "Written to " + (dir / "Zantrel.a.avi")),
            s.view.lines.end())
      << "and the view shows it";
  for (int row : {0, 1}) {
    s.view.selected = {row == 0, row == 1};
    EXPECT_TRUE(s.session.Enabled().OpenFixedFile) << row;
    EXPECT_TRUE(s.session.Enabled().ShowCopyFolder) << row;
  }

  VEKRiff::RunOptions inPlace = Options(false);
  inPlace.KeepOriginal = false;
  inPlace.ModifyOriginalPrompt = false;
  s.prompts.answers = {PromptAnswer::Yes};  // the rows with a result too
  ASSERT_TRUE(s.session.Start(inPlace, VEKRiff::RunScope::WholeList));
  s.RunToEnd();
  const auto& rewritten = model.Entry(1).Lines;
  EXPECT_NE(std::find(rewritten.begin(), rewritten.end(), "Rebuilt in place: " + (dir / "b.avi")), rewritten.end());
  // A file rewritten in place has no copy to play or show.
  for (int row : {0, 1}) {
    s.view.selected = {row == 0, row == 1};
    EXPECT_FALSE(s.session.Enabled().OpenFixedFile) << row;
    EXPECT_FALSE(s.session.Enabled().ShowCopyFolder) << row;
  }
}

// An existing copy is settled by the question or by the configured
// behaviour; an answer for all holds for the rest of the run, and the next
// run asks again.
TEST(BatchSession, AnExistingCopyIsSettledByTheQuestionOrTheConfiguredBehaviour) {
  const struct {
    bool prompt;
    int behaviour;
    std::deque<PromptAnswer> answers;
    std::vector<RowMark> marks;
    const char* line;  // the first file's, after its name
  } cases[] = {
      {true, 0, {PromptAnswer::Yes, PromptAnswer::No}, {MarkRebuilt, MarkSkipped}, "User choose to overwrite the file."},
      {true, 0, {PromptAnswer::No, PromptAnswer::Yes}, {MarkSkipped, MarkRebuilt}, "User choose to skip the file."},
      {true, 0, {PromptAnswer::Cancel}, {MarkAborted, MarkNone}, "User choose to abort operation."},
      {true, 0, {PromptAnswer::YesToAll}, {MarkRebuilt, MarkRebuilt}, "User choose to overwrite the file."},
      {true, 0, {PromptAnswer::NoToAll}, {MarkSkipped, MarkSkipped}, "User choose to skip the file."},
      {false, 0, {}, {MarkSkipped, MarkSkipped}, "File skipped because destination file already exists."},
      {false, 1, {}, {MarkAborted, MarkNone}, "Operation aborted because destination file already exists."},
      {false, 2, {}, {MarkRebuilt, MarkRebuilt}, "Destination file already exists, it will be overwritten."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    TempDir dir;
    Session s;
    s.AddHealthy(dir, {"a.avi", "b.avi"});
    VEKRiff::RunOptions rebuild = Options(false);
    rebuild.OverwritePrompt = c.prompt;
    rebuild.OverwriteBehavior = c.behaviour;
    for (int run = 0; run < 2; ++run) {
      for (const char* name : {"Zantrel.a.avi", "Zantrel.b.avi"}) WriteFile(dir / name, {'o'});
      s.prompts.asked.clear();
      s.prompts.answers = c.answers;
      if (run == 1) s.prompts.answers.push_front(PromptAnswer::Yes);  // the rows with a result too
      ASSERT_TRUE(s.session.Start(rebuild, VEKRiff::RunScope::WholeList));
      s.RunToEnd();
      EXPECT_TRUE(s.prompts.answers.empty()) << "asked until answered for all, in run " << run;
      EXPECT_EQ(s.prompts.asked.size(), c.answers.size() + run);
      if (c.prompt) {
        EXPECT_EQ(s.prompts.asked.back(), "File \"Zantrel." + std::string(c.answers.size() == 2 ? "b" : "a") +
                                              ".avi\" already exists in folder \"" + dir.Path() + "\". Overwrite ?");
        // Of several files, each may have a copy: the answer can be for them all.
        EXPECT_EQ(s.prompts.buttonsAsked.back(), VEKRiff::PromptButtons::YesNoAllCancel);
      }
    }
    const auto& model = s.session.Model;
    EXPECT_EQ((std::vector<RowMark>{model.Entry(0).Mark, model.Entry(1).Mark}), c.marks);
    ASSERT_GE(model.Entry(0).Lines.size(), 2u);
    EXPECT_EQ(model.Entry(0).Lines[1], c.line);
  }
}

// While the stop question is open nothing moves: the worker waits at its
// next stop point. No lets the run go on; Yes stops it and deletes the
// unfinished copy.
TEST(BatchSession, TheStopQuestionHoldsTheRunUntilItIsAnswered) {
#ifdef _WIN32
  GTEST_SKIP() << "24 GiB of sparse zeros to read are a POSIX file system's";
#endif
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "Yes" : "No");
    TempDir dir;
    Session s;
    // Sparse zeros that the search reads through until the run is stopped.
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 64).Fill(16, 0x01);
    WriteFile(dir / "long.avi", b.Build());
    if (truncate((dir / "long.avi").c_str(), 24ll << 30) != 0) GTEST_SKIP() << "no sparse file here";
    s.Add(dir / "long.avi");
    ASSERT_TRUE(s.session.Start(Options(false), VEKRiff::RunScope::WholeList));
    const VEKRiff::IndexRebuilder& worker = *s.session.Worker();
    while (worker.Progress() == 0) {
      s.handOvers.WaitAndServe(std::chrono::milliseconds(5));
      s.session.TakeLines();
    }
    s.prompts.answers = {stop ? PromptAnswer::Yes : PromptAnswer::No};
    bool held = false;
    s.prompts.whileAsking = [&] {
      for (int i = 0; i < 2000 && !worker.Waiting(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      held = worker.Waiting();
      const int progress = worker.Progress();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      EXPECT_EQ(worker.Progress(), progress) << "nothing moves while the user decides";
      EXPECT_TRUE(worker.Waiting());
      const std::size_t shown = s.view.shown.size();
      s.session.Tick();
      EXPECT_EQ(s.view.shown.size(), shown) << "the progress display stays as it was, its rate too";
    };
    EXPECT_EQ(s.session.Stop(true), stop);
    EXPECT_TRUE(held) << "the worker waited for the answer";
    if (!stop) {
      for (int i = 0; i < 2000 && worker.Waiting(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      EXPECT_FALSE(worker.Waiting()) << "No lets the run go on";
      EXPECT_TRUE(s.session.Running());
      EXPECT_TRUE(s.session.Stop(false));
    }
    EXPECT_FALSE(s.session.Running());
    const VEKRiff::BatchEntry& entry = s.session.Model.Entry(0);
    EXPECT_EQ(entry.Mark, MarkAborted);
    EXPECT_NE(std::find(entry.Lines.begin(), entry.Lines.end(), "Operation aborted."), entry.Lines.end());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1)
        << "a stopped copy leaves nothing behind";
  }
}

}  // namespace
