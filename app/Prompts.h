// Every question the main window asks goes through this interface, so that
// tests can answer it; the real one shows an application-modal message box.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "batch/Prompts.h"

class QMessageBox;
class QWidget;

namespace ZantrelApp {

using PromptButtons = VEKRiff::PromptButtons;
using PromptIcon = VEKRiff::PromptIcon;
using PromptAnswer = VEKRiff::PromptAnswer;

// The window's questions in its own strings; the batch's, which come in
// UTF-8, are the same questions.
class Prompts : public VEKRiff::Prompts {
 public:
  virtual PromptAnswer Ask(const QString& caption, const QString& text, PromptButtons buttons, PromptIcon icon) = 0;
  PromptAnswer Ask(const std::string& caption, const std::string& text, PromptButtons buttons, PromptIcon icon) final {
    return Ask(QString::fromStdString(caption), QString::fromStdString(text), buttons, icon);
  }
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
