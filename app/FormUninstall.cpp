// The uninstall dialog: layout and the close box that answers like Ok.
#include "app/FormUninstall.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TFrmUninstall::TFrmUninstall(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FrmUninstall"));
  // The installer's own windows must not hide the question.
  setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);

  LblOptions = new QLabel(this);
  LblOptions->setObjectName(QStringLiteral("LblOptions"));
  ChkAviHandler = new QCheckBox(this);
  ChkAviHandler->setObjectName(QStringLiteral("ChkAviHandler"));
  ChkAviHandler->setChecked(true);
  ChkSettings = new QCheckBox(this);
  ChkSettings->setObjectName(QStringLiteral("ChkSettings"));
  ChkSettings->setChecked(false);
  BtnOk = new QPushButton(this);
  BtnOk->setObjectName(QStringLiteral("BtnOk"));
  BtnOk->setDefault(true);
  connect(BtnOk, &QPushButton::clicked, this, &QDialog::accept);

  auto* options = new QVBoxLayout;
  options->setContentsMargins(12, 0, 0, 0);
  options->addWidget(ChkAviHandler);
  options->addWidget(ChkSettings);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BtnOk);
  auto* layout = new QVBoxLayout(this);
  // Narrow side margins: the longest English caption then fits the designed width.
  layout->setContentsMargins(6, 9, 6, 9);
  layout->addWidget(LblOptions);
  layout->addLayout(options);
  layout->addStretch();
  layout->addLayout(buttons);
  RetranslateUi();
}

void TFrmUninstall::RetranslateUi() {
  setWindowTitle(tr("Uninstall"));
  LblOptions->setText(tr("Options :"));
  ChkAviHandler->setText(tr("Enable Explorer's Avi Handler"));
  ChkSettings->setText(tr("Uninstall application settings"));
  BtnOk->setText(tr("&Ok"));
  // The designed size, unless the captions of a language need more room.
  setFixedSize(QSize(ClientWidth, ClientHeight).expandedTo(layout()->totalMinimumSize()));
}

void TFrmUninstall::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::LanguageChange) RetranslateUi();
}

void TFrmUninstall::ShowModal(bool aviHandlerChecked) {
  ChkAviHandler->setChecked(aviHandlerChecked);
  exec();
}

bool TFrmUninstall::AviHandlerChecked() const { return ChkAviHandler->isChecked(); }

bool TFrmUninstall::SettingsChecked() const { return ChkSettings->isChecked(); }

void TFrmUninstall::reject() { accept(); }

void TFrmUninstall::showEvent(QShowEvent* event) {
  if (QScreen* where = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(where->availableGeometry().center());
    move(frame.topLeft());
  }
  QDialog::showEvent(event);
}
