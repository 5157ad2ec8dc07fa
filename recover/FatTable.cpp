#include "recover/FatTable.h"

#include <algorithm>

#include "recover/Source.h"
#include "util/Endian.h"

namespace VEKRecover {

FatTable::FatTable(const Source& source, const FatLayout& layout, std::uint32_t copy)
    : From(source), Layout(layout), Start(layout.FatStart + std::int64_t{copy} * layout.FatBytes),
      Window(new unsigned char[WindowBytes]) {
  switch (layout.Type) {
    case FatType::Fat12: Mask = 0xFFF; break;
    case FatType::Fat16: Mask = 0xFFFF; break;
    case FatType::Fat32: Mask = 0x0FFFFFFF; break;
    case FatType::ExFat: Mask = 0xFFFFFFFF; break;
  }
  BadMark = Mask - 8;  // 0xFF7, 0xFFF7, 0x0FFFFFF7, 0xFFFFFFF7
  EndMark = Mask - 7;  // 0xFF8 and above end a chain
}

const unsigned char* FatTable::Bytes(std::int64_t offset, std::int64_t n) {
  if (offset < WindowStart || offset - WindowStart > WindowLength - n) {
    WindowStart = offset / 512 * 512;
    const std::int64_t want = std::min(WindowBytes, Layout.FatBytes - WindowStart);
    WindowLength = From.ReadAt(Window.get(), want, Start + WindowStart);
    if (offset - WindowStart > WindowLength - n) return nullptr;
  }
  return Window.get() + (offset - WindowStart);
}

std::uint32_t FatTable::Entry(std::uint32_t cluster) {
  const unsigned char* p = nullptr;
  switch (Layout.Type) {
    case FatType::Fat12: {
      // Two entries share three bytes: the even one the low 12 bits.
      p = Bytes(std::int64_t{cluster} * 3 / 2, 2);
      if (!p) return 0;
      const std::uint32_t pair = VEK::LoadLe16(p);
      return cluster % 2 ? pair >> 4 : pair & 0xFFF;
    }
    case FatType::Fat16:
      p = Bytes(std::int64_t{cluster} * 2, 2);
      return p ? VEK::LoadLe16(p) : 0;
    case FatType::Fat32:
      p = Bytes(std::int64_t{cluster} * 4, 4);
      return p ? VEK::LoadLe32(p) & Mask : 0;
    case FatType::ExFat:
      p = Bytes(std::int64_t{cluster} * 4, 4);
      return p ? VEK::LoadLe32(p) : 0;
  }
  return 0;
}

bool FatTable::Sound() {
  const std::uint32_t first = Entry(0);
  // Entry 1's top bits are the volume's clean and error flags, so only
  // that it is not blank is asked of it.
  return (first & 0xFF) == Layout.Media && (first | 0xFF) == Mask && Entry(1) != 0;
}

}  // namespace VEKRecover
