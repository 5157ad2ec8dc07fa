#include "settings/Config.h"

#include <algorithm>
#include <limits>

#include "lang/Language.h"
#include "settings/ExplorerAviHandler.h"
#include "settings/Registry.h"

namespace {

using VEKRegistry::Registry;

std::int32_t IntegerOr(Registry& reg, const char* name, std::int32_t fallback) {
  return reg.ValueExists(name) ? reg.ReadInteger(name) : fallback;
}

bool BoolOr(Registry& reg, const char* name, bool fallback) {
  return reg.ValueExists(name) ? reg.ReadBool(name) : fallback;
}

// A value kept under the name of an older release wins over the current
// one: it is copied under the current name and removed at once, so the next
// load finds only the current name.
void MigrateBool(Registry& reg, const char* older, const char* current, bool& field, bool fallback) {
  if (reg.ValueExists(older)) {
    field = reg.ReadBool(older);
    reg.WriteBool(current, field);
    reg.DeleteValue(older);
  } else {
    field = BoolOr(reg, current, fallback);
  }
}

void MigrateString(Registry& reg, const char* older, const char* current, std::string& field,
                   const char* fallback) {
  if (reg.ValueExists(older)) {
    field = reg.ReadString(older);
    reg.WriteString(current, field);
    reg.DeleteValue(older);
  } else {
    field = reg.ValueExists(current) ? reg.ReadString(current) : fallback;
  }
}

// Stored values are used without a range check, so their sum may leave the
// 32-bit range; the edge is held at the limit instead of wrapping around to
// the other side of the screen.
std::int32_t Edge(std::int32_t origin, std::int32_t extent) {
  const std::int64_t sum = std::int64_t{origin} + extent;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(sum, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

std::int32_t Extent(std::int32_t from, std::int32_t to) {
  const std::int64_t difference = std::int64_t{to} - from;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      difference, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

void Config::Load() {
  VEKRegistry::FileStore store(VEKRegistry::DefaultRegistryFileName());
  Load(store);
}

void Config::Save() {
  VEKRegistry::FileStore store(VEKRegistry::DefaultRegistryFileName());
  Save(store);
}

void Config::Load(VEKRegistry::Store& store) {
  {
    Registry reg(store);
    if (reg.OpenKey(SettingsKeys::Layout, false)) {
      FilesColumn0Width = IntegerOr(reg, "Files.Column(0).Width", 250);
      FilesColumn1Width = IntegerOr(reg, "Files.Column(1).Width", 350);
      // The Width held before Placement is read: the window's own when the
      // layout was taken from it first, 0 in a fresh record. Integer
      // division truncates toward zero, as the multiplication by 0.75 did.
      FilesWidth = IntegerOr(reg, "Files.Width", static_cast<std::int32_t>(std::int64_t{Width} * 3 / 4));
      reg.CloseKey();
    }
    if (reg.OpenKey(SettingsKeys::Placement, false)) {
      Left = IntegerOr(reg, "Left", Left);
      Top = IntegerOr(reg, "Top", Top);
      Width = IntegerOr(reg, "Width", Width);
      Height = IntegerOr(reg, "Height", Height);
      StayOnTop = BoolOr(reg, "StayOnTop", false);
      ShowWindow = IntegerOr(reg, "ShowWindow", SettingsWindow::ShowNormal);
      reg.CloseKey();
    }
    if (reg.OpenKey(SettingsKeys::Messages, false)) {
      AutoClear = BoolOr(reg, "AutoClear", true);
      SelectedFile = BoolOr(reg, "SelectedFile", true);
      reg.CloseKey();
    }
    if (reg.OpenKey(SettingsKeys::Prompts, false)) {
      MigrateBool(reg, "BackupWarning", "ModifyOriginalPrompt", ModifyOriginalPrompt, true);
      OverwritePrompt = BoolOr(reg, "OverwritePrompt", true);
      StopPrompt = BoolOr(reg, "StopPrompt", true);
      reg.CloseKey();
    }
    if (reg.OpenKey(SettingsKeys::Behaviors, false)) {
      OverwriteBehavior = IntegerOr(reg, "OverwriteBehavior", 0);
      reg.CloseKey();
    }
    if (reg.OpenKey(SettingsKeys::Files, false)) {
      MigrateString(reg, "FixedPrefix", "Prefix", Prefix, "Zantrel.");
      MigrateBool(reg, "BackupFiles", "KeepOriginal", KeepOriginal, true);
      DisableAviHandler = BoolOr(reg, "DisableAviHandler", false);
      reg.CloseKey();
    }
    if (reg.OpenKey(SettingsKeys::Root, false)) {
      // Set from outside by whoever installs the program; never written here.
      // SetLanguage takes the low byte, so 257 selects French.
      if (reg.ValueExists("Language")) VEK::SetLanguage(static_cast<std::int8_t>(reg.ReadInteger("Language")));
      reg.CloseKey();
    }
  }
  ApplyExplorerAviHandler(*this, store);
}

void Config::Save(VEKRegistry::Store& store) {
  {
    Registry reg(store);
    if (reg.OpenKey(SettingsKeys::Layout, true)) {
      reg.WriteInteger("Files.Column(0).Width", FilesColumn0Width);
      reg.WriteInteger("Files.Column(1).Width", FilesColumn1Width);
      reg.WriteInteger("Files.Width", FilesWidth);
      reg.CloseKey();
    }
    if (reg.OpenKey(SettingsKeys::Placement, true)) {
      reg.WriteInteger("Left", Left);
      reg.WriteInteger("Top", Top);
      reg.WriteInteger("Width", Width);
      reg.WriteInteger("Height", Height);
      reg.WriteBool("StayOnTop", StayOnTop);
      reg.WriteInteger("ShowWindow", ShowWindow);
      reg.CloseKey();
    }
    if (reg.OpenKey(SettingsKeys::Messages, true)) {
      reg.WriteBool("AutoClear", AutoClear);
      reg.WriteBool("SelectedFile", SelectedFile);
      reg.CloseKey();
    }
    if (reg.OpenKey(SettingsKeys::Prompts, true)) {
      reg.WriteBool("ModifyOriginalPrompt", ModifyOriginalPrompt);
      reg.WriteBool("OverwritePrompt", OverwritePrompt);
      reg.WriteBool("StopPrompt", StopPrompt);
      reg.CloseKey();
    }
    if (reg.OpenKey(SettingsKeys::Behaviors, true)) {
      reg.WriteInteger("OverwriteBehavior", OverwriteBehavior);
      reg.CloseKey();
    }
    if (reg.OpenKey(SettingsKeys::Files, true)) {
      reg.WriteString("Prefix", Prefix);
      reg.WriteBool("DisableAviHandler", DisableAviHandler);
      reg.WriteBool("KeepOriginal", KeepOriginal);
      reg.CloseKey();
    }
  }
  ApplyExplorerAviHandler(*this, store);
}

void Config::ReadWindowLayout(const SettingsWindow& window) {
  const SettingsWindow::Placement placement = window.GetPlacement();
  // A minimized window comes back as a normal one.
  ShowWindow = placement.ShowCmd == SettingsWindow::ShowMaximized ? SettingsWindow::ShowMaximized
                                                                  : SettingsWindow::ShowNormal;
  const SettingsWindow::Rect& normal = placement.NormalPosition;
  Left = normal.Left;
  Top = normal.Top;
  Width = Extent(normal.Left, normal.Right);
  Height = Extent(normal.Top, normal.Bottom);
  FilesWidth = window.FilesPanelWidth();
  FilesColumn0Width = window.FilesColumnWidth(0);
  FilesColumn1Width = window.FilesColumnWidth(1);
}

void Config::ApplyWindowLayout(SettingsWindow& window) const {
  SettingsWindow::Placement placement;
  placement.Flags = 0;
  placement.ShowCmd = ShowWindow;
  placement.NormalPosition = {Left, Top, Edge(Left, Width), Edge(Top, Height)};
  window.SetPlacement(placement);
  window.SetTopMost(StayOnTop);
  window.SetFilesPanelWidth(FilesWidth);
  window.SetFilesColumnWidth(0, FilesColumn0Width);
  window.SetFilesColumnWidth(1, FilesColumn1Width);
}
