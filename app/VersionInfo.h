// The desktop program's own version record, placed in the ELF section
// ".zantrel.version" of whichever executable links the About window.
#pragma once

#include <span>

namespace ZantrelApp {

// The record as compiled in. The program reads its version from its file
// (VEK::FileVersionText), never from here; this is for checking that the
// file holds what was built.
std::span<const unsigned char> EmbeddedVersionRecord();

}  // namespace ZantrelApp
