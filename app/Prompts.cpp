#include "app/Prompts.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <algorithm>

#include "lang/Language.h"

namespace ZantrelApp {

namespace {

namespace Names = VEKRiff::PromptButtonNames;

QString QText(const VEK::MessagePair& pair) { return QString::fromStdString(VEK::Text(pair)); }

// French sets a space before "?", "!", ":" and ";": a break there would
// leave the mark alone at the start of a line. The box's words wrap
// anywhere else.
QString KeptTogether(QString text) {
  for (const char* mark : {" ?", " !", " :", " ;"}) text.replace(QLatin1String(mark), QChar(0x00A0) + QLatin1Char(mark[1]));
  return text;
}

QMessageBox::StandardButton CloseButton(PromptButtons buttons) {
  switch (buttons) {
    case PromptButtons::YesNo: return QMessageBox::No;
    case PromptButtons::Ok: return QMessageBox::Ok;
    default: return QMessageBox::Cancel;
  }
}

}  // namespace

PromptAnswer MessageBoxPrompts::Ask(const QString& caption, const QString& text, PromptButtons buttons,
                                    PromptIcon icon) {
  const QMessageBox::Icon shown = icon == PromptIcon::Warning ? QMessageBox::Warning
                                  : icon == PromptIcon::Error ? QMessageBox::Critical
                                                              : QMessageBox::Question;
  QMessageBox box(shown, caption, KeptTogether(text), QMessageBox::NoButton, parent_);
  // Every window of the program is disabled while a question is open.
  box.setWindowModality(Qt::ApplicationModal);
  switch (buttons) {
    case PromptButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case PromptButtons::YesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
    case PromptButtons::YesNoAllCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::NoToAll |
                             QMessageBox::Cancel);
      break;
    case PromptButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case PromptButtons::OkCancelDefaultCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Cancel);
      break;
    case PromptButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
  }
  box.setEscapeButton(CloseButton(buttons));
  // Qt names the buttons in its own translation, English without one; the
  // messages above them follow the program's language.
  for (auto [button, name] : {std::pair{QMessageBox::Yes, &Names::Yes}, std::pair{QMessageBox::No, &Names::No},
                              std::pair{QMessageBox::Ok, &Names::Ok}, std::pair{QMessageBox::Cancel, &Names::Cancel},
                              std::pair{QMessageBox::YesToAll, &Names::YesToAll},
                              std::pair{QMessageBox::NoToAll, &Names::NoToAll}})
    if (QAbstractButton* b = box.button(button)) b->setText(QText(*name));

  open_.push_back({&box, buttons});
  const int result = box.exec();
  open_.erase(std::find_if(open_.begin(), open_.end(), [&](const Open& o) { return o.Box == &box; }));
  switch (result) {
    case QMessageBox::Yes: return PromptAnswer::Yes;
    case QMessageBox::Ok: return PromptAnswer::Ok;
    case QMessageBox::No: return PromptAnswer::No;
    case QMessageBox::YesToAll: return PromptAnswer::YesToAll;
    case QMessageBox::NoToAll: return PromptAnswer::NoToAll;
    default:
      return VEKRiff::ClosedAnswer(buttons);
  }
}

void MessageBoxPrompts::CloseOpenQuestions() {
  // Innermost first: each box's exec returns once the boxes above it are gone.
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) it->Box->done(CloseButton(it->Buttons));
}

}  // namespace ZantrelApp
