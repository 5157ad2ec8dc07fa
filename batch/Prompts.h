// The questions a batch asks its user, behind one interface: each front-end
// shows them its own way (a message box, none at all on the console), and
// tests answer them.
#pragma once

#include <string>

#include "lang/Language.h"

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

// The names of the boxes' buttons, the same in every window, in the
// language of the messages.
namespace PromptButtonNames {
inline const VEK::MessagePair Yes = {{"&Yes", "&Oui"}};
inline const VEK::MessagePair No = {{"&No", "&Non"}};
inline const VEK::MessagePair Ok = {{"OK", "OK"}};
inline const VEK::MessagePair Cancel = {{"Cancel", "Annuler"}};
inline const VEK::MessagePair YesToAll = {{"Yes to &all", "Oui pour &tous"}};
inline const VEK::MessagePair NoToAll = {{"N&o to all", "Non pour t&ous"}};
}  // namespace PromptButtonNames

// The answer a closed box gives.
inline PromptAnswer ClosedAnswer(PromptButtons buttons) {
  return buttons == PromptButtons::YesNo ? PromptAnswer::No
         : buttons == PromptButtons::Ok  ? PromptAnswer::Ok
                                         : PromptAnswer::Cancel;
}

}  // namespace VEKRiff
