// The About window: the version line read from the program file, the two
// links handed to an opener that records them, Close, and the banner decoded
// through libjpeg. A screenshot is left in the build folder for people.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTemporaryDir>

#include <vector>

#include "app/FormAbout.h"
#include "app/VersionInfo.h"
#include "lang/AppVersion.h"

namespace {

using ZantrelDialogs::TFrmAbout;

class RecordingOpener : public ZantrelDialogs::LinkOpener {
 public:
  void Open(const QUrl& url) override { Urls.push_back(url); }
  std::vector<QUrl> Urls;
};

template <class T>
T* Control(QWidget& window, const char* name) {
  T* control = window.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(control, nullptr) << name;
  return control;
}

QString VersionLine(QWidget& window) { return Control<QLabel>(window, "LblVersion")->text(); }

TEST(AboutWindow, TheRunningProgramCarriesTheBuiltRecordAndItsVersion) {
  const std::string self = QCoreApplication::applicationFilePath().toStdString();
  auto embedded = ZantrelApp::EmbeddedVersionRecord();
  EXPECT_EQ(VEK::ReadVersionSection(self), std::vector<unsigned char>(embedded.begin(), embedded.end()));
  EXPECT_EQ(VEK::FileVersionText(self), "0.2.3.6");
}

TEST(AboutWindow, VersionLineIsTheTitleOneSpaceAndTheFileVersion) {
  QTemporaryDir dir;
  QFile plain(dir.filePath("plain"));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.write("not a program\n");
  plain.close();

  const struct {
    QString title;
    QString path;
    QString expected;
  } cases[] = {
      {"Zantrel", QCoreApplication::applicationFilePath(), "Zantrel 0.2.3.6"},
      {"Zantrel", plain.fileName(), "Zantrel "},
      {"Zantrel", dir.filePath("missing"), "Zantrel "},
      {"", dir.filePath("missing"), " "},
      {"Other Title", QCoreApplication::applicationFilePath(), "Other Title 0.2.3.6"},
  };
  RecordingOpener opener;
  for (const auto& c : cases) {
    TFrmAbout about(c.title, c.path, opener);
    EXPECT_EQ(VersionLine(about), c.expected) << c.path.toStdString();
  }
}

TEST(AboutWindow, DefaultWindowUsesTheApplicationNameAndFile) {
  const QString before = QCoreApplication::applicationName();
  QCoreApplication::setApplicationName("Zantrel");
  {
    TFrmAbout about;
    EXPECT_EQ(VersionLine(about), "Zantrel 0.2.3.6");
  }
  QCoreApplication::setApplicationName(before);
}

TEST(AboutWindow, LinksHandTheirAddressesToTheOpenerAndLeaveTheWindowOpen) {
  RecordingOpener opener;
  TFrmAbout about("Zantrel", QCoreApplication::applicationFilePath(), opener);
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  auto* mail = Control<QLabel>(about, "Label2");
  auto* web = Control<QLabel>(about, "Label4");

  // In the palette's link colour, a dark palette's too.
  for (const QColor linkColour : {QColor(Qt::blue), QColor(0x8a, 0xb4, 0xf8)}) {
    QPalette palette = about.palette();
    palette.setColor(QPalette::Link, linkColour);
    about.setPalette(palette);
    for (QLabel* link : {mail, web}) {
      EXPECT_TRUE(link->font().underline());
      EXPECT_EQ(link->palette().color(link->foregroundRole()), linkColour);
      EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    }
  }

  QTest::mouseClick(mail, Qt::LeftButton);
  QTest::mouseClick(web, Qt::LeftButton);
  ASSERT_EQ(opener.Urls.size(), 2u);
  EXPECT_EQ(opener.Urls[0], QUrl("mailto:" + mail->text()));
  EXPECT_EQ(opener.Urls[0].scheme(), "mailto");
  EXPECT_EQ(opener.Urls[0].path(), TFrmAbout::MailAddress);
  EXPECT_EQ(opener.Urls[1], QUrl(web->text()));
  EXPECT_EQ(opener.Urls[1].toString(), TFrmAbout::WebSite);
  EXPECT_TRUE(about.isVisible());

  // Neither a right click nor a press dragged off the label before release
  // is a click.
  QTest::mouseClick(mail, Qt::RightButton);
  QTest::mousePress(web, Qt::LeftButton);
  QTest::mouseRelease(web, Qt::LeftButton, {}, QPoint(-20, -20));
  EXPECT_EQ(opener.Urls.size(), 2u);
  EXPECT_TRUE(about.isVisible());
}

TEST(AboutWindow, CloseEndsTheWindowWithOk) {
  RecordingOpener opener;
  TFrmAbout about("Zantrel", QCoreApplication::applicationFilePath(), opener);
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  auto* close = Control<QPushButton>(about, "BtnClose");
  EXPECT_EQ(close->text(), "Close");
  QTest::mouseClick(close, Qt::LeftButton);
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(about.result(), QDialog::Accepted);
  EXPECT_TRUE(opener.Urls.empty());
}

TEST(AboutWindow, FixedFrameWithTheBannerCutToItsPanel) {
  RecordingOpener opener;
  TFrmAbout about("Zantrel", QCoreApplication::applicationFilePath(), opener);
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  EXPECT_EQ(about.windowTitle(), "About");
  EXPECT_EQ(about.size(), QSize(558, 381));
  EXPECT_EQ(about.minimumSize(), about.maximumSize());

  auto* panel = Control<QFrame>(about, "PnlBanner");
  auto* picture = Control<QLabel>(about, "ImgBanner");
  EXPECT_EQ(panel->height(), 61);
  QPixmap shown = picture->pixmap();
  EXPECT_EQ(shown.width(), 261);
  EXPECT_LE(shown.height(), 61);
  EXPECT_GT(shown.height(), 50);

  auto* memo = Control<QPlainTextEdit>(about, "Memo1");
  EXPECT_TRUE(memo->isReadOnly());
  EXPECT_EQ(memo->frameShape(), QFrame::NoFrame);
  EXPECT_TRUE(memo->toPlainText().contains("OpenDML"));
  EXPECT_FALSE(memo->toPlainText().contains("not yet compliant")) << "OpenDML files are walked and indexed";
  EXPECT_TRUE(memo->toPlainText().contains("own risk"));

  // Everything lies inside the fixed frame: a layout that wanted more room
  // would push the button off the bottom.
  auto* close = Control<QPushButton>(about, "BtnClose");
  QRect closeArea(close->mapTo(&about, QPoint(0, 0)), close->size());
  EXPECT_TRUE(about.rect().contains(closeArea));
  EXPECT_NEAR(closeArea.center().x(), about.width() / 2, 2);

  QString shot = QDir(QCoreApplication::applicationDirPath()).filePath("about-window.png");
  EXPECT_TRUE(about.grab().save(shot)) << shot.toStdString();
}

TEST(AboutWindowBanner, DecodesThroughLibjpegToItsFullSize) {
  QImage banner = ZantrelDialogs::BannerImage();
  ASSERT_FALSE(banner.isNull());
  EXPECT_EQ(banner.size(), QSize(261, 106));
  // The name is drawn in the middle band, so that band is not one colour.
  EXPECT_NE(banner.pixelColor(20, 53), banner.pixelColor(130, 53));
}

TEST(AboutWindowBanner, BadJpegBytesGiveANullImageAndTheProgramGoesOn) {
  QFile file(":/about/banner.jpg");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray good = file.readAll();
  QByteArray noMarker = good;
  noMarker[0] = 'X';

  const struct {
    const char* name;
    QByteArray bytes;
  } cases[] = {
      {"empty", QByteArray()},
      {"text", QByteArray("this is not a picture")},
      {"first marker damaged", noMarker},
      {"cut inside the header", good.left(20)},
  };
  for (const auto& c : cases) EXPECT_TRUE(ZantrelDialogs::DecodeJpeg(c.bytes).isNull()) << c.name;
  EXPECT_EQ(ZantrelDialogs::DecodeJpeg(good).size(), QSize(261, 106));
}

}  // namespace
