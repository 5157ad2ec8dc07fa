#include "Seeds.h"

#include "support/AviBuilder.h"

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
    AviBuilder b;  // 'hdrl' only: no movi list
    add("no-movi", b);
  }
  seeds.emplace_back("not-riff", Bytes{'R', 'I', 'F', 'X', 0, 0, 0, 0, 'A', 'V', 'I', ' '});
  seeds.emplace_back("short", Bytes{'R', 'I', 'F', 'F'});
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
      {"write-plain", "Zantrel\\0.2\0Prefix\0New."s},
      {"write-line-breaks", "A B\0Two\r\nLines\0text with\nbreak and \"quotes\" \\ \xC3\xA9"s},
  };
}

}  // namespace ZantrelFuzz
