// The main window: the list of files, the commands on it, and the worker that
// runs an operation over it. The worker's notifications arrive here on the
// window's thread and become row marks and Messages Center lines.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QSet>
#include <QStringList>
#include <QStyle>
#include <QUrl>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/Prompts.h"
#include "app/QtHandOver.h"
#include "batch/BatchModel.h"
#include "batch/BatchSession.h"
#include "batch/ExistingOutput.h"
#include "batch/RecoveryJob.h"
#include "batch/RecoverySearch.h"
#include "engine/IndexRebuilder.h"
#include "batch/RowMark.h"
#include "batch/RunControl.h"
#include "batch/WindowTexts.h"
#include "lang/Language.h"
#include "settings/Config.h"
#include "util/SmartPointers.h"
#include "util/Thread.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class DamageStrip;
class MessagesView;
class QStackedWidget;
class QStatusBar;
class QSystemTrayIcon;
class QTimer;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

class TFrmMain : public QMainWindow, public SettingsWindow, public VEKRiff::SessionView {
  Q_OBJECT

 public:
  // store: where the settings live (the user's registry file when null).
  TFrmMain(ZantrelApp::Prompts& prompts, VEKRegistry::Store* store = nullptr, QWidget* parent = nullptr);
  ~TFrmMain() override;

  // The creation sequence after the window's members exist: the system's
  // language, drop target, caption, settings and the language they hold
  // (the system's when they hold none), then the files and folders of the
  // command line (from argument 2 after a switch in argument 1, else from
  // argument 1) and the auto-start switch.
  void FormCreate(const QStringList& arguments);
  // Saves the settings; run once when the window goes away.
  void FormDestroy();

  // Appends a row, unless the file already has one; returns whether it did.
  bool AddFile(const std::string& path);
  // Files and folders chosen, dropped or named on the command line, in the
  // order given, each made absolute: a folder adds the AVI files inside it
  // and its subfolders that are not hidden, in natural order.
  void AddPaths(const QStringList& paths);
  // Files dropped from a file manager: each local one added, in the order
  // given; nothing while an operation runs.
  void HandleDroppedFiles(const QList<QUrl>& urls);
  // The Clear list command: every row goes, and the Messages Center's view.
  void ClearList();
  // Double-click or Enter on a row: the repaired copy when there is one,
  // else the file.
  void OpenRow(int row);
  // The Messages Center as shown, or the lines of every row, to a text file.
  void SaveMessages();
  void SaveAllMessages();
  // The report for scripts of the list's latest results, as zantrel-cli --json prints it.
  void SaveReport();
  void CopyMessages();
  // A Check (checkOnly) or a Rebuild of the rows scope takes.
  void StartOperation(bool checkOnly, VEKRiff::RunScope scope = VEKRiff::RunScope::WholeList);
  bool StopOperation();
  // The Recover films command: a card or image and a folder chosen, the
  // films the search finds there rebuilt into the folder by a run over
  // them as over any rows.
  void RecoverFilms();
  // From the search's start to the end of the run that rebuilds its films.
  bool Recovering() const { return recovery_ != nullptr; }
  void UpdateActions();
  void RefreshMessagesView();
  // Shows the lines that arrived since the last batch.
  void FlushMessages();
  void ShowCounters(std::int32_t errors, std::int64_t videoFrames, std::int64_t audioSamples);
  void LoadSettings();
  void SaveSettings();
  // SaveSettings for the window's own actions: a failure is shown (the
  // store's message) and the window goes on. Returns whether it was saved.
  bool SaveSettingsOrReport();

  // Hooks of the window's surroundings; the defaults show the real dialogs
  // or hand the address to the desktop.
  std::function<bool(Config&)> EditConfiguration;  // true when confirmed with Ok
  std::function<void()> ShowAbout;
  std::function<void()> ShowHelp;  // the short help, by default a box of HelpText
  // The Add dialogs open in the folder given: the last one used.
  std::function<QStringList(const QString& from)> ChooseFiles;
  std::function<QString(const QString& from)> ChooseFolder;  // empty when cancelled
  std::function<QString()> ChooseMessagesFile;  // empty when cancelled
  std::function<QString()> ChooseReportFile;    // empty when cancelled
  std::function<QString()> ChooseReference;     // empty when cancelled
  // The card or image a recovery searches, and the folder its films go to;
  // empty when cancelled.
  std::function<QString()> ChooseRecoverySource;
  std::function<QString()> ChooseRecoveryFolder;
  std::function<bool(const QUrl&)> OpenUrl;     // false when no program could open it

  // SettingsWindow
  Placement GetPlacement() const override;
  void SetPlacement(const Placement& placement) override;
  void SetTopMost(bool topMost) override;
  std::int32_t FilesPanelWidth() const override;
  void SetFilesPanelWidth(std::int32_t width) override;
  std::int32_t FilesColumnWidth(int column) const override;
  void SetFilesColumnWidth(int column, std::int32_t width) override;
  bool FilesColumnShown(int column) const override;
  void SetFilesColumnShown(int column, bool shown) override;

  // The size of a window that has none stored: about two thirds of the
  // screen's free area given, and never less than the window needs.
  QSize FirstRunSize(const QRect& available) const;
  // A first start's window on the screen's free area given: that size,
  // centred, with the file list wide enough for its columns at the window's
  // font and the Messages Center beside it.
  void LayOutFirstStart(const QRect& available);

  // What a new user needs to know, in the current language, with the
  // shortcuts the commands really have and the prefix in use (rich text).
  QString HelpText() const;

  // Files and folders a later start of the program handed over: added as
  // the command line's are, once no run and no question is under way, and
  // the window comes to the front.
  void TakeHandedPaths(const QStringList& paths);

  // Row access for the window's own logic and its tests.
  RowMark Mark(int row) const;
  void SetMark(int row, RowMark mark);
  QStringList RowMessages(int row) const;
  QStringList AllMessages() const;  // every line of the list, in the order they came
  std::optional<QString> RowOutputPath(int row) const;
  QString RowPath(int row) const;

  // State and members the pieces of the window share.
  VEK::HandOverQueue HandOvers;
  // The list and its runs: the window shows them.
  VEKRiff::BatchSession Session;
  VEKRiff::BatchModel& Batch = Session.Model;
  Config Settings;

  QToolBar* ToolBar1;
  QSplitter* Splitter1;
  QWidget* PnlFiles;
  QTreeWidget* LvwFiles;
  QLabel* LblMessages;
  QLabel* LblDropHint;  // over the empty list: how to fill it
  DamageStrip* StrDamage;  // the selected file's damage
  MessagesView* EdtLogs;
  QWidget* PnlStats;
  QLabel* PnlStatus;
  QProgressBar* ProgressBar1;
  QProgressBar* ProgressBar2;  // the whole batch
  QStackedWidget* StatusBars;  // StatusBar1 when idle, StatusBar2 while a run goes on
  QStatusBar* StatusBar2;
  QLabel* StatusBar2Panels[3];
  QLabel* LblRate;  // the file's speed and time left
  QStatusBar* StatusBar1;
  QLabel* LblReady;
  QMenu *MnuFile, *MnuAction, *MnuOptions, *MnuTools, *MnuHelp;
  QMenu* PmnFiles;
  QAction* MnuStayOnTop;
  QAction* MnuAbout;
  QAction *ActFileClear, *ActFileAdd, *ActFileRemove, *ActActionCheckErrors, *ActActionFix, *ActActionStop,
      *ActFileQuit, *ActOpenFile, *ActOpenFixedFile, *ActOpenContainingFolder, *ActConfig, *ActFileAddFolder,
      *ActSaveMessages, *ActSaveAllMessages, *ActSaveReport, *ActCopyMessages, *ActReference, *ActHelp,
      *ActRecover;
  // The row menu's: the selected rows only.
  QAction *ActCheckSelected, *ActRebuildSelected;
  // The row's copy in its folder (ActOpenFile, ActOpenFixedFile and
  // ActOpenContainingFolder play the original, play the copy and show the
  // original in its folder).
  QAction* ActShowCopyFolder;
  // Shows or hides the list's Output column, from the Options menu and the
  // list's header.
  QAction* ActOutputColumn;
  QMenu* PmnColumns;
  // The healthy file a rebuild takes damaged or lost header lists from; empty: none.
  QString ReferenceFile;
  QTimer* TmrProgress;
  QTimer* TmrCheckErrors;
  QTimer* TmrRebuildIndex;

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormCloseQuery
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;  // a new language: RetranslateUi
  bool eventFilter(QObject* watched, QEvent* event) override;  // the list's viewport: the drop hint's place

 private:
  void BuildActions();
  void BuildMenus();
  void BuildLayout();
  // Every caption, hint and title of the window in the current language.
  void RetranslateUi();
  void ShowReferenceHint();
  // The drop hint over the list's viewport while the list is empty.
  void ShowDropHint();
  // The Result column as wide as the row's result needs, never narrower.
  void FitResultColumn(int row);
  // The stored width of the file list, once the splitter has the size of
  // the window's state: a maximised window gets its size after it is shown.
  void ApplyPendingFilesWidth();
  void WriteMessages(const QString& path, const QString& lines);
  void AddHandedPaths();
  // A picture size of the style for the window's font.
  QSize IconSize(QStyle::PixelMetric metric) const;
  void ApplyIconSizes();
  static QString RateText(double bytesPerSecond, std::int64_t secondsLeft);

  // The recovery's search and the run after it (RecoverCommand.cpp).
  void SayRecoveryLine(const std::string& line);
  void ReportRecoveryFailure(const std::string& failure);
  void ShowSearchState();
  void ShowSearchProgress(const VEKRecover::RecoveryProgress& progress);
  void EndSearch(VEKRiff::RecoverySearch& search);
  void RebuildStagedFilms(const std::vector<VEKRecover::StagedFilm>& films);
  bool StopSearch();
  // The run over the staged films has ended: the rows name the films it
  // wrote, and the staging folder goes.
  void KeepRecoveredFilms();
  void EndRecovery();

  void ShowMessages(const VEKRiff::LineList& lines);
  void ClearMessagesView();
  void ShowFirstSelectedRowMessages();
  void ShowSelectedRowDamage();
  void LvwFilesSelectItem();
  void DeleteRow(int row);  // LvwFilesDeletion, then the deletion itself
  void ShowMarkInWords(int row);
  // The row as the batch has it: its mark, its result, their words.
  void ShowRow(int row);
  // Items for the batch's rows from row from on.
  void AddRows(int from);
  void ShowRowFile(int row);
  int FirstSelectedRow() const;
  QTreeWidgetItem* Row(int row) const;

  void ActFileAddExecute();
  void ActFileRemoveExecute();
  enum class OpenTarget { File, FixedFile, Folder, CopyFolder };
  void ActOpenExecute(OpenTarget target);
  void OpenPath(const QString& path);
  // The folder of the file at path, shown by the desktop's file manager.
  void ShowInFolder(const QString& path);
  // Play the copy and Show the copy in its folder only for a row with one.
  void ActConfigExecute();
  void MnuStayOnTopClick();
  void PmnFilesPopup(const QPoint& at);

  ZantrelApp::Prompts& prompts_;
  VEK::AutoPtr<VEKRegistry::Store> ownStore_;
  VEKRegistry::Store& store_;
  ZantrelApp::EventLoopHandOver eventLoopHandOver_;
  int pendingFilesWidth_ = -1;   // applied when the splitter first has its real size
  // The size a maximised window was shown at, until it has the maximised
  // one: the stored width waits for that (invalid: not waiting).
  QSize maximisedFrom_;
  QStringList handedPaths_;      // handed over by a later start, waiting for a run or a question to end
  QTimer* tmrHanded_;
  QTimer* tmrLines_;             // takes the worker's lines into the view while a run goes on
  QString lastFolder_;           // where the last Add dialog found its files
  int outputWidth_ = 250;        // the Output column's, kept while it is hidden
  QSystemTrayIcon* tray_ = nullptr;  // made for the first notification that needs it
  bool showsSummary_ = false;        // the idle status bar says the latest batch's sum
  // A recovery under way: the job lives until the rebuild of its films has
  // ended, for its staging folder goes with it; the search before it.
  std::unique_ptr<VEKRiff::RecoveryJob> recovery_;
  std::unique_ptr<VEKRiff::RecoverySearch> search_;
  bool searching_ = false;

  // SessionView
  std::vector<bool> SelectedRows() const override;
  void SelectRowAlone(int row) override;
  void ShowRow(int row, bool done) override;
  void ShowRunFile(int row) override;
  void ShowLine(int row, const VEKRiff::LineList& kept) override;
  void FlushLines() override { FlushMessages(); }
  void ShowRunState() override;
  void ShowProgress(const VEKRiff::RunProgress& progress) override;
  void ShowSummary(const std::string& line) override;
  void ServeEventsButInput() override;
};
