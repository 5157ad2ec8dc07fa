// What every window decides the same way about its run: which commands a
// state allows, and where the selection goes as the run moves on.
#include <gtest/gtest.h>

#include "batch/RunControl.h"

namespace {

using VEKRiff::Commands;
using VEKRiff::RunState;

std::string Enabled(const Commands& c) {
  std::string s;
  const std::pair<bool, const char*> names[] = {
      {c.Clear, "clear"},   {c.Add, "add"},         {c.AddFolder, "folder"},    {c.Remove, "remove"},
      {c.Check, "check"},   {c.Rebuild, "rebuild"}, {c.Reference, "reference"}, {c.Stop, "stop"},
      {c.OpenFile, "open"}, {c.OpenFixedFile, "fixed"}, {c.OpenFolder, "folder-of"},
      {c.ShowCopyFolder, "copy-folder"}};
  for (const auto& [on, name] : names)
    if (on) s += std::string(s.empty() ? "" : " ") + name;
  return s;
}

TEST(RunControl, CommandsFollowTheRunAndTheSelection) {
  const struct {
    const char* name;
    bool running, stopping;
    int selected, first;
    RowMark firstMark;
    const char* enabled;
  } cases[] = {
      {"idle, nothing selected", false, false, 0, -1, MarkNone, "clear add folder check rebuild reference"},
      {"idle, one plain row", false, false, 1, 0, MarkOk,
       "clear add folder remove check rebuild reference open folder-of"},
      // The copy's commands come from where the run wrote (see the session's
      // tests): a mark alone names no copy.
      {"idle, one row marked rebuilt", false, false, 1, 1, MarkRebuilt,
       "clear add folder remove check rebuild reference open folder-of"},
      {"idle, two rows", false, false, 2, 1, MarkRebuilt, "clear add folder remove check rebuild reference"},
      {"running: nothing that changes the list, Add folder included", true, false, 1, 1, MarkRebuilt,
       "stop folder-of"},
      {"stopping: no second stop", true, true, 0, -1, MarkNone, ""},
  };
  for (const auto& c : cases) {
    VEKRiff::BatchModel model;
    ASSERT_TRUE(model.Add("/nowhere/a.avi"));
    ASSERT_TRUE(model.Add("/nowhere/b.avi"));
    if (c.first >= 0) model.SetMark(c.first, c.firstMark);
    RunState run;
    run.Running = c.running;
    run.Stopping = c.stopping;
    EXPECT_EQ(Enabled(VEKRiff::EnabledCommands(model, run, c.selected, c.first)), c.enabled) << c.name;
  }
  // An empty list runs nothing.
  EXPECT_FALSE(VEKRiff::EnabledCommands(VEKRiff::BatchModel{}, RunState{}, 0, -1).Check);
}

TEST(RunControl, TheSelectionGoesWithTheRunUntilTheUserMovesIt) {
  // Each step: the run reaches row; the user's selection then (count, first).
  const struct {
    const char* name;
    struct Step {
      int row, selected, first;
      bool follows;
    };
    std::vector<Step> steps;
  } cases[] = {
      {"the first file takes the selection from anywhere", {{0, 2, 3, true}}},
      {"then it goes along", {{0, 0, -1, true}, {1, 1, 0, true}, {2, 1, 1, true}}},
      {"a row the user picked stays", {{0, 0, -1, true}, {1, 1, 3, false}, {2, 1, 3, false}}},
      {"several rows the user picked stay", {{0, 1, 0, true}, {1, 2, 0, false}}},
      {"a selection the user cleared follows again", {{0, 0, -1, true}, {1, 1, 4, false}, {2, 0, -1, true}}},
  };
  for (const auto& c : cases) {
    RunState run;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const auto& s = c.steps[i];
      EXPECT_EQ(VEKRiff::FollowsTo(run, s.row, s.selected, s.first), s.follows) << c.name << ", step " << i;
    }
  }
}

}  // namespace
