#include "engine/IndexRebuilder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "engine/EngineMessages.h"
#include "engine/Idx1Writer.h"
#include "engine/IndexCheck.h"
#include "engine/MoviWalk.h"
#include "engine/OdmlWriter.h"
#include "engine/SizePatcher.h"
#include "file/SystemCalls.h"
#include "lang/SystemReason.h"
#include "util/Paths.h"

namespace VEKRiff {

namespace {

// Why the kernel granted no lease on a file rebuilt in place.
std::string LeaseRefusal(int error) {
  // Only the owner of a file may lease it (and the superuser any file).
  if (error == EACCES || error == EPERM) return VEK::Text(Msg::NotOwner);
  return VEK::SystemReason(error);
}

// The new indexes: checked first that they can be written, and how many
// bytes they take after the walk's end.
std::int64_t IndexBytes(const ScanResult& scan) {
  if (scan.IsOpenDml()) return OdmlIndexBytes(scan);
  CheckIdx1Fits(scan);
  return Idx1Bytes(scan);
}

// Writes the indexes, the corrected chunk sizes and the header counts,
// leaving the position at the new end of the file.
void WriteIndexes(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts, const StopCheck& stop) {
  // The chunks' own sizes go first: until the movi size points at the new
  // index, a reader reaches the same data as before.
  WriteChunkSizes(file, scan.SizeFixes);
  if (scan.IsOpenDml())
    WriteOdmlIndexes(file, scan, stop);
  else
    WriteIdx1(file, scan, stop);
  WriteHeaderCounts(file, scan, counts, file.Position());
}

}  // namespace

IndexRebuilder::IndexRebuilder(VEK::HandOverQueue& owner) : VEK::Thread(owner) {}

IndexRebuilder::~IndexRebuilder() { TerminateAndWait(); }

void IndexRebuilder::Start(VEK::RefCount<FileList> files, bool checkOnly, bool keepOriginal) {
  Files = files ? std::move(files) : std::make_shared<FileList>();
  CheckOnly_ = checkOnly;
  KeepOriginal_ = keepOriginal;
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
  Notify(MessageAdded);
}

void IndexRebuilder::Log(const Finding& finding) {
  if (finding.Error) Counts.Errors.fetch_add(1, std::memory_order_relaxed);
  AddMessage(finding.Line);
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
  Notify(outcome.Kind == FailureKind::FileSkipped    ? FileSkipped
         : outcome.Kind == FailureKind::BatchAborted ? Aborted
                                                     : FileError);
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

BackupFile::Mode IndexRebuilder::ChooseOutput(const std::string& path) {
  if (CheckOnly_) {
    File.OutputFileName = path;
    return BackupFile::Mode::Check;
  }
  if (!KeepOriginal_ || (Prefix.empty() && EmptyPrefixInPlace)) {
    File.OutputFileName = path;
    return BackupFile::Mode::InPlace;
  }
  const std::string dir = VEK::ExtractFileDir(path);
  // A bare name has no folder and stays relative: no delimiter is added.
  File.OutputFileName = VEK::IncludeTrailingPathDelimiter(dir) + Prefix + VEK::ExtractFileName(path);
  return BackupFile::Mode::Copy;
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

void IndexRebuilder::FinishCopy(std::unique_ptr<BackupFile>& file, const ScanResult& scan, const HeaderCounts& counts) {
  CheckAbort();
  IndexBytes(scan);
  WriteIndexes(*file, scan, counts, StopPoint());
  file->Truncate();
  file->Sync();
  CheckAbort();
  file.reset();
  // Only a complete copy takes its name; a link at that name is replaced,
  // never followed. Whether the folder's entry reached the disk is left to
  // the system: the copy has its name either way.
  if (const int error = File.Output->Commit()) throw VEKFile::File::CreateFailure(File.OutputFileName, error);
  // The copy is complete: from here on nothing deletes it.
  File.Output.reset();
}

void IndexRebuilder::FinishInPlace(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts) {
  const std::int64_t end = scan.End();
  // Stop is honoured up to the first write; from there the file is completed,
  // because half an index is worse than either.
  CheckAbort();
  const std::int64_t bytes = IndexBytes(scan);
  // While the lease is held no other program has the file open: none can
  // write to it between the test below and the cut, and one that opens it
  // meanwhile waits until the lease is let go, on every road out of here.
  struct Lease {
    BackupFile& file;
    ~Lease() { file.ReleaseLease(); }
  } lease{file};
  const int refused = file.TakeLease();
  if (refused != 0) AddMessage(VEK::Text(Msg::NoLease, {LeaseRefusal(refused)}));
  // A writer that wrote between the opening and the lease is found here.
  if (file.SourceChanged()) throw ErrorException(VEK::Text(Msg::SourceChanged));
  if (const int noRoom = file.Reserve(end, bytes))
    throw VEKFile::File::Exception(VEK::Text(Msg::WriteFailedUnchanged, {VEK::SystemReason(noRoom)}), noRoom);
  try {
    WriteIndexes(file, scan, counts, StopPoint());
    file.Sync();
    // Another program opened the file meanwhile and waits for it. What it
    // does once it has it cannot be known from here (the kernel lets it in
    // once the lease-break time has passed, lease or not), so the tail it
    // may write to is not cut; the index is complete either way.
    if (refused == 0 && !file.LeaseHeld()) throw ErrorException(VEK::Text(Msg::OpenedWhileWriting));
    // Another program that appended to the file meanwhile would lose what it
    // wrote to the truncation.
    if (file.CurrentSourceSize() > std::max(file.SourceSize(), end + bytes))
      throw ErrorException(VEK::Text(Msg::SourceChangedWhileWriting));
    file.Truncate();
    file.Sync();
  } catch (const VEKFile::File::Exception& e) {
    const int error = e.SystemError != 0 ? e.SystemError : EIO;
    // The first write refused whole (no space despite the reservation, say)
    // left every byte of the file as it was.
    const auto& message = file.BytesWritten() == 0 ? Msg::WriteFailedUnchanged : Msg::WriteFailedChanged;
    throw VEKFile::File::Exception(VEK::Text(message, {VEK::SystemReason(error)}), error);
  }
}

void IndexRebuilder::ProcessFile(const std::string& path) {
  // 1. Choose the output.
  Counts.Reset();
  File.Mode = ChooseOutput(path);
  Notify(FileStarted);
  AddMessage(VEK::Text(Msg::Processing, {VEK::ExtractFileName(path)}));
  Notify(FileOpening);
  CheckAbort();
  if (File.SkipRequested) throw SkipException(VEK::Text(Msg::Skipped));

  // 2. Open the file pair.
  std::unique_ptr<BackupFile> file = OpenFile(path);
  try {
    // 3. Walk.
    CheckRiffHeader(*file);
    AddMessage(VEK::Text(File.Mode == BackupFile::Mode::Check ? Msg::Checking : Msg::Rebuilding));
    const WalkReport report{[this] { CheckAbort(); }, [this](const Finding& f) { Log(f); }, &Counts};
    const ScanResult scan = Walk(*file, report);
    // 4. Check.
    const HeaderCounts counts = CountsFromData(scan);
    for (const Finding& finding : CheckFile(*file, scan, counts, [this] { CheckAbort(); })) Log(finding);
    file->Seek(scan.End(), 0);
    // 5-6. Write and finish.
    switch (File.Mode) {
      case BackupFile::Mode::Check:
        Notify(ErrorCount() > 0 ? FileError : FileOk);
        break;
      case BackupFile::Mode::Copy:
        FinishCopy(file, scan, counts);
        Notify(FileRebuilt);
        break;
      case BackupFile::Mode::InPlace:
        FinishInPlace(*file, scan, counts);
        Notify(FileRebuilt);
        break;
    }
  } catch (const VEKFile::File::Exception& e) {
    // A copy that cannot be written (a full disk, say) is deleted by the
    // handlers; the user learns why and that the source is as it was.
    if (File.Mode == BackupFile::Mode::Copy && File.Output && File.Output->Pending() && e.SystemError != 0)
      throw VEKFile::File::Exception(VEK::Text(Msg::CopyWriteFailed, {VEK::SystemReason(e.SystemError)}),
                                     e.SystemError);
    throw;
  }
  // 7. Report.
  AddMessage(VEK::Text(Msg::Done, {ErrorCount(), VideoFrameCount(), AudioSampleCount()}));
}

}  // namespace VEKRiff
