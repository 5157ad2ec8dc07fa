#include "recover/ExFatDirectory.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "util/Endian.h"

namespace VEKRecover {

namespace {

constexpr int EntryBytes = 32;
constexpr std::uint8_t InUseBit = 0x80;
// The types with their in-use bit set.
constexpr std::uint8_t TypeBitmap = 0x81, TypeUpCase = 0x82, TypeFile = 0x85, TypeStream = 0xC0,
                       TypeName = 0xC1;
// Secondary entries have bit 6 set: a File entry's set takes any it does
// not know (a vendor's) as long as the checksum holds.
constexpr std::uint8_t SecondaryBit = 0x40;
constexpr std::uint16_t AttrDirectory = 0x10;
constexpr std::uint8_t AllocationPossible = 0x01, NoFatChainFlag = 0x02;
constexpr int NameChars = 15;

// A timestamp with its hundredths (0 to 199 added to the even seconds) and
// its offset from UTC (bit 7: known; then a signed count of quarter hours).
FatDate DateOf(std::uint32_t stamp, std::uint8_t tenMs, std::uint8_t utc) {
  FatDate d;
  d.Year = 1980 + static_cast<int>(stamp >> 25);
  d.Month = (stamp >> 21) & 0x0F;
  d.Day = (stamp >> 16) & 0x1F;
  d.Hour = (stamp >> 11) & 0x1F;
  d.Minute = (stamp >> 5) & 0x3F;
  d.Second = static_cast<int>(stamp & 0x1F) * 2;
  if (tenMs < 200) {
    d.Second += tenMs / 100;
    d.Hundredths = tenMs % 100;
  }
  if ((utc & 0x80) != 0) {
    int quarters = utc & 0x7F;
    if (quarters >= 0x40) quarters -= 0x80;
    d.UtcKnown = true;
    d.UtcOffsetMinutes = quarters * 15;
  }
  return d;
}

}  // namespace

std::uint16_t ExFatSetChecksum(const unsigned char* set, int count) {
  std::uint16_t sum = 0;
  for (int i = 0; i < count * EntryBytes; ++i) {
    if (i == 2 || i == 3) continue;
    sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + set[i]);
  }
  return sum;
}

ExFatDirectoryReader::Slot ExFatDirectoryReader::Read(const unsigned char* p, std::int64_t offset, DirEntry& entry,
                                                      ExFatSystemFile& system) {
  const std::uint8_t type = p[0];
  if (type == 0) {
    Want = 0;
    return Slot::End;
  }
  if (Want > 0) {
    // A secondary entry of the open set, in use or deleted as its File
    // entry is; anything else ends the set unfinished, and is read afresh.
    const bool fits = (type & SecondaryBit) != 0 && ((type & InUseBit) == 0) == SetDeleted;
    if (fits) {
      std::memcpy(Set + Have * EntryBytes, p, EntryBytes);
      if (++Have < Want) return Slot::Skipped;
      const bool whole = Finish(entry);
      Want = 0;
      return whole ? Slot::Entry : Slot::Skipped;
    }
    Want = 0;
  }
  switch (type) {
    case TypeBitmap:
    case TypeUpCase:
      system = ExFatSystemFile{};
      system.FirstCluster = VEK::LoadLe32(p + 20);
      system.Bytes = VEK::LoadLe64(p + 24);
      system.BitmapIndex = p[1] & 1;
      return type == TypeBitmap ? Slot::Bitmap : Slot::UpCase;
    case TypeFile:
    case TypeFile & ~InUseBit: {
      // A stream entry and one name entry at least, and no more than the
      // longest name needs.
      const int secondaries = p[1];
      if (secondaries < 2 || secondaries >= MaxSetEntries) return Slot::Skipped;
      std::memcpy(Set, p, EntryBytes);
      Have = 1;
      Want = 1 + secondaries;
      SetDeleted = type != TypeFile;
      SetOffset = offset;
      return Slot::Skipped;
    }
    default: return Slot::Skipped;
  }
}

bool ExFatDirectoryReader::Finish(DirEntry& entry) {
  // The checksum as the set had it while in use.
  unsigned char set[MaxSetEntries * EntryBytes];
  std::memcpy(set, Set, static_cast<std::size_t>(Want) * EntryBytes);
  for (int i = 0; i < Want; ++i) set[i * EntryBytes] |= InUseBit;
  if (ExFatSetChecksum(set, Want) != VEK::LoadLe16(set + 2)) return false;
  const unsigned char* file = set;
  const unsigned char* stream = set + EntryBytes;
  if (stream[0] != TypeStream) return false;
  const int nameLength = stream[3];
  const int nameEntries = (nameLength + NameChars - 1) / NameChars;
  if (nameLength == 0 || 2 + nameEntries > Want) return false;
  std::u16string name;
  for (int i = 0; i < nameEntries; ++i) {
    const unsigned char* part = set + (2 + i) * EntryBytes;
    if (part[0] != TypeName) return false;
    for (int c = 0; c < NameChars && static_cast<int>(name.size()) < nameLength; ++c)
      name += static_cast<char16_t>(VEK::LoadLe16(part + 2 + 2 * c));
  }
  const std::uint8_t flags = stream[1];
  const std::uint64_t validLength = VEK::LoadLe64(stream + 8);
  const std::uint64_t dataLength = VEK::LoadLe64(stream + 24);
  if (validLength > dataLength) return false;
  entry = DirEntry{};
  entry.LongName = Utf8Of(name);
  entry.Deleted = SetDeleted;
  entry.Directory = (VEK::LoadLe16(file + 4) & AttrDirectory) != 0;
  entry.FirstCluster = (flags & AllocationPossible) != 0 ? VEK::LoadLe32(stream + 20) : 0;
  entry.Size = dataLength;
  entry.NoFatChain = (flags & NoFatChainFlag) != 0;
  entry.Written = DateOf(VEK::LoadLe32(file + 12), file[21], file[23]);
  entry.SlotOffset = SetOffset;
  return true;
}

}  // namespace VEKRecover
