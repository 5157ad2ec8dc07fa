// The entries of a FAT directory, live and deleted, read from its 32-byte
// slots: the 8.3 name with its lower-case flags, the long name its slots
// spell where their checksum vouches for it, the first cluster (its high
// word on FAT32), the size and the date written. A deleted entry has lost
// the first letter of its 8.3 name and the order marks of its long name;
// both come back where the long name's checksum agrees.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace VEKRecover {

// The time as the camera's clock showed it. FAT keeps even seconds; exFAT
// keeps hundredths too, and may say how far the clock was from UTC.
struct FatDate {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
  int Hundredths = 0;
  bool UtcKnown = false;
  int UtcOffsetMinutes = 0;  // local time less UTC, where UtcKnown
};

struct DirEntry {
  std::string ShortName;  // "PHOTO01.JPG"; deleted and not restored: "?HOTO01.JPG"
  std::string LongName;   // UTF-8; empty when there is none, or none to trust
  std::string Folder;     // the folder that lists it, "/" for the root, "/DCIM/100CAM"
  bool Deleted = false;
  bool Directory = false;
  std::uint32_t FirstCluster = 0;
  std::uint64_t Size = 0;  // exFAT's sizes have 64 bits
  // exFAT: its clusters lie one after another from the first, with no chain
  // in the FAT.
  bool NoFatChain = false;
  FatDate Written;
  std::int64_t SlotOffset = 0;  // where its 32-byte slot (exFAT: its set's first) lies in the source

  const std::string& Name() const { return LongName.empty() ? ShortName : LongName; }
};

// Reads slots one after another, carrying a long name's parts from slot to
// slot (and so from one cluster of a directory to the next).
class DirectoryReader {
 public:
  enum class Slot { Entry, Skipped, End };
  // Decodes the slot at p (32 bytes, found at offset in the source). Entry
  // fills entry with a file or folder; Skipped for a long-name part, a
  // volume label, "." and "..", a blank slot; End at the slot that ends the
  // directory (first byte 0).
  Slot Read(const unsigned char* p, std::int64_t offset, bool fat32, DirEntry& entry);

 private:
  struct NamePart {
    std::uint8_t Order = 0;  // 0xE5 once deleted
    std::uint8_t Checksum = 0;
    char16_t Chars[13] = {};
  };
  std::string LongNameFor(const unsigned char* shortName, bool deleted, std::string& shortText);
  std::vector<NamePart> Parts;  // as met: the name's last part first
};

// The checksum of an 11-byte 8.3 name that its long-name parts carry.
std::uint8_t ShortNameChecksum(const unsigned char* name);

// UTF-16 as UTF-8, up to its end; a lone surrogate becomes U+FFFD.
std::string Utf8Of(const std::u16string& text);

}  // namespace VEKRecover
