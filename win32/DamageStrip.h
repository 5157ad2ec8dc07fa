// A thin strip across the window that pictures one file's damage: the
// file's length, the stretches the walk could not read, and the part past its
// last usable chunk. Its text (tool tip, and the name a screen reader reads)
// says the same in words.
#pragma once

#include <windows.h>

#include "engine/IndexRebuilder.h"

namespace ZantrelWin32 {

HWND CreateDamageStrip(HWND parent, int id, HINSTANCE instance);
// Shown only for a file with damage to show; its text in the current language.
void SetStripDamage(HWND strip, const VEKRiff::FileDamage& damage);

}  // namespace ZantrelWin32
