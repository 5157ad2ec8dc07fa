// A window's list and its runs, decided once for every window: the session
// owns the list, the worker and the run's state; it starts a run with the
// rows its command takes, follows the worker's notifications, holds the
// worker while the user is asked whether to stop, and says what to show.
// A window is a SessionView: it shows what the session tells it, its own way,
// and answers the questions through its Prompts.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "batch/BatchModel.h"
#include "batch/Prompts.h"
#include "batch/RunControl.h"
#include "util/Thread.h"

namespace VEKRiff {

class SessionView {
 public:
  virtual ~SessionView() = default;
  // Which rows the user has selected, by row.
  virtual std::vector<bool> SelectedRows() const = 0;
  // The run takes the selection to row alone, the keyboard's current row with it.
  virtual void SelectRowAlone(int row) = 0;
  // A row's mark and result changed; done: its file's outcome came (a
  // selected row's damage is shown again).
  virtual void ShowRow(int row, bool done) = 0;
  // A file of the run started: its row comes into view.
  virtual void ShowRunFile(int row) = 0;
  // A line of row came: the last of kept, which holds its bytes.
  virtual void ShowLine(int row, const LineList& kept) = 0;
  // A line of row that tells a finding, before the line itself: message is
  // the line without the film's place. For a report that follows findings.
  virtual void ShowFinding(int /*row*/, const Finding& /*finding*/, std::string_view /*message*/) {}
  // The lines shown so far are laid out.
  virtual void FlushLines() = 0;
  // A run started, is being stopped, or ended: the commands, the status
  // panel, the progress display and its timers follow State().
  virtual void ShowRunState() = 0;
  // Where the run is: the title and the progress display, from one value.
  virtual void ShowProgress(const RunProgress& progress) = 0;
  // The batch's summary, already among the list's lines.
  virtual void ShowSummary(const std::string& line) = 0;
  // While a stop waits for the worker: the window paints, and takes no input.
  virtual void ServeEventsButInput() = 0;
};

class BatchSession {
 public:
  BatchSession(VEK::HandOverQueue& handOvers, Prompts& prompts, SessionView& view);
  // A worker still running is stopped and joined while the rows it reports
  // to exist; its last notifications are served by the wait.
  ~BatchSession();
  BatchSession(const BatchSession&) = delete;
  BatchSession& operator=(const BatchSession&) = delete;

  BatchModel Model;

  const RunState& State() const { return run_; }
  bool Running() const { return run_.Running; }
  // The latest run's worker; null before the first run.
  const IndexRebuilder* Worker() const { return worker_.get(); }

  // Runs the rows scope takes, once the user has answered what it asks
  // first. False: nothing started.
  bool Start(const RunOptions& options, RunScope scope);
  // Stops the run, asking the user first (ask); the worker holds while the
  // question is open. Returns once the worker has ended: true when no run
  // goes on.
  bool Stop(bool ask);
  // A window going away: the run ends without a question, its last
  // notifications served while the rows they report to exist.
  void EndAndWait();
  // The line timer: the lines the worker left are kept and shown.
  void TakeLines();
  // The progress timer.
  void Tick();
  // What the list's commands may do now, for the view's selection.
  Commands Enabled() const;
  // The status panel's text while a run goes on: checking, rebuilding,
  // aborting; null when idle.
  const VEK::MessagePair* Status() const;

 private:
  void HandleEvent(IndexRebuilder& worker);
  void HandleTerminate();
  RunProgress Progress() const;

  VEK::HandOverQueue& handOvers_;
  Prompts& prompts_;
  SessionView& view_;
  std::unique_ptr<IndexRebuilder> worker_;
  RunState run_;
};

}  // namespace VEKRiff
