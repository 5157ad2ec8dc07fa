// The About window. Its banner is a JPEG kept as a resource and decoded with
// libjpeg directly, so the window does not depend on which image plugins the
// Qt installation happens to ship.
#include "app/FormAbout.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "app/VersionInfo.h"
#include "lang/AppVersion.h"

// The version record lives in an object file of its own inside the GUI
// library; taking its accessor's address here makes every program that has an
// About window link the record in, so its file can answer FileVersionText.
[[gnu::used]] static auto* const KeepVersionRecord = &ZantrelApp::EmbeddedVersionRecord;

// Resources compiled into a static library are registered only when asked.
static void InitAboutResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(about);
    return true;
  }();
  (void)done;
}

namespace ZantrelDialogs {

const char* const TFrmAbout::MailAddress = "zantrel@zantrel.org";
const char* const TFrmAbout::WebSite = "https://zantrel.org/";

void DesktopLinkOpener::Open(const QUrl& url) { QDesktopServices::openUrl(url); }

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  QFont f = font();
  f.setUnderline(true);
  setFont(f);
  // The palette's own link colour, which a dark palette makes light.
  setForegroundRole(QPalette::Link);
  setCursor(Qt::PointingHandCursor);
}

void LinkLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

// A click is a press and a release on the label, like a button: dragging off
// before releasing cancels it.
void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (click && OnClick) OnClick();
}

namespace {

struct JpegError {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
};

// libjpeg's own handler exits the process; jump back to the decoder instead.
[[noreturn]] void JpegFail(j_common_ptr info) {
  auto* error = reinterpret_cast<JpegError*>(info->err);
  std::longjmp(error->Jump, 1);
}

void JpegQuiet(j_common_ptr, int) {}

// Kept free of objects with destructors between setjmp and the last libjpeg
// call, so that the long jump skips nothing that needs cleaning up; the image
// is owned by the caller.
bool DecodeInto(const unsigned char* data, unsigned long size, QImage& image) {
  jpeg_decompress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.Manager);
  error.Manager.error_exit = JpegFail;
  error.Manager.emit_message = JpegQuiet;
  if (setjmp(error.Jump) != 0) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, size);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;  // grey pictures are widened; others fail in start
  jpeg_start_decompress(&info);
  if (info.output_components != 3) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height), QImage::Format_RGB888);
  if (image.isNull()) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& bytes) {
  if (bytes.isEmpty()) return {};
  QImage image;
  if (!DecodeInto(reinterpret_cast<const unsigned char*>(bytes.constData()), static_cast<unsigned long>(bytes.size()),
                  image))
    return {};
  return image;
}

QImage BannerImage() {
  InitAboutResources();
  QFile file(":/about/banner.jpg");
  if (!file.open(QIODevice::ReadOnly)) return {};
  return DecodeJpeg(file.readAll());
}

TFrmAbout::TFrmAbout(QWidget* parent)
    : QDialog(parent), ownOpener_(std::make_unique<DesktopLinkOpener>()), opener_(ownOpener_.get()) {
  Build(QCoreApplication::applicationName(), QCoreApplication::applicationFilePath());
}

TFrmAbout::TFrmAbout(const QString& title, const QString& programPath, LinkOpener& opener, QWidget* parent)
    : QDialog(parent), opener_(&opener) {
  Build(title, programPath);
}

void TFrmAbout::Build(const QString& title, const QString& programPath) {
  setFixedSize(ClientWidth, ClientHeight);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(8, 8, 8, 8);
  root->setSpacing(8);

  // The banner panel is lower than the picture: the picture is centred and
  // its top and bottom are cut off by the panel.
  auto* banner = new QFrame(this);
  banner->setObjectName("PnlBanner");
  banner->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  banner->setFixedHeight(BannerPanelHeight);
  auto* bannerLayout = new QVBoxLayout(banner);
  bannerLayout->setContentsMargins(0, 0, 0, 0);
  auto* picture = new QLabel(banner);
  picture->setObjectName("ImgBanner");
  picture->setAlignment(Qt::AlignCenter);
  QImage image = BannerImage();
  int visible = BannerPanelHeight - 2 * banner->frameWidth();
  if (!image.isNull() && image.height() > visible)
    image = image.copy(0, (image.height() - visible) / 2, image.width(), visible);
  picture->setPixmap(QPixmap::fromImage(image));
  bannerLayout->addWidget(picture);
  root->addWidget(banner);

  auto* body = new QFrame(this);
  body->setObjectName("PnlBody");
  body->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* bodyLayout = new QVBoxLayout(body);
  bodyLayout->setContentsMargins(12, 10, 12, 10);
  bodyLayout->setSpacing(6);

  LblVersion = new QLabel(title + " " + QString::fromStdString(VEK::FileVersionText(programPath.toStdString())), body);
  LblVersion->setObjectName("LblVersion");
  QFont bold = LblVersion->font();
  bold.setBold(true);
  LblVersion->setFont(bold);
  bodyLayout->addWidget(LblVersion);

  Memo1 = new QPlainTextEdit(body);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setFrameStyle(QFrame::NoFrame);
  QPalette memoPalette = Memo1->palette();
  memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::Window));
  Memo1->setPalette(memoPalette);
  bodyLayout->addWidget(Memo1, 1);

  auto* mailRow = new QHBoxLayout;
  Label1 = new QLabel(body);
  Label1->setObjectName("Label1");
  Label2 = new LinkLabel(MailAddress, body);
  Label2->setObjectName("Label2");
  Label2->OnClick = [this] { Label2Click(); };
  mailRow->addWidget(Label1);
  mailRow->addWidget(Label2);
  mailRow->addStretch(1);
  bodyLayout->addLayout(mailRow);

  auto* webRow = new QHBoxLayout;
  Label3 = new QLabel(body);
  Label3->setObjectName("Label3");
  Label4 = new LinkLabel(WebSite, body);
  Label4->setObjectName("Label4");
  Label4->OnClick = [this] { Label4Click(); };
  webRow->addWidget(Label3);
  webRow->addWidget(Label4);
  webRow->addStretch(1);
  bodyLayout->addLayout(webRow);
  root->addWidget(body, 1);

  auto* buttonRow = new QHBoxLayout;
  BtnClose = new QPushButton(this);
  BtnClose->setObjectName("BtnClose");
  BtnClose->setDefault(true);
  connect(BtnClose, &QPushButton::clicked, this, &QDialog::accept);
  buttonRow->addStretch(1);
  buttonRow->addWidget(BtnClose);
  buttonRow->addStretch(1);
  root->addLayout(buttonRow);
  RetranslateUi();
}

void TFrmAbout::RetranslateUi() {
  setWindowTitle(tr("About"));
  Memo1->setPlainText(
      tr("Zantrel was made from the OpenDML AVI File Format Extensions and the AVI file format documents. "
         "It checks damaged or partially downloaded AVI files for errors and rebuilds their index, so that "
         "they can be watched again.\n\n"
         "Please report any error you meet, together with its description, the text of the Messages Center "
         "and the steps that reproduce it. If Zantrel cannot fix one of your files, please say where that "
         "file can be downloaded.\n\n"
         "You use this program at your own risk."));
  Label1->setText(tr("Send me your comments and bug reports at"));
  Label3->setText(tr("web site :"));
  BtnClose->setText(tr("Close"));
}

void TFrmAbout::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::LanguageChange) RetranslateUi();
}

// The window is centred on its screen, not on the main window.
void TFrmAbout::showEvent(QShowEvent* event) {
  if (!placed_) {
    QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (s != nullptr) {
      move(s->availableGeometry().center() - rect().center());
    }
    placed_ = true;
  }
  QDialog::showEvent(event);
}

void TFrmAbout::Label2Click() { opener_->Open(QUrl(QString("mailto:") + Label2->text())); }

void TFrmAbout::Label4Click() { opener_->Open(QUrl(Label4->text())); }

}  // namespace ZantrelDialogs
