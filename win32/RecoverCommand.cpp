// The main window's Recover films command, as the Qt window's: a thin view
// over the recovery job. The search runs on its own thread with its lines in
// the Messages Center and its progress on the run's bars; the films it stages
// become rows of the list, rebuilt into the chosen folder by the batch
// session like any run, and the job, with its staging folder, goes when that
// run ends.
#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdint>
#include <cwctype>

#include "batch/RecoveryRows.h"
#include "file/SystemCalls.h"
#include "recover/RecoverMessages.h"
#include "util/Paths.h"
#include "win32/Controls.h"
#include "win32/FormMain.h"
#include "win32/Texts.h"

using ZantrelWin32::U;
using ZantrelWin32::W;

namespace {

const char* const kContext = "TFrmMain";
std::string T(const char* source) { return ZantrelWin32::Tr(kContext, source); }

// A handle that asks nothing of the drive but what it is (no rights needed).
struct QueryHandle {
  HANDLE Handle;
  explicit QueryHandle(const std::wstring& device)
      : Handle(CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~QueryHandle() {
    if (Handle != INVALID_HANDLE_VALUE) CloseHandle(Handle);
  }
  QueryHandle(const QueryHandle&) = delete;
  QueryHandle& operator=(const QueryHandle&) = delete;
};

// A fixed drive that is a card or a stick all the same: on USB, SD or MMC.
bool OnCardBus(const std::wstring& device) {
  const QueryHandle drive(device);
  if (drive.Handle == INVALID_HANDLE_VALUE) return false;
  STORAGE_PROPERTY_QUERY query = {};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  STORAGE_DEVICE_DESCRIPTOR descriptor = {};
  DWORD bytes = 0;
  if (!DeviceIoControl(drive.Handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &descriptor,
                       sizeof descriptor, &bytes, nullptr) ||
      bytes < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof descriptor.BusType)
    return false;
  return descriptor.BusType == BusTypeUsb || descriptor.BusType == BusTypeSd || descriptor.BusType == BusTypeMmc;
}

// The size of the card in the drive, as the search will read it where it can
// be opened, else as its disk or its file system tells it; -1 where none of
// them answers: the drive has no card in it.
std::int64_t CardSize(const std::wstring& device, const std::wstring& root) {
  const int fd = VEKFile::Sys().Open(U(device).c_str(), O_RDONLY, 0);
  if (fd >= 0) {
    const std::int64_t size = VEKFile::Sys().DeviceSize(fd);
    VEKFile::Sys().Close(fd);
    if (size > 0) return size;
  }
  {
    const QueryHandle drive(device);
    DISK_GEOMETRY_EX geometry = {};
    DWORD bytes = 0;
    if (drive.Handle != INVALID_HANDLE_VALUE &&
        DeviceIoControl(drive.Handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry, sizeof geometry, &bytes,
                        nullptr) &&
        geometry.DiskSize.QuadPart > 0)
      return geometry.DiskSize.QuadPart;
  }
  ULARGE_INTEGER total = {};
  if (GetDiskFreeSpaceExW(root.c_str(), nullptr, &total, nullptr) && total.QuadPart > 0)
    return static_cast<std::int64_t>(total.QuadPart);
  return -1;
}

std::string SizeText(std::int64_t bytes) {
  if (bytes >= 1000000000)
    return ZantrelWin32::Tr(kContext, "%1 GB", ZantrelWin32::NumberText(static_cast<double>(bytes) / 1e9, 1));
  return ZantrelWin32::Tr(kContext, "%1 MB", ZantrelWin32::NumberText(static_cast<double>(bytes) / 1e6, 1));
}

}  // namespace

std::string TFrmMain::ChooseRecoveryDrive(bool& cancelled) {
  cancelled = false;
  // Never the drive Windows runs from, whatever its bus.
  wchar_t windows[MAX_PATH] = {};
  const wchar_t system = GetWindowsDirectoryW(windows, MAX_PATH) > 0 ? towupper(windows[0]) : L'\0';
  const DWORD drives = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if ((drives & (1u << i)) == 0 || L'A' + i == system) continue;
    const std::string name = std::string(1, static_cast<char>('A' + i)) + ":";
    const std::wstring root = W(name) + L"\\", device = L"\\\\.\\" + W(name);
    const UINT type = GetDriveTypeW(root.c_str());
    if (type != DRIVE_REMOVABLE && !(type == DRIVE_FIXED && OnCardBus(device))) continue;
    const std::int64_t size = CardSize(device, root);
    if (size <= 0) continue;
    const VEKRiff::PromptAnswer answer =
        prompts_.Ask(T("Recover films"),
                     ZantrelWin32::Tr(kContext, "Recover films from the card in drive %1 (%2)?", name, SizeText(size)),
                     VEKRiff::PromptButtons::YesNoCancel, VEKRiff::PromptIcon::Question);
    if (answer == VEKRiff::PromptAnswer::Yes) return name;
    if (answer == VEKRiff::PromptAnswer::Cancel) {
      cancelled = true;
      return {};
    }
  }
  return {};
}

void TFrmMain::RecoverFilms() {
  if (!VEKRiff::RecoveryMayStart(Recovering(), Session.State())) return;
  const std::string source = ChooseRecoverySource();
  if (source.empty()) return;
  const std::string folder = ChooseRecoveryFolder();
  if (folder.empty()) return;
  // The last search has ended; it held the last job.
  search_.reset();
  recovery_ = std::make_unique<VEKRiff::RecoveryJob>(source, folder, U(referenceFile_));
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
  pendingLines_.push_back(Batch.AllLines().back());
  FlushMessages();
}

void TFrmMain::ReportRecoveryFailure(const std::string& failure) {
  SayRecoveryLine(failure);
  prompts_.Ask(T("Recover films"), failure, VEKRiff::PromptButtons::Ok, VEKRiff::PromptIcon::Error);
}

void TFrmMain::ShowSearchState() {
  // The run's row, as a check or a rebuild shows it, for the search; the
  // status bar says what is searched.
  idleText_.clear();
  showsSummary_ = false;
  ShowStatusText(searching_ ? VEK::Text(VEKRecover::Msg::Searching, {recovery_->Source()}) : T("Ready"));
  SetWindowTextW(PnlStatus, searching_ ? W(T("Searching for films")).c_str() : L"");
  for (HWND bar : {ProgressBar1, ProgressBar2}) {
    SendMessageW(bar, PBM_SETRANGE32, 0, 100);
    SendMessageW(bar, PBM_SETPOS, 0, 0);
  }
  SetWindowTextW(LblRate, searching_ ? W(VEK::Text(VEKRecover::Msg::FilmsSoFar, {0})).c_str() : L"");
  SetWindowTextW(LblBatch, searching_ ? L"0%" : L"");
  for (HWND w : {PnlStatus, LblRate, ProgressBar1, LblBatch, ProgressBar2})
    ShowWindow(w, searching_ ? SW_SHOW : SW_HIDE);
  Layout();
  DragAcceptFiles(hwnd_, searching_ ? FALSE : TRUE);
  UpdateActions();
  if (!searching_) SetWindowTextW(hwnd_, title_.c_str());
}

void TFrmMain::ShowSearchProgress(const VEKRecover::RecoveryProgress& p) {
  if (!searching_) return;
  const int percent = p.Total > 0 ? static_cast<int>(p.Read * 100 / p.Total) : 100;
  SendMessageW(ProgressBar1, PBM_SETPOS, percent, 0);
  SendMessageW(ProgressBar2, PBM_SETPOS, percent, 0);
  const std::wstring share = std::to_wstring(percent) + L"%";
  SetWindowTextW(LblBatch, share.c_str());
  SetWindowTextW(LblRate, W(VEK::Text(VEKRecover::Msg::FilmsSoFar, {p.Films})).c_str());
  // The taskbar tells how far the search is, as it does for a run.
  SetWindowTextW(hwnd_, (title_ + L" \u2014 " + share).c_str());
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
    const int from = Batch.Count();
    if (Batch.Add(film.Path)) AddRows(from);
  }
  // The run takes the staged films' rows alone, whatever else the list holds.
  ListView_SetItemState(LvwFiles, -1, 0, LVIS_SELECTED);
  for (const auto& film : films)
    if (const int row = VEKRiff::RowOfPath(Batch, film.Path); row >= 0)
      ListView_SetItemState(LvwFiles, row, LVIS_SELECTED, LVIS_SELECTED);
  if (!Session.Start(recovery_->Options(), VEKRiff::RunScope::SelectedRows)) EndRecovery();
}

bool TFrmMain::StopSearch() {
  if (search_->Terminated()) return true;  // asked already: it is ending
  if (Settings.StopPrompt) {
    // The search waits where it is while the user decides.
    search_->Hold();
    const VEKRiff::PromptAnswer answer =
        prompts_.Ask(VEK::Text(VEKRiff::WindowTexts::MsgStopCaption), VEK::Text(VEKRiff::WindowTexts::MsgStop),
                     VEKRiff::PromptButtons::YesNo, VEKRiff::PromptIcon::Question);
    if (answer != VEKRiff::PromptAnswer::Yes) {
      search_->Release();
      return false;
    }
    // The search ended behind the question: the stop goes to the rebuild
    // of its films.
    if (!searching_) return Session.Stop(false);
  }
  search_->Terminate();
  SetWindowTextW(PnlStatus, W(VEK::Text(VEKRiff::WindowTexts::MsgAborting)).c_str());
  UpdateActions();
  return true;
}

void TFrmMain::KeepRecoveredFilms() {
  // The lines of a row that goes stay in the Messages Center.
  VEKRiff::KeepRecoveredRows(
      Batch,
      [this](int row) {
        // The row's name and folder are the written film's.
        std::wstring name = W(VEK::ExtractFileName(Batch.Entry(row).Path)),
                     folder = W(VEK::ExtractFileDir(Batch.Entry(row).Path));
        ListView_SetItemText(LvwFiles, row, 0, name.data());
        ListView_SetItemText(LvwFiles, row, 1, folder.data());
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

void TFrmMain::DeleteRow(int row) {
  Batch.Remove(row);
  ListView_DeleteItem(LvwFiles, row);
  if (Settings.SelectedFile) ShowFirstSelectedRowMessages();
  ShowSelectedRowDamage();
}
