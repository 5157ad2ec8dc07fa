#include "batch/RecoveryRows.h"

#include <algorithm>

#include "util/Paths.h"

namespace VEKRiff {

bool RecoveryMayStart(bool recovering, const RunState& run) {
  return !recovering && !run.Running && !run.WaitingForStop;
}

Commands SearchCommands(const BatchModel& model, bool stopping, const std::vector<bool>& selected) {
  const auto first = std::find(selected.begin(), selected.end(), true);
  RunState search;
  search.Running = true;
  search.Stopping = stopping;
  return EnabledCommands(model, search, static_cast<int>(std::count(selected.begin(), selected.end(), true)),
                         first == selected.end() ? -1 : static_cast<int>(first - selected.begin()));
}

int RowOfPath(const BatchModel& model, const std::string& path) {
  // By the file, as the model tells rows apart: a staged film's path is
  // made absolute in its row, with the system's own separators.
  const std::string key = VEK::FileKey(path);
  for (int row = 0; row < model.Count(); ++row)
    if (model.Entry(row).Key == key) return row;
  return -1;
}

void KeepRecoveredRows(BatchModel& model, const std::function<void(int row)>& kept,
                       const std::function<void(int row)>& deleted) {
  std::vector<int> rows = model.BatchRows();
  std::sort(rows.begin(), rows.end());
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    if (model.TakeOutput(*row))
      kept(*row);
    else
      deleted(*row);
  }
}

}  // namespace VEKRiff
