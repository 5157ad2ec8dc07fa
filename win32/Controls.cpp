#include "win32/Controls.h"

#include <cstdio>
#include <cwchar>

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
