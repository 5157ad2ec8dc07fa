// Every question the main window asks goes through this interface, so that
// tests can answer it; the real one shows an application-modal message box.
#pragma once

#include <QString>

class QWidget;

namespace ZantrelApp {

enum class PromptButtons { YesNo, YesNoCancel, OkCancel };
enum class PromptIcon { Question, Warning };
// Closing a box without a button gives No for YesNo and Cancel otherwise.
enum class PromptAnswer { Yes, No, Ok, Cancel };

class Prompts {
 public:
  virtual ~Prompts() = default;
  virtual PromptAnswer Ask(const QString& caption, const QString& text, PromptButtons buttons, PromptIcon icon) = 0;
};

class MessageBoxPrompts : public Prompts {
 public:
  explicit MessageBoxPrompts(QWidget* parent = nullptr) : parent_(parent) {}
  PromptAnswer Ask(const QString& caption, const QString& text, PromptButtons buttons, PromptIcon icon) override;

 private:
  QWidget* parent_;
};

}  // namespace ZantrelApp
