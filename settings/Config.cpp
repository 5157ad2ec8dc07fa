#include "settings/Config.h"

#include <algorithm>
#include <functional>
#include <limits>

#include "lang/Language.h"
#include "settings/ExplorerAviHandler.h"
#include "settings/Registry.h"
#include "settings/UserRegistry.h"

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

// A settings file that other programs or hand edits made large must not be
// read again for each of the twenty-odd values, nor replaced once per value:
// `run` works on a batch, which reads the store once and hands every change
// to it in one Update (one locked replace of the file). A store that takes
// no write at all (a read-only folder) refuses that one replace whole; value
// by value, a key that cannot be created is skipped and only a write into a
// key that exists fails, so `run` is then made again against the store
// itself, which gives exactly that.
void InOneReplace(VEKRegistry::Store& store, const std::function<void(VEKRegistry::Store&)>& run) {
  VEKRegistry::Batch batch(store);
  run(batch);
  try {
    batch.Commit();
  } catch (const VEKRegistry::AccessDenied&) {
    run(store);
  }
}

void ReadSections(Config& c, VEKRegistry::Store& store) {
  Registry reg(store);
  if (reg.OpenKey(SettingsKeys::Layout, false)) {
    c.FilesColumn0Width = IntegerOr(reg, "Files.Column(0).Width", 250);
    c.FilesColumn1Width = IntegerOr(reg, "Files.Column(1).Width", 350);
    c.FilesOutputColumnWidth = IntegerOr(reg, "Files.Column(3).Width", 250);
    c.FilesOutputColumnShown = BoolOr(reg, "Files.Column(3).Visible", false);
    // The Width held before Placement is read: the window's own when the
    // layout was taken from it first, 0 in a fresh record. Integer
    // division truncates toward zero, as the multiplication by 0.75 did.
    c.FilesWidth = IntegerOr(reg, "Files.Width", static_cast<std::int32_t>(std::int64_t{c.Width} * 3 / 4));
    reg.CloseKey();
  }
  if (reg.OpenKey(SettingsKeys::Placement, false)) {
    c.Left = IntegerOr(reg, "Left", c.Left);
    c.Top = IntegerOr(reg, "Top", c.Top);
    c.Width = IntegerOr(reg, "Width", c.Width);
    c.Height = IntegerOr(reg, "Height", c.Height);
    c.StayOnTop = BoolOr(reg, "StayOnTop", false);
    c.ShowWindow = IntegerOr(reg, "ShowWindow", SettingsWindow::ShowNormal);
    reg.CloseKey();
  }
  if (reg.OpenKey(SettingsKeys::Messages, false)) {
    c.AutoClear = BoolOr(reg, "AutoClear", true);
    c.SelectedFile = BoolOr(reg, "SelectedFile", true);
    reg.CloseKey();
  }
  if (reg.OpenKey(SettingsKeys::Prompts, false)) {
    MigrateBool(reg, "BackupWarning", "ModifyOriginalPrompt", c.ModifyOriginalPrompt, true);
    c.OverwritePrompt = BoolOr(reg, "OverwritePrompt", true);
    c.StopPrompt = BoolOr(reg, "StopPrompt", true);
    reg.CloseKey();
  }
  if (reg.OpenKey(SettingsKeys::Behaviors, false)) {
    c.OverwriteBehavior = IntegerOr(reg, "OverwriteBehavior", 0);
    reg.CloseKey();
  }
  if (reg.OpenKey(SettingsKeys::Files, false)) {
    MigrateString(reg, "FixedPrefix", "Prefix", c.Prefix, "Zantrel.");
    MigrateBool(reg, "BackupFiles", "KeepOriginal", c.KeepOriginal, true);
    c.DisableAviHandler = BoolOr(reg, "DisableAviHandler", false);
    c.SkipHealthy = BoolOr(reg, "SkipHealthy", false);
    reg.CloseKey();
  }
  if (reg.OpenKey(SettingsKeys::Root, false)) {
    // Chosen in the window or set from outside by whoever installs the
    // program. SetLanguage takes the low byte, so 257 selects French.
    if (reg.ValueExists("Language")) {
      c.Language = reg.ReadInteger("Language");
      VEK::SetLanguage(static_cast<std::int8_t>(*c.Language));
    }
    reg.CloseKey();
  }
}

void WriteSections(const Config& c, VEKRegistry::Store& store) {
  Registry reg(store);
  if (reg.OpenKey(SettingsKeys::Layout, true)) {
    reg.WriteInteger("Files.Column(0).Width", c.FilesColumn0Width);
    reg.WriteInteger("Files.Column(1).Width", c.FilesColumn1Width);
    reg.WriteInteger("Files.Column(3).Width", c.FilesOutputColumnWidth);
    reg.WriteBool("Files.Column(3).Visible", c.FilesOutputColumnShown);
    reg.WriteInteger("Files.Width", c.FilesWidth);
    reg.CloseKey();
  }
  if (reg.OpenKey(SettingsKeys::Placement, true)) {
    reg.WriteInteger("Left", c.Left);
    reg.WriteInteger("Top", c.Top);
    reg.WriteInteger("Width", c.Width);
    reg.WriteInteger("Height", c.Height);
    reg.WriteBool("StayOnTop", c.StayOnTop);
    reg.WriteInteger("ShowWindow", c.ShowWindow);
    reg.CloseKey();
  }
  if (reg.OpenKey(SettingsKeys::Messages, true)) {
    reg.WriteBool("AutoClear", c.AutoClear);
    reg.WriteBool("SelectedFile", c.SelectedFile);
    reg.CloseKey();
  }
  if (reg.OpenKey(SettingsKeys::Prompts, true)) {
    reg.WriteBool("ModifyOriginalPrompt", c.ModifyOriginalPrompt);
    reg.WriteBool("OverwritePrompt", c.OverwritePrompt);
    reg.WriteBool("StopPrompt", c.StopPrompt);
    reg.CloseKey();
  }
  if (reg.OpenKey(SettingsKeys::Behaviors, true)) {
    reg.WriteInteger("OverwriteBehavior", c.OverwriteBehavior);
    reg.CloseKey();
  }
  if (reg.OpenKey(SettingsKeys::Files, true)) {
    reg.WriteString("Prefix", c.Prefix);
    reg.WriteBool("DisableAviHandler", c.DisableAviHandler);
    reg.WriteBool("KeepOriginal", c.KeepOriginal);
    reg.WriteBool("SkipHealthy", c.SkipHealthy);
    reg.CloseKey();
  }
  // Written only when there is one: a record that never had one leaves the
  // choice to the next start.
  if (c.Language && reg.OpenKey(SettingsKeys::Root, true)) {
    reg.WriteInteger("Language", *c.Language);
    reg.CloseKey();
  }
}

}  // namespace

void Config::Load() {
  const auto store = VEKRegistry::OpenUserRegistry();
  Load(*store);
}

void Config::Save() {
  const auto store = VEKRegistry::OpenUserRegistry();
  Save(*store);
}

void Config::Load(VEKRegistry::Store& store) {
  const Config before = *this;
  InOneReplace(store, [&](VEKRegistry::Store& target) {
    *this = before;  // a second run starts from the same record
    ReadSections(*this, target);
    ApplyExplorerAviHandler(*this, target);
  });
}

void Config::Save(VEKRegistry::Store& store) {
  InOneReplace(store, [&](VEKRegistry::Store& target) {
    WriteSections(*this, target);
    ApplyExplorerAviHandler(*this, target);
  });
}

std::optional<std::int32_t> StoredLanguage(VEKRegistry::Store& store) {
  Registry reg(store);
  if (!reg.OpenKey(SettingsKeys::Root, false) || !reg.ValueExists("Language")) return std::nullopt;
  return reg.ReadInteger("Language");
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
  FilesOutputColumnWidth = window.FilesColumnWidth(SettingsWindow::OutputColumn);
  FilesOutputColumnShown = window.FilesColumnShown(SettingsWindow::OutputColumn);
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
  window.SetFilesColumnWidth(SettingsWindow::OutputColumn, FilesOutputColumnWidth);
  window.SetFilesColumnShown(SettingsWindow::OutputColumn, FilesOutputColumnShown);
}
