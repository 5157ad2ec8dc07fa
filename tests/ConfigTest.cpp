// The settings record against both stores: what a load takes from the
// registry, what a save leaves there, the three renamed values, and the
// exchange of geometry with the main window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <limits>

#include "lang/Language.h"
#include "settings/Config.h"
#include "settings/ExplorerAviHandler.h"
#include "settings/Registry.h"
#include "support/TempDir.h"

namespace {

using VEKRegistry::Registry;
using VEKRegistry::Root;

class ConfigStore : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    VEK::SetLanguage(VEK::English);
    if (GetParam())
      store_ = std::make_unique<VEKRegistry::FileStore>(VEKRegistry::DefaultRegistryFileName());
    else
      store_ = std::make_unique<VEKRegistry::MemoryStore>();
  }
  void TearDown() override {
    VEK::SetLanguage(VEK::English);
  }

  // Opens (creating) a key of the settings for seeding or inspection.
  Registry& Key(const std::string& path) {
    reg_ = std::make_unique<Registry>(*store_);
    EXPECT_TRUE(reg_->OpenKey(path, true));
    return *reg_;
  }
  bool Exists(const std::string& key, const std::string& value) {
    Registry reg(*store_);
    return reg.OpenKey(key, false) && reg.ValueExists(value);
  }
  void SeedHandler(const std::string& handler, const std::string& backup) {
    Registry classes(*store_, Root::ClassesRoot);
    ASSERT_TRUE(classes.OpenKey(ExplorerAviHandlerKeys::Handler, true));
    classes.WriteString("", handler);
    if (!backup.empty()) Key(ExplorerAviHandlerKeys::Backup).WriteString("AviHandler", backup);
  }
  std::string Handler() {
    Registry classes(*store_, Root::ClassesRoot);
    EXPECT_TRUE(classes.OpenKey(ExplorerAviHandlerKeys::Handler, false));
    return classes.ReadString("");
  }

  ZantrelTest::TempDir dir_;
  const ZantrelTest::ConfigHome home_{dir_.Path()};
  std::unique_ptr<VEKRegistry::Store> store_;
  std::unique_ptr<Registry> reg_;
};

INSTANTIATE_TEST_SUITE_P(ConfigOn, ConfigStore, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "File" : "Memory"; });

TEST_P(ConfigStore, FirstRunWithNoSettingsChangesNothingButStillRestoresTheHandler) {
  VEK::SetLanguage(VEK::French);
  Config config;
  config.Width = 552;
  config.AutoClear = false;
  config.Load(*store_);
  Config expected;
  expected.Width = 552;
  expected.AutoClear = false;
  EXPECT_EQ(config.Width, 552);
  EXPECT_FALSE(config.AutoClear);
  EXPECT_EQ(config.FilesWidth, 100) << "no Layout key, so no three-quarters fallback";
  EXPECT_EQ(config.Prefix, "Zantrel.");
  EXPECT_EQ(VEK::LanguageIndex(), VEK::French);
  EXPECT_TRUE(store_->Read().Keys().empty()) << "a load with nothing stored writes nothing";
  if (GetParam()) EXPECT_FALSE(ZantrelTest::Exists(dir_ / "zantrel"));

  // The switch runs even so: a backup left by an earlier switch-off comes back.
  SeedHandler("", "{avi-handler}");
  Config fresh;
  fresh.Load(*store_);
  EXPECT_EQ(Handler(), "{avi-handler}");
  Registry reg(*store_);
  EXPECT_FALSE(reg.KeyExists(ExplorerAviHandlerKeys::BackupRoot));
}

TEST_P(ConfigStore, SaveWritesEveryFieldUnderItsKeyAndTypeAndLoadReadsItBack) {
  Config saved;
  saved.Left = -8;
  saved.Top = 20;
  saved.Width = 640;
  saved.Height = 480;
  saved.StayOnTop = true;
  saved.ShowWindow = 3;
  saved.AutoClear = false;
  saved.SelectedFile = false;
  saved.ModifyOriginalPrompt = false;
  saved.OverwritePrompt = false;
  saved.StopPrompt = false;
  saved.OverwriteBehavior = 2;
  saved.Prefix = "Fixed ";
  saved.KeepOriginal = false;
  saved.SkipHealthy = true;
  saved.FilesColumn0Width = 120;
  saved.FilesColumn1Width = 130;
  saved.FilesOutputColumnWidth = 140;
  saved.FilesOutputColumnShown = true;
  saved.FilesWidth = 300;
  saved.Save(*store_);

  using Read = std::function<std::int64_t(Registry&, const char*)>;
  const Read integer = [](Registry& r, const char* n) { return r.ReadInteger(n); };
  const Read boolean = [](Registry& r, const char* n) { return std::int64_t{r.ReadInteger(n)}; };
  const struct {
    const char* key;
    const char* value;
    Read read;
    std::int64_t expected;
  } layout[] = {
      {SettingsKeys::Layout, "Files.Column(0).Width", integer, 120},
      {SettingsKeys::Layout, "Files.Column(1).Width", integer, 130},
      {SettingsKeys::Layout, "Files.Column(3).Width", integer, 140},
      {SettingsKeys::Layout, "Files.Column(3).Visible", boolean, 1},
      {SettingsKeys::Layout, "Files.Width", integer, 300},
      {SettingsKeys::Placement, "Left", integer, -8},
      {SettingsKeys::Placement, "Top", integer, 20},
      {SettingsKeys::Placement, "Width", integer, 640},
      {SettingsKeys::Placement, "Height", integer, 480},
      {SettingsKeys::Placement, "StayOnTop", boolean, 1},
      {SettingsKeys::Placement, "ShowWindow", integer, 3},
      {SettingsKeys::Messages, "AutoClear", boolean, 0},
      {SettingsKeys::Messages, "SelectedFile", boolean, 0},
      {SettingsKeys::Prompts, "ModifyOriginalPrompt", boolean, 0},
      {SettingsKeys::Prompts, "OverwritePrompt", boolean, 0},
      {SettingsKeys::Prompts, "StopPrompt", boolean, 0},
      {SettingsKeys::Behaviors, "OverwriteBehavior", integer, 2},
      {SettingsKeys::Files, "DisableAviHandler", boolean, 0},
      {SettingsKeys::Files, "KeepOriginal", boolean, 0},
      {SettingsKeys::Files, "SkipHealthy", boolean, 1},
  };
  for (const auto& row : layout) {
    Registry reg(*store_);
    ASSERT_TRUE(reg.OpenKey(row.key, false)) << row.key;
    EXPECT_EQ(row.read(reg, row.value), row.expected) << row.key << " " << row.value;
  }
  EXPECT_EQ(Key(SettingsKeys::Files).ReadString("Prefix"), "Fixed ");
  for (const char* never : {"BackupWarning", "FixedPrefix", "BackupFiles"}) {
    EXPECT_FALSE(Exists(SettingsKeys::Prompts, never));
    EXPECT_FALSE(Exists(SettingsKeys::Files, never));
  }
  EXPECT_FALSE(Exists(SettingsKeys::Root, "Language"));
  EXPECT_FALSE(Exists(SettingsKeys::Root, "CurrentInstance"));

  Config loaded;
  loaded.Load(*store_);
  EXPECT_EQ(loaded.Left, -8);
  EXPECT_EQ(loaded.Height, 480);
  EXPECT_TRUE(loaded.StayOnTop);
  EXPECT_EQ(loaded.ShowWindow, 3);
  EXPECT_FALSE(loaded.AutoClear);
  EXPECT_FALSE(loaded.SelectedFile);
  EXPECT_FALSE(loaded.ModifyOriginalPrompt);
  EXPECT_FALSE(loaded.OverwritePrompt);
  EXPECT_FALSE(loaded.StopPrompt);
  EXPECT_EQ(loaded.OverwriteBehavior, 2);
  EXPECT_EQ(loaded.Prefix, "Fixed ");
  EXPECT_FALSE(loaded.KeepOriginal);
  EXPECT_TRUE(loaded.SkipHealthy);
  EXPECT_EQ(loaded.FilesColumn0Width, 120);
  EXPECT_EQ(loaded.FilesColumn1Width, 130);
  EXPECT_EQ(loaded.FilesOutputColumnWidth, 140);
  EXPECT_TRUE(loaded.FilesOutputColumnShown);
  EXPECT_EQ(loaded.FilesWidth, 300);

  // A settings file of a version without the Output column keeps it hidden
  // at its usual width, and every other value as it was.
  Registry reg(*store_);
  ASSERT_TRUE(reg.OpenKey(SettingsKeys::Layout, false));
  ASSERT_TRUE(reg.DeleteValue("Files.Column(3).Width"));
  ASSERT_TRUE(reg.DeleteValue("Files.Column(3).Visible"));
  reg.CloseKey();
  Config older;
  older.Load(*store_);
  EXPECT_EQ(older.FilesOutputColumnWidth, 250);
  EXPECT_FALSE(older.FilesOutputColumnShown);
  EXPECT_EQ(older.FilesColumn1Width, 130);
}

TEST_P(ConfigStore, OlderValueNamesWinAreCopiedToTheCurrentNameAndRemoved) {
  Key(SettingsKeys::Prompts).WriteInteger("BackupWarning", 0);
  Key(SettingsKeys::Prompts).WriteInteger("ModifyOriginalPrompt", 1);
  Key(SettingsKeys::Files).WriteString("FixedPrefix", "Old.");
  Key(SettingsKeys::Files).WriteString("Prefix", "Current.");
  Key(SettingsKeys::Files).WriteInteger("BackupFiles", 0);
  Key(SettingsKeys::Files).WriteInteger("KeepOriginal", 1);
  reg_.reset();
  Config config;
  config.Load(*store_);
  EXPECT_FALSE(config.ModifyOriginalPrompt);
  EXPECT_EQ(config.Prefix, "Old.");
  EXPECT_FALSE(config.KeepOriginal);
  EXPECT_EQ(Key(SettingsKeys::Prompts).ReadInteger("ModifyOriginalPrompt"), 0);
  EXPECT_EQ(Key(SettingsKeys::Files).ReadString("Prefix"), "Old.");
  EXPECT_EQ(Key(SettingsKeys::Files).ReadInteger("KeepOriginal"), 0);
  for (const char* older : {"BackupWarning", "FixedPrefix", "BackupFiles"}) {
    EXPECT_FALSE(Exists(SettingsKeys::Prompts, older)) << older;
    EXPECT_FALSE(Exists(SettingsKeys::Files, older)) << older;
  }
}

TEST_P(ConfigStore, OlderNameAloneStillReachesTheField) {
  Key(SettingsKeys::Prompts).WriteInteger("BackupWarning", 0);
  Key(SettingsKeys::Files).WriteString("FixedPrefix", "");
  Key(SettingsKeys::Files).WriteInteger("BackupFiles", 0);
  reg_.reset();
  Config config;
  config.Load(*store_);
  EXPECT_FALSE(config.ModifyOriginalPrompt);
  EXPECT_EQ(config.Prefix, "");
  EXPECT_FALSE(config.KeepOriginal);
  EXPECT_EQ(Key(SettingsKeys::Files).ReadString("Prefix"), "");
}

TEST_P(ConfigStore, StoredFiveReadsTrueAndIsWrittenBackAsOne) {
  Key(SettingsKeys::Placement).WriteInteger("StayOnTop", 5);
  Key(SettingsKeys::Messages).WriteInteger("AutoClear", 5);
  Key(SettingsKeys::Files).WriteInteger("DisableAviHandler", -1);
  reg_.reset();
  Config config;
  config.Load(*store_);
  EXPECT_TRUE(config.StayOnTop);
  EXPECT_TRUE(config.AutoClear);
  EXPECT_TRUE(config.DisableAviHandler);
  config.Save(*store_);
  EXPECT_EQ(Key(SettingsKeys::Placement).ReadInteger("StayOnTop"), 1);
  EXPECT_EQ(Key(SettingsKeys::Messages).ReadInteger("AutoClear"), 1);
  EXPECT_EQ(Key(SettingsKeys::Files).ReadInteger("DisableAviHandler"), 1);
}

TEST_P(ConfigStore, MissingValuesOfAnExistingKeyTakeDefaultsWhileAMissingKeyKeepsFields) {
  Key(SettingsKeys::Placement);  // there, but empty
  Key(SettingsKeys::Files).WriteString("Prefix", "");
  reg_.reset();
  Config config;
  config.Left = 10;
  config.Top = 20;
  config.Width = 552;
  config.Height = 400;
  config.StayOnTop = true;
  config.ShowWindow = 3;
  config.AutoClear = false;  // no Messages key: stays
  config.KeepOriginal = false;
  config.Load(*store_);
  EXPECT_EQ(config.Left, 10);
  EXPECT_EQ(config.Top, 20);
  EXPECT_EQ(config.Width, 552);
  EXPECT_EQ(config.Height, 400);
  EXPECT_FALSE(config.StayOnTop);
  EXPECT_EQ(config.ShowWindow, 1);
  EXPECT_FALSE(config.AutoClear);
  EXPECT_EQ(config.Prefix, "") << "an empty prefix does not fall back to the default";
  EXPECT_TRUE(config.KeepOriginal);
}

TEST_P(ConfigStore, PanelWidthFallsBackToThreeQuartersOfTheWidthHeldBeforePlacement) {
  Key(SettingsKeys::Layout).WriteInteger("Files.Column(0).Width", 90);
  Key(SettingsKeys::Placement).WriteInteger("Width", 1000);
  reg_.reset();
  const struct {
    std::int32_t widthBefore, filesWidth;
  } cases[] = {{552, 414}, {0, 0}, {555, 416}, {-5, -3}};
  for (const auto& c : cases) {
    Config config;
    config.Width = c.widthBefore;
    config.Load(*store_);
    EXPECT_EQ(config.FilesWidth, c.filesWidth) << c.widthBefore;
    EXPECT_EQ(config.Width, 1000);
    EXPECT_EQ(config.FilesColumn1Width, 350);
  }
}

TEST_P(ConfigStore, WrongTypeStopsTheLoadAtThatValueAndSkipsTheHandlerSwitch) {
  Key(SettingsKeys::Messages).WriteInteger("AutoClear", 0);
  Key(SettingsKeys::Messages).WriteString("SelectedFile", "yes");
  Key(SettingsKeys::Prompts).WriteInteger("StopPrompt", 0);
  Key(SettingsKeys::Files).WriteInteger("DisableAviHandler", 1);
  reg_.reset();
  SeedHandler("{avi-handler}", "");
  Config config;
  try {
    config.Load(*store_);
    ADD_FAILURE() << "the wrong type went unnoticed";
  } catch (const VEKRegistry::Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid data type for value \"SelectedFile\" in registry key "
                           "\"HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Messages\".");
  }
  EXPECT_FALSE(config.AutoClear) << "read before the bad value";
  EXPECT_TRUE(config.SelectedFile);
  EXPECT_TRUE(config.StopPrompt) << "a later section is not read";
  EXPECT_FALSE(config.DisableAviHandler);
  EXPECT_EQ(Handler(), "{avi-handler}");

  Key(SettingsKeys::Messages).WriteInteger("SelectedFile", 1);
  Key(SettingsKeys::Files).WriteInteger("Prefix", 7);
  reg_.reset();
  EXPECT_THROW(config.Load(*store_), VEKRegistry::Exception) << "an integer where a string belongs";
  EXPECT_EQ(config.Prefix, "Zantrel.");
}

// The record keeps the value as stored and writes it back so; a record
// without one writes none.
TEST_P(ConfigStore, LanguageValueIsHandedToSetLanguageAndKeptAsStored) {
  const struct {
    bool stored;
    std::int32_t value;
    std::int8_t before, after;
  } cases[] = {{true, 0, VEK::French, VEK::English}, {true, 1, VEK::English, VEK::French},
               {true, 257, VEK::English, VEK::French}, {true, 2, VEK::French, VEK::English},
               {true, -5, VEK::French, VEK::English}, {false, 0, VEK::French, VEK::French},
               {false, 0, VEK::English, VEK::English}};
  for (const auto& c : cases) {
    Registry reg(*store_);
    ASSERT_TRUE(reg.OpenKey(SettingsKeys::Root, true));
    if (c.stored)
      reg.WriteInteger("Language", c.value);
    else
      reg.DeleteValue("Language");
    VEK::SetLanguage(c.before);
    Config config;
    config.Load(*store_);
    EXPECT_EQ(VEK::LanguageIndex(), c.after) << c.stored << " " << c.value;
    EXPECT_EQ(config.Language, c.stored ? std::optional<std::int32_t>(c.value) : std::nullopt) << c.value;
    config.Save(*store_);
    EXPECT_EQ(Exists(SettingsKeys::Root, "Language"), c.stored) << c.value;
    if (c.stored) {
      EXPECT_EQ(Key(SettingsKeys::Root).ReadInteger("Language"), c.value);
    }
  }
  Config chosen;
  chosen.Language = VEK::French;
  chosen.Save(*store_);
  EXPECT_EQ(Key(SettingsKeys::Root).ReadInteger("Language"), 1) << "a choice made in the window";
}

// A registry that takes no write, as a read-only settings folder makes the
// file store: a change that leaves the text as it was needs no write.
class ReadOnlyStore : public VEKRegistry::MemoryStore {
 public:
  void Update(const std::function<void(VEKRegistry::Tree&)>& change) override {
    MemoryStore::Update([&](VEKRegistry::Tree& tree) {
      const std::string before = tree.Serialize();
      change(tree);
      if (readOnly && tree.Serialize() != before) throw VEKRegistry::AccessDenied("read-only");
    });
  }
  bool readOnly = false;
};

// Value by value, a key that cannot be made is skipped and only a write that
// would change a value fails; one replace for the whole save must not turn
// the first into an error or hide the second.
TEST(ConfigReadOnly, SkipsKeysItCannotMakeAndFailsOnlyOnAValueItWouldChange) {
  const struct {
    const char* name;
    std::function<void(VEKRegistry::Store&)> seed;
    std::function<void(Config&, VEKRegistry::Store&)> run;
    bool fails;
  } cases[] = {
      {"save with nothing stored", [](auto&) {}, [](Config& c, auto& s) { c.Save(s); }, false},
      {"save of what is stored", [](auto& s) { Config().Save(s); }, [](Config& c, auto& s) { c.Save(s); }, false},
      {"save of a moved window", [](auto& s) { Config().Save(s); },
       [](Config& c, auto& s) { c.Left = 5, c.Save(s); }, true},
      {"moved, but its key missing", [](auto& s) { Registry(s).OpenKey(SettingsKeys::Files, true); },
       [](Config& c, auto& s) { c.Left = 5, c.Save(s); }, true},
      {"moved, only the files key stored and unchanged",
       [](auto& s) {
         Config().Save(s);
         Registry reg(s);
         for (const char* key : {SettingsKeys::Layout, SettingsKeys::Placement, SettingsKeys::Messages,
                                 SettingsKeys::Prompts, SettingsKeys::Behaviors})
           reg.DeleteKey(key);
       },
       [](Config& c, auto& s) { c.Left = 5, c.Save(s); }, false},
      {"load of what is stored", [](auto& s) { Config().Save(s); }, [](Config& c, auto& s) { c.Load(s); }, false},
      {"load renaming an older value",
       [](auto& s) {
         Registry reg(s);
         reg.OpenKey(SettingsKeys::Files, true);
         reg.WriteInteger("BackupFiles", 0);
       },
       [](Config& c, auto& s) { c.Load(s); }, true},
  };
  for (const auto& c : cases) {
    ReadOnlyStore store;
    c.seed(store);
    const std::string before = store.Read().Serialize();
    store.readOnly = true;
    Config config;
    if (c.fails)
      EXPECT_THROW(c.run(config, store), VEKRegistry::AccessDenied) << c.name;
    else
      EXPECT_NO_THROW(c.run(config, store)) << c.name;
    EXPECT_EQ(store.Read().Serialize(), before) << c.name;
  }
}

// The main window reduced to what the settings exchange with it.
class FakeWindow : public SettingsWindow {
 public:
  Placement GetPlacement() const override { return placement; }
  void SetPlacement(const Placement& p) override {
    placement = p;
    ++placements;
  }
  void SetTopMost(bool value) override { topMost = value; }
  std::int32_t FilesPanelWidth() const override { return panel; }
  void SetFilesPanelWidth(std::int32_t width) override { panel = width; }
  std::int32_t FilesColumnWidth(int column) const override { return columns[column]; }
  void SetFilesColumnWidth(int column, std::int32_t width) override { columns[column] = width; }
  bool FilesColumnShown(int column) const override { return column == OutputColumn ? outputShown : true; }
  void SetFilesColumnShown(int column, bool shown) override {
    if (column == OutputColumn) outputShown = shown;
  }

  Placement placement;
  int placements = 0;
  int topMost = -1;
  std::int32_t panel = 0;
  std::int32_t columns[4] = {0, 0, 0, 0};
  bool outputShown = false;
};

TEST(ConfigWindowLayout, ReadKeepsTheRestoredRectangleAndOnlyMaximizedSurvives) {
  const struct {
    std::int32_t showCmd, expected;
  } states[] = {{SettingsWindow::ShowNormal, 1}, {SettingsWindow::ShowMaximized, 3},
                {SettingsWindow::ShowMinimized, 1}, {0, 1}, {7, 1}};
  for (const auto& s : states) {
    FakeWindow window;
    window.placement.ShowCmd = s.showCmd;
    window.placement.NormalPosition = {100, 50, 652, 450};
    window.panel = 200;
    window.columns[0] = 180;
    window.columns[1] = 260;
    window.columns[SettingsWindow::OutputColumn] = 170;
    window.outputShown = true;
    Config config;
    config.StayOnTop = true;
    config.ReadWindowLayout(window);
    EXPECT_EQ(config.ShowWindow, s.expected) << s.showCmd;
    EXPECT_EQ(config.Left, 100);
    EXPECT_EQ(config.Top, 50);
    EXPECT_EQ(config.Width, 552);
    EXPECT_EQ(config.Height, 400);
    EXPECT_EQ(config.FilesWidth, 200);
    EXPECT_EQ(config.FilesColumn0Width, 180);
    EXPECT_EQ(config.FilesColumn1Width, 260);
    EXPECT_EQ(config.FilesOutputColumnWidth, 170);
    EXPECT_TRUE(config.FilesOutputColumnShown);
    EXPECT_TRUE(config.StayOnTop) << "the window does not decide StayOnTop";
  }
}

TEST(ConfigWindowLayout, ApplyGivesPlacementTopMostAndWidthsToTheWindow) {
  for (bool stayOnTop : {true, false}) {
    Config config;
    config.Left = 30;
    config.Top = 40;
    config.Width = 500;
    config.Height = 300;
    config.ShowWindow = 3;
    config.StayOnTop = stayOnTop;
    config.FilesWidth = 375;
    config.FilesColumn0Width = 111;
    config.FilesColumn1Width = 222;
    config.FilesOutputColumnWidth = 333;
    config.FilesOutputColumnShown = stayOnTop;
    FakeWindow window;
    window.outputShown = !stayOnTop;
    window.placement.Flags = 7;
    config.ApplyWindowLayout(window);
    EXPECT_EQ(window.placements, 1);
    EXPECT_EQ(window.placement.Flags, 0u);
    EXPECT_EQ(window.placement.ShowCmd, 3);
    EXPECT_EQ(window.placement.NormalPosition.Left, 30);
    EXPECT_EQ(window.placement.NormalPosition.Top, 40);
    EXPECT_EQ(window.placement.NormalPosition.Right, 530);
    EXPECT_EQ(window.placement.NormalPosition.Bottom, 340);
    EXPECT_EQ(window.topMost, stayOnTop ? 1 : 0) << "not top-most is set explicitly too";
    EXPECT_EQ(window.panel, 375);
    EXPECT_EQ(window.columns[0], 111);
    EXPECT_EQ(window.columns[1], 222);
    EXPECT_EQ(window.columns[SettingsWindow::OutputColumn], 333);
    EXPECT_EQ(window.outputShown, stayOnTop);

    // Maximized over the stored rectangle: reading it back gives that rectangle.
    Config back;
    back.ReadWindowLayout(window);
    EXPECT_EQ(back.ShowWindow, 3);
    EXPECT_EQ(back.Width, 500);
    EXPECT_EQ(back.Height, 300);
  }
}

TEST(ConfigWindowLayout, HandEditedExtremesDoNotWrapAroundTheScreen) {
  Config config;
  config.Left = std::numeric_limits<std::int32_t>::max() - 10;
  config.Width = 1000;
  config.Top = std::numeric_limits<std::int32_t>::min();
  config.Height = -5;
  FakeWindow window;
  config.ApplyWindowLayout(window);
  EXPECT_EQ(window.placement.NormalPosition.Right, std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(window.placement.NormalPosition.Bottom, std::numeric_limits<std::int32_t>::min());
}

}  // namespace
