// The program's images: the row marks, the toolbar images and the program's
// icon. They are SVG drawings on a 16 x 16 grid, so they stay sharp at 16 px
// and on high-density screens.
#pragma once

#include <QIcon>
#include <QString>

#include "batch/RowMark.h"

namespace ZantrelApp {

// The toolbar's commands that have an image, in toolbar order.
enum class ToolImage { ClearFiles, AddFiles, RemoveFiles, CheckErrors, RebuildIndex, Stop, Configuration };
inline constexpr int ToolImageCount = 7;

// The resource path of a mark's drawing; empty for MarkNone and values
// outside the enumeration.
QString MarkImagePath(int mark);
QString ToolImagePath(ToolImage image);
QString ApplicationIconPath();

// A null icon for MarkNone (such a row shows no image).
QIcon MarkIcon(int mark);
QIcon ToolIcon(ToolImage image);
QIcon ApplicationIcon();

}  // namespace ZantrelApp
