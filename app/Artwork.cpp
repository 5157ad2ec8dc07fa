// The program's images, kept as SVG resources. The paths below are the one
// place that ties a mark or a command to its drawing.
#include "app/Artwork.h"

// Resources compiled into a static library are registered only when asked.
static void InitIconResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(icons);
    return true;
  }();
  (void)done;
}

namespace ZantrelApp {

namespace {

// Indexed by RowMark value, MarkOk first: the image-list order.
const char* const kMarkFiles[RowMarkImageCount] = {
    "mark-ok", "mark-errors", "mark-busy", "mark-rebuilt", "mark-aborted", "mark-skipped", "mark-notavi",
};

const char* const kToolFiles[ToolImageCount] = {
    "tool-clear", "tool-add", "tool-remove", "tool-check", "tool-rebuild", "tool-stop", "tool-config",
};

QString ResourcePath(const char* name) { return QString(":/icons/%1.svg").arg(QLatin1String(name)); }

QIcon Load(const QString& path) {
  if (path.isEmpty()) return {};
  InitIconResources();
  return QIcon(path);
}

}  // namespace

QString MarkImagePath(int mark) {
  if (mark < MarkOk || mark >= RowMarkImageCount) return {};
  return ResourcePath(kMarkFiles[mark]);
}

QString ToolImagePath(ToolImage image) {
  int i = static_cast<int>(image);
  if (i < 0 || i >= ToolImageCount) return {};
  return ResourcePath(kToolFiles[i]);
}

QString ApplicationIconPath() { return ResourcePath("zantrel"); }

QIcon MarkIcon(int mark) { return Load(MarkImagePath(mark)); }
QIcon ToolIcon(ToolImage image) { return Load(ToolImagePath(image)); }
QIcon ApplicationIcon() { return Load(ApplicationIconPath()); }

}  // namespace ZantrelApp
