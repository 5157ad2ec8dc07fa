// The About window: the program's name and version, a short description and
// the mail and web links. The links go through a LinkOpener so that tests see
// the address without a mail program or browser being started.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QPushButton;
class QPlainTextEdit;

namespace ZantrelDialogs {

class LinkOpener {
 public:
  virtual ~LinkOpener() = default;
  virtual void Open(const QUrl& url) = 0;
};

// Hands the address to the desktop (QDesktopServices::openUrl). The result is
// not looked at: when nothing can open the address, nothing is shown.
class DesktopLinkOpener : public LinkOpener {
 public:
  void Open(const QUrl& url) override;
};

// A label drawn as a link (blue, underlined, hand pointer) that reports a
// left click released over it.
class LinkLabel : public QLabel {
 public:
  explicit LinkLabel(const QString& text, QWidget* parent = nullptr);
  std::function<void()> OnClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
};

// JPEG bytes decoded with libjpeg; a null image when they are not a JPEG
// picture libjpeg can read. Never ends the process on bad data.
QImage DecodeJpeg(const QByteArray& bytes);

// The banner picture kept with the window, decoded.
QImage BannerImage();

class TFrmAbout : public QDialog {
  Q_OBJECT

 public:
  // The application's title and file, and the desktop's link handling.
  explicit TFrmAbout(QWidget* parent = nullptr);
  // title + " " + the version text of the file at programPath; links go to
  // opener, which must outlive the window.
  TFrmAbout(const QString& title, const QString& programPath, LinkOpener& opener, QWidget* parent = nullptr);

  static constexpr int ClientWidth = 558;
  static constexpr int ClientHeight = 381;
  static constexpr int BannerPanelHeight = 61;

  static const char* const MailAddress;
  static const char* const WebSite;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;  // a new language: RetranslateUi

 private:
  void Build(const QString& title, const QString& programPath);
  // Every text of the window but the name, version and addresses, in the
  // current language.
  void RetranslateUi();
  void Label2Click();
  void Label4Click();

  std::unique_ptr<LinkOpener> ownOpener_;
  LinkOpener* opener_;
  bool placed_ = false;

  QLabel* LblVersion = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QLabel* Label1 = nullptr;
  LinkLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  LinkLabel* Label4 = nullptr;
  QPushButton* BtnClose = nullptr;
};

}  // namespace ZantrelDialogs
