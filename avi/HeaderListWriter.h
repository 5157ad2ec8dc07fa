// A new header list: what a rebuild writes in front of the movi data when a
// file's own is damaged or lost. The records are laid out as avi/HeaderRecords.h
// has them, the same fields the reader reads.
#pragma once

#include <cstdint>
#include <vector>

#include "avi/HeaderRecords.h"

namespace VEKAvi {

struct NewStream {
  StreamHeaderRecord Header;
  std::vector<unsigned char> Format;  // the whole strf data, codec data included
  std::uint32_t IndexReserve = 0;     // room for an OpenDML super index (a JUNK chunk's data); 0: none
};

struct NewHeaderList {
  MainHeader Main;
  std::vector<NewStream> Streams;
  bool OpenDml = false;  // with a LIST odml, whose dmlh counts all frames
  std::uint32_t DmlhFrames = 0;
};

// The bytes of the RIFF header and the header list without a filler: the
// least room the list needs before the movi list.
std::int64_t HeaderListSize(const NewHeaderList& list);

// The bytes from the start of the file up to the data of the movi list:
// "RIFF" riffSize "AVI ", the LIST hdrl, a JUNK chunk that fills the rest of
// it up to moviPosition, then "LIST" moviSize "movi". Empty when the list does
// not fit there.
std::vector<unsigned char> HeaderListBytes(const NewHeaderList& list, std::int64_t moviPosition, std::uint32_t riffSize,
                                           std::uint32_t moviSize);

}  // namespace VEKAvi
