#include "win32/DamageStrip.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>

#include "batch/RunDisplay.h"
#include "win32/Controls.h"
#include "win32/Texts.h"

namespace ZantrelWin32 {
namespace {

const wchar_t* const kStripClass = L"ZantrelDamageStrip";

struct Strip {
  VEKRiff::FileDamage Damage;
  HWND Tip = nullptr;
  std::wstring Text;
};

Strip* StripOf(HWND window) { return reinterpret_cast<Strip*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

void Paint(HWND window, const Strip& strip) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT all;
  GetClientRect(window, &all);
  FillRect(dc, &all, GetSysColorBrush(COLOR_BTNSHADOW));
  // Unusable bytes hatched; lost film in the colour of the errors mark;
  // the film a file cut short misses, in that colour hatched.
  HBRUSH damaged = CreateSolidBrush(RGB(0xd3, 0x2f, 0x2f));
  HBRUSH hatch = CreateHatchBrush(HS_BDIAGONAL, GetSysColor(COLOR_WINDOW));
  SetBkMode(dc, TRANSPARENT);
  for (const VEKRiff::StripSpan& s : VEKRiff::StripSpans(strip.Damage, all.right)) {
    RECT r = {s.From, 0, s.To, all.bottom};
    FillRect(dc, &r, s.Part == VEKRiff::StripPart::Unusable ? GetSysColorBrush(COLOR_3DDKSHADOW) : damaged);
    if (s.Part != VEKRiff::StripPart::Lost) FillRect(dc, &r, hatch);
  }
  DeleteObject(hatch);
  DeleteObject(damaged);
  EndPaint(window, &ps);
}

LRESULT CALLBACK StripProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE:
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new Strip));
      break;
    case WM_NCDESTROY:
      delete StripOf(window);
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    case WM_PAINT:
      if (Strip* strip = StripOf(window)) {
        Paint(window, *strip);
        return 0;
      }
      break;
    case WM_SIZE:
      InvalidateRect(window, nullptr, TRUE);
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreateDamageStrip(HWND parent, int id, HINSTANCE instance) {
  static const ATOM registered = [instance] {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = StripProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.lpszClassName = kStripClass;
    return RegisterClassExW(&wc);
  }();
  (void)registered;
  HWND strip = CreateWindowExW(0, kStripClass, L"", WS_CHILD, 0, 0, 0, 0, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
  Strip* data = StripOf(strip);
  data->Tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, strip, nullptr, instance, nullptr);
  TTTOOLINFOW tool = {};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = strip;
  tool.uId = reinterpret_cast<UINT_PTR>(strip);
  tool.lpszText = const_cast<wchar_t*>(L"");
  SendMessageW(data->Tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  return strip;
}

void SetStripDamage(HWND strip, const VEKRiff::FileDamage& damage) {
  Strip* data = StripOf(strip);
  if (!data) return;
  data->Damage = damage;
  data->Text = W(VEKRiff::DamageText(damage));
  SetWindowTextW(strip, data->Text.c_str());
  TTTOOLINFOW tool = {};
  tool.cbSize = sizeof tool;
  tool.hwnd = strip;
  tool.uId = reinterpret_cast<UINT_PTR>(strip);
  tool.lpszText = data->Text.data();
  SendMessageW(data->Tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  ShowWindow(strip, VEKRiff::ShowsDamage(damage) ? SW_SHOW : SW_HIDE);
  InvalidateRect(strip, nullptr, TRUE);
}

}  // namespace ZantrelWin32
