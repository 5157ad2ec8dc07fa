#include "batch/RunControl.h"

#include "batch/RowFiles.h"

namespace VEKRiff {

Commands EnabledCommands(const BatchModel& model, const RunState& run, int selected, int firstSelected) {
  const bool idle = !run.Running;
  Commands c;
  c.Clear = c.Add = c.AddFolder = c.Reference = idle;
  c.Remove = idle && selected > 0;
  c.Check = c.Rebuild = idle && model.Count() > 0;
  c.CheckSelected = c.RebuildSelected = idle && selected > 0;
  c.Stop = run.Running && !run.Stopping;
  c.OpenFile = idle && selected == 1;
  c.OpenFolder = selected == 1;
  // The copy's commands need a copy: one the latest run wrote, or left as it
  // was because it already existed; none after a rewrite in place.
  const bool copy = selected == 1 && firstSelected >= 0 && firstSelected < model.Count() &&
                    CopyOf(model.Entry(firstSelected));
  c.OpenFixedFile = c.OpenFile && copy;
  c.ShowCopyFolder = c.OpenFolder && copy;
  return c;
}

bool FollowsTo(RunState& run, int row, int selected, int firstSelected) {
  const bool follows =
      run.FollowedRow < 0 || selected == 0 || (selected == 1 && firstSelected == run.FollowedRow);
  if (follows) run.FollowedRow = row;
  return follows;
}

void StartFile(RunState& run, std::int64_t bytes) {
  run.FileBytes = bytes;
  run.FileStart = std::chrono::steady_clock::now();
}

RunProgress ProgressOf(const BatchModel& model, const IndexRebuilder& worker, const RunState& run) {
  RunProgress p;
  p.File = worker.Progress();
  p.Batch = model.BatchProgress(p.File);
  p.BatchMax = 100 * model.BatchSize();
  p.Position = PositionText(model);
  const auto elapsed = std::chrono::steady_clock::now() - run.FileStart;
  p.Rate = RateOf(run.FileBytes, p.File, std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
  p.Errors = worker.ErrorCount();
  p.VideoFrames = worker.VideoFrameCount();
  p.AudioSamples = worker.AudioSampleCount();
  return p;
}

std::string PositionText(const BatchModel& model) {
  return std::to_string(model.BatchFile() + 1) + "/" + std::to_string(model.BatchSize());
}

}  // namespace VEKRiff
