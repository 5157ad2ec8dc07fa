#include "engine/InPlaceIdx1.h"

#include <algorithm>

#include "avi/AviChunk.h"
#include "engine/EngineMessages.h"
#include "engine/Failures.h"
#include "engine/Idx1Writer.h"
#include "engine/SizePatcher.h"
#include "util/Endian.h"

namespace VEKRiff {

using namespace VEKAvi;

namespace {

constexpr FourCC CodeMovi = MakeFourCC("movi");

void WriteByteAt(BackupFile& file, std::int64_t position, unsigned char value) {
  file.Seek(position, 0);
  file.WriteByte(value);
}

// A JUNK chunk's header over [from, to).
void WriteJunkHeader(BackupFile& file, std::int64_t from, std::int64_t to) {
  unsigned char junk[ChunkHeader::Size];
  ChunkHeader{CodeJunk, static_cast<std::uint32_t>(ChunkHeader::SizeFor(from, to))}.Store(junk);
  file.Seek(from, 0);
  file.Write(junk, sizeof junk);
}

}  // namespace

std::optional<InPlaceIdx1Plan> PlanInPlaceIdx1(BackupFile& file, const ScanResult& scan, const PlaceholderRoom& room) {
  if (scan.IsOpenDml() || scan.StartLost || scan.MoviHeaderLost) return std::nullopt;
  unsigned char movi[ListHeader::Size];
  if (file.Peek(movi, sizeof movi, scan.MoviOffset) != sizeof movi || !ListHeader::Is(movi, CodeList, CodeMovi))
    return std::nullopt;
  const std::uint32_t size = ListHeader::Load(movi).Chunk.DataSize;
  // Readers round an odd list size up.
  const std::int64_t listEnd = scan.MoviOffset + ChunkHeader::Size + size + (size & 1);
  unsigned char code[4];
  const bool oldIndex = listEnd <= file.SourceSize() - ChunkHeader::Size &&
                        file.Peek(code, sizeof code, listEnd) == sizeof code && VEK::LoadLe32(code) == CodeIdx1;
  InPlaceIdx1Plan plan;
  plan.SizeField = scan.MoviOffset + ListHeader::SizeField;
  // Placeholders past the walk's end are those laid out before the far index.
  const bool laidOut = !scan.Placeholders.empty() && scan.PlaceholdersAt >= scan.End();
  const std::int64_t placeholders = laidOut ? static_cast<std::int64_t>(scan.Placeholders.size()) : room.Bytes;
  plan.IndexBytes = Idx1Bytes(scan) - ((scan.End() - scan.MoviOffset) & 1) +
                    (laidOut ? 0 : static_cast<std::int64_t>(room.Entries) * Idx1Entry::Size);
  const std::int64_t dataEnd = scan.End() + ((scan.End() - scan.MoviOffset) & 1);
  if (!oldIndex) {
    plan.Hop = false;
    plan.Index = plan.FarIndex = dataEnd;
    plan.End = dataEnd + plan.IndexBytes;
    return plan;
  }
  // The index goes where the list ends now, the walk's damaged end of the
  // list (if any) made a JUNK chunk; where that cannot be (the data goes on
  // past that end, or leaves no room for a chunk header before it), it stays
  // past the old end, the list's rest a JUNK chunk.
  // Placeholders go right before the far index, past every byte the file
  // has, where nothing reads them before the list ends there: it stays.
  const bool staysFar = placeholders > 0 || listEnd < dataEnd ||
                        (listEnd > dataEnd && listEnd - dataEnd < ChunkHeader::Size);
  if (listEnd != dataEnd || staysFar) plan.Junk = dataEnd;
  // A gap after the old end: a reader that walks on from the old index meets
  // no chunk there, and so never the far index as a second one.
  const std::int64_t oldEnd = file.SourceSize() + (file.SourceSize() & 1) + ChunkHeader::Size;
  const std::int64_t from =
      std::max(oldEnd, staysFar ? dataEnd + ChunkHeader::Size : listEnd + plan.IndexBytes + ChunkHeader::Size) +
      placeholders;
  // The smallest step of one byte that reaches from there: the list's size
  // grows by a multiple of 256^Byte, with nothing carried into the next byte.
  for (int byte = 1; byte < 4 && plan.FarIndex == 0; ++byte) {
    const std::int64_t unit = std::int64_t{1} << (8 * byte);
    const std::int64_t now = (size >> (8 * byte)) & 0xFF;
    const std::int64_t steps = std::max<std::int64_t>(1, (from - listEnd + unit - 1) / unit);
    if (now + steps > 0xFF) continue;
    const std::int64_t far = listEnd + steps * unit;
    if (far + plan.IndexBytes - ChunkHeader::Size > MaxField) continue;
    plan.Byte = byte;
    plan.Old = static_cast<unsigned char>(now);
    plan.Far = static_cast<unsigned char>(now + steps);
    plan.FarIndex = far;
  }
  if (plan.FarIndex == 0) throw ErrorException(VEK::Text(Msg::NoSafeOrderInPlace));
  plan.Index = staysFar ? plan.FarIndex : listEnd;
  if (placeholders > 0) plan.Placeholders = plan.FarIndex - placeholders;
  // An odd size ends the list where size + 1 does: one byte makes it even,
  // unless that carries into the next byte.
  if ((size & 1) != 0 && (size & 0xFF) != 0xFF) plan.EvenLow = static_cast<int>((size & 0xFF) + 1);
  plan.End = plan.Index + plan.IndexBytes;
  return plan;
}

ScanResult PlacedInPlace(BackupFile& file, ScanResult scan, const Timeline& timeline) {
  // An OpenDML film's first segment has no room after its data that its
  // idx1 and the next RIFF do not take.
  if (scan.IsOpenDml()) return scan;
  const PlaceholderRoom room = TrailingRoom(scan, timeline);
  if (room.Bytes == 0) return scan;
  std::optional<InPlaceIdx1Plan> plan;
  try {
    plan = PlanInPlaceIdx1(file, scan, room);
  } catch (const ErrorException&) {
    // No one byte reaches past the placeholders too (a file near 4 GiB):
    // the file is rebuilt as it would be without them, if it can be.
    return scan;
  }
  if (plan && plan->Hop) {
    // The chunk sizes a rebuild corrects are written before the switch, and
    // a player that reads the old index through them reads those chunks
    // whole: the file then reads as the rebuilt one only where the new index
    // times what follows as the old one does. Placeholders would not.
    if (!scan.SizeFixes.empty()) return scan;
    return WithPlaceholders(std::move(scan), timeline, {0, false, plan->Placeholders});
  }
  return WithPlaceholders(std::move(scan), timeline, {0, false});
}

namespace {

// No index to keep: the index at its place, whole before its code names it,
// then the list's size, the header fields and the RIFF size.
void WriteStraight(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts,
                   const std::vector<unsigned char>& headerList, const InPlaceIdx1Plan& plan) {
  WriteChunkSizes(file, scan.SizeFixes);
  if (!headerList.empty()) {
    file.Seek(0, 0);
    file.Write(headerList.data(), static_cast<std::int64_t>(headerList.size()));
  }
  if (((scan.End() - scan.MoviOffset) & 1) != 0) WriteByteAt(file, scan.End(), 0);
  // The lost chunks' placeholders after the data, which the index points at.
  if (!scan.Placeholders.empty()) {
    file.Seek(scan.PlaceholdersAt, 0);
    file.Write(scan.Placeholders.data(), static_cast<std::int64_t>(scan.Placeholders.size()));
  }
  // Whatever the code's place holds stays until the index is whole; the old
  // bytes after it, until the file is cut there, are a JUNK chunk that a
  // player reading chunk by chunk skips.
  WriteIdx1Chunk(file, scan, plan.Index, {}, false);
  if (file.SourceSize() - plan.End >= ChunkHeader::Size) WriteJunkHeader(file, plan.End, file.SourceSize());
  file.SyncData();
  unsigned char code[4];
  VEK::StoreLe32(code, CodeIdx1);
  file.Seek(plan.Index, 0);
  file.Write(code, sizeof code);
  file.SyncData();
  PatchListSize(file, scan.MoviOffset, plan.Index);
  WriteHeaderCounts(file, scan, counts, plan.End);
  if (!headerList.empty()) PatchListSize(file, 0, plan.End);
  file.SyncData();
  file.Seek(plan.End, 0);
}

}  // namespace

void WriteInPlaceIdx1(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts,
                      const std::vector<unsigned char>& headerList, const InPlaceIdx1Plan& plan, bool& changed) {
  if (!plan.Hop) {
    changed = true;
    WriteStraight(file, scan, counts, headerList, plan);
    return;
  }
  // The writes between two flushes may reach the disk in any order, or some
  // of them not at all, when the power fails; a kill lands them in the
  // order made. So each step below holds writes that read well in any
  // subset, and is on disk before the next begins: one flush each.
  //
  // 1. The index past the old end (the lost chunks' placeholders right
  //    before it), where nothing reads it yet, and the chunks' own sizes,
  //    which leave the old index pointing at the same data: players read
  //    the file as before whichever of them landed.
  if (plan.Placeholders >= 0) {
    file.Seek(plan.Placeholders, 0);
    file.Write(scan.Placeholders.data(), static_cast<std::int64_t>(scan.Placeholders.size()));
  }
  WriteIdx1Chunk(file, scan, plan.FarIndex, {});
  if (!scan.SizeFixes.empty()) {
    changed = true;
    WriteChunkSizes(file, scan.SizeFixes);
  }
  file.SyncData();
  // 2. The list's end moved to the far index by one byte. Up to that byte
  //    players read the old index; from it on, the new one.
  changed = true;
  WriteByteAt(file, plan.SizeField + plan.Byte, plan.Far);
  file.SyncData();
  // 3. What players no longer read through the index: the old index and the
  //    tail, where the index goes, and the header fields written after it.
  //    A player that reads the list chunk by chunk skips what it cannot use
  //    by the sizes: first the whole rest of the list up to the far index is
  //    one JUNK chunk, and everything after is written inside it, so that
  //    after every write, in the order made, the chunks from the data on are
  //    whole. Whatever part of this step a power failure lets land, the list
  //    ends at the far index, which players read.
  if (!headerList.empty()) {
    file.Seek(0, 0);
    file.Write(headerList.data(), static_cast<std::int64_t>(headerList.size()));
  }
  const std::int64_t dataEnd = plan.Junk >= 0 ? plan.Junk : plan.Index;
  if (((scan.End() - scan.MoviOffset) & 1) != 0) WriteByteAt(file, scan.End(), 0);
  WriteJunkHeader(file, dataEnd, plan.Placeholders >= 0 ? plan.Placeholders : plan.FarIndex);
  if (plan.EvenLow >= 0) WriteByteAt(file, plan.SizeField, static_cast<unsigned char>(plan.EvenLow));
  if (plan.Index != plan.FarIndex) {
    // Between the index and the far one, until the file is cut after it.
    WriteJunkHeader(file, plan.Index + plan.IndexBytes, plan.FarIndex);
    if (plan.Index == dataEnd) {
      WriteIdx1Chunk(file, scan, plan.Index, {}, false);  // the JUNK chunk shrinks to the index
    } else {
      WriteIdx1Chunk(file, scan, plan.Index, {});
      WriteJunkHeader(file, dataEnd, plan.Index);  // the list's damaged end
    }
    PatchLe32(file, plan.Index, CodeIdx1);
  }
  WriteHeaderCounts(file, scan, counts, plan.End);
  if (!headerList.empty()) PatchListSize(file, 0, plan.End);
  file.SyncData();
  // 4. The list's end back where the index now is, by the same byte; on
  //    disk before the cut takes the far index away.
  if (plan.Index != plan.FarIndex) {
    WriteByteAt(file, plan.SizeField + plan.Byte, plan.Old);
    file.SyncData();
  }
  file.Seek(plan.End, 0);
}

}  // namespace VEKRiff
