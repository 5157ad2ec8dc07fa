// The uninstall dialog: layout and the close box that answers like Ok.
#include "dialogs/FormUninstall.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TFrmUninstall::TFrmUninstall(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FrmUninstall"));
  setWindowTitle(QString::fromUtf8(Caption));
  // The installer's own windows must not hide the question.
  setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(ClientWidth, ClientHeight);

  LblOptions = new QLabel(QString::fromUtf8(OptionsLabel), this);
  LblOptions->setObjectName(QStringLiteral("LblOptions"));
  ChkAviHandler = new QCheckBox(QString::fromUtf8(AviHandlerText), this);
  ChkAviHandler->setObjectName(QStringLiteral("ChkAviHandler"));
  ChkAviHandler->setChecked(true);
  ChkSettings = new QCheckBox(QString::fromUtf8(SettingsText), this);
  ChkSettings->setObjectName(QStringLiteral("ChkSettings"));
  ChkSettings->setChecked(false);
  BtnOk = new QPushButton(QString::fromUtf8(OkText), this);
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
  layout->addWidget(LblOptions);
  layout->addLayout(options);
  layout->addStretch();
  layout->addLayout(buttons);
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
