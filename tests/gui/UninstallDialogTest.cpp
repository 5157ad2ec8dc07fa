// Uninstall dialog: ShowModal fills the handler box, every way of closing
// acts like Ok, and both boxes read back what the user left in them.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/FormUninstall.h"

namespace {

QCheckBox* Check(QWidget& dialog, const char* name) {
  QCheckBox* box = dialog.findChild<QCheckBox*>(QString::fromLatin1(name));
  EXPECT_NE(box, nullptr) << name;
  return box;
}

// Runs ShowModal and does act once the dialog is shown; a dialog left open
// is ended after five seconds so that a fault fails instead of hanging.
void ShowModalWhile(TFrmUninstall& dialog, bool aviHandlerChecked, const std::function<void()>& act) {
  QObject guard;
  QTimer::singleShot(0, &guard, [&] {
    EXPECT_TRUE(dialog.isVisible());
    act();
  });
  QTimer::singleShot(5000, &guard, [&] {
    ADD_FAILURE() << "the dialog stayed open";
    dialog.done(QDialog::Rejected);
  });
  dialog.ShowModal(aviHandlerChecked);
}

TEST(UninstallDialog, ShowModalSetsTheHandlerBoxAndLeavesTheSettingsBox) {
  TFrmUninstall dialog;
  for (bool checked : {false, true, false}) {
    bool shownHandler = !checked, shownSettings = true;
    ShowModalWhile(dialog, checked, [&] {
      shownHandler = Check(dialog, "ChkAviHandler")->isChecked();
      shownSettings = Check(dialog, "ChkSettings")->isChecked();
      QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("BtnOk")), Qt::LeftButton);
    });
    EXPECT_EQ(shownHandler, checked);
    EXPECT_FALSE(shownSettings);
    EXPECT_EQ(dialog.AviHandlerChecked(), checked);
    EXPECT_FALSE(dialog.SettingsChecked());
  }
}

TEST(UninstallDialog, EveryWayOfClosingActsLikeOkAndKeepsTheUsersChoice) {
  const std::pair<const char*, std::function<void(TFrmUninstall&)>> ways[] = {
      {"Ok button",
       [](TFrmUninstall& d) {
         QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("BtnOk")), Qt::LeftButton);
       }},
      {"close box", [](TFrmUninstall& d) { d.close(); }},
      {"Escape", [](TFrmUninstall& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
  };
  for (const auto& [way, close] : ways) {
    TFrmUninstall dialog;
    ShowModalWhile(dialog, true, [&] {
      QTest::mouseClick(Check(dialog, "ChkAviHandler"), Qt::LeftButton);
      QTest::mouseClick(Check(dialog, "ChkSettings"), Qt::LeftButton);
      close(dialog);
    });
    EXPECT_FALSE(dialog.isVisible()) << way;
    EXPECT_EQ(dialog.result(), QDialog::Accepted) << way;
    EXPECT_FALSE(dialog.AviHandlerChecked()) << way;
    EXPECT_TRUE(dialog.SettingsChecked()) << way;
  }
}

TEST(UninstallDialog, DesignedStatesAndPlacement) {
  TFrmUninstall dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Uninstall"));
  EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(dialog.minimumSize(), QSize(234, 127));
  EXPECT_EQ(dialog.maximumSize(), QSize(234, 127));
  EXPECT_EQ(dialog.findChild<QLabel*>()->text(), QStringLiteral("Options :"));
  EXPECT_EQ(Check(dialog, "ChkAviHandler")->text(), QStringLiteral("Enable Explorer's Avi Handler"));
  EXPECT_EQ(Check(dialog, "ChkSettings")->text(), QStringLiteral("Uninstall application settings"));
  EXPECT_TRUE(dialog.AviHandlerChecked());
  EXPECT_FALSE(dialog.SettingsChecked());
  const auto buttons = dialog.findChildren<QPushButton*>();
  ASSERT_EQ(buttons.size(), 1) << "there is no Cancel";
  EXPECT_EQ(buttons[0]->objectName(), QStringLiteral("BtnOk"));
  EXPECT_EQ(buttons[0]->text(), QStringLiteral("&Ok"));

  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  const QPoint screenCentre = dialog.screen()->availableGeometry().center();
  EXPECT_LE((dialog.frameGeometry().center() - screenCentre).manhattanLength(), 2);
  const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
  ASSERT_TRUE(QDir().mkpath(folder));
  EXPECT_TRUE(dialog.grab().save(folder + QStringLiteral("/uninstall.png")));
  dialog.hide();
}

}  // namespace
