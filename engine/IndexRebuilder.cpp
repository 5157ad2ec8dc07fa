#include "engine/IndexRebuilder.h"

#include <algorithm>
#include <cerrno>
#include <optional>

#include "engine/EngineMessages.h"
#include "engine/Finish.h"
#include "engine/HeaderCheck.h"
#include "engine/HeaderRebuild.h"
#include "engine/InPlaceIdx1.h"
#include "engine/IndexCheck.h"
#include "engine/IndexSalvage.h"
#include "engine/MoviWalk.h"
#include "engine/Timeline.h"
#include "file/NamesOnDisk.h"
#include "lang/SystemReason.h"
#include "util/Paths.h"

namespace VEKRiff {

IndexRebuilder::IndexRebuilder(VEK::HandOverQueue& owner) : VEK::Thread(owner) {}

IndexRebuilder::~IndexRebuilder() { TerminateAndWait(); }

void IndexRebuilder::Start(VEK::RefCount<FileList> files, const OutputRule& rule) {
  Files = files ? std::move(files) : std::make_shared<FileList>();
  Rule_ = rule;
  Resume();
}

void IndexRebuilder::Abort(const std::string& outcomeText) {
  {
    const std::lock_guard<std::mutex> lock(AbortTextLock);
    AbortText = outcomeText;
  }
  Terminate();
}

void IndexRebuilder::Skip(const std::string& outcomeText) {
  File.SkipText = outcomeText;
  File.SkipRequested = true;
}

void IndexRebuilder::AddMessage(const std::string& text) {
  Message_ = text;
  MessageAt_.reset();
  MessageIsFinding_ = false;
  Notify(MessageAdded);
}

void IndexRebuilder::Log(const Finding& finding) {
  if (finding.Error) Counts.Errors.fetch_add(1, std::memory_order_relaxed);
  Message_ = finding.Line;
  MessageAt_ = finding.At;
  MessageFinding_.Error = finding.Error;
  MessageFinding_.At = finding.At;
  MessageFinding_.Kind = finding.Kind;
  MessageFinding_.Offset = finding.Offset;
  MessageFinding_.Stream = finding.Stream;
  MessageIsFinding_ = true;
  Notify(MessageAdded);
}

void IndexRebuilder::Notify(RebuildEvent code) {
  Event_ = code;
  if (!OnEvent) return;
  if (EventsOnWorkerThread)
    OnEvent(*this);
  else
    Synchronize([this] { OnEvent(*this); });
}

void IndexRebuilder::CheckAbort() {
  WaitWhileHeld();
  if (Terminated()) throw AbortException(VEK::Text(Msg::Aborted));
}

StopCheck IndexRebuilder::StopPoint() {
  if (File.Mode == BackupFile::Mode::InPlace) return {};
  return [this] { CheckAbort(); };
}

void IndexRebuilder::DiscardOutput() {
  // Only the unfinished copy under its temporary name is ever deleted: the
  // final name is not touched until the copy is complete.
  if (File.Output) File.Output->Discard();
  File.Output.reset();
}

void IndexRebuilder::ReportOutcome(OutcomeKind kind) {
  File.Outcome = kind;
  switch (kind) {
    case OutcomeKind::Healthy:
    case OutcomeKind::Repaired: Notify(FileOk); break;
    case OutcomeKind::Rebuilt: Notify(FileRebuilt); break;
    case OutcomeKind::LeftHealthy:
    case OutcomeKind::Skipped: Notify(FileSkipped); break;
    case OutcomeKind::Stopped: Notify(Aborted); break;
    default: Notify(FileError); break;
  }
}

bool IndexRebuilder::ReportFailure() {
  std::string abortText;
  {
    const std::lock_guard<std::mutex> lock(AbortTextLock);
    abortText = AbortText;
  }
  const FailureOutcome outcome = OutcomeOfCurrentFailure(File.SkipText, abortText);
  // The half-written copy goes first, so that nothing a notification
  // does can leave it behind.
  DiscardOutput();
  File.FailureText = outcome.Message;
  ReportOutcome(outcome.Kind);
  AddMessage(outcome.Message);
  return outcome.EndsBatch;
}

void IndexRebuilder::Execute() {
  try {
    for (int i = 0; i < static_cast<int>(Files->size()); ++i) {
      File = CurrentFile{};
      File.Index = i;
      bool endsBatch = false;
      try {
        ProcessFile((*Files)[i]);
      } catch (...) {
        endsBatch = ReportFailure();
      }
      AddMessage("");
      if (endsBatch) break;
    }
  } catch (...) {
    // A failure while a file's outcome was told (in the owner's handler,
    // say) ends the batch as any other would.
    ReportFailure();
    AddMessage("");
  }
  Terminate();
}

std::unique_ptr<BackupFile> IndexRebuilder::OpenFile(const std::string& path) {
  if (File.Mode != BackupFile::Mode::Copy) return std::make_unique<BackupFile>(File.Mode, path);
  // A copy never writes to its source, whatever road leads from the copy's
  // name to it: a link, a hard link, another spelling of the same path, or
  // the very same path (an empty prefix where that is not the in-place
  // rewrite).
  if (VEK::SameFile(path, File.OutputFileName))
    throw ErrorException(VEK::Text(Msg::CopyIsSource, {File.OutputFileName}));
  File.Output = std::make_unique<VEKFile::SafeOutput>(File.OutputFileName);
  std::unique_ptr<BackupFile> file;
  // A folder at the name, or a name too long, is refused before anything is made.
  const int error = File.Output->Create([&](const std::string& temporary) {
    try {
      file = std::make_unique<BackupFile>(BackupFile::Mode::Copy, path, temporary, true);
      return 0;
    } catch (const VEKFile::File::Exception& e) {
      if (e.Path != temporary) throw;                   // the source's own failure
      return e.SystemError != 0 ? e.SystemError : EIO;  // EEXIST: another run's name, drawn again
    }
  });
  // Told under the name the user knows, not the temporary one.
  if (error != 0) throw VEKFile::File::CreateFailure(File.OutputFileName, error);
  file->Interruption = [this] { CheckAbort(); };
  return file;
}

VEKAvi::AviHeaders IndexRebuilder::ReferenceHeaders(const std::string& path) const {
  // Read in place, the file itself could not be opened a second time (this
  // run holds it); and its own header list is the damaged one.
  if (VEK::SameFile(ReferenceFile, path)) throw ErrorException(VEK::Text(Msg::ReferenceIsThisFile, {ReferenceFile}));
  try {
    return ReadReferenceHeaders(ReferenceFile);
  } catch (const VEKFile::File::Exception& e) {
    // A reference that is missing, a folder, a pipe or held by another run:
    // the file being rebuilt is not to blame.
    if (e.Path.empty()) throw;
    throw ErrorException(
        VEK::Text(Msg::ReferenceUnopenable, {ReferenceFile, e.Reason.empty() ? e.Message() : e.Reason}));
  }
}

void IndexRebuilder::ShowTotals(const DataTotals& totals) {
  // The walk counted as it went; the Done line and the counters end on what
  // the data holds, the chunks the index gets.
  Counts.VideoFrames.store(totals.VideoFrames, std::memory_order_relaxed);
  Counts.AudioSamples.store(totals.AudioSamples, std::memory_order_relaxed);
}

void IndexRebuilder::ProcessFile(const std::string& path) {
  // 1. Choose the output.
  Counts.Reset();
  File.Mode = Rule_.Mode;
  File.OutputFileName = OutputName(Rule_, path);
  Notify(FileStarted);
  AddMessage(VEK::Text(Msg::Processing, {VEK::ExtractFileName(path)}));
  Notify(FileOpening);
  CheckAbort();
  if (File.SkipRequested) throw SkipException(VEK::Text(Msg::Skipped));

  // 2. Open the file pair.
  std::unique_ptr<BackupFile> file = OpenFile(path);
  if (File.Mode == BackupFile::Mode::Copy) {
    Counts.CopyTotal.store(file->SourceSize(), std::memory_order_relaxed);
    file->CopiedCount = &Counts.CopyDone;
  }
  try {
    // 3. Walk.
    // A file whose start is lost is walked from where its data is found.
    const std::optional<LostStart> lost = FindStart(*file, [this] { CheckAbort(); });
    AddMessage(VEK::Text(File.Mode == BackupFile::Mode::Check ? Msg::Checking : Msg::Rebuilding));
    const WalkReport report{[this] { CheckAbort(); }, [this](const Finding& f) { Log(f); }, &Counts};
    // Chunks whose headers are damaged, found through the file's own index.
    Salvage salvage = SalvageFromOldIndex(*file, Walk(*file, report, lost), [this] { CheckAbort(); });
    ScanResult walked = std::move(salvage.Scan);
    // The old index after the data is no damage.
    const std::int64_t usableEnd =
        walked.OldIndexPosition >= 0
            ? std::max(walked.End(), walked.OldIndexPosition + VEKAvi::ChunkHeader::Size + std::int64_t{walked.OldIndexSize})
            : walked.End();
    File.Damage = DamageOf(walked, file->SourceSize(), usableEnd);
    if (salvage.Kept + salvage.Recoded > 0)
      AddMessage(VEK::Text(Msg::SalvagedFromIndex, {salvage.Kept + salvage.Recoded}));
    // 4. Check.
    const HeaderVerdict verdict = CheckHeaderList(walked);
    for (const Finding& finding : verdict.Lines) Log(finding);
    const FileCheck checked = CheckFile(*file, walked, CountsFromData(walked), [this] { CheckAbort(); });
    // The walk counted each damaged stretch as it met it; that the index
    // skips them is known only now.
    if (checked.IndexSkipsDamage)
      Counts.Errors.fetch_sub(static_cast<std::int32_t>(std::min<std::int64_t>(walked.DamageCount, ErrorCount())),
                              std::memory_order_relaxed);
    for (const Finding& finding : checked.Lines) Log(finding);
    // What the lost stretches held, by the file's own index or its streams'
    // clocks: said, and kept in time by a copy.
    const Timeline timeline = TimelineOf(*file, walked, [this] { CheckAbort(); });
    for (const Finding& finding : TimelineFindings(walked, timeline)) Log(finding);
    file->Seek(walked.End(), 0);
    if (File.Mode != BackupFile::Mode::Check && SkipHealthy && ErrorCount() == 0) {
      // Nothing is written: the copy begun under its temporary name goes.
      ShowTotals(TotalsFromData(walked));
      file.reset();
      DiscardOutput();
      File.FailureText = VEK::Text(Msg::NoRepairNeeded);
      ReportOutcome(OutcomeKind::LeftHealthy);
      AddMessage(File.FailureText);
      return;
    }
    if (File.Mode == BackupFile::Mode::Check) {
      // Where the header list is damaged, counted in the units of the list
      // a rebuild would write (an audio format read from the data, say):
      // the check's totals are the rebuild's.
      const std::optional<HeaderPlan> plan = PlanHeaderList(walked, verdict, nullptr, false);
      ShowTotals(plan ? TotalsFromData(walked, plan->Headers) : TotalsFromData(walked));
      Counts.Done.store(true, std::memory_order_relaxed);
      ReportOutcome(ErrorCount() > 0               ? OutcomeKind::Damaged
                    : checked.IndexSkipsDamage ? OutcomeKind::Repaired
                                               : OutcomeKind::Healthy);
    } else {
      // 5. Write: a new header list where the check found it damaged, in
      // force for everything written after it.
      std::optional<VEKAvi::AviHeaders> reference;
      if (!ReferenceFile.empty() && !verdict.Sound()) reference = ReferenceHeaders(path);
      if (!ReferenceFile.empty() && verdict.Sound()) AddMessage(VEK::Text(Msg::ReferenceNotNeeded));
      const VEKAvi::AviHeaders* referenceHeaders = reference ? &*reference : nullptr;
      std::optional<HeaderPlan> plan =
          PlanHeaderList(walked, verdict, referenceHeaders, File.Mode == BackupFile::Mode::InPlace);
      // A copy whose movi list header is lost gets a new one far enough
      // ahead of the data for a lost start's placeholders.
      std::int64_t lead = 0;
      if (plan && File.Mode == BackupFile::Mode::Copy && walked.MoviHeaderLost) {
        lead = LeadBytes(walked, plan->Headers, timeline);
        if (lead > 0) plan = PlanHeaderList(walked, verdict, referenceHeaders, false, lead);
      }
      std::vector<unsigned char> headerBytes;
      std::int64_t shift = 0;
      if (plan) {
        for (const Finding& line : plan->Lines) Log(line);
        headerBytes = std::move(plan->Bytes);
        shift = plan->Shift;
      }
      ScanResult headed =
          plan ? WithHeaders(*file, std::move(walked), std::move(plan->Headers), [this] { CheckAbort(); })
               : std::move(walked);
      // A copy also moves each later segment that would start on an odd
      // position, or that the first one's placeholders need the room of.
      const std::vector<std::int64_t> shifts =
          File.Mode == BackupFile::Mode::Copy ? SegmentShifts(headed, shift, CopyRooms(headed, timeline, lead))
                                              : std::vector<std::int64_t>(headed.SegmentList.size(), 0);
      ScanResult moved = WithDataMoved(std::move(headed), shifts);
      // The counters give the chunks found; the headers count the lost
      // ones' placeholders too, so that the film lasts as long as it did.
      ShowTotals(TotalsFromData(moved));
      const ScanResult scan = File.Mode == BackupFile::Mode::Copy
                                  ? WithPlaceholders(std::move(moved), timeline, {lead})
                                  : PlacedInPlace(*file, std::move(moved), timeline);
      const HeaderCounts counts = CountsFromData(scan);
      // 6. Finish.
      if (File.Mode == BackupFile::Mode::Copy) {
        FinishCopy(file, *File.Output, scan, counts, headerBytes, shifts, StopPoint());
        File.Output.reset();  // complete: from here on nothing deletes it
      } else {
        FinishInPlace(
            *file, scan, counts, headerBytes, [this](const std::string& line) { AddMessage(line); },
            [this] { CheckAbort(); });
      }
      if (shift != 0) AddMessage(VEK::Text(Msg::HeaderDataMoved, {shift}));
      if (!headerBytes.empty()) AddMessage(VEK::Text(Msg::HeaderListRebuilt));
      Counts.Done.store(true, std::memory_order_relaxed);
      ReportOutcome(OutcomeKind::Rebuilt);
    }
  } catch (const VEKFile::File::Exception& e) {
    // A copy's source that was cut short or written to while it was read
    // fails a read or a copy step, with no system reason: said as what it
    // is. (A write that failed, a full disk say, is told as such below.) The
    // copy is deleted by the handlers.
    if (File.Mode == BackupFile::Mode::Copy && e.SystemError == 0 && file && file->SourceChanged())
      throw ErrorException(VEK::Text(Msg::CopySourceChanged, {file->SourceName()}));
    // A copy that cannot be written (a full disk, say) is deleted by the
    // handlers; the user learns why and that the source is as it was.
    const bool aboutAnotherFile = !e.Path.empty() && e.Path != File.OutputFileName;
    if (File.Mode == BackupFile::Mode::Copy && File.Output && File.Output->Pending() && e.SystemError != 0 &&
        !aboutAnotherFile)
      throw VEKFile::File::Exception(VEK::Text(Msg::CopyWriteFailed, {VEK::SystemReason(e.SystemError)}),
                                     e.SystemError);
    throw;
  }
  // 7. Report.
  AddMessage(Msg::DoneText(ErrorCount(), VideoFrameCount(), AudioSampleCount()));
}

}  // namespace VEKRiff
