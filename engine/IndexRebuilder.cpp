// The worker: runs a check or a rebuild over a list of files on its own
// thread, one file after the other, and turns each file's outcome into a
// notification and a log line. The walk is in MoviWalk.cpp, the index
// writer in Idx1Writer.cpp.
#include "engine/IndexRebuilder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <random>

#include "engine/EngineMessages.h"
#include "file/SystemCalls.h"
#include "lang/SystemReason.h"
#include "util/Paths.h"

namespace VEKRiff {

namespace {

// The name a copy is written under until it is complete: hidden, in the
// copy's own folder (so the final rename stays on one file system), and
// ending in a suffix that no finished copy has, so that what a killed run
// leaves behind is never taken for a repaired file.
constexpr const char* PartialSuffix = ".zantrel-partial";

std::string TemporaryNameFor(const std::string& finalName, std::mt19937_64& random) {
  const std::string dir = VEK::ExtractFilePath(finalName);
  std::string name = VEK::ExtractFileName(finalName);
  const std::size_t room = NAME_MAX - 1 - 7 - std::char_traits<char>::length(PartialSuffix);
  if (name.size() > room) name.resize(room);
  static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string tag(6, 'x');
  for (char& c : tag) c = letters[random() % (sizeof letters - 1)];
  return dir + "." + name + "." + tag + PartialSuffix;
}

// Puts a rename on disk: the folder's entry is what changed.
void SyncFolderOf(const std::string& path) {
  std::string dir = VEK::ExtractFileDir(path);
  if (dir.empty()) dir = ".";
  const int fd = VEKFile::Sys().Open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return;  // the rename is done; only its durability is left to the system
  VEKFile::Sys().FSync(fd);
  VEKFile::Sys().Close(fd);
}

// Why the kernel granted no lease on a file rebuilt in place.
std::string LeaseRefusal(int error) {
  // Only the owner of a file may lease it (and the superuser any file).
  if (error == EACCES || error == EPERM) return VEK::Text(Msg::NotOwner);
  return VEK::SystemReason(error);
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return VEKFile::Sys().Stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
  OutcomeText = outcomeText;
  Terminate();
}

void IndexRebuilder::Skip(const std::string& outcomeText) {
  OutcomeText = outcomeText;
  SkipRequested = true;
}

void IndexRebuilder::AddMessage(const std::string& text) {
  Message_ = text;
  Notify(MessageAdded);
}

void IndexRebuilder::Notify(RebuildEvent code) {
  Event_ = code;
  if (!OnEvent) return;
  if (EventsOnWorkerThread) OnEvent(*this);
  else Synchronize([this] { OnEvent(*this); });
}

void IndexRebuilder::SetProgress(std::int32_t percent) {
  if (Progress_.load(std::memory_order_relaxed) != percent) Progress_.store(percent, std::memory_order_relaxed);
}

void IndexRebuilder::SetProgressAt(std::int64_t position, float factor) {
  // Single precision, truncated toward zero; kept within 0-100 should the
  // file have grown since it was sized.
  const float percent = static_cast<float>(position) * factor;
  SetProgress(percent >= 100.0f ? 100 : percent > 0.0f ? static_cast<std::int32_t>(percent) : 0);
}

void IndexRebuilder::CheckAbort() {
  if (Terminated()) throw AbortException(VEK::Text(Msg::Aborted));
}

void IndexRebuilder::DiscardOutput() {
  // Only the unfinished copy under its temporary name is ever deleted: the
  // final name is not touched until the copy is complete.
  if (OutputCreated && !TemporaryName.empty()) VEK::DeleteFile(TemporaryName);
  OutputCreated = false;
  TemporaryName.clear();
}

void IndexRebuilder::Execute() {
  int i = 0;
  try {
    while (i < static_cast<int>(Files->size())) {
      OutputCreated = false;
      FileIndex_ = i;
      try {
        ProcessFile((*Files)[i]);
      } catch (const ErrorException& e) {
        DiscardOutput();
        Notify(FileError);
        AddMessage(e.Message());
      } catch (const SkipException& e) {
        DiscardOutput();
        Notify(FileSkipped);
        AddMessage(OutcomeText.empty() ? e.Message() : OutcomeText);
      }
      AddMessage("");
      ++i;
    }
    Terminate();
  } catch (const AbortException& e) {
    // The half-written copy goes first, so that nothing a notification
    // does can leave it behind.
    DiscardOutput();
    Notify(Aborted);
    AddMessage(OutcomeText.empty() ? e.Message() : OutcomeText);
    AddMessage("");
    Terminate();
  } catch (const std::exception& e) {
    DiscardOutput();
    Notify(FileError);
    AddMessage(e.what());
    AddMessage("");
    Terminate();
  }
}

bool IndexRebuilder::ChooseOutput(const std::string& path) {
  if (CheckOnly_ || !KeepOriginal_ || (Prefix.empty() && EmptyPrefixInPlace)) {
    OutputFileName_ = path;
    return true;
  }
  const std::string dir = VEK::ExtractFileDir(path);
  // A bare name has no folder and stays relative: no delimiter is added.
  OutputFileName_ = VEK::IncludeTrailingPathDelimiter(dir) + Prefix + VEK::ExtractFileName(path);
  return false;
}

void IndexRebuilder::OpenFile(const std::string& path, bool sourceOnly, VEK::AutoPtr<BackupFile>& file) {
  if (sourceOnly) {
    file = std::make_unique<BackupFile>(path, path, !CheckOnly_);
    return;
  }
  // A copy never writes to its source, whatever road leads from the copy's
  // name to it: a link, a hard link, another spelling of the same path, or
  // the very same path (an empty prefix where that is not the in-place
  // rewrite).
  if (VEK::SameFile(path, OutputFileName_))
    throw ErrorException(VEK::Text(Msg::CopyIsSource, {OutputFileName_}));
  const std::string name = VEK::ExtractFileName(OutputFileName_);
  if (IsFolder(OutputFileName_)) throw VEKFile::File::CreateFailure(OutputFileName_, EISDIR);
  if (name.size() > NAME_MAX) throw VEKFile::File::CreateFailure(OutputFileName_, ENAMETOOLONG);
  std::random_device seed;
  std::mt19937_64 random((static_cast<std::uint64_t>(seed()) << 32) ^ seed());
  for (;;) {
    const std::string temporary = TemporaryNameFor(OutputFileName_, random);
    try {
      file = std::make_unique<BackupFile>(path, temporary, true, true);
    } catch (const VEKFile::File::Exception& e) {
      if (e.Path != temporary) throw;          // the source's own failure
      if (e.SystemError == EEXIST) continue;  // another run's name: draw again
      // Told under the name the user knows, not the temporary one.
      throw VEKFile::File::CreateFailure(OutputFileName_, e.SystemError);
    }
    TemporaryName = temporary;
    OutputCreated = true;
    file->Interruption = [this] { CheckAbort(); };
    return;
  }
}

std::int64_t IndexRebuilder::PrepareIndexes(std::int64_t end, const IndexEntries& entries, std::int64_t moviOffset) {
  if (SegmentList.size() > 1) return OdmlIndexBytes(Headers, SegmentList, entries);
  CheckIndexFits(end, entries, moviOffset);
  return IndexBytes(end, entries, moviOffset);
}

void IndexRebuilder::WriteIndexes(BackupFile& file, const IndexEntries& entries, const HeaderCounts& counts,
                                  std::int64_t moviOffset) {
  // The chunks' own sizes go first: until the movi size points at the new
  // index, a reader reaches the same data as before.
  const std::int64_t start = file.Position();
  WriteChunkSizes(file);
  file.Seek(start, 0);
  if (SegmentList.size() > 1) WriteOdmlIndexes(file, Headers, SegmentList, entries);
  else WriteIndex(file, entries, moviOffset);
  WriteHeaderCounts(file, counts, file.Position());
}

void IndexRebuilder::FinishCopy(VEK::AutoPtr<BackupFile>& file, const IndexEntries& entries,
                                const HeaderCounts& counts, std::int64_t moviOffset) {
  CheckAbort();
  PrepareIndexes(file->Position(), entries, moviOffset);
  WriteIndexes(*file, entries, counts, moviOffset);
  file->Truncate();
  file->Sync();
  CheckAbort();
  file.reset();
  // Only a complete copy takes its name; a link at that name is replaced,
  // never followed.
  if (VEKFile::Sys().Rename(TemporaryName.c_str(), OutputFileName_.c_str()) != 0)
    throw VEKFile::File::CreateFailure(OutputFileName_, errno);
  SyncFolderOf(OutputFileName_);
  // The copy is complete: from here on nothing deletes it.
  OutputCreated = false;
  TemporaryName.clear();
}

void IndexRebuilder::FinishInPlace(BackupFile& file, const IndexEntries& entries, const HeaderCounts& counts,
                                   std::int64_t moviOffset) {
  const std::int64_t end = file.Position();
  // Stop is honoured up to the first write; from there the file is completed,
  // because half an index is worse than either.
  CheckAbort();
  const std::int64_t bytes = PrepareIndexes(end, entries, moviOffset);
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
    WriteIndexes(file, entries, counts, moviOffset);
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
  OutputCreated = false;
  TemporaryName.clear();
  SkipRequested = false;
  ErrorCount_.store(0, std::memory_order_relaxed);
  VideoFrameCount_.store(0, std::memory_order_relaxed);
  AudioSampleCount_.store(0, std::memory_order_relaxed);
  SetProgress(0);
  const bool sourceOnly = ChooseOutput(path);
  Notify(FileStarted);
  AddMessage(VEK::Text(Msg::Processing, {VEK::ExtractFileName(path)}));
  Notify(FileOpening);
  CheckAbort();
  if (SkipRequested) throw SkipException(VEK::Text(Msg::Skipped));

  VEK::AutoPtr<BackupFile> file;
  OpenFile(path, sourceOnly, file);
  const bool copy = !CheckOnly_ && !file->InPlace();
  IndexEntries entries;
  try {
    CheckRiffHeader(*file);
    AddMessage(VEK::Text(CheckOnly_ ? Msg::Checking : Msg::Rebuilding));
    const std::int64_t moviOffset = LocateMovi(*file);
    ScanMovi(*file, moviOffset, entries);
    const std::int64_t end = file->Position();
    VerifyIndex(*file, entries);
    VerifyOdmlIndexes(*file, entries);
    VerifyListSizes(*file, entries);
    const HeaderCounts counts = VerifyHeaderCounts(entries);
    file->Seek(end, 0);
    if (CheckOnly_) {
      Notify(ErrorCount() > 0 ? FileError : FileOk);
    } else {
      if (copy) FinishCopy(file, entries, counts, moviOffset);
      else FinishInPlace(*file, entries, counts, moviOffset);
      Notify(FileRebuilt);
    }
  } catch (const VEKFile::File::Exception& e) {
    // A copy that cannot be written (a full disk, say) is deleted by the
    // handlers; the user learns why and that the source is as it was.
    if (copy && OutputCreated && e.SystemError != 0)
      throw VEKFile::File::Exception(VEK::Text(Msg::CopyWriteFailed, {VEK::SystemReason(e.SystemError)}),
                                     e.SystemError);
    throw;
  }
  AddMessage(VEK::Text(Msg::Done, {ErrorCount(), VideoFrameCount(), AudioSampleCount()}));
  entries.clear();
  file.reset();
}

}  // namespace VEKRiff
