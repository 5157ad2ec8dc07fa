// Which numbering a file's chunk codes use for their streams, judged from
// the codes themselves and the header list that describes the streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "avi/AviChunk.h"

namespace VEKAvi {

// prefixes: the two leading characters of the stream chunk codes seen (the
// low 16 bits of each code), duplicates allowed. streams: how many streams
// the file's header list describes, 0 where it has none.
//
// With a header list, the numbering under which every code names a stream
// it describes; decimal where both do (they then differ only for streams
// that have no chunks among those seen). Where neither does (a list cut
// short, a stray code), the one under which more codes do. Without one, the
// one that can read every code: decimal unless a code holds a letter, as
// decimal numbers the same codes from 0 on without the gaps hexadecimal
// leaves ("10" after "09").
StreamNumbering DecideNumbering(const std::vector<std::uint16_t>& prefixes, std::size_t streams);

}  // namespace VEKAvi
