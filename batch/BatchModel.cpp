#include "batch/BatchModel.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "batch/BatchSummary.h"
#include "batch/RowFiles.h"
#include "batch/RunDisplay.h"
#include "file/NamesOnDisk.h"
#include "lang/Language.h"
#include "util/FolderFiles.h"
#include "util/Paths.h"

namespace VEKRiff {

namespace {

// The warning names what it is about: how many originals, and the first few.
const VEK::MessagePair MsgModifyOriginalOne = {
    {"You are about to modify 1 original file:", "Vous êtes sur le point de modifier 1 fichier original :"}};
const VEK::MessagePair MsgModifyOriginals = {
    {"You are about to modify %d original files:", "Vous êtes sur le point de modifier %d fichiers originaux :"}};
const VEK::MessagePair MsgAndMore = {{"and %d more", "et %d autres"}};
const VEK::MessagePair MsgModifyOriginalAdvice = {
    {"It is strongly recommended to create backups first. Click OK to start modifying them or Cancel to abort the "
     "operation.",
     "Il est fortement recommandé d'en faire une sauvegarde avant. Cliquer sur OK pour commencer la modification ou "
     "Annuler pour interrompre ce procédé."}};
const VEK::MessagePair MsgLeftOutOne = {
    {"1 file with an earlier result was left out.", "1 fichier ayant déjà un résultat a été laissé de côté."}};
const VEK::MessagePair MsgLeftOut = {
    {"%d files with an earlier result were left out.", "%d fichiers ayant déjà un résultat ont été laissés de côté."}};
constexpr std::size_t NamedOriginals = 5;
const VEK::MessagePair MsgMarkedFiles = {
    {"Proceed with marked files as well ?", "Procéder avec les fichiers marqués aussi ?"}};
// The marked-rows question is captioned by the command that asks it.
const VEK::MessagePair MsgCheckErrorsCaption = {{"Check Errors", "Vérifier les erreurs"}};
const VEK::MessagePair MsgRebuildIndexCaption = {{"Rebuild Index", "Reconstruire l'index"}};

// Where a rebuild's output went, for a person to find it.
const VEK::MessagePair MsgWrittenTo = {{"Written to %s", "Écrit dans %s"}};
const VEK::MessagePair MsgRebuiltInPlace = {{"Rebuilt in place: %s", "Reconstruit sur place : %s"}};

const VEK::MessagePair MsgFilmPosition = {{"at %s, frame %d", "à %s, image %d"}};
const VEK::MessagePair MsgFilmTime = {{"at %s", "à %s"}};

RowMark MarkOf(OutcomeKind outcome) {
  switch (outcome) {
    case OutcomeKind::Healthy:
    case OutcomeKind::Repaired: return MarkOk;
    case OutcomeKind::Rebuilt: return MarkRebuilt;
    case OutcomeKind::NotAvi: return MarkNotAvi;
    case OutcomeKind::LeftHealthy:
    case OutcomeKind::Skipped: return MarkSkipped;
    case OutcomeKind::Stopped: return MarkAborted;
    default: return MarkErrors;
  }
}

}  // namespace

std::string FilmPositionText(const FilmPosition& at, bool withFrame) {
  const std::int64_t seconds = at.Milliseconds / 1000;
  char clock[32];
  std::snprintf(clock, sizeof clock, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return withFrame ? VEK::Text(MsgFilmPosition, {std::string(clock), at.Frame})
                   : VEK::Text(MsgFilmTime, {std::string(clock)});
}

std::string FilmPositionNote(const Finding& finding) {
  if (!finding.At) return {};
  return " \u2014 " + FilmPositionText(*finding.At, !LineNamesFrame(finding));
}

std::string ResultOf(const BatchEntry& entry) {
  return ResultText(entry.Report.Outcome, static_cast<int>(entry.Report.Errors), entry.Report.Failure,
                    FilmInWords(entry.Damage));
}

RunOptions RunOptionsOf(const Config& c, bool checkOnly, const std::string& referenceFile) {
  RunOptions s;
  s.CheckOnly = checkOnly;
  if (!checkOnly) s.ReferenceFile = referenceFile;
  s.SkipHealthy = c.SkipHealthy;
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

int BatchModel::AddPaths(const std::vector<std::string>& paths, const std::string& copyPrefix) {
  // Made absolute before the folders are listed, so that every file found
  // carries a whole path.
  std::vector<std::string> absolute;
  for (const std::string& p : paths) absolute.push_back(VEK::AbsolutePath(p));
  int added = 0;
  for (const std::string& file : VEK::ExpandPaths(absolute, copyPrefix)) added += Add(file);
  return added;
}

void BatchModel::Remove(int row) {
  if (row < 0 || row >= Count()) return;
  keys_.erase(entries_[row].Key);
  entries_.erase(entries_.begin() + row);
}

bool BatchModel::TakeOutput(int row) {
  if (row < 0 || row >= Count()) return false;
  BatchEntry& entry = entries_[row];
  const std::optional<std::string> copy = CopyOf(entry);
  if (!copy) return false;
  std::string key = VEK::FileKey(*copy);
  if (!keys_.insert(key).second) return false;
  keys_.erase(entry.Key);
  entry.Key = std::move(key);
  entry.Path = *copy;
  return true;
}

void BatchModel::Clear() {
  entries_.clear();
  keys_.clear();
}

void BatchModel::SetMark(int row, RowMark mark) {
  if (row < 0 || row >= Count()) return;
  entries_[row].Mark = mark;
  entries_[row].Repaired = false;
  if (mark == MarkNone || mark == MarkBusy) entries_[row].Report.Outcome = OutcomeKind::NotDone;
}

void StartWorker(IndexRebuilder& worker, const FileList& files, const RunOptions& options) {
  worker.ReferenceFile = options.ReferenceFile;
  worker.SkipHealthy = options.SkipHealthy;
  worker.Start(std::make_shared<FileList>(files), options.Rule());
}

RunChoice BatchModel::ChooseRows(const RunOptions& options, RunScope scope, const std::vector<bool>& selected,
                                Prompts& prompts) const {
  const bool checkOnly = options.CheckOnly;
  RunChoice choice;
  enum { Undecided, Include, Exclude } marked = scope == RunScope::SelectedRows ? Include : Undecided;
  for (int i = 0; i < Count(); ++i) {
    if (scope == RunScope::SelectedRows && !(i < static_cast<int>(selected.size()) && selected[i])) continue;
    const bool hasResult = entries_[i].Mark != MarkNone;
    if (hasResult && marked == Undecided) {
      const PromptAnswer answer = prompts.Ask(VEK::Text(checkOnly ? MsgCheckErrorsCaption : MsgRebuildIndexCaption),
                                              VEK::Text(MsgMarkedFiles), PromptButtons::YesNo, PromptIcon::Question);
      marked = answer == PromptAnswer::No ? Exclude : Include;
    }
    if (!hasResult || marked == Include)
      choice.Rows.push_back(i);
    else
      ++choice.LeftOut;
  }
  if (choice.Rows.empty() || !options.Rule().RewritesOriginals() || !options.ModifyOriginalPrompt) return choice;
  const std::size_t count = choice.Rows.size();
  std::string warning = count == 1 ? VEK::Text(MsgModifyOriginalOne)
                                   : VEK::Text(MsgModifyOriginals, {static_cast<std::int64_t>(count)});
  for (std::size_t i = 0; i < count && i < NamedOriginals; ++i)
    warning += "\n" + VEK::ExtractFileName(entries_[choice.Rows[i]].Path);
  if (count > NamedOriginals) warning += "\n" + VEK::Text(MsgAndMore, {static_cast<std::int64_t>(count - NamedOriginals)});
  warning += "\n\n" + VEK::Text(MsgModifyOriginalAdvice);
  if (prompts.Ask(VEK::Text(MsgRebuildIndexCaption), warning, PromptButtons::OkCancelDefaultCancel,
                  PromptIcon::Warning) != PromptAnswer::Ok)
    choice.Rows.clear();
  return choice;
}

std::string LeftOutLine(int count) {
  return count == 1 ? VEK::Text(MsgLeftOutOne) : VEK::Text(MsgLeftOut, {count});
}

FileList BatchModel::Begin(std::vector<int> rows, const RunOptions& options) {
  FileList files;
  for (int row : rows) files.push_back(entries_[row].Path);
  run_ = Run{options, std::move(rows), std::vector<OutcomeKind>(files.size(), OutcomeKind::NotDone), 0, std::nullopt};
  if (options.AutoClear) allLines_.clear();
  return files;
}

int BatchModel::BatchRow(int fileIndex) const {
  if (fileIndex < 0 || fileIndex >= BatchSize()) return -1;
  const int row = run_.Rows[fileIndex];
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
      run_.File = index;
      if (!entry) break;
      entry->Output = worker.OutputFileName();
      SetMark(change.Row, MarkBusy);
      if (run_.Options.AutoClear) entry->Lines.clear();
      entry->Report = EntryReport{};
      break;
    case FileOpening: {
      // A copy named as its source (a prefix of "./", a link to it) is no
      // existing destination to skip or replace: the worker refuses it and
      // says why. An empty prefix that stands for the rewrite in place is
      // asked about like any existing copy.
      if (!entry || !OutputExists(worker)) break;
      if (worker.Mode() == BackupFile::Mode::Copy && VEK::SameFile(entry->Path, worker.OutputFileName())) break;
      if (!run_.Options.OverwritePrompt) {
        ApplyOverwriteBehavior(worker, run_.Options.OverwriteBehavior);
        break;
      }
      // "Yes to all" or "No to all" answered for an earlier file of the run.
      if (run_.ForAll) {
        ApplyOverwriteAnswer(worker, *run_.ForAll);
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
      if (answer == PromptAnswer::YesToAll || answer == PromptAnswer::NoToAll) run_.ForAll = given;
      ApplyOverwriteAnswer(worker, given);
      break;
    }
    case FileOk:
    case FileError:
    case FileRebuilt:
    case Aborted:
    case FileSkipped: {
      if (index >= 0 && index < BatchSize()) run_.Outcomes[index] = worker.Outcome();
      if (!entry) break;
      entry->Mark = MarkOf(worker.Outcome());
      entry->Repaired = worker.Outcome() == OutcomeKind::Repaired;
      entry->Damage = worker.Damage();
      entry->Report.Outcome = worker.Outcome();
      entry->Report.Errors = worker.ErrorCount();
      entry->Report.VideoFrames = worker.VideoFrameCount();
      entry->Report.AudioSamples = worker.AudioSampleCount();
      entry->Report.Failure = Succeeded(worker.Outcome()) ? std::string() : worker.FailureText();
      if (worker.Outcome() == OutcomeKind::Rebuilt && KeepLines)
        KeepLine(index, worker.Mode() == BackupFile::Mode::Copy
                            ? VEK::Text(MsgWrittenTo, {worker.OutputFileName()})
                            : VEK::Text(MsgRebuiltInPlace, {entry->Path}));
      break;
    }
    case MessageAdded:
      KeepLine(index, LineOf(worker), worker.MessageFinding(), worker.Message().size());
      change.Line = allLines_.back();
      break;
  }
  return change;
}

std::string BatchModel::LineOf(const IndexRebuilder& worker) const {
  if (!ShowFilmPositions || !worker.MessageFinding()) return worker.Message();
  return worker.Message() + FilmPositionNote(*worker.MessageFinding());
}

int BatchModel::KeepLine(int fileIndex, std::string_view line, const Finding* finding, std::size_t messageLength) {
  const int row = BatchRow(fileIndex);
  ++linesSaid_;
  if (!KeepLines) allLines_.clear();
  allLines_.push_back(line);
  if (row < 0 || !KeepLines) return row;
  BatchEntry& entry = entries_[row];
  if (finding) {
    KeptFinding kept = KeptFinding::Of(*finding, std::min(messageLength, line.size()));
    kept.Line = static_cast<std::uint32_t>(entry.Lines.size());
    entry.Report.Findings.push_back(kept);
  }
  entry.Lines.push_back_last_of(allLines_);
  return row;
}

KeptFinding KeptFinding::Of(const Finding& finding, std::size_t messageLength) {
  KeptFinding kept;
  kept.Offset = finding.Offset;
  if (finding.At) {
    kept.Frame = finding.At->Frame;
    kept.Milliseconds = finding.At->Milliseconds;
  }
  kept.MessageLength = static_cast<std::uint32_t>(messageLength);
  kept.Stream = finding.Stream;
  kept.Kind = finding.Kind;
  kept.Error = finding.Error;
  return kept;
}

Finding KeptFinding::Facts() const {
  Finding f;
  f.Error = Error;
  if (Frame >= 0) f.At = FilmPosition{Frame, Milliseconds};
  f.Kind = Kind;
  f.Offset = Offset;
  f.Stream = Stream;
  return f;
}

bool BatchModel::QueueLine(const IndexRebuilder& worker) {
  if (worker.Event() != MessageAdded) return false;
  // A file with hundreds of thousands of spots queues as many lines: each
  // is copied once, into the queue's blocks, and its finding without it.
  const Finding* finding = worker.MessageFinding();
  const std::string withPlace = ShowFilmPositions && finding ? LineOf(worker) : std::string();
  const std::string_view line = withPlace.empty() ? std::string_view(worker.Message()) : withPlace;
  const std::lock_guard<std::mutex> lock(queueMutex_);
  queued_.push_back(line);
  queuedFiles_.push_back(worker.FileIndex());
  queuedFindings_.push_back(finding ? std::optional(KeptFinding::Of(*finding, worker.Message().size())) : std::nullopt);
  return true;
}

void BatchModel::TakeQueuedLines(const LineShown& shown) {
  {
    // The two queues trade places, so that the worker goes on writing into
    // memory it has written before.
    const std::lock_guard<std::mutex> lock(queueMutex_);
    std::swap(taken_, queued_);
    std::swap(takenFiles_, queuedFiles_);
    std::swap(takenFindings_, queuedFindings_);
  }
  for (std::size_t i = 0; i < taken_.size(); ++i) {
    const std::string_view line = taken_[i];
    const std::optional<KeptFinding>& kept = takenFindings_[i];
    const std::optional<Finding> finding = kept ? std::optional(kept->Facts()) : std::nullopt;
    const std::size_t messageLength = kept ? std::min<std::size_t>(kept->MessageLength, line.size()) : line.size();
    const int row = KeepLine(takenFiles_[i], line, finding ? &*finding : nullptr, messageLength);
    shown(row, allLines_, finding ? &*finding : nullptr, line.substr(0, messageLength));
  }
  taken_.clear();
  takenFiles_.clear();
  takenFindings_.clear();
}

std::optional<std::string> BatchModel::SummaryLine() const {
  if (run_.Outcomes.size() < 2) return std::nullopt;
  return VEKRiff::SummaryLine(TallyOf(run_.Outcomes, run_.Options.CheckOnly), run_.Options.CheckOnly);
}

bool BatchModel::AllSucceeded() const {
  return std::all_of(run_.Outcomes.begin(), run_.Outcomes.end(), Succeeded);
}

}  // namespace VEKRiff
