// The process entry of the desktop program: the mode chosen by the first
// argument, the windows of a normal start, and the one fatal-error path.
#pragma once

#include <QStringList>

namespace ZantrelApp {

enum class StartMode { Install, Uninstall, Normal };

// "/uninst" and "/inst" in argument 1, in any letter case, select their
// modes; anything else is a normal start.
StartMode ModeOf(const QStringList& arguments);

// Runs the program with the application already made; returns the exit code
// (always 0).
int Run(const QStringList& arguments);

}  // namespace ZantrelApp
