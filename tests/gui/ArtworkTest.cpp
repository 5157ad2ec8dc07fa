// The program's images: every row mark and toolbar image exists, is drawn on
// the 16 x 16 grid, renders at 16 and 32 px and at double density, and no two
// share a drawing. A contact sheet is left in the build folder for people.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QPainter>
#include <QSet>
#include <QSvgRenderer>

#include <vector>

#include "app/Artwork.h"

namespace {

using ZantrelApp::ToolImage;

struct Drawing {
  QString name;
  QString path;
  QIcon icon;
};

std::vector<Drawing> AllDrawings() {
  std::vector<Drawing> all;
  for (int mark = MarkOk; mark <= MarkSkipped; ++mark)
    all.push_back({QString("mark %1").arg(mark), ZantrelApp::MarkImagePath(mark), ZantrelApp::MarkIcon(mark)});
  for (int i = 0; i < ZantrelApp::ToolImageCount; ++i) {
    auto image = static_cast<ToolImage>(i);
    all.push_back({QString("tool %1").arg(i), ZantrelApp::ToolImagePath(image), ZantrelApp::ToolIcon(image)});
  }
  all.push_back({"application", ZantrelApp::ApplicationIconPath(), ZantrelApp::ApplicationIcon()});
  return all;
}

// Opaque pixels and more than one colour: an icon that failed to load
// renders as nothing at all.
void ExpectDrawn(const QImage& image, const QString& what) {
  int opaque = 0;
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      QRgb p = image.pixel(x, y);
      if (qAlpha(p) > 128) ++opaque, colours.insert(p);
    }
  EXPECT_GT(opaque, image.width() * image.height() / 8) << what.toStdString();
  EXPECT_GE(colours.size(), 2) << what.toStdString();
}

// A contact sheet (16 px, 32 px, 16 px disabled) for people to look at.
QString SaveContactSheet(const std::vector<Drawing>& all) {
  QImage sheet(static_cast<int>(all.size()) * 40 + 8, 96, QImage::Format_ARGB32);
  sheet.fill(Qt::white);
  QPainter painter(&sheet);
  for (std::size_t i = 0; i < all.size(); ++i) {
    int x = 8 + static_cast<int>(i) * 40;
    painter.drawPixmap(x, 8, all[i].icon.pixmap(16, 16));
    painter.drawPixmap(x, 32, all[i].icon.pixmap(32, 32));
    painter.drawPixmap(x, 72, all[i].icon.pixmap(QSize(16, 16), QIcon::Disabled));
  }
  painter.end();
  QString path = QDir(QCoreApplication::applicationDirPath()).filePath("artwork.png");
  return sheet.save(path) ? path : QString();
}

TEST(Artwork, EveryImageIsASixteenPixelGridDrawing) {
  for (const auto& d : AllDrawings()) {
    ASSERT_FALSE(d.path.isEmpty()) << d.name.toStdString();
    QSvgRenderer svg(d.path);
    EXPECT_TRUE(svg.isValid()) << d.path.toStdString();
    EXPECT_EQ(svg.viewBoxF(), QRectF(0, 0, 16, 16)) << d.path.toStdString();
  }
}

TEST(Artwork, EveryIconRendersAtSixteenAndThirtyTwoPixelsAndDoubleDensity) {
  const auto all = AllDrawings();
  for (const auto& d : all) {
    ASSERT_FALSE(d.icon.isNull()) << d.name.toStdString();
    for (int size : {16, 32}) {
      QPixmap pm = d.icon.pixmap(QSize(size, size), 1.0);
      ASSERT_EQ(pm.size(), QSize(size, size)) << d.name.toStdString() << " at " << size;
      ExpectDrawn(pm.toImage(), QString("%1 at %2").arg(d.name).arg(size));
    }
    // On a double-density screen the 16-px image is drawn with 32 real
    // pixels, not a 16-px picture stretched.
    QPixmap dense = d.icon.pixmap(QSize(16, 16), 2.0);
    EXPECT_EQ(dense.size(), QSize(32, 32)) << d.name.toStdString();
    EXPECT_EQ(dense.devicePixelRatio(), 2.0) << d.name.toStdString();
  }
  EXPECT_FALSE(SaveContactSheet(all).isEmpty());
}

TEST(Artwork, NoTwoImagesShareADrawing) {
  auto all = AllDrawings();
  for (std::size_t i = 0; i < all.size(); ++i)
    for (std::size_t j = i + 1; j < all.size(); ++j) {
      EXPECT_NE(all[i].path, all[j].path) << all[i].name.toStdString() << " / " << all[j].name.toStdString();
      EXPECT_NE(all[i].icon.pixmap(16, 16).toImage(), all[j].icon.pixmap(16, 16).toImage())
          << all[i].name.toStdString() << " / " << all[j].name.toStdString();
    }
}

TEST(Artwork, MarksWithoutAnImageGiveANullIcon) {
  for (int mark : {int(MarkNone), -2, RowMarkImageCount, 100}) {
    EXPECT_TRUE(ZantrelApp::MarkIcon(mark).isNull()) << mark;
    EXPECT_TRUE(ZantrelApp::MarkImagePath(mark).isEmpty()) << mark;
  }
}

}  // namespace
