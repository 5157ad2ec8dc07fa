// The settings, Explorer's handler switch and the installer's commands on
// the system's own registry, read back through the registry API itself.
// Windows only (under Wine in the test command).
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "settings/Config.h"
#include "settings/ExplorerAviHandler.h"
#include "settings/InstallCommands.h"
#include "settings/UserRegistry.h"
#include "util/Win32.h"

namespace {

const wchar_t HandlerKey[] = L"SystemFileAssociations\\.avi\\shellex\\PropertyHandler";

std::optional<std::wstring> ReadString(HKEY root, const wchar_t* key, const wchar_t* name) {
  wchar_t data[512];
  DWORD size = sizeof data, type = 0;
  if (RegGetValueW(root, key, name, RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS || type != REG_SZ)
    return std::nullopt;
  return std::wstring(data);
}

std::optional<DWORD> ReadNumber(HKEY root, const wchar_t* key, const wchar_t* name) {
  DWORD data = 0, size = sizeof data, type = 0;
  if (RegGetValueW(root, key, name, RRF_RT_ANY, &type, &data, &size) != ERROR_SUCCESS || type != REG_DWORD)
    return std::nullopt;
  return data;
}

bool KeyExists(HKEY root, const wchar_t* key) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

struct WindowsRegistry : ::testing::Test {
  // The tests write and delete the user's own keys: in a Wine prefix of the
  // test command's own, never on a person's Windows.
  void SetUp() override {
    if (!UnderWine()) GTEST_SKIP() << "changes the user's registry: runs under Wine only";
    Clean();
  }
  void TearDown() override {
    if (UnderWine()) Clean();
  }
  static void Clean() {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Zantrel");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Zantrel-Backup");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"SystemFileAssociations\\.avi");
  }
  static void PutHandler(const wchar_t* value) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, HandlerKey, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
  }
};

TEST_F(WindowsRegistry, SettingsAreSavedAsTheSystemsOwnValuesAndLoadedBack) {
  Config saved;
  saved.Prefix = "Réparé.";  // not ASCII: UTF-16 in the registry
  saved.OverwriteBehavior = 2;
  saved.StayOnTop = true;
  saved.Language = 1;
  saved.Save(*VEKRegistry::OpenUserRegistry());
  const wchar_t root[] = L"Software\\Zantrel\\0.2";
  EXPECT_EQ(ReadNumber(HKEY_CURRENT_USER, root, L"Language"), 1u);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, (std::wstring(root) + L"\\Files").c_str(), L"Prefix"),
            std::wstring(L"R\u00e9par\u00e9."));
  EXPECT_EQ(ReadNumber(HKEY_CURRENT_USER, (std::wstring(root) + L"\\Placement").c_str(), L"StayOnTop"), 1u);

  // A value another program wrote in between stays.
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, root, 0, KEY_WRITE, &k), ERROR_SUCCESS);
  const DWORD other = 7;
  RegSetValueExW(k, L"SomeoneElse", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&other), sizeof other);
  RegCloseKey(k);

  Config loaded;
  loaded.Load(*VEKRegistry::OpenUserRegistry());
  EXPECT_EQ(loaded.Prefix, saved.Prefix);
  EXPECT_EQ(loaded.OverwriteBehavior, 2);
  EXPECT_TRUE(loaded.StayOnTop);
  EXPECT_EQ(loaded.Language, std::optional<std::int32_t>(1));
  loaded.Prefix = "Other.";
  loaded.Save(*VEKRegistry::OpenUserRegistry());
  EXPECT_EQ(ReadNumber(HKEY_CURRENT_USER, root, L"SomeoneElse"), 7u);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, (std::wstring(root) + L"\\Files").c_str(), L"Prefix"),
            std::wstring(L"Other."));
}

TEST_F(WindowsRegistry, TheHandlerSwitchAndTheInstallersCommandsChangeExactlyTheirKeys) {
  const wchar_t handler[] = L"{BF5ACF6C-0FA0-4D4C-8B70-7E7F6B3B6B28}";
  const struct {
    const char* name;
    bool handlerKey;    // Explorer's key exists
    bool disable;       // DisableAviHandler saved before the switch
    const wchar_t* after;  // the handler value afterwards; null: no key
    bool backup;        // the backup key afterwards
  } cases[] = {
      {"switched off: blanked, kept in the backup", true, true, L"", true},
      {"switched on again: restored, backup gone", true, false, handler, false},
      {"no handler key: nothing is created", false, true, nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Clean();
    if (c.handlerKey) PutHandler(handler);
    if (!c.disable) {  // switched off first, so that there is something to restore
      Config off;
      off.DisableAviHandler = true;
      off.Save(*VEKRegistry::OpenUserRegistry());
    }
    Config config;
    config.DisableAviHandler = c.disable;
    config.Save(*VEKRegistry::OpenUserRegistry());  // applies the switch
    const auto value = ReadString(HKEY_CLASSES_ROOT, HandlerKey, nullptr);
    if (c.after) EXPECT_EQ(value, std::wstring(c.after));
    else EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, HandlerKey));
    EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, L"Software\\Zantrel-Backup"), c.backup);
    if (c.backup) {
      EXPECT_EQ(ReadString(HKEY_CURRENT_USER, L"Software\\Zantrel-Backup\\0.2", L"AviHandler"), std::wstring(handler));
    }
  }

  // The installer's /inst applies the stored choice; /uninst with both boxes
  // ticked restores the handler and deletes the settings key only.
  struct Ticked : UninstallDialog {
    void ShowModal(bool) override {}
    bool AviHandlerChecked() const override { return true; }
    bool SettingsChecked() const override { return true; }
  } dialog;
  Clean();
  PutHandler(handler);
  Config off;
  off.DisableAviHandler = true;
  off.Save(*VEKRegistry::OpenUserRegistry());
  RunInstallCommand(*VEKRegistry::OpenUserRegistry());
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, HandlerKey, nullptr), std::wstring(L""));
  RunUninstallCommand(dialog, *VEKRegistry::OpenUserRegistry());
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, HandlerKey, nullptr), std::wstring(handler));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Zantrel\\0.2"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Zantrel")) << "its parent stays";
}

}  // namespace
