#include "app/control_creation.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "app/dpi.h"
#include "app/label_control.h"
#include "base/text_codec.h"

namespace harvester {
namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

const wchar_t* ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::EditBox: return L"EDIT";
    case ControlKind::Label: return kLabelClass;
    case ControlKind::ListBox: return L"LISTBOX";
    case ControlKind::ListView: return WC_LISTVIEWW;
    case ControlKind::Button: return L"BUTTON";
    case ControlKind::CommonDlg: break;
  }
  return nullptr;
}

// A single-line edit box is made at least as high as its font's text plus both edges.
int EditBoxHeight(HWND edit, int height) {
  if (GetWindowLongW(edit, GWL_STYLE) & ES_MULTILINE) return height;
  const WindowDC dc(edit);
  TEXTMETRICW metrics = {};
  {
    const SelectedObject font(dc.Get(), DefaultGuiFont());
    GetTextMetricsW(dc.Get(), &metrics);
  }
  return std::max(height, static_cast<int>(metrics.tmHeight) + 2 * GetSystemMetrics(SM_CYEDGE));
}

void FinishLinkList(HWND hwnd, int dpi) {
  SendMessageW(hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
               LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES | LVS_EX_INFOTIP);
  SendMessageW(hwnd, LVM_SETTEXTCOLOR, 0, kBlack);
  SendMessageW(hwnd, LVM_SETTEXTBKCOLOR, 0, kWhite);
  SendMessageW(hwnd, LVM_SETBKCOLOR, 0, kWhite);
  std::wstring title = TextToWide("网址");
  LVCOLUMNW column = {};
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
  column.fmt = LVCFMT_LEFT;
  column.cx = ScaleToDpi(200, dpi);
  column.pszText = title.data();
  SendMessageW(hwnd, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
}

// A control's rectangle in its parent's client area, in pixels at the window's DPI.
struct Bounds {
  int left, top, width, height;
};

Bounds BoundsAt(const ControlLayout& layout, int dpi) {
  return {ScaleToDpi(layout.left, dpi), ScaleToDpi(layout.top, dpi), ScaleToDpi(layout.width, dpi),
          ScaleToDpi(layout.height, dpi)};
}

void FinishControl(HWND hwnd, const ControlLayout& layout, const Bounds& bounds, int dpi) {
  switch (layout.kind) {
    case ControlKind::EditBox: {
      const int height = EditBoxHeight(hwnd, bounds.height);
      if (height != bounds.height) SetWindowPos(hwnd, nullptr, 0, 0, bounds.width, height, SWP_NOMOVE | SWP_NOZORDER);
      break;
    }
    case ControlKind::ListBox: {
      // One layout pixel above the font's standard item height.
      const LRESULT itemHeight = SendMessageW(hwnd, LB_GETITEMHEIGHT, 0, 0);
      if (itemHeight > 0) SendMessageW(hwnd, LB_SETITEMHEIGHT, 0, MAKELPARAM(itemHeight + ScaleToDpi(1, dpi), 0));
      break;
    }
    case ControlKind::ListView:
      FinishLinkList(hwnd, dpi);
      break;
    default:
      break;
  }
}

HWND CreateChild(const ProgramWindow& window, const ControlLayout& layout, const wchar_t* className) {
  const DWORD style = WS_CHILD | WS_CLIPSIBLINGS | layout.style | (layout.tabStop ? WS_TABSTOP : 0) |
                      (layout.enabled ? 0 : WS_DISABLED);
  const Bounds bounds = BoundsAt(layout, window.dpi);
  // A child's hMenu is its ID: GetDlgCtrlID and the notifications it sends give it back.
  HWND hwnd = CreateWindowExW(layout.exStyle, className, TextToWide(layout.text).c_str(), style, bounds.left,
                              bounds.top, bounds.width, bounds.height, window.hwnd,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), GetModuleHandleW(nullptr),
                              nullptr);
  if (!hwnd) return nullptr;
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(DefaultGuiFont()), FALSE);
  FinishControl(hwnd, layout, bounds, window.dpi);
  return hwnd;
}

}  // namespace

HFONT DefaultGuiFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

bool CreateControls(ProgramWindow& window) {
  window.controls.reserve(window.layout->controls.size());
  for (const ControlLayout& layout : window.layout->controls) {
    Control control{&layout, nullptr, {layout.bindings.begin(), layout.bindings.end()}};
    if (const wchar_t* className = ClassOf(layout.kind)) {
      control.hwnd = CreateChild(window, layout, className);
      if (!control.hwnd) return false;
      window.controlIndexById[layout.id] = window.controls.size();
    }
    window.controls.push_back(std::move(control));
  }
  return true;
}

void ArrangeStacking(const ProgramWindow& window) {
  HWND above = HWND_TOP;
  for (const Control& control : window.controls) {
    if (!control.hwnd) continue;
    SetWindowPos(control.hwnd, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    above = control.hwnd;
  }
}

void ShowControls(const ProgramWindow& window) {
  for (const Control& control : window.controls)
    if (control.hwnd && control.layout->visible) ShowWindow(control.hwnd, SW_SHOWNA);
}

void BuildMenus(ProgramWindow& window) {
  for (const MenuLayout& menu : window.layout->menus) {
    UniqueMenu popup(CreatePopupMenu());
    if (!popup) continue;
    UINT id = 1;
    for (const char* item : menu.items) AppendMenuW(popup.Get(), MF_STRING, id++, TextToWide(item).c_str());
    window.menus.push_back(std::move(popup));
  }
}

}  // namespace harvester
