// The version record of the desktop program, built at compile time from the
// project version (the one place the number lives) and kept in a section of
// its own so that the reader can find it in the file. Static libraries only
// contribute objects that something references, so the About window takes
// the address of EmbeddedVersionRecord; "used" and "retain" keep the record
// through optimisation and --gc-sections.
#include "app/VersionInfo.h"

#include <cstdint>

#include "ZantrelVersion.h"
#include "lang/AppVersion.h"

namespace {

constexpr std::uint32_t kTranslations[] = {0x1009 | (0x04E4u << 16)};  // English (Canada), code page 1252

constexpr VEK::VersionString kStrings[] = {
    {"Comments", ""},
    {"CompanyName", ""},
    {"FileDescription", ""},
    {"FileVersion", ZANTREL_VERSION},
    {"InternalName", "Zantrel"},
    {"LegalCopyright", ""},
    {"LegalTrademarks", ""},
    {"OriginalFilename", ""},
    {"ProductName", ""},
    {"ProductVersion", "0.0.0.0"},
};

constexpr VEK::VersionFields::Table kTables[] = {{"100904E4", kStrings}};

constexpr VEK::VersionFields kFields{
    VEK::ParseVersionNumber(ZANTREL_VERSION),
    VEK::ParseVersionNumber(ZANTREL_VERSION),
    kTranslations,
    kTables,
};

constexpr std::size_t kSize = VEK::VersionRecordSize(kFields);

struct Record {
  unsigned char Bytes[kSize];
};

constexpr Record Build() {
  Record r{};
  VEK::WriteVersionRecord(kFields, r.Bytes);
  return r;
}

[[gnu::section(".zantrel.version"), gnu::used, gnu::retain, gnu::aligned(4)]] const Record kRecord = Build();

}  // namespace

namespace ZantrelApp {

std::span<const unsigned char> EmbeddedVersionRecord() { return {kRecord.Bytes, kSize}; }

}  // namespace ZantrelApp
