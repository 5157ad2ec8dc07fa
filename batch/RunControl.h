// The decisions a window makes about its run, the same in every window: which
// commands a state allows, where the selection goes with the run, and what
// the progress display shows. A window keeps one RunState value, replaced
// whole when a run starts, and shows what these functions say.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "batch/BatchModel.h"
#include "batch/RunDisplay.h"

namespace VEKRiff {

struct RunState {
  bool Running = false;
  bool CheckOnly = true;
  bool Stopping = false;        // a stop was asked for; the worker is ending
  bool AskingStop = false;      // the stop question is open
  bool WaitingForStop = false;  // a stop waits for the worker to end
  int FollowedRow = -1;         // the row the run last selected; -1: none yet
  std::int64_t FileBytes = 0;   // the current file's size, for its rate
  std::chrono::steady_clock::time_point FileStart{};
};

// What the list's commands may do now.
struct Commands {
  bool Clear = false, Add = false, AddFolder = false, Remove = false, Check = false, Rebuild = false,
       CheckSelected = false, RebuildSelected = false,
       Reference = false, Stop = false, OpenFile = false, OpenFixedFile = false, OpenFolder = false,
       ShowCopyFolder = false;
};

// selected: how many rows are selected; firstSelected: the first of them, -1
// for none.
Commands EnabledCommands(const BatchModel& model, const RunState& run, int selected, int firstSelected);

// The run takes the selection to its first file, wherever the user left it,
// so that the Messages Center shows the file being worked on. From there the
// selection goes along with the work as long as the user leaves it where the
// run put it, or leaves none. True: select row alone (FollowedRow is then
// row); false: leave the user's selection.
bool FollowsTo(RunState& run, int row, int selected, int firstSelected);

// A file of the run has started; bytes: its size.
void StartFile(RunState& run, std::int64_t bytes);

// What the progress display shows at one moment.
struct RunProgress {
  int File = 0;      // the current file's progress, 0 to 100
  int Batch = 0;     // the whole batch's, 0 to 100 per file
  int BatchMax = 0;  // 100 per file
  std::string Position;  // "3/5": the current file of the batch
  std::string FileName;  // the current file's, without its folder
  std::optional<FileRate> Rate;
  std::int32_t Errors = 0;
  std::int64_t VideoFrames = 0, AudioSamples = 0;
};

RunProgress ProgressOf(const BatchModel& model, const IndexRebuilder& worker, const RunState& run);
// "3/5": the current file of the batch.
std::string PositionText(const BatchModel& model);

}  // namespace VEKRiff
