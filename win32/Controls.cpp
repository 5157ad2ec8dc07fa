#include "win32/Controls.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "lang/Language.h"
#include "util/Win32.h"
#include "win32/Texts.h"

namespace ZantrelWin32 {

HFONT MessageFont(UINT dpi, bool bold) {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
  if (bold) metrics.lfMessageFont.lfWeight = FW_BOLD;
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

SIZE TextSize(HWND window, HFONT font, const std::string& text, UINT format, int width) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  std::wstring wide = W(text);
  RECT r = {0, 0, width, 0};
  DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &r, format | DT_CALCRECT);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return {r.right - r.left, r.bottom - r.top};
}

TEXTMETRICW FontMetrics(HWND window, HFONT font) {
  TEXTMETRICW tm = {};
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return tm;
}

std::int8_t SystemLanguage() {
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_FRENCH ? VEK::French : VEK::English;
}

std::string NumberText(double value, int decimals) {
  const bool french = VEK::LanguageIndex() == VEK::French;
  const wchar_t* locale = SystemLanguage() == VEK::LanguageIndex() ? LOCALE_NAME_USER_DEFAULT
                          : french                                 ? L"fr-FR"
                                                                   : L"en-US";
  wchar_t plain[64];
  std::swprintf(plain, 64, L"%.*f", decimals, value);
  // The locale's own separators and grouping, with this many decimals.
  wchar_t decimal[8] = L".", thousand[8] = L",", grouping[16] = L"3;0";
  GetLocaleInfoEx(locale, LOCALE_SDECIMAL, decimal, 8);
  GetLocaleInfoEx(locale, LOCALE_STHOUSAND, thousand, 8);
  GetLocaleInfoEx(locale, LOCALE_SGROUPING, grouping, 16);
  NUMBERFMTW format = {};
  format.NumDigits = static_cast<UINT>(decimals);
  format.LeadingZero = 1;
  format.Grouping = grouping[0] >= L'0' && grouping[0] <= L'9' ? grouping[0] - L'0' : 3;
  format.lpDecimalSep = decimal;
  format.lpThousandSep = thousand;
  format.NegativeOrder = 1;
  wchar_t out[96];
  if (GetNumberFormatEx(locale, 0, plain, &format, out, 96) <= 0) return VEK::Win32::Narrow(plain);
  return VEK::Win32::Narrow(out);
}

HICON GreyedIcon(HICON icon) {
  ICONINFO info = {};
  if (!GetIconInfo(icon, &info)) return nullptr;
  HICON made = nullptr;
  BITMAP bitmap = {};
  if (info.hbmColor && GetObjectW(info.hbmColor, sizeof bitmap, &bitmap) && bitmap.bmWidth > 0 &&
      bitmap.bmHeight > 0) {
    const int width = bitmap.bmWidth, height = bitmap.bmHeight;
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;  // top row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    HDC screen = GetDC(nullptr);
    const bool read = GetDIBits(screen, info.hbmColor, 0, height, pixels.data(), &format, DIB_RGB_COLORS) == height;
    bool alpha = false;
    for (std::uint32_t p : pixels) alpha = alpha || (p >> 24) != 0;
    // A picture without its own opacity is left to the system's greying.
    if (read && alpha) {
      for (std::uint32_t& p : pixels) {
        const std::uint32_t b = p & 0xff, g = (p >> 8) & 0xff, r = (p >> 16) & 0xff;
        // The picture's lightness, lifted toward the bar's face, at less
        // than half its opacity.
        const std::uint32_t grey = 96 + (r * 30 + g * 59 + b * 11) / 100 * 160 / 255;
        const std::uint32_t a = (p >> 24) * 2 / 5;
        p = (a << 24) | (grey << 16) | (grey << 8) | grey;
      }
      void* bits = nullptr;
      HBITMAP color = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
      if (color && bits) {
        std::copy(pixels.begin(), pixels.end(), static_cast<std::uint32_t*>(bits));
        ICONINFO greyed = info;
        greyed.hbmColor = color;
        made = CreateIconIndirect(&greyed);
      }
      if (color) DeleteObject(color);
    }
    ReleaseDC(nullptr, screen);
  }
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return made;
}

void CenterOnWorkArea(HWND window) {
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& area = monitor.rcWork;
  RECT r;
  GetWindowRect(window, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CenterOverWindow(HWND window, HWND owner) {
  if (!owner || IsIconic(owner) || !IsWindowVisible(owner)) {
    CenterOnWorkArea(window);
    return;
  }
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& area = monitor.rcWork;
  RECT over, r;
  GetWindowRect(owner, &over);
  GetWindowRect(window, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  const int left = std::clamp<int>(over.left + (over.right - over.left - width) / 2, area.left,
                                   std::max<int>(area.left, area.right - width));
  const int top = std::clamp<int>(over.top + (over.bottom - over.top - height) / 2, area.top,
                                  std::max<int>(area.top, area.bottom - height));
  SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetClientSize(HWND window, int width, int height) {
  RECT r = {0, 0, width, height};
  AdjustWindowRectExForDpi(&r, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)), GetDpiForWindow(window));
  SetWindowPos(window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

EmptyDialog::EmptyDialog(DWORD style, DWORD exStyle) : block_{} {
  block_.Header.style = style;
  block_.Header.dwExtendedStyle = exStyle;
}

}  // namespace ZantrelWin32
