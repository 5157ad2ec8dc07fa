// The Configuration dialog apart from its controls: the value each control
// shows for a settings record, the two enabling rules between them, and what
// Ok writes back. The Qt dialog and the Windows one are views over it, so
// that both keep the same fields in the same way.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "lang/Language.h"
#include "settings/Config.h"

// One value per control, page by page; the defaults are what the dialog
// shows for a record that was never changed.
struct ConfigChoices {
  // "Files"
  bool DisableAviHandler = false;
  bool KeepOriginal = true;
  std::string Prefix = "Zantrel.";  // as the edit shows it, in UTF-8
  bool SkipHealthy = false;
  // "Messages Center"
  bool AutoClear = true;
  bool SelectedFile = true;
  std::int8_t Language = VEK::English;  // one of LanguageChoices
  // "Prompts"
  bool ModifyOriginalPrompt = true;
  bool StopPrompt = true;
  bool OverwritePrompt = true;
  std::int32_t OverwriteBehavior = 0;  // the item checked: 0 skip, 1 abort, 2 overwrite; -1 none

  // The prefix names the new file, which is made only when the original is kept.
  bool PrefixEnabled() const { return KeepOriginal; }
  // The configured behaviour is used only when no question is asked.
  bool OverwriteBehaviorEnabled() const { return !OverwritePrompt; }

  bool operator==(const ConfigChoices&) const = default;
};

struct LanguageChoice {
  std::int8_t Language;
  const char* Name;  // UTF-8
};
// The languages the dialog offers, in its list's order. Each name is written
// in its own language, so that it can be found in either.
inline constexpr LanguageChoice LanguageChoices[] = {{VEK::English, "English"}, {VEK::French, "Fran\u00E7ais"}};

// The language a stored value selects (its low byte, as VEK::SetLanguage
// takes it: 1 French, any other English), or the system's when none is stored.
std::int8_t ChosenLanguage(std::optional<std::int32_t> stored, std::int8_t systemLanguage);

// Fills a dialog from a record and reads it back. It keeps what it filled,
// so that a value the user left as it was shown goes back as it was stored:
// a prefix byte for byte, a language not stored stays not stored.
class ConfigTransfer {
 public:
  // Longest prefix that can be typed; a longer stored one is shown and kept,
  // and may be shortened but not lengthened.
  static constexpr int PrefixMaxLength = 50;

  // shownPrefix is settings.Prefix as the dialog's edit shows it; where the
  // settings hold text in a code page, the front-end has turned it into UTF-8.
  ConfigChoices Fill(const Config& settings, std::string shownPrefix, std::int8_t systemLanguage);
  // Writes the dialog's fields of settings from choices and leaves every
  // other field alone. toSettingsText turns an edited prefix into the form
  // the settings hold; without one the settings hold UTF-8.
  void ReadBack(const ConfigChoices& choices, Config& settings,
                const std::function<std::string(const std::string&)>& toSettingsText = {}) const;

 private:
  std::string filledPrefixText_;
  std::string filledPrefixBytes_;
  std::optional<std::int32_t> filledLanguage_;  // as stored, 257 or none included
  std::int8_t systemLanguage_ = VEK::English;
};
