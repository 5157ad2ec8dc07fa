// The batch's questions as task dialogs: the buttons are named in the
// messages' language (a message box names them in the system's), and a
// batch question has "Yes to all" and "No to all".
#pragma once

#include <windows.h>

#include <vector>

#include "batch/Prompts.h"

namespace ZantrelWin32 {

class DialogPrompts : public VEKRiff::Prompts {
 public:
  // The dialogs belong to owner, which is disabled while one is open.
  void SetOwner(HWND owner) { owner_ = owner; }
  VEKRiff::PromptAnswer Ask(const std::string& caption, const std::string& text, VEKRiff::PromptButtons buttons,
                            VEKRiff::PromptIcon icon) override;
  void CloseOpenQuestions() override;

 private:
  struct Open {
    HWND Dialog = nullptr;
    HWND Owner = nullptr;
    bool Closed = false;  // by CloseOpenQuestions, not by the user
  };
  static HRESULT CALLBACK Callback(HWND dialog, UINT notification, WPARAM, LPARAM, LONG_PTR data);

  HWND owner_ = nullptr;
  std::vector<Open*> open_;  // innermost last
};

}  // namespace ZantrelWin32
