// What a check says about the header list: whether each stream the data holds
// has a header, and whether that header says what the data is (its kind, its
// timing, its codec, picture size, sample rate and channels, the codec data a
// decoder needs). The verdict tells the check's lines and which parts of the
// list a rebuild writes again: a part found sound is kept as it stands.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "codec/StreamFormat.h"
#include "engine/ScanResult.h"

namespace VEKRiff {

// One stream number, as its chunks and its header have it.
struct StreamVerdict {
  std::int64_t Chunks = 0;                         // chunks of this number the walk kept
  bool Video = false;                              // its chunks are "dc" or "db"
  bool Audio = false;                              // "wb"
  VEKAvi::FourCC Code = 0;                         // the first of its chunks of its kind ("00dc")
  bool HeaderSound = true;                         // strh may be kept
  bool FormatSound = true;                         // strf may be kept
  std::optional<VEKCodec::VideoFormat> VideoData;  // what its first chunk is
  std::optional<VEKCodec::AudioFormat> AudioData;

  bool InData() const { return Chunks > 0; }
};

struct HeaderVerdict {
  bool StartLost = false;
  bool MainSound = true;
  // By stream number: every number with a header or data. A rebuild writes
  // a header for each of them up to the first number with neither.
  std::vector<StreamVerdict> Streams;
  Findings Lines;

  // The header list itself, whatever became of the RIFF header before it.
  bool ListSound() const {
    if (!MainSound) return false;
    for (const StreamVerdict& s : Streams)
      if (!s.HeaderSound || !s.FormatSound) return false;
    return true;
  }
  bool Sound() const { return !StartLost && ListSound(); }
};

HeaderVerdict CheckHeaderList(const ScanResult& scan);

// Judges one stream header, the file's own or a reference file's, against
// what stream s of the data is (v, from the list's verdict): clears v's
// HeaderSound and FormatSound where the header does not describe the data,
// and adds the lines that say why. first: the stream's first chunk, or null.
void CheckStreamHeader(std::size_t s, const VEKAvi::StreamHeader& h, const FirstChunk* first, StreamVerdict& v,
                       Findings& lines);
// Whether a main header can be kept: it is there, and where the data holds
// video, it gives a frame time a film can have.
bool MainHeaderSound(const VEKAvi::AviHeaders& headers, bool video);

// "H.264", "MPEG audio" and the like: how a line names what the data is.
std::string DataName(const StreamVerdict& stream);
// A four-character code as text, or in hexadecimal where it is not printable.
std::string CodeText(VEKAvi::FourCC code);
// An audio format tag as text: "0x0055".
std::string TagText(std::uint16_t tag);
// Whether a format tag names the codec the data is (MPEG audio under either
// of its two tags).
bool SameAudioCodec(std::uint16_t tag, const VEKCodec::AudioFormat& data);

}  // namespace VEKRiff
