// Every question the main window asks goes through this interface, so that
// tests can answer it; the real one shows an application-modal message box.
#pragma once

#include <QString>
#include <vector>

class QMessageBox;
class QWidget;

namespace ZantrelApp {

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
  virtual PromptAnswer Ask(const QString& caption, const QString& text, PromptButtons buttons, PromptIcon icon) = 0;
  // Closes every question still open as if the user had closed its box: a
  // question about a run that has ended by itself has no reason left.
  virtual void CloseOpenQuestions() {}
};

// Boxes centred on their parent (the main window), with buttons in the
// language of the messages.
class MessageBoxPrompts : public Prompts {
 public:
  explicit MessageBoxPrompts(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }
  PromptAnswer Ask(const QString& caption, const QString& text, PromptButtons buttons, PromptIcon icon) override;
  void CloseOpenQuestions() override;

 private:
  QWidget* parent_;
  struct Open {
    QMessageBox* Box;
    PromptButtons Buttons;
  };
  std::vector<Open> open_;  // innermost last
};

}  // namespace ZantrelApp
