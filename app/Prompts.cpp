#include "app/Prompts.h"

#include <QMessageBox>

namespace ZantrelApp {

PromptAnswer MessageBoxPrompts::Ask(const QString& caption, const QString& text, PromptButtons buttons,
                                    PromptIcon icon) {
  QMessageBox box(icon == PromptIcon::Warning ? QMessageBox::Warning : QMessageBox::Question, caption, text,
                  QMessageBox::NoButton, parent_);
  // Every window of the program is disabled while a question is open.
  box.setWindowModality(Qt::ApplicationModal);
  switch (buttons) {
    case PromptButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setEscapeButton(QMessageBox::No);
      break;
    case PromptButtons::YesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
    case PromptButtons::OkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return PromptAnswer::Yes;
    case QMessageBox::Ok: return PromptAnswer::Ok;
    case QMessageBox::No: return PromptAnswer::No;
    default: return buttons == PromptButtons::YesNo ? PromptAnswer::No : PromptAnswer::Cancel;
  }
}

}  // namespace ZantrelApp
