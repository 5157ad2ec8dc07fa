#include "Seeds.h"

#include <string_view>

#include "WorkerProperties.h"
#include "support/AviBuilder.h"
#include "util/Endian.h"

namespace ZantrelFuzz {

using ZantrelTest::AviBuilder;

std::vector<std::pair<std::string, Bytes>> AviSeeds() {
  std::vector<std::pair<std::string, Bytes>> seeds;
  auto add = [&](const char* name, const AviBuilder& b) { seeds.emplace_back(name, b.Build()); };
  {
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 64).Chunk("01wb", 32).Chunk("00dc", 10);
    add("sound", b.EndMovi().Idx1());
  }
  {
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 9).Junk(6).Chunk("REC ", 4).Chunk("00pc", 4).Chunk("01wb", 3);
    add("junk-rec-palette-odd-sizes", b.EndMovi().Idx1().Junk(20));
  }
  {
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 16).Fill(7, 0x01).Chunk("00dc", 16).Fill(6, 0xEE).Chunk("01wb", 8);
    add("garbage-between-chunks-misaligned", b.EndMovi().Idx1());
  }
  {
    AviBuilder b;
    b.StartMovi().StartRecList().Chunk("00dc", 12).Chunk("01wb", 6).EndRecList();
    b.StartRecList().Chunk("00db", 2).EndRecList();
    add("rec-lists", b.EndMovi().Idx1());
  }
  {
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 20).Header("00dc", 400).Fill(30, 0x33);
    add("truncated-in-last-chunk", b);
  }
  {
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 20).Chunk("01wb", 12);
    add("no-idx1-ends-at-end", b);
  }
  {
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 20).Fill(11, 0x7F);
    add("garbage-before-idx1", b.Idx1());
  }
  {
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 8).Header("01wb", 0x80000000u).Fill(16, 0);
    add("huge-size-field", b);
  }
  {
    AviBuilder b;
    b.StartMovi().Chunk("0Adc", 4).Chunk("aAwb", 4).Chunk("00DC", 4).Chunk("ix00", 4).Chunk("00tx", 4);
    add("stream-number-cases", b.EndMovi().Idx1());
  }
  {
    // A code straddling the first two 64 KiB blocks of a resynchronisation.
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 4);
    const std::int64_t spot = b.Size();
    b.Fill(static_cast<std::size_t>(spot + 65536 - 8 - 2 - b.Size()), 0x01).Chunk("01wb", 16);
    add("code-across-search-blocks", b.EndMovi().Idx1());
  }
  {
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 4).Fill(300, 0x00);
    add("zero-tail", b);
  }
  {
    // ffmpeg's decimal stream numbers: "10wb" and "11wb" are streams 10 and 11.
    AviBuilder b(ZantrelTest::StreamDigits::Decimal);
    b.StartMovi();
    for (int i = 0; i < 2; ++i) {
      b.Chunk("00dc", 24);
      for (const char* code : {"01wb", "02wb", "03wb", "04wb", "05wb", "06wb", "07wb", "08wb", "09wb", "10wb", "11wb"})
        b.Chunk(code, 6);
    }
    add("decimal-stream-numbers", b.EndMovi().Idx1());
  }
  {
    // An entry of the old index whose size was damaged to less than its
    // chunk's, beside that chunk, whose size what follows it confirms.
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 40).Chunk("01wb", 12).Chunk("00dc", 40);
    b.EndMovi();
    const std::int64_t idx1 = b.Size();
    Bytes film = b.Idx1().Build();
    const std::int64_t size = idx1 + 8 + 16 * 2 + 12;
    VEK::StoreLe32(&film[size], VEK::LoadLe32(&film[size]) - 9);
    seeds.emplace_back("index-entry-smaller-than-its-chunk", film);
  }
  // An OpenDML film carved from a disk behind one stray byte: its movi
  // list, its legacy index and two RIFF 'AVIX' segments, all on odd
  // positions, with no header list before them; and the same with nine
  // stray bytes between its index and its segments, which puts them on the
  // other parity than its movi list.
  for (const int gap : {0, 9}) {
    AviBuilder b;
    auto frames = [&](int from) {
      for (int i = from; i < from + 3; ++i) b.Chunk("00dc", 20 + static_cast<std::uint32_t>(i % 3)).Chunk("01wb", 7);
    };
    b.StartMovi();
    frames(0);
    b.EndMovi().Idx1();
    if (gap > 0) b.Raw(Bytes(static_cast<std::size_t>(gap), 0x4B));
    std::vector<std::int64_t> riffs;
    for (int segment = 1; segment <= 2; ++segment) {
      riffs.push_back(b.Size());
      Bytes header(24, 0);
      for (auto [at, code] : {std::pair{0, "RIFF"}, {8, "AVIX"}, {12, "LIST"}, {20, "movi"}})
        for (int k = 0; k < 4; ++k) header[static_cast<std::size_t>(at + k)] = static_cast<unsigned char>(code[k]);
      b.Raw(header);
      frames(segment * 3);
    }
    Bytes built = b.Build();
    const auto end = static_cast<std::int64_t>(built.size());
    for (std::size_t k = 0; k < riffs.size(); ++k) {
      const std::int64_t riff = riffs[k], next = k + 1 < riffs.size() ? riffs[k + 1] : end;
      VEK::StoreLe32(&built[riff + 4], static_cast<std::uint32_t>(next - riff - 8));
      VEK::StoreLe32(&built[riff + 16], static_cast<std::uint32_t>(next - riff - 20));
    }
    // One byte of what lay before the movi list stays in front of it.
    Bytes carved(built.begin() + b.MoviOffset() - 1, built.end());
    carved[0] = 0x4B;
    seeds.emplace_back(gap > 0 ? "opendml-carved-odd-segments-even" : "opendml-carved-odd", carved);
  }
  {
    AviBuilder b;  // 'hdrl' only: no movi list
    add("no-movi", b);
  }
  seeds.emplace_back("not-riff", Bytes{'R', 'I', 'F', 'X', 0, 0, 0, 0, 'A', 'V', 'I', ' '});
  seeds.emplace_back("short", Bytes{'R', 'I', 'F', 'F'});
  return seeds;
}

std::vector<std::pair<std::string, Bytes>> WorkerSeeds() {
  std::vector<std::pair<std::string, Bytes>> seeds;
  auto add = [&](std::string name, Bytes payload, Fault fault = Fault::None, int at = 1, std::size_t unitStart = 0,
                 std::size_t unitLength = 0, std::uint32_t repeats = 0) {
    WorkerCase c;
    c.Injected = fault;
    c.At = at;
    c.Source = {std::move(payload), unitStart, unitLength, repeats};
    seeds.emplace_back(std::move(name), EncodeCase(c));
  };
  Bytes sound;
  for (auto& [name, bytes] : AviSeeds()) {
    if (name == "sound") sound = bytes;
    add(name, bytes);
  }
  const struct {
    const char* name;
    Fault fault;
  } faults[] = {
      {"write-no-space", Fault::WriteNoSpace}, {"write-nothing", Fault::WriteNothing},
      {"write-io-error", Fault::WriteIoError}, {"truncate-fails", Fault::TruncateFails},
      {"reserve-refused", Fault::ReserveRefused}, {"rename-fails", Fault::RenameFails},
      {"read-fails", Fault::ReadFails},
  };
  // Writes fail at the first call and at the second (in place, the index
  // and the movi size are separate writes); reads at the first and in the
  // walk. The other faults strike every call of their kind.
  for (const auto& f : faults) {
    const bool counted = f.fault != Fault::TruncateFails && f.fault != Fault::ReserveRefused &&
                         f.fault != Fault::RenameFails;
    for (int at : {1, f.fault == Fault::ReadFails ? 9 : 2})
      if (counted || at == 1)
        add(std::string("sound-") + f.name + (counted ? "-" + std::to_string(at) : ""), sound, f.fault, at);
  }

  // Over 8 MiB of frames and sound: the mirror hands batches to its
  // background copy.
  AviBuilder big;
  big.StartMovi().Chunk("00dc", 100);
  const std::size_t unit = static_cast<std::size_t>(big.Size());
  big.Chunk("00dc", 3001).Chunk("01wb", 1000);
  const std::size_t unitLength = static_cast<std::size_t>(big.Size()) - unit;
  big.Chunk("00dc", 50).Chunk("01wb", 20);
  add("film-past-copy-batch", big.Build(), Fault::None, 1, unit, unitLength, 2200);
  add("film-past-copy-batch-write-fails", big.Build(), Fault::WriteNoSpace, 3, unit, unitLength, 2200);
  add("film-past-copy-batch-read-fails", big.Build(), Fault::ReadFails, 1 + 8 * 12, unit, unitLength, 2200);
  // The same with a size field flipped near the end: the walk must go on.
  AviBuilder flipped = big;
  flipped.Header("00dc", 0x40000010).Fill(16, 0x44).Chunk("01wb", 12).Chunk("00dc", 30);
  add("film-past-copy-batch-size-flipped", flipped.Build(), Fault::None, 1, unit, unitLength, 2200);

  // Tiny chunks by the hundred thousand: an index of over 2 MiB goes past
  // the write queue's limit.
  AviBuilder many;
  many.StartMovi();
  const std::size_t tiny = static_cast<std::size_t>(many.Size());
  many.Chunk("00dc", 0).Chunk("01wb", 0).Chunk("00dc", 2);
  const std::size_t tinyLength = static_cast<std::size_t>(many.Size()) - tiny;
  add("film-index-past-write-queue", many.Build(), Fault::None, 1, tiny, tinyLength, 50000);
  add("film-index-past-write-queue-second-write-fails", many.Build(), Fault::WriteIoError, 2, tiny, tinyLength,
      50000);
  return seeds;
}

namespace {

// A registry that other programs and hand edits made large: many keys, and
// one key with many values. It also lifts the fuzzer's input length to its
// size, so that mutations explore large inputs too.
std::string ManyKeys(int keys, int valuesInOneKey) {
  std::string text = "REGEDIT4\r\n\r\n";
  for (int k = 0; k < keys; ++k) {
    text += "[HKEY_CURRENT_USER\\Software\\Vendor" + std::to_string(k % 37) + "\\Tool" + std::to_string(k) +
            "]\r\n\"Count\"=dword:" + std::to_string(10000000 + k) + "\r\n";
    if (k % 3 == 0) text += "\"Path\"=\"C:\\\\File " + std::to_string(k) + ".avi\"\r\n";
    text += "\r\n";
  }
  text += "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Placement]\r\n";
  for (int v = 0; v < valuesInOneKey; ++v) text += "\"Recent" + std::to_string(v) + "\"=\"x\"\r\n";
  return text;
}

// Latin-1 text in UTF-16 LE, as Windows' registry editor writes files.
std::string Wide(std::string_view latin1) {
  std::string out;
  for (char c : latin1) out += std::string{c, '\0'};
  return out;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> StoreSeeds() {
  using namespace std::string_literals;
  return {
      {"many-keys", ManyKeys(1000, 1000)},
      {"older-names-and-handler",
       "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Prompts]\n\"BackupWarning\"=dword:0\n"
       "\"ModifyOriginalPrompt\"=dword:1\n[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Files]\n"
       "\"FixedPrefix\"=\"Old.\"\n\"BackupFiles\"=dword:0\n\"DisableAviHandler\"=dword:1\n"
       "[HKEY_CLASSES_ROOT\\SystemFileAssociations\\.avi\\shellex\\PropertyHandler]\n@=\"{h}\"\n"},
      {"settings", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2]\n\"Language\"=dword:00000001\n"
                   "\n[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Files]\n\"Prefix\"=\"Zantrel.\"\n"
                   "\"KeepOriginal\"=dword:00000001\n\n[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Layout]\n"
                   "\"Files.Column(0).Width\"=dword:000000c8\n"},
      {"other-writers", "\xEF\xBB\xBFREGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Hand]\r\n"
                        "\"Short\"=dword:FA\r\n\"Expand\"=hex(2):25,54,45,4d,50,25,00\r\n"
                        "\"Sz\"=hex(1):61,62,00\r\n\"Dword4\"=hex(4):01,02,00,00\r\n"
                        "\"Twice\"=dword:00000001\r\n\"twice\"=dword:00000002\r\n\"EmptyExpand\"=hex(2):\r\n"
                        "  \"Spaced\" = \"x\"\r\n\"Long\"=hex(2):41,42,\\\r\n  43,00\r\n"},
      {"unknown-kinds", "REGEDIT4\n\n; a comment\n[HKEY_CURRENT_USER\\Software\\K]\n; inside\n"
                        "\"Multi\"=hex(7):61,00,62,00,00,\\\n  00\n\"Qword\"=hex(b):01,00,00,00,00,00,00,00\n"
                        "@=\"default \\\"quoted\\\" \\\\ back\"\n[HKEY_CLASSES_ROOT\\SystemFileAssociations\\.avi]\n"},
      {"windows-export-utf16",
       "\xFF\xFE"s +
           Wide("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Files]\r\n"
                "\"Prefix\"=\"R\xE9par") +
           "\x3D\xD8\x00\xDE"s +
           Wide(".\"\r\n\"KeepOriginal\"=dword:00000000\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                "\"Path\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,e9,00,\\\r\n  3d,d8,00,de,00,00\r\n"
                "\"Multi\"=hex(7):61,00,00,00,e9,00,00,00,00,00\r\n\"Sz\"=hex(1):61,00,00,00\r\n")},
      {"line-ends-cr-and-mixed",
       "REGEDIT4\r\r[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Files]\n\"Prefix\"=\"A.\"\r\n"
       "\"Long\"=hex:01,\\\r  02\r\r\n[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2]\r\"Language\"=dword:1\r"},
      {"write-plain", "Zantrel\\0.2\0Prefix\0New."s},
      {"write-line-breaks", "A B\0Two\r\nLines\0text with\nbreak and \"quotes\" \\ \xC3\xA9"s},
  };
}

}  // namespace ZantrelFuzz
