// The desktop program on Windows: the main window over the core, and the one
// handler for a failure that escapes start-up.
#include <windows.h>
// The other system headers use its types.
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

#include "win32/FormMain.h"
#include "win32/Texts.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  // The folder chooser is a shell dialog.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(ZantrelWin32::U(argv[i]));
  LocalFree(argv);

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
