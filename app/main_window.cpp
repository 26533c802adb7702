#include "app/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <optional>

#include "app/events.h"
#include "base/text_codec.h"

namespace harvester {
namespace {

constexpr wchar_t kWindowClass[] = L"HarvesterWindow";
constexpr wchar_t kLabelClass[] = L"HarvesterLabel";
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);

std::vector<std::unique_ptr<ProgramWindow>> g_loadedWindows;
bool g_loopStarted = false;

HFONT DefaultFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

// The label draws its one line itself: left-aligned, vertically centred, black on the
// button face, with a transparent text background.
LRESULT CALLBACK LabelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFONT:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, static_cast<LONG_PTR>(wParam));
      if (LOWORD(lParam)) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return GetWindowLongPtrW(hwnd, GWLP_USERDATA);
    case WM_SETTEXT: {
      const LRESULT result = DefWindowProcW(hwnd, message, wParam, lParam);
      InvalidateRect(hwnd, nullptr, TRUE);
      return result;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      const PaintDC paint(hwnd);
      HDC dc = paint.Get();
      RECT client;
      GetClientRect(hwnd, &client);
      // Its colours come from the parent, as a static control's do.
      auto fill = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(hwnd), WM_CTLCOLORSTATIC,
                                                        reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd)));
      FillRect(dc, &client, fill ? fill : GetSysColorBrush(COLOR_BTNFACE));
      std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
      text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
      const SelectedObject font(dc, reinterpret_cast<HFONT>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)));
      SetBkMode(dc, TRANSPARENT);
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client,
                DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOCLIP);
      return 0;
    }
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// The colours the layout fixes, whatever the system's colours: the bordered edit boxes and the
// result list black on white, the borderless instruction box red on the button face, the label
// black on the button face. Background means the text's background and the fill alike.
struct ControlColors {
  COLORREF text;
  bool onButtonFace;  // else on white
};

std::optional<ControlColors> ColorsOf(const ControlLayout& layout) {
  switch (layout.kind) {
    case ControlKind::EditBox:
      if (layout.exStyle & WS_EX_CLIENTEDGE) return ControlColors{kBlack, false};
      return ControlColors{kRed, true};
    case ControlKind::ListBox: return ControlColors{kBlack, false};
    case ControlKind::Label: return ControlColors{kBlack, true};
    default: return std::nullopt;
  }
}

// WM_CTLCOLOR* of a control: its brush after setting dc's colours; nullptr leaves the control
// to the default colours.
HBRUSH OnControlColor(ProgramWindow& window, HDC dc, HWND control) {
  const Control* found = FindControlOfHwnd(control, nullptr);
  const std::optional<ControlColors> colors = found ? ColorsOf(*found->layout) : std::nullopt;
  if (!colors) return nullptr;
  SetTextColor(dc, colors->text);
  LOGBRUSH face = {};
  if (colors->onButtonFace && GetObjectW(window.buttonFaceBrush.Get(), sizeof face, &face) == sizeof face) {
    SetBkColor(dc, face.lbColor);  // the colour the brush was made with when the window was
    return window.buttonFaceBrush.Get();
  }
  SetBkColor(dc, kWhite);
  return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
}

void OnDestroyed(HWND hwnd) {
  auto it = std::find_if(g_loadedWindows.begin(), g_loadedWindows.end(),
                         [hwnd](const auto& window) { return window->hwnd == hwnd; });
  if (it == g_loadedWindows.end()) return;
  (*it)->hwnd = nullptr;
  g_loadedWindows.erase(it);
  const bool anyLeft = std::any_of(g_loadedWindows.begin(), g_loadedWindows.end(),
                                   [](const auto& window) { return IsWindow(window->hwnd); });
  if (!anyLeft && g_loopStarted) PostQuitMessage(0);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  ProgramWindow* window = FindProgramWindow(hwnd);
  switch (message) {
    case WM_COMMAND:
      if (window && HIWORD(wParam) == BN_CLICKED && lParam) {
        ProgramWindow* owner = nullptr;
        if (Control* control = FindControlOfHwnd(reinterpret_cast<HWND>(lParam), &owner);
            control && control->layout->kind == ControlKind::Button) {
          FireEvent(*owner, *control, kEventClicked, {});
        }
        return 0;
      }
      break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX:
      if (window) {
        if (HBRUSH brush = OnControlColor(*window, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)))
          return reinterpret_cast<LRESULT>(brush);
      }
      break;
    case WM_NCDESTROY:
      OnDestroyed(hwnd);
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool RegisterClasses() {
  static bool registered = false;
  if (registered) return true;
  INITCOMMONCONTROLSEX common = {sizeof common, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&common);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&windowClass)) return false;
  WNDCLASSEXW labelClass = {};
  labelClass.cbSize = sizeof labelClass;
  labelClass.lpfnWndProc = LabelProc;
  labelClass.hInstance = instance;
  labelClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  labelClass.lpszClassName = kLabelClass;
  if (!RegisterClassExW(&labelClass)) return false;
  registered = true;
  return true;
}

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
    const SelectedObject font(dc.Get(), DefaultFont());
    GetTextMetricsW(dc.Get(), &metrics);
  }
  return std::max(height, static_cast<int>(metrics.tmHeight) + 2 * GetSystemMetrics(SM_CYEDGE));
}

void FinishControl(HWND hwnd, const ControlLayout& layout) {
  switch (layout.kind) {
    case ControlKind::EditBox: {
      const int height = EditBoxHeight(hwnd, layout.height);
      if (height != layout.height) SetWindowPos(hwnd, nullptr, 0, 0, layout.width, height, SWP_NOMOVE | SWP_NOZORDER);
      break;
    }
    case ControlKind::ListBox: {
      const LRESULT itemHeight = SendMessageW(hwnd, LB_GETITEMHEIGHT, 0, 0);
      if (itemHeight > 0) SendMessageW(hwnd, LB_SETITEMHEIGHT, 0, MAKELPARAM(itemHeight + 1, 0));
      break;
    }
    case ControlKind::ListView: {
      SendMessageW(hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                   LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES | LVS_EX_INFOTIP);
      SendMessageW(hwnd, LVM_SETTEXTCOLOR, 0, kBlack);
      SendMessageW(hwnd, LVM_SETTEXTBKCOLOR, 0, kWhite);
      SendMessageW(hwnd, LVM_SETBKCOLOR, 0, kWhite);
      std::wstring title = TextToWide("网址");
      LVCOLUMNW column = {};
      column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
      column.fmt = LVCFMT_LEFT;
      column.cx = 200;
      column.pszText = title.data();
      SendMessageW(hwnd, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
      break;
    }
    default:
      break;
  }
}

bool CreateControls(ProgramWindow& window) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (const ControlLayout& layout : window.layout->controls) {
    Control control{&layout, nullptr, {layout.bindings.begin(), layout.bindings.end()}};
    if (const wchar_t* className = ClassOf(layout.kind)) {
      const DWORD style = WS_CHILD | WS_CLIPSIBLINGS | layout.style | (layout.tabStop ? WS_TABSTOP : 0) |
                          (layout.enabled ? 0 : WS_DISABLED);
      control.hwnd = CreateWindowExW(layout.exStyle, className, TextToWide(layout.text).c_str(), style, layout.left,
                                     layout.top, layout.width, layout.height, window.hwnd, nullptr, instance, nullptr);
      if (!control.hwnd) return false;
      SendMessageW(control.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(DefaultFont()), FALSE);
      FinishControl(control.hwnd, layout);
    }
    window.controls.push_back(std::move(control));
  }
  return true;
}

// Stacking order = table order, the first control on top, whatever order they were made in.
void ArrangeStacking(ProgramWindow& window) {
  HWND above = HWND_TOP;
  for (const Control& control : window.controls) {
    if (!control.hwnd) continue;
    SetWindowPos(control.hwnd, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    above = control.hwnd;
  }
}

// Hidden top-level menus are not added to the bar, so the window gets no menu bar at all;
// their pop-ups still exist, with no behaviour.
void BuildMenus(ProgramWindow& window) {
  for (const MenuLayout& menu : window.layout->menus) {
    UniqueMenu popup(CreatePopupMenu());
    if (!popup) continue;
    UINT id = 1;
    for (const char* item : menu.items) AppendMenuW(popup.Get(), MF_STRING, id++, TextToWide(item).c_str());
    window.menus.push_back(std::move(popup));
  }
}

}  // namespace

ProgramWindow::~ProgramWindow() = default;

ProgramWindow* CreateProgramWindow(const WindowLayout& layout, int showCommand) {
  if (!RegisterClasses()) return nullptr;
  auto window = std::make_unique<ProgramWindow>();
  window->layout = &layout;
  window->buttonFaceBrush.Reset(CreateSolidBrush(GetSysColor(COLOR_BTNFACE)));
  BuildMenus(*window);
  const int left = (GetSystemMetrics(SM_CXSCREEN) - layout.width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - layout.height) / 2;
  ProgramWindow* raw = window.get();
  g_loadedWindows.push_back(std::move(window));
  raw->hwnd = CreateWindowExW(0, kWindowClass, TextToWide(layout.title).c_str(), layout.style, left, top,
                              layout.width, layout.height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!raw->hwnd) {
    g_loadedWindows.pop_back();
    return nullptr;
  }
  RECT frame;
  GetWindowRect(raw->hwnd, &frame);
  if (frame.right - frame.left != layout.width || frame.bottom - frame.top != layout.height)
    SetWindowPos(raw->hwnd, nullptr, 0, 0, layout.width, layout.height, SWP_NOMOVE | SWP_NOZORDER);
  SendMessageW(raw->hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadIconW(nullptr, IDI_APPLICATION)));
  SendMessageW(raw->hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(DefaultFont()), FALSE);
  if (!CreateControls(*raw)) {
    DestroyWindow(raw->hwnd);  // removes it from the loaded windows
    return nullptr;
  }
  ArrangeStacking(*raw);
  for (const Control& control : raw->controls)
    if (control.hwnd && control.layout->visible) ShowWindow(control.hwnd, SW_SHOWNA);
  ShowWindow(raw->hwnd, showCommand);
  UpdateWindow(raw->hwnd);
  return raw;
}

const std::vector<std::unique_ptr<ProgramWindow>>& LoadedWindows() { return g_loadedWindows; }

ProgramWindow* FindProgramWindow(HWND hwnd) {
  if (!hwnd) return nullptr;
  for (const auto& window : g_loadedWindows)
    if (window->hwnd == hwnd) return window.get();
  return nullptr;
}

Control* FindControlOfHwnd(HWND hwnd, ProgramWindow** owner) {
  if (!hwnd) return nullptr;
  for (const auto& window : g_loadedWindows) {
    for (Control& control : window->controls) {
      if (control.hwnd == hwnd) {
        if (owner) *owner = window.get();
        return &control;
      }
    }
  }
  return nullptr;
}

Control* FindControl(ProgramWindow& window, std::string_view name) {
  for (Control& control : window.controls)
    if (name == control.layout->name) return &control;
  return nullptr;
}

Control* FindProgramControl(std::string_view name) {
  for (const auto& window : g_loadedWindows)
    if (Control* control = FindControl(*window, name)) return control;
  return nullptr;
}

FileDialog* MainFileDialog() { return g_loadedWindows.empty() ? nullptr : &g_loadedWindows.front()->fileDialog; }

void SetLoopStarted(bool started) { g_loopStarted = started; }

void DestroyAllProgramWindows() {
  while (!g_loadedWindows.empty()) {
    ProgramWindow* last = g_loadedWindows.back().get();
    if (last->hwnd && IsWindow(last->hwnd)) DestroyWindow(last->hwnd);  // WM_NCDESTROY removes it
    if (!g_loadedWindows.empty() && g_loadedWindows.back().get() == last) g_loadedWindows.pop_back();
  }
}

}  // namespace harvester
