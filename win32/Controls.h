// What the window program's windows share: the system's message font and
// text measures at a window's dots per inch, the system's language, and the
// frame of a dialog whose controls are made in code.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace ZantrelWin32 {

// The system's message font (SPI_GETNONCLIENTMETRICS) for dpi, bold or not;
// the caller deletes it.
HFONT MessageFont(UINT dpi, bool bold = false);

// The size text takes in font, on one line unless format says otherwise; an
// "&" marks a mnemonic, as in a control's caption, unless format has
// DT_NOPREFIX. With DT_WORDBREAK, width is where lines break.
SIZE TextSize(HWND window, HFONT font, const std::string& text, UINT format = DT_SINGLELINE, int width = 0);
TEXTMETRICW FontMetrics(HWND window, HFONT font);

// VEK::French when the user's interface language is French, else VEK::English.
std::int8_t SystemLanguage();

// A number as the chosen language writes it (the user's own conventions when
// they speak it, else those of France or the United States), with decimals
// digits after the separator.
std::string NumberText(double value, int decimals);

// A grey, faint copy of icon, for a command that cannot be taken; null when
// the icon's pictures cannot be read. The caller destroys it.
HICON GreyedIcon(HICON icon);

// Moves window to the middle of the work area of the monitor it is on.
void CenterOnWorkArea(HWND window);

// Moves window to the middle of owner, inside the work area of owner's
// monitor; to the middle of that work area when owner is minimised, hidden
// or null.
void CenterOverWindow(HWND window, HWND owner);

// Sets window's client area to width by height pixels, its frame around it.
void SetClientSize(HWND window, int width, int height);

// A dialog with no controls, for DialogBoxIndirectParamW and
// CreateDialogIndirectParamW: its controls are made in code, in the message
// font and at the dots per inch of the monitor it opens on.
class EmptyDialog {
 public:
  explicit EmptyDialog(DWORD style, DWORD exStyle = 0);
  const DLGTEMPLATE* Template() const { return &block_.Header; }

 private:
  struct Block {
    DLGTEMPLATE Header;
    WORD Menu, Class, Title;  // none of each
  };
  alignas(DWORD) Block block_;
};

}  // namespace ZantrelWin32
