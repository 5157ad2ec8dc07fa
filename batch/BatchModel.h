// The file list and its runs, as every front-end shows them: which rows a
// Check or Rebuild takes and what it asks first, what each notification of
// the worker does to its row, the lines of each file and of the whole list,
// how an existing copy is settled, and what the batch came to. A front-end is
// a view over it: it shows the rows and answers the questions, each its own
// way.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "batch/ExistingOutput.h"
#include "engine/IndexRebuilder.h"
#include "batch/LineList.h"
#include "batch/Prompts.h"
#include "batch/RowMark.h"
#include "engine/OutputRule.h"
#include "settings/Config.h"

namespace VEKRiff {

// A finding as a row keeps it for the report: its message is the first
// MessageLength bytes of the row's line number Line (the rest, a place in
// the film the list shows). Small: a film can have hundreds of thousands.
struct KeptFinding {
  std::int64_t Offset = -1;
  std::int64_t Frame = -1;  // -1 with Milliseconds: no place in the film
  std::int64_t Milliseconds = -1;
  std::uint32_t Line = 0;
  std::uint32_t MessageLength = 0;
  std::int32_t Stream = -1;
  FindingKind Kind = FindingKind::Note;
  bool Error = false;

  // A finding without its line; messageLength: the size of its message in
  // the line kept (which may end with the place in the film).
  static KeptFinding Of(const Finding& finding, std::size_t messageLength);
  // The finding again, its Line left empty.
  Finding Facts() const;
};

// What the latest run made of a row, for the report.
struct EntryReport {
  OutcomeKind Outcome = OutcomeKind::NotDone;  // NotDone: no run came to it
  std::int64_t Errors = 0, VideoFrames = 0, AudioSamples = 0;
  std::string Failure;
  std::deque<KeptFinding> Findings;  // a deque: a long list grows without moving
};

struct BatchEntry {
  std::string Path;  // absolute, in the file system's bytes
  std::string Key;   // the file as VEK::FileKey names it
  RowMark Mark = MarkNone;
  bool Repaired = false;              // with MarkOk: healthy because its own index skips its damage
  LineList Lines;                     // its own Messages Center lines
  std::optional<std::string> Output;  // the latest run's output path
  FileDamage Damage;                  // what the latest run found
  EntryReport Report;                 // and what it came to, for scripts
};

// What became of a row's file, in words in the current language; empty until
// a run's outcome.
std::string ResultOf(const BatchEntry& entry);

// Everything a run follows, from the Configuration's values or the console's
// options: decided once when the run starts.
struct RunOptions {
  bool CheckOnly = true;
  bool KeepOriginal = true;
  std::string Prefix = IndexRebuilder::DefaultPrefix;
  std::string ReferenceFile;  // a rebuild's healthy file from the same camera; empty: none
  bool SkipHealthy = false;   // a rebuild leaves the files a check finds healthy as they are
  bool ModifyOriginalPrompt = true;
  bool OverwritePrompt = true;
  int OverwriteBehavior = OverwriteSkip;
  bool AutoClear = true;  // a file's new run replaces its lines; a run's start, the list's
  // An empty prefix names the original, rewritten in place (the window's
  // way); false: a copy that is its own source (the console's).
  bool EmptyPrefixInPlace = true;
  // A rebuild's copies all go into this folder (a recovery's films); empty:
  // each beside its file.
  std::string OutputFolder;

  // Where each file's output goes.
  OutputRule Rule() const {
    if (!CheckOnly && !OutputFolder.empty()) return CopyIntoRule(OutputFolder, Prefix);
    return RuleOf(CheckOnly, KeepOriginal, Prefix, EmptyPrefixInPlace);
  }
};

// The Configuration's values for a Check (checkOnly) or a Rebuild, with the
// reference file chosen in the window.
RunOptions RunOptionsOf(const Config& config, bool checkOnly, const std::string& referenceFile = {});

// A worker for the files of a run begun with options, started.
void StartWorker(IndexRebuilder& worker, const FileList& files, const RunOptions& options);

// Which rows a command runs: the toolbar's and the menus' the whole list,
// the row menu's the rows selected.
enum class RunScope { WholeList, SelectedRows };

struct RunChoice {
  std::vector<int> Rows;  // empty: nothing to run
  int LeftOut = 0;        // rows with an earlier result the user left out
};

// "3 files with an earlier result were left out."
std::string LeftOutLine(int count);

// What a notification did: to which row, and the line it brought.
struct BatchChange {
  int Row = -1;  // -1: no row of the list (it went meanwhile)
  RebuildEvent Event = FileStarted;
  std::optional<std::string_view> Line;  // MessageAdded: the new line, until the next notification
};

// "at 00:01:23, frame 2085", in the current language; "at 00:01:23" for a
// line that names the frame itself (withFrame false).
std::string FilmPositionText(const FilmPosition& at, bool withFrame = true);
// What a damaged spot's line in the lists adds to the engine's: " \u2014 "
// and its place in the film, only the time where the line names the frame;
// empty for a finding with no place.
std::string FilmPositionNote(const Finding& finding);

class BatchModel {
 public:
  // ---- the list ----
  const std::vector<BatchEntry>& Entries() const { return entries_; }
  int Count() const { return static_cast<int>(entries_.size()); }
  const BatchEntry& Entry(int row) const { return entries_[row]; }
  // Appends a row for path, made absolute, unless the file already has one;
  // returns whether it did.
  bool Add(const std::string& path);
  // Files and folders in the order given: a folder adds the AVI files inside
  // it and its subfolders that are not hidden, in natural order, but for the
  // copies a rebuild named by copyPrefix made of the AVI files beside them.
  // Returns the number of rows added.
  int AddPaths(const std::vector<std::string>& paths, const std::string& copyPrefix = {});
  void Remove(int row);
  // The row's file is its output from now on: a recovery's staged film, once
  // rebuilt into its folder, is that film, its own repair. Returns false
  // where the row wrote no copy, or the copy has a row of its own.
  bool TakeOutput(int row);
  void Clear();
  // A mark of the front-end's own making (a row's mark reset by hand).
  void SetMark(int row, RowMark mark);

  // ---- a run ----
  // The rows a Check (checkOnly) or Rebuild takes. The whole list: every
  // row, those with a mark (an earlier run's result) only if the user says
  // so, asked once. The selected rows: each of them, as the user just chose
  // them. A rebuild that rewrites originals runs only once the user confirms
  // the warning that names them. Asks through prompts; changes nothing.
  RunChoice ChooseRows(const RunOptions& options, RunScope scope, const std::vector<bool>& selected,
                       Prompts& prompts) const;
  // Starts the batch of those rows (with AutoClear, the list's lines go).
  // Each row keeps its mark and result until the run reaches its file: a
  // run stopped early leaves the rows after it as they were. Returns the
  // files to hand to the worker, by the worker's file index.
  FileList Begin(std::vector<int> rows, const RunOptions& options);
  // Each worker notification, in the worker's order, while it waits: the row
  // changes, an existing copy is settled (asking through prompts unless the
  // settings answer), the line is kept.
  BatchChange Handle(IndexRebuilder& worker, Prompts& prompts);
  // The two halves of Handle for a MessageAdded, for a front-end that takes
  // lines on the worker's thread without a hand-over each and keeps them
  // later on its own, in their order: the line as the lists keep it (reads
  // only the worker and ShowFilmPositions), and the keeping. KeepLine
  // returns the line's row, -1 for none.
  std::string LineOf(const IndexRebuilder& worker) const;
  // finding: the worker's MessageFinding(), kept for the report with
  // messageLength, the size of the worker's Message() in line.
  int KeepLine(int fileIndex, std::string_view line, const Finding* finding = nullptr,
               std::size_t messageLength = 0);
  // The same for a window: on the worker's thread, a MessageAdded's line is
  // queued (true) instead of handed over; any other notification is left to
  // the caller to hand over (false). On the owner's thread, the queued lines
  // are kept in their order, each then given to shown with its row, as the
  // last of AllLines() (for a view to share its bytes), with its finding
  // (null: none) and the worker's message without the film's place.
  bool QueueLine(const IndexRebuilder& worker);
  using LineShown = std::function<void(int row, const LineList& kept, const Finding* finding, std::string_view message)>;
  void TakeQueuedLines(const LineShown& shown);

  // The rows of the run by the worker's file index, and the way back.
  const std::vector<int>& BatchRows() const { return run_.Rows; }
  int BatchRow(int fileIndex) const;
  int BatchSize() const { return static_cast<int>(run_.Rows.size()); }
  int BatchFile() const { return run_.File; }  // the one being worked on
  const RunOptions& BatchOptions() const { return run_.Options; }
  // What became of each file of the run, by file index (NotDone: not yet, or never).
  const std::vector<OutcomeKind>& BatchOutcomes() const { return run_.Outcomes; }
  // The whole batch's progress out of 100 per file, for the current file's.
  int BatchProgress(int fileProgress) const { return 100 * run_.File + fileProgress; }
  // After a batch of several files, the line that sums it up; none for one
  // file, whose own lines say it all.
  std::optional<std::string> SummaryLine() const;
  // Whether every file of the batch came out healthy, rebuilt, or left alone
  // because it needed no repair: the console's exit status.
  bool AllSucceeded() const;

  // Every line of the list's files in the order they came, and those of the
  // front-end's own (a refused drop, the summary).
  const LineList& AllLines() const { return allLines_; }
  // A line of the list's own, of no row.
  void AddLine(std::string_view line) { KeepLine(-1, line); }
  void ClearLines() { allLines_.clear(); }
  // A damaged spot's line in the lists ends with its place in the film
  // ("at 00:01:23, frame 2085"), for a person to find it in a player. The
  // console prints the engine's lines as they are.
  bool ShowFilmPositions = true;
  // False: lines are handed on as they come but not kept (a console prints
  // them, and a long batch would keep them all for nothing): AllLines()
  // holds the latest alone, and the rows keep no lines nor findings.
  bool KeepLines = true;
  // How many lines were kept or handed on so far: a line came when it grew.
  std::uint64_t LinesSaid() const { return linesSaid_; }

 private:
  std::vector<BatchEntry> entries_;
  std::unordered_set<std::string> keys_;  // the entries' keys
  LineList allLines_;
  std::uint64_t linesSaid_ = 0;
  std::mutex queueMutex_;
  LineList queued_;               // left by the worker's thread,
  std::vector<int> queuedFiles_;  // by file index
  // a line's finding, its place in the lists not known yet
  std::vector<std::optional<KeptFinding>> queuedFindings_;
  LineList taken_;                // and being kept on the owner's
  std::vector<int> takenFiles_;
  std::vector<std::optional<KeptFinding>> takenFindings_;
  // What belongs to the latest run: a new value at each Begin.
  struct Run {
    RunOptions Options;
    std::vector<int> Rows;              // by file index
    std::vector<OutcomeKind> Outcomes;  // by file index
    int File = 0;
    std::optional<OverwriteAnswer> ForAll;  // "Yes to all" / "No to all" in this run
  };
  Run run_;
};

}  // namespace VEKRiff
