// Frames of sound that hold nothing, to keep the place of lost ones: a
// player decodes them to silence of a frame's length, so the sound after
// them keeps its time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace VEKCodec {

// An AC-3 sync frame of the stream whose frame starts at header (n bytes of
// it, its sync information and bit stream information at least): the same
// sample rate, frame size, bit stream and channel layout, six audio blocks
// whose bit allocation gives every coefficient no bits, and both CRCs. Empty
// where header is no AC-3 frame of the standard syntax (bsid up to 8).
std::vector<unsigned char> SilentAc3Frame(const unsigned char* header, std::size_t n);

}  // namespace VEKCodec
