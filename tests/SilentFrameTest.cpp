// A silent AC-3 frame made from a stream's own frame decodes, by ffmpeg with
// its CRC check on, to a frame's length of zero samples in the stream's
// layout; one byte changed in it fails that check. Skipped without ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "codec/SilentFrame.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace {

using namespace ZantrelTest;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(SilentFrame, AnAc3FrameDecodesToSilenceInTheStreamsOwnLayout) {
  if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const struct {
    const char* rate;
    const char* layout;
    const char* bitrate;
    int channels;
  } rows[] = {{"48000", "stereo", "192k", 2}, {"44100", "stereo", "192k", 2}, {"44100", "mono", "96k", 1},
              {"32000", "stereo", "128k", 2}, {"48000", "5.1", "384k", 6},  {"44100", "3.0", "160k", 3},
              {"48000", "quad", "256k", 4},   {"44100", "2.1", "128k", 3}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.rate) + " Hz " + row.layout + " " + row.bitrate);
    TempDir dir;
    const std::string stream = dir / "stream.ac3", silent = dir / "silent.ac3";
    const ProgramRun made =
        RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                    std::string("sine=f=440:duration=0.5:sample_rate=") + row.rate, "-af",
                    std::string("aformat=channel_layouts=") + row.layout, "-c:a", "ac3", "-b:a", row.bitrate, stream});
    ASSERT_EQ(made.Status, 0) << made.Err;
    const std::string first = Contents(stream);
    const std::vector<unsigned char> frame =
        VEKCodec::SilentAc3Frame(reinterpret_cast<const unsigned char*>(first.data()), first.size());
    ASSERT_FALSE(frame.empty());
    // The same size as the stream's frames: the next one starts there.
    ASSERT_GT(first.size(), frame.size() + 1);
    EXPECT_EQ(static_cast<unsigned char>(first[frame.size()]), 0x0B);
    EXPECT_EQ(static_cast<unsigned char>(first[frame.size() + 1]), 0x77);
    for (const bool spoilt : {false, true}) {
      std::vector<unsigned char> bytes = frame;
      if (spoilt) bytes[bytes.size() / 2] ^= 0x10;
      std::ofstream(silent, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
      const ProgramRun decoded = RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-err_detect", "crccheck", "-f",
                                             "ac3", "-i", silent, "-f", "s16le", "-"});
      if (spoilt) {
        EXPECT_NE(decoded.Err.find("CRC"), std::string::npos) << "a spoilt frame passed the check";
        continue;
      }
      EXPECT_EQ(decoded.Err, "");
      EXPECT_EQ(decoded.Out.size(), std::size_t{1536} * 2 * static_cast<std::size_t>(row.channels));
      EXPECT_TRUE(std::all_of(decoded.Out.begin(), decoded.Out.end(), [](char c) { return c == 0; }));
    }
  }
}

}  // namespace
