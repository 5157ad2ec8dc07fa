#include "batch/BatchSession.h"

#include <algorithm>

#include "batch/WindowTexts.h"
#include "util/Paths.h"

namespace VEKRiff {

using namespace WindowTexts;

BatchSession::BatchSession(VEK::HandOverQueue& handOvers, Prompts& prompts, SessionView& view)
    : handOvers_(handOvers), prompts_(prompts), view_(view) {}

BatchSession::~BatchSession() { EndAndWait(); }

void BatchSession::EndAndWait() {
  if (worker_) worker_->TerminateAndWait();
}

bool BatchSession::Start(const RunOptions& options, RunScope scope) {
  // A timer may fire while a stop waits for the worker: the worker that ends
  // is the one waited for, no other starts in between.
  if (run_.Running || run_.WaitingForStop) return false;
  const RunChoice choice = Model.ChooseRows(options, scope, view_.SelectedRows(), prompts_);
  if (choice.LeftOut > 0) {
    Model.AddLine(LeftOutLine(choice.LeftOut));
    view_.ShowLine(-1, Model.AllLines());
    view_.FlushLines();
  }
  if (choice.Rows.empty()) return false;
  const FileList files = Model.Begin(choice.Rows, options);
  for (int row : choice.Rows) view_.ShowRow(row, false);
  run_ = RunState{};
  run_.Running = true;
  run_.CheckOnly = options.CheckOnly;
  view_.ShowRunState();
  // The previous worker has ended or never started; it goes now.
  worker_.reset();
  worker_ = std::make_unique<IndexRebuilder>(handOvers_);
  // A line costs the worker no hand-over (two thread wake-ups, which a file
  // with tens of thousands of lines pays more for than for its whole check):
  // it waits in a list for the line timer or the next notification. The
  // other notifications are handed over and waited for, as they may ask.
  worker_->EventsOnWorkerThread = true;
  worker_->OnEvent = [this](IndexRebuilder& worker) {
    if (Model.QueueLine(worker)) return;
    handOvers_.Call([&] {
      TakeLines();
      HandleEvent(worker);
    });
  };
  worker_->OnTerminate = [this](VEK::Thread&) { HandleTerminate(); };
  StartWorker(*worker_, files, options);
  return true;
}

bool BatchSession::Stop(bool ask) {
  // A stop already waiting for the worker (a close asked for meanwhile, say)
  // is the one stop of this run.
  if (run_.WaitingForStop) return false;
  if (!run_.Running) return true;
  TakeLines();
  view_.FlushLines();
  if (ask) {
    // Nothing moves while the user decides: the worker waits at its next
    // stop point, a copy does not grow.
    worker_->Hold();
    run_.AskingStop = true;
    const auto heldAt = std::chrono::steady_clock::now();
    const PromptAnswer answer =
        prompts_.Ask(VEK::Text(MsgStopCaption), VEK::Text(MsgStop), PromptButtons::YesNo, PromptIcon::Question);
    run_.AskingStop = false;
    if (answer != PromptAnswer::Yes) {
      // The time the question held the file is no time the file took.
      run_.FileStart += std::chrono::steady_clock::now() - heldAt;
      worker_->Release();
      return !run_.Running;
    }
  }
  // The run ended behind the question: nothing is left to stop.
  if (!run_.Running) return true;
  worker_->Abort("");
  run_.Stopping = true;
  view_.ShowRunState();
  // The worker ends only once its last notifications and its termination
  // handler have run here. Until then its hand-overs are served and the
  // window keeps painting; input waits, so that no second stop and no
  // command runs in the middle of this one.
  run_.WaitingForStop = true;
  while (!worker_->Finished()) {
    view_.ServeEventsButInput();
    handOvers_.WaitAndServe(std::chrono::milliseconds(10));
  }
  worker_->WaitFor();  // joins the thread
  run_.WaitingForStop = false;
  return true;
}

void BatchSession::TakeLines() {
  Model.TakeQueuedLines([this](int row, const LineList& kept, const Finding* finding, std::string_view message) {
    if (finding) view_.ShowFinding(row, *finding, message);
    view_.ShowLine(row, kept);
  });
}

void BatchSession::Tick() {
  TakeLines();
  view_.FlushLines();
  // While the stop question holds the run, what is shown stays as it was:
  // a rate worked out over the wait would say the file slowed down.
  if (run_.Running && !run_.AskingStop) view_.ShowProgress(Progress());
}

RunProgress BatchSession::Progress() const {
  RunProgress p = ProgressOf(Model, *worker_, run_);
  const int row = Model.BatchRow(Model.BatchFile());
  if (row >= 0) p.FileName = VEK::ExtractFileName(Model.Entry(row).Path);
  return p;
}

namespace {

// How many rows the view has selected, and the first of them (-1: none).
struct Selection {
  int Count = 0, First = -1;
};
Selection SelectionOf(const SessionView& view) {
  const std::vector<bool> selected = view.SelectedRows();
  const auto first = std::find(selected.begin(), selected.end(), true);
  return {static_cast<int>(std::count(selected.begin(), selected.end(), true)),
          first == selected.end() ? -1 : static_cast<int>(first - selected.begin())};
}

}  // namespace

Commands BatchSession::Enabled() const {
  const Selection selection = SelectionOf(view_);
  return EnabledCommands(Model, run_, selection.Count, selection.First);
}

const VEK::MessagePair* BatchSession::Status() const {
  if (!run_.Running) return nullptr;
  if (run_.Stopping) return &MsgAborting;
  return run_.CheckOnly ? &MsgChecking : &MsgRebuilding;
}

void BatchSession::HandleEvent(IndexRebuilder& worker) {
  // The selection goes to the file before its existing copy's question, which
  // the user answers with the file's lines so far in view.
  const int batchRow = Model.BatchRow(worker.FileIndex());
  if (worker.Event() == FileOpening && batchRow >= 0) {
    const Selection selection = SelectionOf(view_);
    if (FollowsTo(run_, batchRow, selection.Count, selection.First)) view_.SelectRowAlone(batchRow);
    view_.FlushLines();
  }
  const std::uint64_t lines = Model.LinesSaid();
  const BatchChange change = Model.Handle(worker, prompts_);
  const int row = change.Row;
  if (row < 0) return;
  // A line of the session's own about the file (where its copy went).
  if (Model.LinesSaid() > lines) view_.ShowLine(row, Model.AllLines());
  switch (change.Event) {
    case FileStarted: {
      view_.ShowRow(row, false);
      StartFile(run_, VEK::FileSizeOf(Model.Entry(row).Path));
      view_.ShowRunFile(row);
      view_.ShowProgress(Progress());
      break;
    }
    case FileOk:
    case FileError:
    case FileRebuilt:
    case Aborted:
    case FileSkipped:
      view_.ShowRow(row, true);
      break;
    case FileOpening:
    case MessageAdded:
      break;  // the lines come by TakeLines
  }
}

void BatchSession::HandleTerminate() {
  TakeLines();
  view_.FlushLines();
  run_.Running = false;
  // One file's own lines say it all; a batch gets its sum.
  if (const std::optional<std::string> summary = Model.SummaryLine()) {
    Model.AddLine(*summary);
    view_.ShowSummary(*summary);
  }
  view_.ShowRunState();
  // The run ended behind the stop question (a rewrite in place, which no
  // stop holds once it writes): the question goes, answered No.
  if (run_.AskingStop) prompts_.CloseOpenQuestions();
}

}  // namespace VEKRiff
