// The settings record: the user's options and the main window's layout,
// kept in the registry below HKEY_CURRENT_USER\Software\Zantrel\0.2.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "settings/RegistryStore.h"

// The main window as the settings see it: its placement, top-most state, the
// file-list panel, the file list's first two columns and its Output column.
class SettingsWindow {
 public:
  static constexpr std::int32_t ShowNormal = 1;
  static constexpr std::int32_t ShowMinimized = 2;
  static constexpr std::int32_t ShowMaximized = 3;

  struct Rect {
    std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  };
  struct Placement {
    std::uint32_t Flags = 0;
    std::int32_t ShowCmd = ShowNormal;
    Rect NormalPosition;  // the restored rectangle, also while maximized
  };

  virtual ~SettingsWindow() = default;
  virtual Placement GetPlacement() const = 0;
  virtual void SetPlacement(const Placement& placement) = 0;
  // Above all other windows or not, without moving or resizing.
  virtual void SetTopMost(bool topMost) = 0;
  virtual std::int32_t FilesPanelWidth() const = 0;
  virtual void SetFilesPanelWidth(std::int32_t width) = 0;
  virtual std::int32_t FilesColumnWidth(int column) const = 0;
  virtual void SetFilesColumnWidth(int column, std::int32_t width) = 0;
  // The Output column, which the user shows or hides; its width is kept
  // while it is hidden.
  static constexpr int OutputColumn = 3;
  virtual bool FilesColumnShown(int column) const = 0;
  virtual void SetFilesColumnShown(int column, bool shown) = 0;
};

class Config {
 public:
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  bool StayOnTop = false;
  std::int32_t ShowWindow = SettingsWindow::ShowNormal;
  bool AutoClear = true;
  bool SelectedFile = true;
  bool ModifyOriginalPrompt = true;
  bool OverwritePrompt = true;
  bool StopPrompt = true;
  std::int32_t OverwriteBehavior = 0;  // 0 skip, 1 abort, 2 overwrite
  std::string Prefix = "Zantrel.";
  bool DisableAviHandler = false;
  bool KeepOriginal = true;
  bool SkipHealthy = false;  // a rebuild leaves the files the check finds healthy alone
  std::int32_t FilesColumn0Width = 250;
  std::int32_t FilesColumn1Width = 350;
  std::int32_t FilesOutputColumnWidth = 250;
  bool FilesOutputColumnShown = false;  // hidden until the user shows it
  std::int32_t FilesWidth = 100;
  // The language of the window and its messages as stored (its low byte: 0
  // English, 1 French); none until one is stored or chosen, and then the
  // front-end picks one. A load also hands a stored one to VEK::SetLanguage.
  std::optional<std::int32_t> Language;

  // Both end with ApplyExplorerAviHandler, so that Explorer's registration
  // follows DisableAviHandler. Without a store they use the user's registry
  // file. A missing key leaves its fields as they were; a value of the wrong
  // type stops the load there with the store's error. Each reads the store
  // once and hands what it changes (a save's values, a load's renamed ones,
  // the handler switch) to it in one update, for the file one replace; on
  // any error nothing of it is kept.
  void Load();
  void Load(VEKRegistry::Store& store);
  void Save();
  void Save(VEKRegistry::Store& store);

  void ReadWindowLayout(const SettingsWindow& window);
  void ApplyWindowLayout(SettingsWindow& window) const;
};

// The Language value the settings hold, without loading the rest; none
// when there is none. A value of the wrong type throws the store's error.
std::optional<std::int32_t> StoredLanguage(VEKRegistry::Store& store);

namespace SettingsKeys {
inline constexpr char Root[] = "Software\\Zantrel\\0.2";
inline constexpr char Layout[] = "Software\\Zantrel\\0.2\\Layout";
inline constexpr char Placement[] = "Software\\Zantrel\\0.2\\Placement";
inline constexpr char Messages[] = "Software\\Zantrel\\0.2\\Messages";
inline constexpr char Prompts[] = "Software\\Zantrel\\0.2\\Prompts";
inline constexpr char Behaviors[] = "Software\\Zantrel\\0.2\\Behaviors";
inline constexpr char Files[] = "Software\\Zantrel\\0.2\\Files";
}  // namespace SettingsKeys
