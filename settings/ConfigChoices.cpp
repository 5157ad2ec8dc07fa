#include "settings/ConfigChoices.h"

#include <algorithm>

std::int8_t ChosenLanguage(std::optional<std::int32_t> stored, std::int8_t systemLanguage) {
  if (stored) return static_cast<std::int8_t>(*stored) == VEK::French ? VEK::French : VEK::English;
  return systemLanguage == VEK::French ? VEK::French : VEK::English;
}

ConfigChoices ConfigTransfer::Fill(const Config& settings, std::string shownPrefix, std::int8_t systemLanguage) {
  filledPrefixBytes_ = settings.Prefix;
  filledPrefixText_ = shownPrefix;
  filledLanguage_ = settings.Language;
  systemLanguage_ = systemLanguage;

  ConfigChoices c;
  c.DisableAviHandler = settings.DisableAviHandler;
  c.KeepOriginal = settings.KeepOriginal;
  c.Prefix = std::move(shownPrefix);
  c.SkipHealthy = settings.SkipHealthy;
  c.AutoClear = settings.AutoClear;
  c.SelectedFile = settings.SelectedFile;
  c.Language = ChosenLanguage(settings.Language, systemLanguage);
  c.ModifyOriginalPrompt = settings.ModifyOriginalPrompt;
  c.StopPrompt = settings.StopPrompt;
  c.OverwritePrompt = settings.OverwritePrompt;
  // A radio group shows an index above its last item as the last item and a
  // negative one as no item; read back, that is what gets stored.
  c.OverwriteBehavior = settings.OverwriteBehavior < 0 ? -1 : std::min(settings.OverwriteBehavior, 2);
  return c;
}

void ConfigTransfer::ReadBack(const ConfigChoices& choices, Config& settings,
                              const std::function<std::string(const std::string&)>& toSettingsText) const {
  settings.DisableAviHandler = choices.DisableAviHandler;
  settings.KeepOriginal = choices.KeepOriginal;
  // Bytes that are no text in the settings' code page were shown replaced;
  // left unedited they must not come back replaced.
  if (choices.Prefix == filledPrefixText_)
    settings.Prefix = filledPrefixBytes_;
  else
    settings.Prefix = toSettingsText ? toSettingsText(choices.Prefix) : choices.Prefix;
  settings.SkipHealthy = choices.SkipHealthy;
  settings.AutoClear = choices.AutoClear;
  settings.SelectedFile = choices.SelectedFile;
  // A language left as shown goes back as it was: none stays none (the
  // system's language), a stored 257 stays 257.
  const std::int8_t chosen = choices.Language == VEK::French ? VEK::French : VEK::English;
  settings.Language = chosen == ChosenLanguage(filledLanguage_, systemLanguage_) ? filledLanguage_
                                                                                 : std::optional<std::int32_t>(chosen);
  settings.ModifyOriginalPrompt = choices.ModifyOriginalPrompt;
  settings.StopPrompt = choices.StopPrompt;
  settings.OverwritePrompt = choices.OverwritePrompt;
  settings.OverwriteBehavior = choices.OverwriteBehavior;
}
