// The Configuration dialog's transfer, without a window: each control filled
// from its own field and read back into it alone, the radio group's range,
// the language that is only stored when changed, and the prefix that goes
// back byte for byte unless edited.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "settings/ConfigChoices.h"

namespace {

// Every field of the record, so that a change to one nobody asked for shows.
auto Fields(const Config& c) {
  return std::make_tuple(c.Left, c.Top, c.Width, c.Height, c.StayOnTop, c.ShowWindow, c.AutoClear, c.SelectedFile,
                         c.ModifyOriginalPrompt, c.OverwritePrompt, c.StopPrompt, c.OverwriteBehavior, c.Prefix,
                         c.DisableAviHandler, c.KeepOriginal, c.SkipHealthy, c.FilesColumn0Width, c.FilesColumn1Width,
                         c.FilesWidth, c.Language);
}

Config Record(bool autoClear, bool selectedFile, bool modifyPrompt, bool overwritePrompt, bool stopPrompt, int behavior,
              bool disableHandler, bool keepOriginal, std::string prefix, bool skipHealthy, std::int32_t language) {
  Config c;
  c.AutoClear = autoClear;
  c.SelectedFile = selectedFile;
  c.ModifyOriginalPrompt = modifyPrompt;
  c.OverwritePrompt = overwritePrompt;
  c.StopPrompt = stopPrompt;
  c.OverwriteBehavior = behavior;
  c.DisableAviHandler = disableHandler;
  c.KeepOriginal = keepOriginal;
  c.Prefix = std::move(prefix);
  c.SkipHealthy = skipHealthy;
  c.Language = language;
  return c;
}

// Each row differs from its neighbours in every field the dialog shows, so a
// control filled from or read into the wrong field shows up.
const Config kRows[] = {
    Record(true, true, true, true, true, 0, false, true, "Zantrel.", false, 0),
    Record(false, false, false, false, false, 1, true, false, "", true, 1),
    Record(true, true, true, true, true, 2, false, true, "fixed-", false, 0),
    Record(false, false, false, false, false, 0, true, false, "R\u00E9par\u00E9.", true, 1),
    Record(true, true, true, true, true, 1, false, true, "a b\\c", false, 0),
};

// What the dialog must show for a record of kRows.
ConfigChoices Showing(const Config& c) {
  ConfigChoices s;
  s.DisableAviHandler = c.DisableAviHandler;
  s.KeepOriginal = c.KeepOriginal;
  s.Prefix = c.Prefix;
  s.SkipHealthy = c.SkipHealthy;
  s.AutoClear = c.AutoClear;
  s.SelectedFile = c.SelectedFile;
  s.Language = static_cast<std::int8_t>(*c.Language);
  s.ModifyOriginalPrompt = c.ModifyOriginalPrompt;
  s.StopPrompt = c.StopPrompt;
  s.OverwritePrompt = c.OverwritePrompt;
  s.OverwriteBehavior = c.OverwriteBehavior;
  return s;
}

TEST(ConfigChoices, AnUnchangedRecordShowsTheDialogsOwnDefaults) {
  ConfigTransfer transfer;
  const Config record;
  EXPECT_EQ(transfer.Fill(record, record.Prefix, VEK::English), ConfigChoices{});
}

TEST(ConfigChoices, EachControlIsFilledFromItsOwnField) {
  for (std::size_t i = 0; i < std::size(kRows); ++i) {
    ConfigTransfer transfer;
    EXPECT_EQ(transfer.Fill(kRows[i], kRows[i].Prefix, VEK::English), Showing(kRows[i])) << "row " << i;
  }
}

TEST(ConfigChoices, OkWritesEachControlIntoItsOwnFieldAndNothingElse) {
  const std::size_t rows = std::size(kRows);
  for (std::size_t i = 0; i < rows; ++i) {
    // The next row is filled and this one's values chosen, so every control changes.
    Config settings = kRows[(i + 1) % rows];
    settings.Left = 17;
    settings.Height = 480;
    settings.StayOnTop = true;
    settings.FilesWidth = 321;
    ConfigTransfer transfer;
    transfer.Fill(settings, settings.Prefix, VEK::English);
    transfer.ReadBack(Showing(kRows[i]), settings);
    Config expected = kRows[i];
    expected.Left = 17;
    expected.Height = 480;
    expected.StayOnTop = true;
    expected.FilesWidth = 321;
    EXPECT_EQ(Fields(settings), Fields(expected)) << "row " << i;
  }
}

TEST(ConfigChoices, OverwriteBehaviorOutOfRangeIsShownAndStoredAsTheGroupShowsIt) {
  const struct { int stored, shown; } rows[] = {{7, 2}, {3, 2}, {2, 2}, {1, 1}, {0, 0}, {-1, -1}, {-3, -1}};
  for (const auto& row : rows) {
    Config settings;
    settings.OverwriteBehavior = row.stored;
    ConfigTransfer transfer;
    const ConfigChoices shown = transfer.Fill(settings, settings.Prefix, VEK::English);
    transfer.ReadBack(shown, settings);
    EXPECT_EQ(shown.OverwriteBehavior, row.shown) << row.stored;
    EXPECT_EQ(settings.OverwriteBehavior, row.shown) << row.stored;
  }
}

TEST(ConfigChoices, TheLanguageOfAStoredValueIsItsLowByteElseTheSystems) {
  const struct {
    std::optional<std::int32_t> stored;
    std::int8_t system, chosen;
  } rows[] = {
      {std::nullopt, VEK::English, VEK::English},
      {std::nullopt, VEK::French, VEK::French},
      {0, VEK::French, VEK::English},
      {1, VEK::English, VEK::French},
      {257, VEK::English, VEK::French},
      {256, VEK::French, VEK::English},
      {2, VEK::French, VEK::English},
      {-1, VEK::French, VEK::English},
      {std::nullopt, 5, VEK::English},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ChosenLanguage(row.stored, row.system), row.chosen)
        << (row.stored ? std::to_string(*row.stored) : "none") << " on " << int{row.system};
}

// The choice shows the stored language, else the system's; only a changed
// one is written into the record, as 0 or 1.
TEST(ConfigChoices, OnlyAChangedLanguageIsKept) {
  const struct {
    std::optional<std::int32_t> stored;
    std::int8_t system, shown, chosen;
    std::optional<std::int32_t> kept;
  } rows[] = {
      {std::nullopt, VEK::French, VEK::French, VEK::French, std::nullopt},
      {std::nullopt, VEK::French, VEK::French, VEK::English, 0},
      {std::nullopt, VEK::English, VEK::English, VEK::French, 1},
      {std::nullopt, VEK::English, VEK::English, VEK::English, std::nullopt},
      {257, VEK::English, VEK::French, VEK::French, 257},
      {2, VEK::French, VEK::English, VEK::English, 2},
      {0, VEK::French, VEK::English, VEK::French, 1},
      {1, VEK::French, VEK::French, VEK::English, 0},
  };
  for (const auto& row : rows) {
    Config settings;
    settings.Language = row.stored;
    ConfigTransfer transfer;
    ConfigChoices choices = transfer.Fill(settings, settings.Prefix, row.system);
    EXPECT_EQ(choices.Language, row.shown);
    choices.Language = row.chosen;
    transfer.ReadBack(choices, settings);
    EXPECT_EQ(settings.Language, row.kept) << int{row.shown} << " to " << int{row.chosen};
  }
}

TEST(ConfigChoices, AnUneditedPrefixGoesBackByteForByteAnEditedOneThroughTheSettingsForm) {
  // A front-end whose settings text is in a code page: the test's form marks
  // what went through it.
  const auto toSettings = [](const std::string& text) { return "<" + text + ">"; };
  const struct {
    const char* what;
    std::string stored, shown, edited;
    bool withConversion;
    std::string kept;
  } rows[] = {
      // Bytes that are no text in the code page are shown replaced.
      {"unedited", "old\xE9\xFF.", "old\uFFFD\uFFFD.", "old\uFFFD\uFFFD.", true, "old\xE9\xFF."},
      {"edited", "old\xE9\xFF.", "old\uFFFD\uFFFD.", "new.", true, "<new.>"},
      {"edited back to what was shown", "Kept.", "Kept.", "Kept.", true, "Kept."},
      {"emptied", "Zantrel.", "Zantrel.", "", true, "<>"},
      {"settings in UTF-8, emptied", "Zantrel.", "Zantrel.", "", false, ""},
      {"settings in UTF-8, edited", "Zantrel.", "Zantrel.", "R\u00E9par\u00E9.", false, "R\u00E9par\u00E9."},
  };
  for (const auto& row : rows) {
    Config settings;
    settings.Prefix = row.stored;
    ConfigTransfer transfer;
    ConfigChoices choices = transfer.Fill(settings, row.shown, VEK::English);
    EXPECT_EQ(choices.Prefix, row.shown) << row.what;
    choices.Prefix = row.edited;
    if (row.withConversion)
      transfer.ReadBack(choices, settings, toSettings);
    else
      transfer.ReadBack(choices, settings);
    EXPECT_EQ(settings.Prefix, row.kept) << row.what;
  }
}

TEST(ConfigChoices, AReadBackComparesWithTheLastFillOnly) {
  ConfigTransfer transfer;
  Config first;
  first.Prefix = "first\xFF";
  transfer.Fill(first, "first?", VEK::English);
  Config second;
  second.Prefix = "second";
  ConfigChoices choices = transfer.Fill(second, "second", VEK::English);
  choices.Prefix = "first?";  // the text the earlier filling showed
  transfer.ReadBack(choices, second, [](const std::string& text) { return text; });
  EXPECT_EQ(second.Prefix, "first?") << "not the bytes of a fill that is over";
}

}  // namespace
