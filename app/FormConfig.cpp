// The configuration dialog: layout, the two enabling rules and the transfer
// to and from the settings record.
#include "app/FormConfig.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QStylePainter>
#include <QTabWidget>
#include <QValidator>
#include <QVBoxLayout>
#include <algorithm>

#include "app/Translation.h"
#include "lang/Language.h"

// QLineEdit::setMaxLength cuts a longer text as soon as it is set, which
// would shorten a prefix stored longer by an older version or by hand. This
// validator only stops edits from growing the text past the limit: a longer
// text set by the program is accepted, and may be shortened but not lengthened.
//
// It must accept the long text when it is set: QLineEdit undoes a rejected
// edit only while the previous text was valid, so a rejected stored text
// would let every later keystroke through.
class TFrmConfig::PrefixValidator : public QValidator {
 public:
  PrefixValidator(qsizetype limit, QObject* parent) : QValidator(parent), limit_(limit), allowance_(limit) {}

  // Called before the program sets a text of this length.
  void AllowStored(qsizetype length) { allowance_ = std::max(limit_, length); }

  State validate(QString& input, int&) const override {
    if (input.size() > allowance_) return Invalid;
    allowance_ = std::max(limit_, input.size());
    return Acceptable;
  }

 private:
  qsizetype limit_;
  // The longest text accepted from here on: the limit, or the length of a
  // longer stored text as far as it has been shortened since.
  mutable qsizetype allowance_;
};

namespace {

// Settings hold text in the system code page.
QString FromSettingsText(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToSettingsText(const QString& text) { return text.toLocal8Bit().toStdString(); }

// A group box whose frame leaves a gap behind a widget lying across it, as
// it would behind its own caption. The widget is not a child of the group, so
// that it stays enabled while the group is disabled.
class FrameGapGroupBox : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;
  void SetGapWidget(QWidget* widget) { gapWidget_ = widget; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QStylePainter painter(this);
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    if (gapWidget_ != nullptr) {
      const QRect gap(gapWidget_->mapTo(window(), QPoint(0, 0)) - mapTo(window(), QPoint(0, 0)),
                      gapWidget_->size());
      painter.setClipRegion(QRegion(rect()).subtracted(gap.adjusted(-2, 0, 2, 0)));
    }
    painter.drawComplexControl(QStyle::CC_GroupBox, option);
  }

 private:
  QWidget* gapWidget_ = nullptr;
};

QCheckBox* MakeCheckBox(const char* name, bool checked, QWidget* parent) {
  auto* box = new QCheckBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setChecked(checked);
  return box;
}

}  // namespace

// The frame's flags go to the constructor: set later, they recreate the
// window, and under a style sheet that sends a style change before the
// controls exist.
TFrmConfig::TFrmConfig(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("FrmConfig"));
  setFixedSize(ClientWidth, ClientHeight);

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));

  // "Files": visual order differs from the focus order set further down.
  auto* tabFiles = new QWidget;
  tabFiles->setObjectName(QStringLiteral("TabFiles"));
  ChkDisableAviHandler = MakeCheckBox("ChkDisableAviHandler", false, tabFiles);
  ChkKeepOriginal = MakeCheckBox("ChkKeepOriginal", true, tabFiles);
  ChkSkipHealthy = MakeCheckBox("ChkSkipHealthy", false, tabFiles);
  Label1 = new QLabel(tabFiles);
  Label1->setObjectName(QStringLiteral("Label1"));
  EditPrefix = new QLineEdit(QStringLiteral("Zantrel."), tabFiles);
  EditPrefix->setObjectName(QStringLiteral("EditPrefix"));
  prefixValidator_ = new PrefixValidator(PrefixMaxLength, EditPrefix);
  EditPrefix->setValidator(prefixValidator_);
  Label1->setBuddy(EditPrefix);
  auto* filesLayout = new QVBoxLayout(tabFiles);
  filesLayout->addWidget(ChkDisableAviHandler);
#ifndef Q_OS_WIN
  // Explorer exists on Windows only: elsewhere the choice would switch
  // nothing. The box stays unseen in the dialog, so that the stored value
  // goes back as it came, for a Windows copy of the program sharing the
  // settings.
  ChkDisableAviHandler->setVisible(false);
#endif
  filesLayout->addWidget(ChkKeepOriginal);
  filesLayout->addSpacing(6);
  filesLayout->addWidget(Label1);
  filesLayout->addWidget(EditPrefix);
  filesLayout->addWidget(ChkSkipHealthy);
  filesLayout->addStretch();
  PageControl1->addTab(tabFiles, QString());

  auto* tabMessages = new QWidget;
  tabMessages->setObjectName(QStringLiteral("TabMessagesCenter"));
  ChkMsgAutoClear = MakeCheckBox("ChkMsgAutoClear", true, tabMessages);
  ChkMsgSelectedFile = MakeCheckBox("ChkMsgSelectedFile", true, tabMessages);
  // The language of the messages, and of the windows with them.
  LblLanguage = new QLabel(tabMessages);
  LblLanguage->setObjectName(QStringLiteral("LblLanguage"));
  CboLanguage = new QComboBox(tabMessages);
  CboLanguage->setObjectName(QStringLiteral("CboLanguage"));
  for (const LanguageChoice& choice : LanguageChoices)
    CboLanguage->addItem(QString::fromUtf8(choice.Name), int{choice.Language});
  LblLanguage->setBuddy(CboLanguage);
  auto* languageRow = new QHBoxLayout;
  languageRow->addWidget(LblLanguage);
  languageRow->addWidget(CboLanguage);
  languageRow->addStretch();
  auto* messagesLayout = new QVBoxLayout(tabMessages);
  messagesLayout->addWidget(ChkMsgAutoClear);
  messagesLayout->addWidget(ChkMsgSelectedFile);
  messagesLayout->addSpacing(6);
  messagesLayout->addLayout(languageRow);
  messagesLayout->addStretch();
  PageControl1->addTab(tabMessages, QString());

  auto* tabPrompts = new QWidget;
  tabPrompts->setObjectName(QStringLiteral("TabPrompts"));
  ChkModifyOriginalPrompt = MakeCheckBox("ChkModifyOriginalPrompt", true, tabPrompts);
  ChkStopPrompt = MakeCheckBox("ChkStopPrompt", true, tabPrompts);

  // The check box stands where the group's caption would be. Both share one
  // area: the group starts half a check box lower, so its top edge runs
  // behind the middle of the check box.
  auto* overwriteArea = new QWidget(tabPrompts);
  overwriteArea->setObjectName(QStringLiteral("OverwriteArea"));
  ChkOverwritePrompt = MakeCheckBox("ChkOverwritePrompt", true, overwriteArea);
  auto* group = new FrameGapGroupBox(overwriteArea);
  group->SetGapWidget(ChkOverwritePrompt);
  GrpOverwriteBehavior = group;
  GrpOverwriteBehavior->setObjectName(QStringLiteral("GrpOverwriteBehavior"));
  GrpOverwriteBehaviorItems = new QButtonGroup(GrpOverwriteBehavior);
  GrpOverwriteBehaviorItems->setObjectName(QStringLiteral("GrpOverwriteBehaviorItems"));
  auto* groupLayout = new QVBoxLayout(GrpOverwriteBehavior);
  const QSize checkSize = ChkOverwritePrompt->sizeHint();
  groupLayout->setContentsMargins(9, checkSize.height() / 2 + 3, 9, 6);
  groupLayout->setSpacing(2);
  for (int i = 0; i < 3; ++i) {
    auto* item = new QRadioButton(GrpOverwriteBehavior);
    item->setObjectName(QStringLiteral("GrpOverwriteBehaviorItem%1").arg(i));
    GrpOverwriteBehaviorItems->addButton(item, i);
    groupLayout->addWidget(item);
  }
  GrpOverwriteBehaviorItems->button(0)->setChecked(true);
  GrpOverwriteBehavior->setEnabled(false);
  auto* areaLayout = new QVBoxLayout(overwriteArea);
  areaLayout->setContentsMargins(0, checkSize.height() / 2, 0, 0);
  areaLayout->addWidget(GrpOverwriteBehavior);
  ChkOverwritePrompt->setGeometry(QRect(QPoint(8, 0), checkSize));
  ChkOverwritePrompt->raise();

  auto* promptsLayout = new QVBoxLayout(tabPrompts);
  promptsLayout->setSpacing(4);
  promptsLayout->addWidget(ChkModifyOriginalPrompt);
  promptsLayout->addWidget(ChkStopPrompt);
  promptsLayout->addWidget(overwriteArea);
  promptsLayout->addStretch();
  PageControl1->addTab(tabPrompts, QString());
  PageControl1->setCurrentIndex(0);

  BtnOk = new QPushButton(this);
  BtnOk->setObjectName(QStringLiteral("BtnOk"));
  BtnOk->setDefault(true);
  BtnCancel = new QPushButton(this);
  BtnCancel->setObjectName(QStringLiteral("BtnCancel"));
  connect(BtnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BtnOk);
  buttons->addWidget(BtnCancel);
  auto* layout = new QVBoxLayout(this);
  // Narrow side margins: the longest caption then fits the designed width.
  layout->setContentsMargins(5, 6, 5, 6);
  layout->addWidget(PageControl1);
  layout->addLayout(buttons);
  RetranslateUi();
  FitSize();

  // The keyboard goes down the page as the eye does: the prefix, made after
  // the box below it, would otherwise come last.
  setTabOrder(ChkDisableAviHandler, ChkKeepOriginal);
  setTabOrder(ChkKeepOriginal, EditPrefix);
  setTabOrder(EditPrefix, ChkSkipHealthy);

  // toggled fires on every change of state, by the user or by Fill, and not
  // when a box is set to the state it already has.
  connect(ChkKeepOriginal, &QCheckBox::toggled, this, [this] { ChkKeepOriginalClick(); });
  connect(ChkOverwritePrompt, &QCheckBox::toggled, this, [this] { ChkOverwritePromptClick(); });
  ChkKeepOriginalClick();
  ChkOverwritePromptClick();
}

void TFrmConfig::FitSize() {
  // The check box lying across the group's frame is placed by hand: its
  // size, and the room it needs, follow the font.
  const QSize checkSize = ChkOverwritePrompt->sizeHint();
  ChkOverwritePrompt->setGeometry(QRect(QPoint(8, 0), checkSize));
  QWidget* overwriteArea = ChkOverwritePrompt->parentWidget();
  overwriteArea->setMinimumWidth(8 + checkSize.width());
  overwriteArea->layout()->setContentsMargins(0, checkSize.height() / 2, 0, 0);
  GrpOverwriteBehavior->layout()->setContentsMargins(9, checkSize.height() / 2 + 3, 9, 6);
  // The designed size, unless a larger font needs more room to show every
  // caption whole; the frame stays fixed either way.
  setFixedSize(QSize(ClientWidth, ClientHeight).expandedTo(layout()->totalMinimumSize()));
}

void TFrmConfig::RetranslateUi() {
  setWindowTitle(tr("Configuration"));
  ChkDisableAviHandler->setText(tr("Disable Explorer's AVI handler (Windows XP)"));
  ChkKeepOriginal->setText(tr("Keep original file (create a new file)"));
  ChkSkipHealthy->setText(tr("Skip files that need no repair"));
  Label1->setText(tr("Prefix for new files :"));
  PageControl1->setTabText(0, tr("Files"));
  ChkMsgAutoClear->setText(tr("&Clear messages before starting any operation"));
  ChkMsgSelectedFile->setText(tr("&Display messages for the selected file only"));
  LblLanguage->setText(tr("&Language :"));
  PageControl1->setTabText(1, tr("Messages Center"));
  ChkModifyOriginalPrompt->setText(tr("Prompt the user before modifying the original file"));
  ChkStopPrompt->setText(tr("Prompt the user before stopping the current operation"));
  ChkOverwritePrompt->setText(tr("Prompt the user before overwriting a file"));
  GrpOverwriteBehaviorItems->button(0)->setText(tr("Skip when file already exists"));
  GrpOverwriteBehaviorItems->button(1)->setText(tr("Abort when file already exists"));
  GrpOverwriteBehaviorItems->button(2)->setText(tr("Overwrite when file already exists"));
  PageControl1->setTabText(2, tr("Prompts"));
  BtnOk->setText(tr("&Ok"));
  BtnCancel->setText(tr("&Cancel"));
}

void TFrmConfig::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::LanguageChange) RetranslateUi();
  // Captions of another language or font take another room.
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange ||
      event->type() == QEvent::LanguageChange)
    FitSize();
}

bool TFrmConfig::event(QEvent* event) {
  const bool handled = QDialog::event(event);
  // A tab bar or a caption measures its new font only after the change that
  // brought it: the room follows once the layouts have the new sizes.
  if (event->type() == QEvent::LayoutRequest) FitSize();
  return handled;
}

void TFrmConfig::ChkKeepOriginalClick() { EditPrefix->setEnabled(Shown().PrefixEnabled()); }

void TFrmConfig::ChkOverwritePromptClick() { GrpOverwriteBehavior->setEnabled(Shown().OverwriteBehaviorEnabled()); }

void TFrmConfig::Fill(const Config& settings) {
  const ConfigChoices c = transfer_.Fill(settings, FromSettingsText(settings.Prefix).toStdString(),
                                         ZantrelApp::ChosenLanguage(std::nullopt, QLocale()));
  ChkMsgAutoClear->setChecked(c.AutoClear);
  ChkMsgSelectedFile->setChecked(c.SelectedFile);
  ChkModifyOriginalPrompt->setChecked(c.ModifyOriginalPrompt);
  ChkOverwritePrompt->setChecked(c.OverwritePrompt);
  ChkStopPrompt->setChecked(c.StopPrompt);
  if (c.OverwriteBehavior < 0) {
    // An exclusive group refuses to uncheck its checked button.
    GrpOverwriteBehaviorItems->setExclusive(false);
    for (QAbstractButton* item : GrpOverwriteBehaviorItems->buttons()) item->setChecked(false);
    GrpOverwriteBehaviorItems->setExclusive(true);
  } else {
    GrpOverwriteBehaviorItems->button(c.OverwriteBehavior)->setChecked(true);
  }
  ChkDisableAviHandler->setChecked(c.DisableAviHandler);
  ChkKeepOriginal->setChecked(c.KeepOriginal);
  ChkSkipHealthy->setChecked(c.SkipHealthy);
  const QString prefix = QString::fromStdString(c.Prefix);
  prefixValidator_->AllowStored(prefix.size());
  EditPrefix->setText(prefix);
  CboLanguage->setCurrentIndex(CboLanguage->findData(int{c.Language}));
}

ConfigChoices TFrmConfig::Shown() const {
  ConfigChoices c;
  c.DisableAviHandler = ChkDisableAviHandler->isChecked();
  c.KeepOriginal = ChkKeepOriginal->isChecked();
  c.Prefix = EditPrefix->text().toStdString();
  c.SkipHealthy = ChkSkipHealthy->isChecked();
  c.AutoClear = ChkMsgAutoClear->isChecked();
  c.SelectedFile = ChkMsgSelectedFile->isChecked();
  c.Language = static_cast<std::int8_t>(CboLanguage->currentData().toInt());
  c.ModifyOriginalPrompt = ChkModifyOriginalPrompt->isChecked();
  c.StopPrompt = ChkStopPrompt->isChecked();
  c.OverwritePrompt = ChkOverwritePrompt->isChecked();
  c.OverwriteBehavior = GrpOverwriteBehaviorItems->checkedId();
  return c;
}

void TFrmConfig::ReadBack(Config& settings) const {
  transfer_.ReadBack(Shown(), settings,
                     [](const std::string& text) { return ToSettingsText(QString::fromStdString(text)); });
}

bool TFrmConfig::EditConfig(Config& settings) {
  Fill(settings);
  if (exec() != QDialog::Accepted) return false;
  ReadBack(settings);
  return true;
}

void TFrmConfig::showEvent(QShowEvent* event) {
  // Centred on the screen even when a parent window would centre it on itself.
  if (QScreen* where = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(where->availableGeometry().center());
    move(frame.topLeft());
  }
  QDialog::showEvent(event);
}
