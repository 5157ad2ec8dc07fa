// The repair engine's batch runner: a worker thread that checks a list of AVI
// files or rebuilds their indexes, one file after the other, reporting every
// step to its owner through synchronous notifications. Each file goes the
// same road: choose the output, open the file pair, walk, check, write,
// finish, report; the walk, the checks and the writers are functions of
// their own that it calls in that order.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Failures.h"
#include "engine/FileDamage.h"
#include "engine/HeaderCounts.h"
#include "engine/Outcome.h"
#include "engine/OutputRule.h"
#include "engine/ScanResult.h"
#include "file/BackupFile.h"
#include "file/SafeOutput.h"
#include "lang/Language.h"
#include "util/Exception.h"
#include "util/SmartPointers.h"
#include "util/Thread.h"

namespace VEKRiff {

// Notification codes; the values are part of the protocol with front-ends.
enum RebuildEvent : std::uint8_t {
  FileStarted = 0,
  FileOpening = 1,
  FileOk = 2,
  FileError = 3,
  FileRebuilt = 4,
  Aborted = 5,
  MessageAdded = 6,
  FileSkipped = 7,
};

using FileList = std::vector<std::string>;

class IndexRebuilder : public VEK::Thread {
 public:
  using Exception = EngineException;
  using ErrorException = VEKRiff::ErrorException;
  using SkipException = VEKRiff::SkipException;
  using AbortException = VEKRiff::AbortException;

  static constexpr const char* DefaultPrefix = "Zantrel.";

  using EventHandler = std::function<void(IndexRebuilder& sender)>;

  explicit IndexRebuilder(VEK::HandOverQueue& owner);
  ~IndexRebuilder() override;

  // Owner's thread. Assign before Start.
  EventHandler OnEvent;
  // The handler is called on the worker's own thread instead of being handed
  // over to the owner's, still before the worker goes on: for a front-end
  // whose handler guards what it shares with its own thread (the console's,
  // which prints each line). A hand-over costs two thread wake-ups, which a
  // file with hundreds of thousands of lines pays for each of them.
  bool EventsOnWorkerThread = false;
  // A healthy file from the same camera or encoder: a rebuild takes the
  // formats of a damaged or lost header list from it. Empty: none.
  std::string ReferenceFile;
  // A rebuild leaves a file the check finds healthy as it is: skipped, with
  // nothing written.
  bool SkipHealthy = false;

  // Each file's output follows rule, decided by the front-end once for the run.
  void Start(VEK::RefCount<FileList> files, const OutputRule& rule);
  // The outcome text replaces the exception's own message in the log.
  void Abort(const std::string& outcomeText);
  // Meaningful only while the worker waits in FileOpening.
  void Skip(const std::string& outcomeText);
  // From the worker, and from the owner inside a notification.
  void AddMessage(const std::string& text);

  // Readable inside OnEvent.
  RebuildEvent Event() const { return Event_; }
  const std::string& Message() const { return Message_; }
  // With a MessageAdded about a damaged spot: where it lies in the film.
  const std::optional<FilmPosition>& MessageAt() const { return MessageAt_; }
  // With a MessageAdded that tells a finding of the walk or the checks: what
  // it is about (its Line left empty: the line is Message()); null for the
  // worker's own lines.
  const Finding* MessageFinding() const { return MessageIsFinding_ ? &MessageFinding_ : nullptr; }
  const std::string& OutputFileName() const { return File.OutputFileName; }
  int FileIndex() const { return File.Index; }
  const OutputRule& Rule() const { return Rule_; }
  // The current file's output mode, from the rule.
  BackupFile::Mode Mode() const { return File.Mode; }
  // In an outcome notification: the line that ended the file when it did
  // not reach its Done line (the failure's reason), else empty.
  const std::string& FailureText() const { return File.FailureText; }
  // In an outcome notification: what became of the file.
  OutcomeKind Outcome() const { return File.Outcome; }
  // In an outcome notification: where the walk found the file damaged
  // (empty where it did not walk it).
  const FileDamage& Damage() const { return File.Damage; }

  // Readable at any time; they belong to the current file.
  std::int32_t Progress() const { return Counts.FileProgress(); }
  std::int32_t ErrorCount() const { return Counts.Errors.load(std::memory_order_relaxed); }
  std::int64_t VideoFrameCount() const { return Counts.VideoFrames.load(std::memory_order_relaxed); }
  std::int64_t AudioSampleCount() const { return Counts.AudioSamples.load(std::memory_order_relaxed); }

 protected:
  void Execute() override;

 private:
  // The road of one file.
  void ProcessFile(const std::string& path);
  void ShowTotals(const DataTotals& totals);
  std::unique_ptr<BackupFile> OpenFile(const std::string& path);
  // The header list of ReferenceFile for the file at path; a reference that
  // cannot be opened, or is that very file, fails the file with its reason.
  VEKAvi::AviHeaders ReferenceHeaders(const std::string& path) const;
  // Logs and counts what the walk or a check found.
  void Log(const Finding& finding);
  // Where a stop may take effect: anywhere in a check or a copy, in place
  // only up to the first write (half an index is worse than either).
  StopCheck StopPoint();
  // Turns the failure being handled into the file's outcome and its line;
  // true when the batch ends with it.
  bool ReportFailure();
  // Ends the file with its outcome and the notification that tells it.
  void ReportOutcome(OutcomeKind kind);
  void Notify(RebuildEvent code);
  void CheckAbort();
  void DiscardOutput();

  VEK::RefCount<FileList> Files = std::make_shared<FileList>();
  OutputRule Rule_;
  // What a front-end asked to be said when the batch stops (Abort).
  std::string AbortText;
  mutable std::mutex AbortTextLock;
  RebuildEvent Event_ = FileStarted;
  std::string Message_;
  std::optional<FilmPosition> MessageAt_;
  Finding MessageFinding_;
  bool MessageIsFinding_ = false;
  // What belongs to the file under way: a new value at each file's start.
  // (The front-ends go on reading the last file's after the batch.)
  struct CurrentFile {
    int Index = 0;
    BackupFile::Mode Mode = BackupFile::Mode::Check;
    std::string OutputFileName;
    // The skip a front-end asked for in FileOpening, and what to say.
    bool SkipRequested = false;
    std::string SkipText;
    // The line a failure, a skip or a stop ends the file with, once known.
    std::string FailureText;
    OutcomeKind Outcome = OutcomeKind::NotDone;
    FileDamage Damage;
    // A copy is written under a temporary name beside its final one and
    // renamed when it is complete; null when no copy is being written.
    std::unique_ptr<VEKFile::SafeOutput> Output;
  };
  CurrentFile File;
  LiveCounts Counts;
};

}  // namespace VEKRiff
