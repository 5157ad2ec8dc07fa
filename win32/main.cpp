// The desktop program on Windows: the main window over the core, and the one
// handler for a failure that escapes start-up.
#include <windows.h>
// The other system headers use its types.
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cctype>
#include <exception>
#include <string>
#include <vector>

#include "lang/Language.h"
#include "settings/Config.h"
#include "settings/ConfigChoices.h"
#include "settings/InstallCommands.h"
#include "settings/Registry.h"
#include "settings/UserRegistry.h"
#include "win32/Controls.h"
#include "win32/FormMain.h"
#include "win32/FormUninstall.h"
#include "win32/HandOver.h"
#include "win32/Texts.h"

namespace {

// A failure that escapes a command: the settings' CurrentInstance is blanked,
// as the Qt program does, and the message is shown.
void ReportFatal(const std::string& message) {
  try {
    const auto store = VEKRegistry::OpenUserRegistry();
    VEKRegistry::Registry registry(*store);
    if (registry.OpenKey(SettingsKeys::Root, true)) registry.WriteString("CurrentInstance", "");
  } catch (const std::exception&) {
    // The store itself is what failed; the original message matters more.
  }
  MessageBoxW(nullptr, ZantrelWin32::W(message).c_str(), L"Zantrel", MB_OK | MB_ICONERROR);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls = {sizeof controls,
                                   ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES | ICC_LINK_CLASS};
  InitCommonControlsEx(&controls);
  // The folder chooser is a shell dialog.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(ZantrelWin32::U(argv[i]));
  LocalFree(argv);

  // The installer's commands run without the main window.
  std::string first = arguments.size() > 1 ? arguments[1] : std::string();
  for (char& c : first) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (first == "/inst" || first == "/uninst") {
    try {
      if (first == "/inst") {
        RunInstallCommand();
      } else {
        // The dialog speaks the language of the settings, else the system's.
        const auto store = VEKRegistry::OpenUserRegistry();
        VEK::SetLanguage(ChosenLanguage(StoredLanguage(*store), ZantrelWin32::SystemLanguage()));
        TFrmUninstall dialog(instance);
        RunUninstallCommand(dialog, *store);
      }
    } catch (const std::exception& e) {
      ReportFatal(e.what());
    }
    return 0;
  }

  // A window already running takes this start's files.
  if (ZantrelWin32::HandToRunningWindow(arguments)) {
    CoUninitialize();
    return 0;
  }

  int status = 0;
  try {
    TFrmMain window(instance);
    if (!window.Create()) return 1;
    window.FormCreate(arguments);
    window.Show();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (TranslateAcceleratorW(window.Handle(), window.Accelerators(), &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    status = static_cast<int>(msg.wParam);
  } catch (const std::exception& e) {
    MessageBoxW(nullptr, ZantrelWin32::W(e.what()).c_str(), L"Zantrel", MB_OK | MB_ICONERROR);
    status = 1;
  }
  CoUninitialize();
  return status;
}
