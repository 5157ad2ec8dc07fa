// The main window's Recover films command: a thin view over the recovery
// job. The search runs on its own thread with its lines in the Messages
// Center and its progress on the run's bars; the films it stages become
// rows of the list, rebuilt into the chosen folder by the batch session
// like any run, and the job, with its staging folder, goes when that run
// ends.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTreeWidget>

#include "app/FormMain.h"
#include "app/MessagesView.h"
#include "batch/RecoveryRows.h"
#include "recover/RecoverMessages.h"

namespace {

std::string Bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

void TFrmMain::RecoverFilms() {
  if (!VEKRiff::RecoveryMayStart(Recovering(), Session.State())) return;
  const QString source = ChooseRecoverySource();
  if (source.isEmpty()) return;
  const QString folder = ChooseRecoveryFolder();
  if (folder.isEmpty()) return;
  // The last search has ended; it held the last job.
  search_.reset();
  recovery_ = std::make_unique<VEKRiff::RecoveryJob>(Bytes(source), Bytes(folder), Bytes(ReferenceFile));
  if (!recovery_->Failure().empty()) {
    const std::string failure = recovery_->Failure();
    recovery_.reset();
    ReportRecoveryFailure(failure);
    return;
  }
  if (Settings.AutoClear) ClearMessagesView();
  search_ = VEKRiff::RecoverySearch::For(HandOvers, *recovery_,
                                         {[this](const std::string& line) { SayRecoveryLine(line); },
                                          [this](const VEKRecover::RecoveryProgress& p) { ShowSearchProgress(p); },
                                          [this](VEKRiff::RecoverySearch& search) { EndSearch(search); }});
  searching_ = true;
  ShowSearchState();
  search_->Resume();
}

void TFrmMain::SayRecoveryLine(const std::string& line) {
  // A line of the window's own, as a run's lines of no row.
  Batch.AddLine(line);
  EdtLogs->AddLine(Batch.AllLines().back());
  FlushMessages();
}

void TFrmMain::ReportRecoveryFailure(const std::string& failure) {
  SayRecoveryLine(failure);
  prompts_.Ask(tr("Recover films"), QString::fromStdString(failure), ZantrelApp::PromptButtons::Ok,
               ZantrelApp::PromptIcon::Error);
}

void TFrmMain::ShowSearchState() {
  // The run's display, as a check or a rebuild shows it, for the search;
  // the idle status bar says what is searched.
  if (searching_) StatusBar1->showMessage(QString::fromStdString(VEK::Text(VEKRecover::Msg::Searching, {recovery_->Source()})));
  else StatusBar1->clearMessage();
  showsSummary_ = false;
  PnlStatus->setText(searching_ ? tr("Searching for films") : QString());
  ProgressBar1->setValue(0);
  ProgressBar2->setRange(0, 100);
  ProgressBar2->setValue(0);
  ProgressBar2->setFormat(searching_ ? QString::fromStdString(VEK::Text(VEKRecover::Msg::FilmsSoFar, {0}))
                                     : QString());
  LblRate->clear();
  PnlStats->setVisible(searching_);
  if (!searching_) setWindowTitle(QApplication::applicationName());
  setAcceptDrops(!searching_);
  UpdateActions();
}

void TFrmMain::ShowSearchProgress(const VEKRecover::RecoveryProgress& p) {
  if (!searching_) return;
  const int percent = p.Total > 0 ? static_cast<int>(p.Read * 100 / p.Total) : 100;
  ProgressBar1->setValue(percent);
  ProgressBar2->setValue(percent);
  ProgressBar2->setFormat(
      QStringLiteral("%1%  %2").arg(percent).arg(QString::fromStdString(VEK::Text(VEKRecover::Msg::FilmsSoFar, {p.Films}))));
  // The taskbar tells how far the search is, as it does for a run.
  setWindowTitle(QStringLiteral("%1 \u2014 %2%").arg(QApplication::applicationName()).arg(percent));
}

void TFrmMain::EndSearch(VEKRiff::RecoverySearch& search) {
  searching_ = false;
  ShowSearchState();
  const VEKRiff::RecoverySearch::Ending ending = search.EndingFor();
  if (ending.Rebuild) {
    RebuildStagedFilms(search.Films());
    return;
  }
  if (!ending.Line.empty()) SayRecoveryLine(ending.Line);
  EndRecovery();
  // The question waits for the user: the job is gone before it is asked.
  if (!ending.Failure.empty()) ReportRecoveryFailure(ending.Failure);
}

void TFrmMain::RebuildStagedFilms(const std::vector<VEKRecover::StagedFilm>& films) {
  for (const auto& film : films) {
    const int earlier = VEKRiff::RowOfPath(Batch, film.Path);
    if (earlier >= 0) DeleteRow(earlier);
    AddFile(film.Path);
  }
  // The run takes the staged films' rows alone, whatever else the list holds.
  LvwFiles->clearSelection();
  for (const auto& film : films)
    if (const int row = VEKRiff::RowOfPath(Batch, film.Path); row >= 0) Row(row)->setSelected(true);
  if (!Session.Start(recovery_->Options(), VEKRiff::RunScope::SelectedRows)) EndRecovery();
}

bool TFrmMain::StopSearch() {
  if (search_->Terminated()) return true;  // asked already: it is ending
  if (Settings.StopPrompt) {
    // The search waits where it is while the user decides.
    search_->Hold();
    const ZantrelApp::PromptAnswer answer =
        prompts_.Ask(QString::fromStdString(VEK::Text(VEKRiff::WindowTexts::MsgStopCaption)),
                     QString::fromStdString(VEK::Text(VEKRiff::WindowTexts::MsgStop)),
                     ZantrelApp::PromptButtons::YesNo, ZantrelApp::PromptIcon::Question);
    if (answer != ZantrelApp::PromptAnswer::Yes) {
      search_->Release();
      return false;
    }
    // The search ended behind the question: the stop goes to the rebuild
    // of its films.
    if (!searching_) return Session.Stop(false);
  }
  search_->Terminate();
  PnlStatus->setText(QString::fromStdString(VEK::Text(VEKRiff::WindowTexts::MsgAborting)));
  UpdateActions();
  return true;
}

void TFrmMain::KeepRecoveredFilms() {
  // The lines of a row that goes stay in the Messages Center.
  VEKRiff::KeepRecoveredRows(
      Batch,
      [this](int row) {
        ShowRowFile(row);
        ShowRow(row);
      },
      [this](int row) { DeleteRow(row); });
  RefreshMessagesView();
  UpdateActions();
}

void TFrmMain::EndRecovery() {
  // The search has ended (its thread may still be returning); the job's
  // staging folder goes with it.
  recovery_.reset();
  UpdateActions();
}
