// The "/inst" and "/uninst" commands: the handler follows the stored choice
// or the dialog's, and the settings go only when the user asks.
#include <gtest/gtest.h>

#include <cstdlib>

#include "lang/Language.h"
#include "settings/Config.h"
#include "settings/ExplorerAviHandler.h"
#include "settings/InstallCommands.h"
#include "settings/Registry.h"
#include "support/TempDir.h"

namespace {

using VEKRegistry::Registry;
using VEKRegistry::Root;
namespace Keys = ExplorerAviHandlerKeys;

class FakeUninstallDialog : public UninstallDialog {
 public:
  FakeUninstallDialog(bool aviHandler, bool settings) : answerAvi_(aviHandler), answerSettings_(settings) {}
  void ShowModal(bool aviHandlerChecked) override {
    ++shown;
    shownChecked = aviHandlerChecked;
    // The user's clicks; Ok and the close box end the dialog alike.
    aviHandler_ = answerAvi_;
    settings_ = answerSettings_;
  }
  bool AviHandlerChecked() const override { return aviHandler_; }
  bool SettingsChecked() const override { return settings_; }

  int shown = 0;
  bool shownChecked = false;

 private:
  bool answerAvi_, answerSettings_;
  bool aviHandler_ = true, settings_ = false;
};

void SeedHandler(VEKRegistry::Store& store, const std::string& value) {
  Registry classes(store, Root::ClassesRoot);
  ASSERT_TRUE(classes.OpenKey(Keys::Handler, true));
  classes.WriteString("", value);
}

std::string Handler(VEKRegistry::Store& store) {
  Registry classes(store, Root::ClassesRoot);
  EXPECT_TRUE(classes.OpenKey(Keys::Handler, false));
  return classes.ReadString("");
}

bool KeyExists(VEKRegistry::Store& store, const std::string& path) { return Registry(store).KeyExists(path); }

void StoreDisableAviHandler(VEKRegistry::Store& store, bool disable) {
  Config config;
  config.DisableAviHandler = disable;
  config.Prefix = "Mine.";
  config.Save(store);
}

TEST(InstallCommands, UninstallFollowsBothCheckBoxes) {
  const struct {
    bool storedDisable, aviChecked, settingsChecked;
    const char* handler;
    bool backup, settings, storedAfter;
  } cases[] = {
      // Enable checked: the handler comes back, the backup goes.
      {true, true, false, "{h}", false, true, false},
      {true, true, true, "{h}", false, false, false},
      {false, true, false, "{h}", false, true, false},
      // Enable unchecked: the handler stays off and its backup stays, even
      // when the settings that would bring it back are deleted.
      {true, false, false, "", true, true, true},
      {true, false, true, "", true, false, false},
      {false, false, true, "", true, false, false},
  };
  for (const auto& c : cases) {
    const std::string label = std::string("stored ") + (c.storedDisable ? "off" : "on") + ", avi " +
                              (c.aviChecked ? "checked" : "unchecked") + ", settings " +
                              (c.settingsChecked ? "checked" : "unchecked");
    VEKRegistry::MemoryStore store;
    SeedHandler(store, "{h}");
    StoreDisableAviHandler(store, c.storedDisable);
    FakeUninstallDialog dialog(c.aviChecked, c.settingsChecked);
    RunUninstallCommand(dialog, store);
    EXPECT_EQ(dialog.shown, 1) << label;
    EXPECT_EQ(dialog.shownChecked, !c.storedDisable) << label;
    EXPECT_EQ(Handler(store), c.handler) << label;
    EXPECT_EQ(KeyExists(store, Keys::Backup), c.backup) << label;
    EXPECT_EQ(KeyExists(store, SettingsKeys::Root), c.settings) << label;
    EXPECT_TRUE(KeyExists(store, "Software\\Zantrel")) << label << ": the parent stays";
    if (c.settings) {
      Config after;
      after.Load(store);
      EXPECT_EQ(after.DisableAviHandler, c.storedAfter) << label;
      EXPECT_EQ(after.Prefix, "Mine.") << label << ": the other settings are saved as they were";
    }
  }
}

TEST(InstallCommands, LaterStartAfterUninstallKeepingTheHandlerOffRestoresIt) {
  VEKRegistry::MemoryStore store;
  SeedHandler(store, "{h}");
  StoreDisableAviHandler(store, true);
  FakeUninstallDialog dialog(false, true);
  RunUninstallCommand(dialog, store);
  ASSERT_EQ(Handler(store), "");
  RunInstallCommand(store);
  EXPECT_EQ(Handler(store), "{h}");
  EXPECT_FALSE(KeyExists(store, Keys::BackupRoot));
  EXPECT_FALSE(KeyExists(store, SettingsKeys::Root)) << "install writes no settings";
}

TEST(InstallCommands, InstallAppliesTheStoredChoiceAndMigratesOlderNames) {
  VEKRegistry::MemoryStore store;
  SeedHandler(store, "{h}");
  Registry reg(store);
  ASSERT_TRUE(reg.OpenKey(SettingsKeys::Files, true));
  reg.WriteInteger("DisableAviHandler", 1);
  reg.WriteInteger("BackupFiles", 0);
  RunInstallCommand(store);
  EXPECT_EQ(Handler(store), "");
  ASSERT_TRUE(reg.OpenKey(SettingsKeys::Files, false));
  EXPECT_FALSE(reg.ValueExists("BackupFiles"));
  EXPECT_EQ(reg.ReadInteger("KeepOriginal"), 0);
  EXPECT_FALSE(reg.ValueExists("Prefix")) << "only the migration writes";
}

TEST(InstallCommands, UninstallStopsBeforeTheDialogWhenTheSettingsCannotBeRead) {
  VEKRegistry::MemoryStore store;
  Registry reg(store);
  ASSERT_TRUE(reg.OpenKey(SettingsKeys::Files, true));
  reg.WriteString("DisableAviHandler", "yes");
  FakeUninstallDialog dialog(true, true);
  EXPECT_THROW(RunUninstallCommand(dialog, store), VEKRegistry::Exception);
  EXPECT_EQ(dialog.shown, 0);
  EXPECT_TRUE(KeyExists(store, SettingsKeys::Root));
}

#ifndef _WIN32
// On Windows the user's registry is the system's (WindowsRegistryTest).
TEST(InstallCommands, RunOnTheUsersRegistryFile) {
  ZantrelTest::TempDir dir;
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string oldValue = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  {
    VEKRegistry::FileStore store(VEKRegistry::DefaultRegistryFileName());
    SeedHandler(store, "{h}");
    StoreDisableAviHandler(store, true);
  }
  RunInstallCommand();
  FakeUninstallDialog dialog(true, true);
  RunUninstallCommand(dialog);
  {
    VEKRegistry::FileStore store(VEKRegistry::DefaultRegistryFileName());
    EXPECT_FALSE(dialog.shownChecked);
    EXPECT_EQ(Handler(store), "{h}");
    EXPECT_FALSE(KeyExists(store, SettingsKeys::Root));
    EXPECT_FALSE(KeyExists(store, Keys::BackupRoot));
  }
  if (old)
    ::setenv("XDG_CONFIG_HOME", oldValue.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
}
#endif

}  // namespace
