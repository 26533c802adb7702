#include "app/label_control.h"

#include <string>

#include "base/owners.h"

namespace harvester {
namespace {

// The label keeps the font it is given in its user data: it has no other state.
HFONT FontOf(HWND label) { return reinterpret_cast<HFONT>(GetWindowLongPtrW(label, GWLP_USERDATA)); }

std::wstring TextOf(HWND label) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(label)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(label, text.data(), static_cast<int>(text.size()))));
  return text;
}

// One line, left-aligned, vertically centred, with a transparent text background over the fill.
void OnPaint(HWND label) {
  const PaintDC paint(label);
  HDC dc = paint.Get();
  RECT client;
  GetClientRect(label, &client);
  // Its colours come from the parent, as a static control's do.
  auto fill = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(label), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                                    reinterpret_cast<LPARAM>(label)));
  FillRect(dc, &client, fill ? fill : GetSysColorBrush(COLOR_BTNFACE));
  const std::wstring text = TextOf(label);
  const SelectedObject font(dc, FontOf(label));
  SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client, DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOCLIP);
}

LRESULT CALLBACK LabelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFONT:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, static_cast<LONG_PTR>(wParam));
      if (LOWORD(lParam)) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(FontOf(hwnd));
    case WM_SETTEXT: {
      const LRESULT result = DefWindowProcW(hwnd, message, wParam, lParam);
      InvalidateRect(hwnd, nullptr, TRUE);
      return result;
    }
    case WM_ERASEBKGND:
      return 1;  // the paint fills the whole label
    case WM_PAINT:
      OnPaint(hwnd);
      return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

bool RegisterLabelClass(HINSTANCE instance) {
  WNDCLASSEXW labelClass = {};
  labelClass.cbSize = sizeof labelClass;
  labelClass.lpfnWndProc = LabelProc;
  labelClass.hInstance = instance;
  labelClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  labelClass.lpszClassName = kLabelClass;
  return RegisterClassExW(&labelClass) != 0;
}

}  // namespace harvester
