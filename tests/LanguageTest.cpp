#include <gtest/gtest.h>

#include "lang/Language.h"
#include "util/TextFormat.h"

namespace {

struct LanguageGuard {
  ~LanguageGuard() { VEK::SetLanguage(VEK::English); }
};

TEST(Language, SetLanguageKeepsOnlyEnglishOrFrenchFromTheLowByte) {
  LanguageGuard guard;
  const struct {
    int value;
    std::int8_t expected;
  } cases[] = {{0, VEK::English}, {1, VEK::French}, {2, VEK::English}, {7, VEK::English},
               {-5, VEK::English}, {257, VEK::French}, {256, VEK::English}, {-1, VEK::English}};
  for (const auto& c : cases) {
    VEK::SetLanguage(static_cast<std::int8_t>(c.value));
    EXPECT_EQ(VEK::LanguageIndex(), c.expected) << "value " << c.value;
  }
}

TEST(Language, TextPicksThePairEntryWhenBuiltAndFillsPlaceholdersInOrder) {
  LanguageGuard guard;
  const VEK::MessagePair pair = {{"Could not open file \"%s\".", "Impossible d'ouvrir le fichier \"%s\"."}};
  VEK::SetLanguage(VEK::English);
  const std::string english = VEK::Text(pair, {"/tmp/a b.avi"});
  VEK::SetLanguage(VEK::French);
  EXPECT_EQ(english, "Could not open file \"/tmp/a b.avi\".");
  EXPECT_EQ(VEK::Text(pair, {"/tmp/a b.avi"}), "Impossible d'ouvrir le fichier \"/tmp/a b.avi\".");
}

TEST(TextFormat, DecimalPlaceholdersPrintSixtyFourBitValuesWhole) {
  EXPECT_EQ(VEK::Format("Offset %d, Origin %d", {std::int64_t{5000000000}, 0}), "Offset 5000000000, Origin 0");
  EXPECT_EQ(VEK::Format("%d%%", {-3}), "-3%");
  // A placeholder without an argument stays visible rather than reading garbage.
  EXPECT_EQ(VEK::Format("%s and %s", {"one"}), "one and %s");
}

}  // namespace
