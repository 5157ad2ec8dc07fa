#include "win32/FormUninstall.h"

#include "win32/Resources.h"
#include "win32/Texts.h"

namespace {

constexpr char kContext[] = "TFrmUninstall";

}  // namespace

void TFrmUninstall::ShowModal(bool aviHandlerChecked) {
  aviHandler_ = aviHandlerChecked;
  DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_UNINSTALL), nullptr, Proc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK TFrmUninstall::Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  using ZantrelWin32::Tr;
  using ZantrelWin32::W;
  auto* self = reinterpret_cast<TFrmUninstall*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      self = reinterpret_cast<TFrmUninstall*>(lParam);
      SetWindowTextW(dialog, W(Tr(kContext, "Uninstall")).c_str());
      SetDlgItemTextW(dialog, IDC_OPTIONS, W(Tr(kContext, "Options :")).c_str());
      SetDlgItemTextW(dialog, IDC_AVIHANDLER, W(Tr(kContext, "Enable Explorer's Avi Handler")).c_str());
      SetDlgItemTextW(dialog, IDC_SETTINGS, W(Tr(kContext, "Uninstall application settings")).c_str());
      SetDlgItemTextW(dialog, IDOK, W(Tr(kContext, "&Ok")).c_str());
      CheckDlgButton(dialog, IDC_AVIHANDLER, self->aviHandler_ ? BST_CHECKED : BST_UNCHECKED);
      CheckDlgButton(dialog, IDC_SETTINGS, BST_UNCHECKED);
      return TRUE;
    case WM_COMMAND:
      // Ok and every way of closing (the close box, Escape) answer alike:
      // there is no Cancel.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        self->aviHandler_ = IsDlgButtonChecked(dialog, IDC_AVIHANDLER) == BST_CHECKED;
        self->settings_ = IsDlgButtonChecked(dialog, IDC_SETTINGS) == BST_CHECKED;
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      break;
  }
  return FALSE;
}
