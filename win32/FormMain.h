// The main window on the Win32 API: the list of files, the commands on it,
// and the worker that runs an operation over it. It is a view over the batch
// model, as the Qt window is: the same texts, marks and questions, in the
// same order; only the controls differ.
#pragma once

#include <windows.h>
// The other system headers use its types.
#include <commctrl.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "batch/BatchModel.h"
#include "batch/BatchSession.h"
#include "batch/RecoveryJob.h"
#include "batch/RecoverySearch.h"
#include "batch/RunControl.h"
#include "batch/WindowTexts.h"
#include "engine/IndexRebuilder.h"
#include "lang/Language.h"
#include "settings/Config.h"
#include "settings/RegistryStore.h"
#include "util/Thread.h"
#include "win32/FormAbout.h"
#include "win32/FormConfig.h"
#include "win32/Prompts.h"

class TFrmMain : public SettingsWindow, public VEKRiff::SessionView {
 public:
  explicit TFrmMain(HINSTANCE instance);
  ~TFrmMain() override;

  // Makes the window (hidden) and its controls.
  bool Create();
  // The creation sequence once the window exists, as the Qt window's: the
  // system's language, drop target, caption, settings and the language they
  // hold, then the command line's files (from argument 2 after a switch in
  // argument 1, else from argument 1) and the auto-start switch. Arguments
  // in UTF-8, argument 0 the program.
  void FormCreate(const std::vector<std::string>& arguments);
  // A command line's files added, and its switch's run started, whether
  // it is the window's own or another start's.
  void TakeArguments(const std::vector<std::string>& arguments);
  // Shows the window as the settings placed it.
  void Show();
  HWND Handle() const { return hwnd_; }
  HACCEL Accelerators() const { return accelerators_; }

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

  VEK::HandOverQueue HandOvers;
  Config Settings;
  // The list and its runs: the window shows them.
  VEKRiff::BatchSession Session;
  VEKRiff::BatchModel& Batch = Session.Model;

  HWND ToolBar1 = nullptr;
  HWND LvwFiles = nullptr;
  HWND LblMessages = nullptr;
  HWND EdtLogs = nullptr;
  HWND PnlStatus = nullptr;
  HWND ProgressBar1 = nullptr;
  HWND ProgressBar2 = nullptr;  // the whole batch
  HWND LblRate = nullptr;       // the file's rate and time left
  HWND LblBatch = nullptr;      // "n/N" of the batch
  HWND StrDamage = nullptr;     // the selected file's damage
  HWND StatusBar1 = nullptr;    // "Ready" or the last summary; the counters while a run goes on

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

  void CreateControls();
  void BuildMenus();
  void BuildAccelerators();
  // Every caption of the window in the current language.
  void RetranslateUi();
  // Fonts, pictures and sizes for the window's dots per inch.
  void ApplyDpi();
  int Scale(int pixels) const { return MulDiv(pixels, dpi_, 96); }
  void Layout();
  int ClientWidth() const;
  void UpdateActions();
  void Command(int id);

  void AddPaths(const std::vector<std::string>& paths);
  void AddRows(int from);
  void ShowRow(int row);
  void ClearList();
  void RemoveSelected();
  int FirstSelectedRow() const;
  void OpenRow(int row);
  void OpenPath(const std::string& path);
  // The file at path selected in its folder by Explorer.
  void ShowInFolder(const std::string& path);
  // Play the copy and Show the copy in its folder only for a row with one.
  // The Output column's text for a row, when the column is shown.
  void ShowRowOutput(int row);
  void ShowContextMenu(POINT at);
  void DropFiles(HDROP drop);
  void ChooseFiles();
  // The system's open dialog choosing a folder, titled (the system's title
  // when empty) and opening at start; empty when cancelled.
  std::wstring PickFolder(const std::wstring& title, const std::wstring& start);
  void ChooseFolder();
  void ChooseReference();
  // One existing file from the open dialog, with its filters (in the
  // current language) and title (the system's where empty); empty when
  // cancelled.
  std::wstring ChooseOneFile(const std::string& filter, const std::wstring& title);
  // The Save As box over the window, with a file name to start from and
  // its filters (in the current language); empty when cancelled.
  std::wstring ChooseSaveFile(const wchar_t* name, const std::string& filter);
  // Writes text as the file's whole content; 0, or the system's error.
  static int WriteWholeFile(const std::wstring& path, const std::string& text);
  void SaveMessages();
  void SaveReport();  // the list's report for scripts, as zantrel-cli --json prints it
  void CopyMessages();
  void StayOnTopClick();
  void ActConfigExecute();

  void ShowMessages(const VEKRiff::LineList& lines);
  void ClearMessagesView();
  void FlushMessages();
  void ShowFirstSelectedRowMessages();
  void ShowSelectedRowDamage();
  static std::string RateText(double bytesPerSecond, std::int64_t secondsLeft);
  void RefreshMessagesView();

  // Recover films (win32/RecoverCommand.cpp): a card or its image searched
  // on a thread of its own, its lines in the Messages Center and its
  // progress on the run's bars, then the films it staged rebuilt into the
  // chosen folder by the session like any run; the job, with its staging
  // folder, goes when that run ends.
  bool Recovering() const { return recovery_ != nullptr; }
  void RecoverFilms();
  // The open dialog for the card's image and the folder dialog for the
  // films; empty when cancelled.
  std::string ChooseRecoverySource();
  // A card in a drive, offered drive by drive: its name ("E:"), or empty
  // when each was declined (then an image is asked for) or when the user
  // cancelled (cancelled set).
  std::string ChooseRecoveryDrive(bool& cancelled);
  std::string ChooseRecoveryFolder();
  void SayRecoveryLine(const std::string& line);
  void ReportRecoveryFailure(const std::string& failure);
  void ShowSearchState();
  void ShowSearchProgress(const VEKRecover::RecoveryProgress& progress);
  void EndSearch(VEKRiff::RecoverySearch& search);
  void RebuildStagedFilms(const std::vector<VEKRecover::StagedFilm>& films);
  bool StopSearch();
  void KeepRecoveredFilms();
  void EndRecovery();
  // The row gone from the model and the list.
  void DeleteRow(int row);

  // A Check (checkOnly) or a Rebuild of the rows scope takes.
  void StartOperation(bool checkOnly, VEKRiff::RunScope scope);
  bool StopOperation();
  void ShowStatusText(const std::string& text);
  void ShowCounters(std::int32_t errors, std::int64_t videoFrames, std::int64_t audioSamples);

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

  void LoadSettings();
  bool SaveSettingsOrReport();
  void Close();

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  HACCEL accelerators_ = nullptr;
  HMENU menu_ = nullptr;
  HMENU rowMenu_ = nullptr;  // PmnFiles
  HMENU columnsMenu_ = nullptr;  // the list header's: the columns a user may show or hide
  HFONT font_ = nullptr;
  HIMAGELIST marks_ = nullptr;
  HIMAGELIST tools_ = nullptr;
  HIMAGELIST greyedTools_ = nullptr;  // the tool bar's pictures for commands that cannot be taken
  HICON bigIcon_ = nullptr, smallIcon_ = nullptr;
  UINT dpi_ = 96;
  std::unique_ptr<VEKRegistry::Store> store_;
  ZantrelWin32::DialogPrompts prompts_;
  TFrmConfig config_;
  TFrmAbout about_;
  std::int32_t filesWidth_ = 317;  // the list's panel, at the window's dots per inch (dpi_)
  // The Output column is in the list only while shown; its width, at the
  // window's dots per inch, is kept while it is not.
  bool outputShown_ = false;
  std::int32_t outputWidth_ = 250;
  bool dragging_ = false;          // the splitter between the list and the Messages Center
  // The client width filesWidth_ is for; 0 until the window is first shown,
  // when a new width keeps the panel's pixels instead of its share.
  int layoutWidth_ = 0;
  int showCmd_ = SW_SHOWNORMAL;
  std::wstring title_ = L"Zantrel";
  VEKRiff::LineList pendingLines_;  // for the Messages Center, not shown yet
  std::string idleText_;      // the status bar's text outside a run; empty: "Ready"
  bool showsSummary_ = false;  // idleText_ is the latest batch's sum
  std::wstring referenceFile_;
  std::wstring lastFolder_;
  std::vector<std::vector<std::string>> handedOver_;  // other starts' command lines, not taken yet
  // A recovery: its job from the command until the rebuild of its films
  // ends; its search until the next recovery (the thread may still be
  // returning when it has said it ended).
  std::unique_ptr<VEKRiff::RecoveryJob> recovery_;
  std::unique_ptr<VEKRiff::RecoverySearch> search_;
  bool searching_ = false;
};
