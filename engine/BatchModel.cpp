#include "engine/BatchModel.h"

#include <cstdio>
#include <unordered_set>

#include "engine/BatchSummary.h"
#include "lang/Language.h"
#include "util/FolderFiles.h"
#include "util/Paths.h"

namespace VEKRiff {

namespace {

const VEK::MessagePair MsgModifyOriginal = {
    {"You are about to modify original files. It is strongly recommended to create backups first. Click OK to start "
     "modifying them or Cancel to abort the operation.",
     "Vous êtes sur le point de modifier des fichiers originaux. Il est fortement recommandé d'en faire une "
     "sauvegarde avant. Cliquer sur OK pour commencer la modification ou Annuler pour interrompre ce procédé."}};
const VEK::MessagePair MsgMarkedFiles = {
    {"Proceed with marked files as well ?", "Procéder avec les fichiers marqués aussi ?"}};
// The marked-rows question is captioned by the command that asks it.
const VEK::MessagePair MsgCheckErrorsCaption = {{"Check Errors", "Vérifier les erreurs"}};
const VEK::MessagePair MsgRebuildIndexCaption = {{"Rebuild Index", "Reconstruire l'index"}};

const VEK::MessagePair MsgFilmPosition = {{"at %s, frame %d", "à %s, image %d"}};

RowMark MarkOf(FileResult result) {
  switch (result) {
    case FileResult::Healthy:
    case FileResult::Repaired:
      return MarkOk;
    case FileResult::Damaged:
    case FileResult::Failed:
      return MarkErrors;
    case FileResult::Rebuilt:
      return MarkRebuilt;
    case FileResult::NotAvi:
      return MarkNotAvi;
    case FileResult::Skipped:
      return MarkSkipped;
    case FileResult::Stopped:
      return MarkAborted;
  }
  return MarkErrors;
}

}  // namespace

std::string FilmPositionText(const FilmPosition& at) {
  const std::int64_t seconds = at.Milliseconds / 1000;
  char clock[32];
  std::snprintf(clock, sizeof clock, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return VEK::Text(MsgFilmPosition, {std::string(clock), at.Frame});
}

BatchSettings BatchSettingsOf(const Config& c) {
  BatchSettings s;
  s.KeepOriginal = c.KeepOriginal;
  s.Prefix = c.Prefix;
  s.ModifyOriginalPrompt = c.ModifyOriginalPrompt;
  s.OverwritePrompt = c.OverwritePrompt;
  s.OverwriteBehavior = c.OverwriteBehavior;
  s.AutoClear = c.AutoClear;
  return s;
}

bool BatchModel::Add(const std::string& path) {
  std::string key = VEK::FileKey(path);
  if (!keys_.insert(key).second) return false;
  BatchEntry entry;
  entry.Path = VEK::AbsolutePath(path);
  entry.Key = std::move(key);
  entries_.push_back(std::move(entry));
  return true;
}

int BatchModel::AddPaths(const std::vector<std::string>& paths) {
  // Made absolute before the folders are listed, so that every file found
  // carries a whole path.
  std::vector<std::string> absolute;
  for (const std::string& p : paths) absolute.push_back(VEK::AbsolutePath(p));
  int added = 0;
  for (const std::string& file : VEK::ExpandPaths(absolute)) added += Add(file);
  return added;
}

void BatchModel::Remove(int row) {
  if (row < 0 || row >= Count()) return;
  keys_.erase(entries_[row].Key);
  entries_.erase(entries_.begin() + row);
}

void BatchModel::Clear() {
  entries_.clear();
  keys_.clear();
}

void BatchModel::SetMark(int row, RowMark mark) {
  if (row < 0 || row >= Count()) return;
  entries_[row].Mark = mark;
  entries_[row].Repaired = false;
  if (mark == MarkNone || mark == MarkBusy) entries_[row].Result.clear();
}

std::vector<int> BatchModel::ChooseRows(bool checkOnly, const std::vector<bool>& selected,
                                        const BatchSettings& settings, Prompts& prompts) const {
  std::vector<int> rows;
  int selectedCount = 0;
  for (int i = 0; i < Count() && i < static_cast<int>(selected.size()); ++i) selectedCount += selected[i];
  const bool selectedOnly = selectedCount > 1;
  enum { Undecided, Include, Exclude } choice = Undecided;
  for (int i = 0; i < Count(); ++i) {
    if (selectedOnly && !(i < static_cast<int>(selected.size()) && selected[i])) continue;
    const bool marked = entries_[i].Mark != MarkNone;
    if (marked && choice == Undecided) {
      const PromptAnswer answer = prompts.Ask(VEK::Text(checkOnly ? MsgCheckErrorsCaption : MsgRebuildIndexCaption),
                                              VEK::Text(MsgMarkedFiles), PromptButtons::YesNo, PromptIcon::Question);
      choice = answer == PromptAnswer::No ? Exclude : Include;
    }
    if (!marked || choice == Include) rows.push_back(i);
  }
  if (rows.empty()) return rows;
  // An empty prefix names the original itself: a rebuild that keeps the
  // original then rewrites it in place, and is warned about like one.
  const bool modifiesOriginal = !settings.KeepOriginal || settings.Prefix.empty();
  if (!checkOnly && modifiesOriginal && settings.ModifyOriginalPrompt &&
      prompts.Ask(VEK::Text(MsgRebuildIndexCaption), VEK::Text(MsgModifyOriginal), PromptButtons::OkCancelDefaultCancel,
                  PromptIcon::Warning) != PromptAnswer::Ok)
    rows.clear();
  return rows;
}

FileList BatchModel::Begin(std::vector<int> rows, bool checkOnly, const BatchSettings& settings) {
  FileList files;
  for (int row : rows) {
    SetMark(row, MarkNone);
    files.push_back(entries_[row].Path);
  }
  rows_ = std::move(rows);
  settings_ = settings;
  checkOnly_ = checkOnly;
  file_ = 0;
  outcomes_.assign(rows_.size(), FileStarted);
  healthySkips_.assign(rows_.size(), false);
  repaired_.assign(rows_.size(), false);
  forAll_.reset();
  if (settings.AutoClear) allLines_.clear();
  return files;
}

int BatchModel::BatchRow(int fileIndex) const {
  if (fileIndex < 0 || fileIndex >= BatchSize()) return -1;
  const int row = rows_[fileIndex];
  return row < Count() ? row : -1;
}

BatchChange BatchModel::Handle(IndexRebuilder& worker, Prompts& prompts) {
  BatchChange change;
  change.Event = worker.Event();
  const int index = worker.FileIndex();
  change.Row = BatchRow(index);
  BatchEntry* entry = change.Row >= 0 ? &entries_[change.Row] : nullptr;
  switch (worker.Event()) {
    case FileStarted:
      file_ = index;
      if (!entry) break;
      entry->Output = worker.OutputFileName();
      SetMark(change.Row, MarkBusy);
      if (settings_.AutoClear) entry->Lines.clear();
      break;
    case FileOpening: {
      // A copy named as its source (a prefix of "./", a link to it) is no
      // existing destination to skip or replace: the worker refuses it and
      // says why. An empty prefix that stands for the rewrite in place is
      // asked about like any existing copy.
      if (!entry || !OutputExists(worker)) break;
      const bool rewritesInPlace = worker.EmptyPrefixInPlace && worker.Prefix.empty();
      if (!rewritesInPlace && VEK::SameFile(entry->Path, worker.OutputFileName())) break;
      if (!settings_.OverwritePrompt) {
        ApplyOverwriteBehavior(worker, settings_.OverwriteBehavior);
        break;
      }
      // "Yes to all" or "No to all" answered for an earlier file of the run.
      if (forAll_) {
        ApplyOverwriteAnswer(worker, *forAll_);
        break;
      }
      // Of several files, each may have a copy already: the answer can be
      // for them all.
      const PromptAnswer answer = prompts.Ask(
          OverwriteCaption(), OverwriteQuestion(worker),
          BatchSize() > 1 ? PromptButtons::YesNoAllCancel : PromptButtons::YesNoCancel, PromptIcon::Question);
      const OverwriteAnswer given =
          answer == PromptAnswer::Yes || answer == PromptAnswer::YesToAll ? OverwriteAnswer::Yes
          : answer == PromptAnswer::No || answer == PromptAnswer::NoToAll ? OverwriteAnswer::No
                                                                          : OverwriteAnswer::Cancel;
      if (answer == PromptAnswer::YesToAll || answer == PromptAnswer::NoToAll) forAll_ = given;
      ApplyOverwriteAnswer(worker, given);
      break;
    }
    case FileOk:
    case FileError:
    case FileRebuilt:
    case Aborted:
    case FileSkipped: {
      const bool repaired = worker.Event() == FileOk && worker.Repaired();
      if (index >= 0 && index < BatchSize()) {
        outcomes_[index] = worker.Event();
        // Left alone because it is healthy, as asked: no failure.
        healthySkips_[index] = worker.Event() == FileSkipped && worker.Reason() == FailureReason::NoRepairNeeded;
        repaired_[index] = repaired;
      }
      if (!entry) break;
      const FileResult result = ResultOf(worker.Event(), worker.FailureText(), worker.Reason(), repaired);
      entry->Mark = MarkOf(result);
      entry->Repaired = result == FileResult::Repaired;
      entry->Result = ResultText(result, worker.ErrorCount(), worker.FailureText());
      entry->Damage = worker.Damage();
      break;
    }
    case MessageAdded:
      if (!KeepLines && !(ShowFilmPositions && worker.MessageAt())) {
        change.Line = worker.Message();
        break;
      }
      if (!KeepLines) {
        shownLine_ = LineOf(worker);
        change.Line = shownLine_;
        break;
      }
      KeepLine(index, LineOf(worker));
      change.Line = allLines_.back();
      break;
  }
  return change;
}

std::string BatchModel::LineOf(const IndexRebuilder& worker) const {
  if (!ShowFilmPositions || !worker.MessageAt()) return worker.Message();
  return worker.Message() + " \u2014 " + FilmPositionText(*worker.MessageAt());
}

int BatchModel::KeepLine(int fileIndex, std::string_view line) {
  const int row = BatchRow(fileIndex);
  allLines_.push_back(line);
  if (row >= 0) entries_[row].Lines.push_back_last_of(allLines_);
  return row;
}

bool BatchModel::QueueLine(const IndexRebuilder& worker) {
  if (worker.Event() != MessageAdded) return false;
  const std::string line = LineOf(worker);
  const std::lock_guard<std::mutex> lock(queueMutex_);
  queued_.push_back(line);
  queuedFiles_.push_back(worker.FileIndex());
  return true;
}

void BatchModel::TakeQueuedLines(const std::function<void(int row, const LineList& kept)>& shown) {
  {
    // The two queues trade places, so that the worker goes on writing into
    // memory it has written before.
    const std::lock_guard<std::mutex> lock(queueMutex_);
    std::swap(taken_, queued_);
    std::swap(takenFiles_, queuedFiles_);
  }
  for (std::size_t i = 0; i < taken_.size(); ++i) shown(KeepLine(takenFiles_[i], taken_[i]), allLines_);
  taken_.clear();
  takenFiles_.clear();
}

std::optional<std::string> BatchModel::SummaryLine() const {
  if (outcomes_.size() < 2) return std::nullopt;
  return VEKRiff::SummaryLine(TallyOf(outcomes_, checkOnly_, repaired_), checkOnly_);
}

bool BatchModel::AllSucceeded() const {
  for (std::size_t i = 0; i < outcomes_.size(); ++i)
    if (outcomes_[i] != FileOk && outcomes_[i] != FileRebuilt && !healthySkips_[i]) return false;
  return true;
}

}  // namespace VEKRiff
