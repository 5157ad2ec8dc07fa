#include "WorkerProperties.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "support/TempDir.h"
#include "support/WorkerRun.h"
#include "util/Endian.h"

namespace ZantrelFuzz {

namespace {

using ZantrelTest::Code;

std::uint32_t Le32(const Bytes& b, std::int64_t at) { return VEK::LoadLe32(&b[static_cast<std::size_t>(at)]); }

bool IsHex(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Written out again here rather than taken from the engine, so that a fault
// in the engine's own test cannot hide itself.
bool IsStreamId(const Bytes& b, std::int64_t at) {
  const auto* p = &b[static_cast<std::size_t>(at)];
  if (!IsHex(p[0]) || !IsHex(p[1])) return false;
  const std::string kind(reinterpret_cast<const char*>(p + 2), 2);
  return kind == "db" || kind == "dc" || kind == "pc" || kind == "wb";
}

// The top-level LIST movi, found the way any RIFF reader would: chunk by
// chunk from the end of the form header, each padded to an even length.
std::int64_t FindMovi(const Bytes& b) {
  const std::int64_t size = static_cast<std::int64_t>(b.size());
  std::int64_t pos = 12;
  while (size - pos >= 12) {
    if (Le32(b, pos) == Code("LIST") && Le32(b, pos + 8) == Code("movi")) return pos;
    std::int64_t next = pos + 8 + static_cast<std::int64_t>(Le32(b, pos + 4));
    pos = next + (next & 1);
  }
  return -1;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::Check: return "check";
    case Mode::Copy: return "copy";
    case Mode::InPlace: return "in place";
  }
  return "?";
}

}  // namespace

std::string CheckRebuild(const Bytes& source, const Bytes& output) {
  const std::int64_t movi = FindMovi(source);
  if (movi < 0) return "a file without a top-level movi list was rebuilt";
  const std::int64_t outSize = static_cast<std::int64_t>(output.size());
  const std::int64_t srcSize = static_cast<std::int64_t>(source.size());
  if (outSize < movi + 12 || Le32(output, movi) != Code("LIST") || Le32(output, movi + 8) != Code("movi"))
    return "the movi list header is gone";
  // The patched size says where the index starts: the walk's end, padded.
  const std::int64_t index = movi + 8 + static_cast<std::int64_t>(Le32(output, movi + 4));
  if (index & 1) return "the movi list ends on an odd position";
  if (index < movi + 12 || index > srcSize + 1) return "the movi list size points outside the source";
  if (outSize < index + 8 || Le32(output, index) != Code("idx1")) return "no idx1 where the movi list ends";
  const std::int64_t indexSize = Le32(output, index + 4);
  if (indexSize % 16 != 0) return "the idx1 size is not a whole number of entries";
  if (outSize != index + 8 + indexSize) return "the file does not end right after the index";
  for (std::int64_t i = 0; i < index; ++i) {
    if (i >= movi + 4 && i < movi + 8) continue;
    const unsigned char out = output[static_cast<std::size_t>(i)];
    // The last byte before an even index may be the pad of an odd walk end.
    if (i == index - 1 && out == 0) continue;
    if (i >= srcSize || out != source[static_cast<std::size_t>(i)])
      return "byte " + std::to_string(i) + " differs from the source";
  }
  std::int64_t previous = -1;
  for (std::int64_t e = index + 8; e < outSize; e += 16) {
    const std::string which = "entry " + std::to_string((e - index - 8) / 16) + ": ";
    const std::uint32_t id = Le32(output, e), flags = Le32(output, e + 4), size = Le32(output, e + 12);
    const std::int64_t header = movi + 8 + static_cast<std::int64_t>(Le32(output, e + 8));
    if (flags != 0x10) return which + "flags are not the key-frame flag";
    if (header < movi + 12 || header <= previous) return which + "offset out of order or before the data";
    if (header + 8 + static_cast<std::int64_t>(size) > index) return which + "chunk runs past the walk's end";
    if (!IsStreamId(source, header)) return which + "no stream chunk header there";
    if (Le32(source, header) != id || Le32(source, header + 4) != size)
      return which + "id or size differs from the chunk header";
    previous = header;
  }
  return "";
}

std::vector<std::string> CheckWorkerRun(const std::string& folder, const Bytes& bytes, Mode mode) {
  std::vector<std::string> broken;
  auto fail = [&](const std::string& what) { broken.push_back(std::string(ModeName(mode)) + ": " + what); };
  const std::string source = folder + "/in.avi";
  const std::string copy = folder + "/Zantrel.in.avi";
  std::remove(copy.c_str());
  ZantrelTest::WriteFile(source, bytes);

  ZantrelTest::WorkerRunOptions options;
  options.CheckOnly = mode == Mode::Check;
  options.KeepOriginal = mode != Mode::InPlace;
  const auto run = ZantrelTest::RunWorker({source}, options);

  const auto outcomes = run.Outcomes();
  if (outcomes.size() != 1) fail("not exactly one outcome notification");
  const VEKRiff::RebuildEvent outcome = outcomes.empty() ? VEKRiff::FileStarted : outcomes.front();
  if (!run.TerminateHandlerRan) fail("the termination handler did not run");
  if (run.Lines.empty() || run.Lines.front() != "Processing file \"in.avi\"")
    fail("the first line is not the processing line");
  if (run.Lines.empty() || !run.Lines.back().empty()) fail("the file's lines do not end with the empty line");
  const bool done = run.Lines.size() >= 2 && run.Lines[run.Lines.size() - 2].rfind("Done. Found ", 0) == 0;

  const Bytes after = ZantrelTest::ReadFile(source);
  switch (mode) {
    case Mode::Check:
      if (outcome != VEKRiff::FileOk && outcome != VEKRiff::FileError) fail("a check ended in another outcome");
      if (after != bytes) fail("a check changed the source");
      if (Exists(copy)) fail("a check created a file");
      break;
    case Mode::Copy:
      if (after != bytes) fail("a copy changed the source");
      if (outcome == VEKRiff::FileRebuilt) {
        if (!done) fail("a completed copy has no Done line");
        if (!Exists(copy)) {
          fail("a completed copy does not exist");
        } else {
          const std::string why = CheckRebuild(bytes, ZantrelTest::ReadFile(copy));
          if (!why.empty()) fail("completed copy: " + why);
        }
      } else {
        if (done) fail("a failed copy has a Done line");
        if (Exists(copy)) fail("a failed copy was left behind");
      }
      break;
    case Mode::InPlace:
      if (Exists(copy)) fail("an in-place run created a second file");
      if (outcome == VEKRiff::FileRebuilt) {
        const std::string why = CheckRebuild(bytes, after);
        if (!why.empty()) fail("rebuilt file: " + why);
      } else if (after != bytes) {
        fail("an in-place run that did not complete changed the file");
      }
      break;
  }
  return broken;
}

}  // namespace ZantrelFuzz
