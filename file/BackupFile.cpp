#include "file/BackupFile.h"

#include "util/Exception.h"
#include "util/Paths.h"

using VEKFile::File;

BackupFile::BackupFile(const std::string& sourcePath, const std::string& destinationPath, bool copyMode)
    : Source(std::make_shared<File>(sourcePath)),
      Destination(std::make_shared<File>(destinationPath)),
      CopyMode_(copyMode) {
  SourceSize_ = Source->Size();  // fails first for a missing source
  if (!copyMode) {
    Source->Open(VEKFile::ModeRead | VEKFile::ShareExclusive, false);
  } else if (!VEK::SameFile(sourcePath, destinationPath)) {
    Source->Open(VEKFile::ModeRead | VEKFile::ShareDenyNone, false);
    Destination->Open(VEKFile::ModeWrite | VEKFile::ShareDenyWrite, true);
  } else {
    Source->Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, false);
    Destination = Source;
    InPlace_ = true;
  }
}

BackupFile::~BackupFile() {
  // What is still to be copied is not copied here: a mirror that did not get
  // as far as writing its index is an unfinished copy, which the engine
  // deletes; copying the rest of the source first would only delay a stop.
  // Queued writes are applied by the files' own destruction, destination first.
  Destination.reset();
  Source.reset();
}

void BackupFile::PlaceDestination(std::int64_t position) {
  Destination->Seek(position, 0);
  WritePosition = position;
}

void BackupFile::MirrorRead(std::int64_t count) {
  if (count <= 0) return;
  if (ReadPosition > HighWater_) HighWater_ = ReadPosition;  // the bytes just read join the copy
  PlaceDestination(ReadPosition);
}

void BackupFile::CopyPending() {
  if (Copied >= HighWater_) return;
  Destination->Seek(Copied, 0);
  const std::int64_t want = HighWater_ - Copied;
  const std::int64_t got = Destination->CopyFrom(*Source, Copied, want);
  Copied += got;
  Destination->Seek(WritePosition, 0);
  // The source shrank since it was read.
  if (got < want) throw VEK::Exception("Read error");
}

void BackupFile::Advance(std::int64_t count) {
  if (count <= 0) return;
  ReadPosition += count;
  if (Mirror()) MirrorRead(count);
}

void BackupFile::Read(void* buffer, std::int64_t n) {
  if (InPlace_) {
    Source->Read(buffer, n);
    return;
  }
  const std::int64_t before = Source->Position();
  try {
    Source->Read(buffer, n);
  } catch (const VEKFile::File::Exception&) {
    // A short read still moved the source past the bytes it got. The read
    // position follows it, as it does in place, so that Position() is where
    // the next read and the next relative seek start.
    Advance(Source->Position() - before);
    throw;
  }
  Advance(n);
}

std::int64_t BackupFile::ReadSome(void* buffer, std::int64_t n) {
  const std::int64_t count = Source->ReadSome(buffer, n);
  if (!InPlace_) Advance(count);
  return count;
}

void BackupFile::Write(const void* bytes, std::int64_t n) {
  if (InPlace_) {
    Source->Write(bytes, n);
    return;
  }
  // Copy what the destination still lacks first, so that the engine's own
  // bytes land after it and win.
  CopyPending();
  Destination->Write(bytes, n);
  WritePosition += n;
  if (WritePosition > HighWater_) HighWater_ = Copied = WritePosition;
}

std::int64_t BackupFile::Seek(std::int64_t offset, int origin) {
  if (InPlace_) return Source->Seek(offset, origin);
  if (!Mirror()) return ReadPosition = Source->Seek(offset, origin);

  std::int64_t target;
  if (origin == 1) target = ReadPosition + offset;
  else if (origin == 2) target = Source->Seek(offset, 2);
  else target = offset;
  if (target <= HighWater_) {
    ReadPosition = Source->Seek(offset, origin);
    PlaceDestination(ReadPosition);
    return ReadPosition;
  }
  // Forward past everything mirrored so far: the gap joins the copy. A gap
  // that runs past the end of the source cannot be copied: the whole blocks
  // before the end are kept, as a block-by-block copy would have, and the
  // short one fails.
  const std::int64_t sourceEnd = Source->Seek(0, 2);
  if (target > sourceEnd) {
    const std::int64_t available = sourceEnd > HighWater_ ? sourceEnd - HighWater_ : 0;
    HighWater_ += available / GapChunk * GapChunk;
    Source->Seek(ReadPosition, 0);
    PlaceDestination(HighWater_);
    CopyPending();
    throw VEK::Exception("Read error");
  }
  HighWater_ = target;
  ReadPosition = Source->Seek(target, 0);
  PlaceDestination(target);
  return ReadPosition;
}

std::int64_t BackupFile::Position() const { return InPlace_ ? Source->Position() : ReadPosition; }

void BackupFile::Truncate() {
  if (!InPlace_) CopyPending();
  Destination->Truncate();
}
