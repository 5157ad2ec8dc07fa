// What a window does with its list around a recovery, the same in every
// window: the list's commands while the search goes on, the rows the staged
// films take, and what the rows stand for once their rebuild is over.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "batch/BatchModel.h"
#include "batch/RunControl.h"

namespace VEKRiff {

// A recovery may start only while nothing else runs: no search (recovering),
// no run of the list, and no stop still on its way.
bool RecoveryMayStart(bool recovering, const RunState& run);

// While the search goes on it is a run of its own: the list's commands wait
// for it as they wait for a run; stopping: a stop was asked for.
Commands SearchCommands(const BatchModel& model, bool stopping, const std::vector<bool>& selected);

// The row whose file is path's, however path is written; -1: none. A row
// an earlier recovery into the same folder left names a staged file that has
// gone since: the film staged now takes its place; the run takes the staged
// films' rows.
int RowOfPath(const BatchModel& model, const std::string& path);

// Once the rebuild of a recovery's films is over: a film rebuilt into the
// folder is what its row stands for from now on (kept is called for it); a
// staged film the run did not write goes with the staging folder, and its
// row with it (deleted is called, and removes the row from the model and
// the view). The last rows first, so that the numbers still to come hold.
void KeepRecoveredRows(BatchModel& model, const std::function<void(int row)>& kept,
                       const std::function<void(int row)>& deleted);

}  // namespace VEKRiff
