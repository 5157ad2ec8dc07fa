#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// The rules read one character at a time: how a template is filled.
std::string ReferenceFormat(const std::string& templ, const std::vector<std::string>& args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < templ.size(); ++i) {
    if (templ[i] != '%' || i + 1 == templ.size()) {
      out += templ[i];
    } else if (templ[i + 1] == '%') {
      out += '%';
      ++i;
    } else if ((templ[i + 1] == 's' || templ[i + 1] == 'd') && next < args.size()) {
      out += args[next++];
      ++i;
    } else {
      out += '%';
    }
  }
  return out;
}

TEST(TextFormat, TemplatesAreFilledAsCharacterByCharacterRulesSay) {
  const char* templates[] = {"",          "plain text",      "%",          "100%",       "%%",         "%%%",
                             "%s",        "%d at the start", "at the end %s", "%s%d%s",  "%x and %",   "a%%s b",
                             "%%%s%%",    "%d%%%d",          "%s %s %s %s"};
  for (const char* t : templates) {
    for (std::size_t n = 0; n <= 3; ++n) {
      SCOPED_TRACE(std::string(t) + " with " + std::to_string(n) + " arguments");
      const std::vector<std::string> texts = {"one", "two", "three"};
      const std::vector<std::string> used(texts.begin(), texts.begin() + n);
      std::string got;
      if (n == 0) got = VEK::Format(t, {});
      else if (n == 1) got = VEK::Format(t, {texts[0]});
      else if (n == 2) got = VEK::Format(t, {texts[0], texts[1]});
      else got = VEK::Format(t, {texts[0], texts[1], texts[2]});
      EXPECT_EQ(got, ReferenceFormat(t, used));
    }
  }
}

}  // namespace
