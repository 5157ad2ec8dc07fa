#include "engine/Finish.h"

#include <algorithm>
#include <cerrno>
#include <optional>

#include "engine/EngineMessages.h"
#include "engine/Failures.h"
#include "engine/Idx1Writer.h"
#include "engine/InPlaceIdx1.h"
#include "engine/InPlaceOdml.h"
#include "engine/OdmlWriter.h"
#include "engine/SizePatcher.h"
#include "lang/SystemReason.h"

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
void WriteIndexes(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts,
                  const std::vector<unsigned char>& headerList, const StopCheck& stop) {
  // A new header list goes first: the sizes and indexes after it are
  // written into its fields.
  if (!headerList.empty()) {
    file.Seek(0, 0);
    file.Write(headerList.data(), static_cast<std::int64_t>(headerList.size()));
  }
  // The chunks' own sizes go first: until the movi size points at the new
  // index, a reader reaches the same data as before.
  WriteChunkSizes(file, scan.SizeFixes);
  WriteLostRiffCodes(file, scan.SegmentList);
  // The chunks the lost chunks' entries point at: a lost start's ahead of
  // the data, the others after it.
  if (!scan.Lead.empty()) {
    file.Seek(scan.LeadAt, 0);
    file.Write(scan.Lead.data(), static_cast<std::int64_t>(scan.Lead.size()));
  }
  if (!scan.Placeholders.empty()) {
    file.Seek(scan.PlaceholdersAt, 0);
    file.Write(scan.Placeholders.data(), static_cast<std::int64_t>(scan.Placeholders.size()));
  }
  for (const ScanResult::Block& block : scan.SegmentPlaceholders) {
    file.Seek(block.At, 0);
    file.Write(block.Bytes.data(), static_cast<std::int64_t>(block.Bytes.size()));
  }
  if (scan.IsOpenDml())
    WriteOdmlIndexes(file, scan, stop);
  else
    WriteIdx1(file, scan, stop);
  WriteHeaderCounts(file, scan, counts, file.Position());
  // The one RIFF of a new header list ends with the index too (more RIFFs
  // have their sizes from the OpenDML writer).
  if (!headerList.empty() && !scan.IsOpenDml()) {
    const std::int64_t end = file.Position();
    PatchListSize(file, 0, end);
    file.Seek(end, 0);
  }
}

}  // namespace

void FinishCopy(std::unique_ptr<BackupFile>& file, VEKFile::SafeOutput& output, const ScanResult& scan,
                const HeaderCounts& counts, const std::vector<unsigned char>& headerList,
                const std::vector<std::int64_t>& shifts, const StopCheck& stop) {
  MayStop(stop);
  IndexBytes(scan);
  // The mirror has the data where the source has it; what moves is copied
  // once more, further along, a segment with the gap before the next one.
  // Only a copy whose header list was lost, or whose segments do not all lie
  // on even positions, pays for it.
  const Segments& segments = scan.SegmentList;
  for (std::size_t i = 0; i < segments.size() && i < shifts.size(); ++i) {
    if (shifts[i] == 0) continue;
    // The first segment's from its movi list, which may have moved back
    // over the start the new header list is written on.
    const std::int64_t from = i == 0 ? std::max<std::int64_t>(0, segments[0].MoviPosition - shifts[0])
                                     : segments[i].RiffPosition - shifts[i];
    // (Not past the source's end: placeholders may lie beyond it.)
    const std::int64_t to = std::min(
        file->SourceSize(),
        i + 1 < segments.size() ? segments[i + 1].RiffPosition - shifts[i + 1] : segments[i].End - shifts[i]);
    file->CopyAlong(from, to, shifts[i]);
  }
  WriteIndexes(*file, scan, counts, headerList, stop);
  file->Truncate();
  file->Sync();
  MayStop(stop);
  // The same test of size and date that guards a file rebuilt in place: a
  // source written to since it was opened may have given the copy bytes
  // from before and after the change, which no check of the copy finds.
  if (file->SourceChanged()) throw ErrorException(VEK::Text(Msg::CopySourceChanged, {file->SourceName()}));
  file.reset();
  // Only a complete copy takes its name; a link at that name is replaced,
  // never followed. Whether the folder's entry reached the disk is left to
  // the system: the copy has its name either way.
  if (const int error = output.Commit()) throw VEKFile::File::CreateFailure(output.FinalName(), error);
}

void FinishInPlace(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts,
                   const std::vector<unsigned char>& headerList, const std::function<void(const std::string&)>& say,
                   const StopCheck& stopBeforeWriting) {
  const std::int64_t end = scan.End();
  // Stop is honoured up to the first write; from there the file is completed,
  // because half an index is worse than either.
  MayStop(stopBeforeWriting);
  const std::int64_t bytes = IndexBytes(scan);
  // A file whose players read an idx1 keeps it readable until the new one is
  // complete (see InPlaceIdx1.h); a file without one has none to lose. An
  // OpenDML film keeps every stream's index readable the same way wherever
  // its layout allows it (InPlaceOdml.h); one whose header list is rewritten
  // whole takes the copy's order.
  const std::optional<InPlaceIdx1Plan> plan = PlanInPlaceIdx1(file, scan);
  std::optional<InPlaceOdmlPlan> odml;
  if (scan.IsOpenDml()) odml = PlanInPlaceOdml(file, scan, headerList);
  const std::int64_t farthest = plan ? plan->FarIndex + plan->IndexBytes : odml ? odml->Farthest : end + bytes;
  // While the lease is held no other program has the file open: none can
  // write to it between the test below and the cut, and one that opens it
  // meanwhile waits until the lease is let go, on every road out of here.
  struct Lease {
    BackupFile& file;
    ~Lease() { file.ReleaseLease(); }
  } lease{file};
  const int refused = file.TakeLease();
  if (refused != 0) say(VEK::Text(Msg::NoLease, {LeaseRefusal(refused)}));
  // A writer that wrote between the opening and the lease is found here.
  if (file.SourceChanged()) throw ErrorException(VEK::Text(Msg::SourceChanged));
  int noRoom = 0;
  if (plan) {
    // The far index (with the placeholders before it) and the index at its
    // place; the hole between the old end and them is never written.
    const std::int64_t far = plan->Placeholders >= 0 ? plan->Placeholders : plan->FarIndex;
    noRoom = file.Reserve(far, plan->FarIndex + plan->IndexBytes - far);
    if (noRoom == 0 && plan->Index != plan->FarIndex && plan->Index + plan->IndexBytes > file.SourceSize())
      noRoom = file.Reserve(plan->Index, plan->IndexBytes);
  } else if (odml) {
    noRoom = file.Reserve(odml->Tail, odml->End - odml->Tail);
  } else {
    noRoom = file.Reserve(end, bytes);
  }
  if (noRoom != 0)
    throw VEKFile::File::Exception(VEK::Text(Msg::WriteFailedUnchanged, {VEK::SystemReason(noRoom)}), noRoom);
  // An OpenDML film whose header list or a super index players read is
  // rewritten whole has a write no order keeps whole (see InPlaceOdml.h).
  if (scan.IsOpenDml() && (!odml || std::any_of(odml->Streams.begin(), odml->Streams.end(), [](const auto& s) {
                             return s.How == InPlaceOdmlStream::Switch::Rewrite;
                           })))
    say(VEK::Text(Msg::InPlaceMayTear));
  // Set once a write may have changed what players read.
  bool changed = !plan && !odml;
  try {
    if (plan) {
      WriteInPlaceIdx1(file, scan, counts, headerList, *plan, changed);
    } else if (odml) {
      WriteInPlaceOdml(file, scan, counts, *odml, changed);
    } else {
      WriteIndexes(file, scan, counts, headerList, {});
      file.SyncData();
    }
    // Another program opened the file meanwhile and waits for it. What it
    // does once it has it cannot be known from here (the kernel lets it in
    // once the lease-break time has passed, lease or not), so the tail it
    // may write to is not cut; the index is complete either way.
    if (refused == 0 && !file.LeaseHeld()) throw ErrorException(VEK::Text(Msg::OpenedWhileWriting));
    // Another program that appended to the file meanwhile would lose what it
    // wrote to the truncation.
    if (file.CurrentSourceSize() > std::max(file.SourceSize(), farthest))
      throw ErrorException(VEK::Text(Msg::SourceChangedWhileWriting));
    file.Truncate();
    // An idx1 written by its plan leaves after the new end only a JUNK chunk
    // and the far index, past the RIFF's end, where no reader looks: a file
    // whose cut never reached the disk reads as rebuilt, so the cut orders
    // nothing and is left to the system. Elsewhere the old tail may hold a
    // segment readers would follow.
    if (!plan) file.SyncData();
  } catch (const VEKFile::File::Exception& e) {
    const int error = e.SystemError != 0 ? e.SystemError : EIO;
    // The first write refused whole (no space despite the reservation, say)
    // left every byte of the file as it was; so did a far index that failed,
    // once the file is cut back to its old end.
    bool unchanged = file.BytesWritten() == 0;
    if (!unchanged && !changed && file.CurrentSourceSize() <= std::max(file.SourceSize(), farthest)) {
      try {
        file.Seek(file.SourceSize(), 0);
        file.Truncate();
        unchanged = true;
      } catch (const VEKFile::File::Exception&) {
      }
    }
    const auto& message = unchanged ? Msg::WriteFailedUnchanged : Msg::WriteFailedChanged;
    throw VEKFile::File::Exception(VEK::Text(message, {VEK::SystemReason(error)}), error);
  }
}

}  // namespace VEKRiff
