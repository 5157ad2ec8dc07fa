#include "win32/Prompts.h"

#include <commctrl.h>

#include <algorithm>

#include "lang/Language.h"
#include "win32/Controls.h"
#include "win32/Texts.h"

namespace ZantrelWin32 {

using VEKRiff::PromptAnswer;
using VEKRiff::PromptButtons;
using VEKRiff::PromptIcon;

namespace {

namespace Names = VEKRiff::PromptButtonNames;

constexpr int IdYesToAll = 100;
constexpr int IdNoToAll = 101;

}  // namespace

HRESULT CALLBACK DialogPrompts::Callback(HWND dialog, UINT notification, WPARAM, LPARAM, LONG_PTR data) {
  auto* open = reinterpret_cast<Open*>(data);
  if (notification == TDN_CREATED) {
    open->Dialog = dialog;
    // Over the window it asks about, wherever that is, not where the
    // system last put a dialog.
    CenterOverWindow(dialog, open->Owner);
  }
  if (notification == TDN_DESTROYED) open->Dialog = nullptr;
  return S_OK;
}

PromptAnswer DialogPrompts::Ask(const std::string& caption, const std::string& text, PromptButtons buttons,
                                PromptIcon icon) {
  std::vector<std::pair<int, const VEK::MessagePair*>> shown;
  switch (buttons) {
    case PromptButtons::YesNo:
      shown = {{IDYES, &Names::Yes}, {IDNO, &Names::No}};
      break;
    case PromptButtons::YesNoCancel:
      shown = {{IDYES, &Names::Yes}, {IDNO, &Names::No}, {IDCANCEL, &Names::Cancel}};
      break;
    case PromptButtons::YesNoAllCancel:
      shown = {{IDYES, &Names::Yes},
               {IdYesToAll, &Names::YesToAll},
               {IDNO, &Names::No},
               {IdNoToAll, &Names::NoToAll},
               {IDCANCEL, &Names::Cancel}};
      break;
    case PromptButtons::OkCancel:
    case PromptButtons::OkCancelDefaultCancel:
      shown = {{IDOK, &Names::Ok}, {IDCANCEL, &Names::Cancel}};
      break;
    case PromptButtons::Ok:
      shown = {{IDOK, &Names::Ok}};
      break;
  }
  std::vector<std::wstring> names;
  for (const auto& [id, name] : shown) names.push_back(W(VEK::Text(*name)));
  std::vector<TASKDIALOG_BUTTON> list;
  for (std::size_t i = 0; i < shown.size(); ++i) list.push_back({shown[i].first, names[i].c_str()});

  const std::wstring wideCaption = W(caption), wideText = W(text);
  Open open;
  open.Owner = owner_;
  TASKDIALOGCONFIG config = {};
  config.cbSize = sizeof config;
  config.hwndParent = owner_;
  // The close box and Escape give the closed answer; every box has them.
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  config.pszWindowTitle = wideCaption.c_str();
  config.pszContent = wideText.c_str();
  config.pButtons = list.data();
  config.cButtons = static_cast<UINT>(list.size());
  config.nDefaultButton = buttons == PromptButtons::OkCancelDefaultCancel ? IDCANCEL : shown.front().first;
  if (icon == PromptIcon::Question) {
    config.dwFlags |= TDF_USE_HICON_MAIN;
    config.hMainIcon = LoadIconW(nullptr, IDI_QUESTION);
  } else {
    config.pszMainIcon = icon == PromptIcon::Warning ? TD_WARNING_ICON : TD_ERROR_ICON;
  }
  config.pfCallback = &DialogPrompts::Callback;
  config.lpCallbackData = reinterpret_cast<LONG_PTR>(&open);

  open_.push_back(&open);
  int pressed = 0;
  const HRESULT result = TaskDialogIndirect(&config, &pressed, nullptr, nullptr);
  open_.erase(std::find(open_.begin(), open_.end(), &open));
  if (FAILED(result) || open.Closed) return VEKRiff::ClosedAnswer(buttons);
  switch (pressed) {
    case IDYES:
      return PromptAnswer::Yes;
    case IDNO:
      return PromptAnswer::No;
    case IDOK:
      return PromptAnswer::Ok;
    case IdYesToAll:
      return PromptAnswer::YesToAll;
    case IdNoToAll:
      return PromptAnswer::NoToAll;
    default:
      return VEKRiff::ClosedAnswer(buttons);
  }
}

void DialogPrompts::CloseOpenQuestions() {
  // Innermost first: each dialog's loop returns once the ones above it are gone.
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
    (*it)->Closed = true;
    if ((*it)->Dialog) PostMessageW((*it)->Dialog, TDM_CLICK_BUTTON, IDCANCEL, 0);
  }
}

}  // namespace ZantrelWin32
