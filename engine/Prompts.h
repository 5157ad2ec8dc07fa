// The questions a batch asks its user, behind one interface: each front-end
// shows them its own way (a message box, none at all on the console), and
// tests answer them.
#pragma once

#include <string>

namespace VEKRiff {

// OkCancelDefaultCancel: OK and Cancel with Cancel taking Enter, for a
// question whose OK cannot be undone.
// YesNoAllCancel: also "Yes to all" and "No to all", for a question a batch
// may ask again for each file.
enum class PromptButtons { YesNo, YesNoCancel, YesNoAllCancel, OkCancel, OkCancelDefaultCancel, Ok };
enum class PromptIcon { Question, Warning, Error };
// Closing a box without a button gives No for YesNo, Ok for Ok and Cancel
// otherwise.
enum class PromptAnswer { Yes, No, Ok, Cancel, YesToAll, NoToAll };

class Prompts {
 public:
  virtual ~Prompts() = default;
  // caption and text in the current language, UTF-8.
  virtual PromptAnswer Ask(const std::string& caption, const std::string& text, PromptButtons buttons,
                           PromptIcon icon) = 0;
  // Closes every question still open as if the user had closed its box: a
  // question about a run that has ended by itself has no reason left.
  virtual void CloseOpenQuestions() {}
};

// The answer a closed box gives.
inline PromptAnswer ClosedAnswer(PromptButtons buttons) {
  return buttons == PromptButtons::YesNo ? PromptAnswer::No
         : buttons == PromptButtons::Ok  ? PromptAnswer::Ok
                                         : PromptAnswer::Cancel;
}

}  // namespace VEKRiff
