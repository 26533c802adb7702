#include "app/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <optional>

#include "app/context_menu.h"
#include "app/control_creation.h"
#include "app/events.h"
#include "app/harvest_window.h"
#include "app/label_control.h"
#include "base/text_codec.h"

namespace harvester {
namespace {

constexpr wchar_t kWindowClass[] = L"HarvesterWindow";
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);

// Owns the window objects; only the end of the last window and DestroyAllProgramWindows walk it.
std::vector<std::unique_ptr<ProgramWindow>> g_loadedWindows;
bool g_loopStarted = false;
ATOM g_windowClass = 0;

// The control of window whose window is child: found by the child's ID, and only when that
// ID's control is this very child (another window's control may carry the same ID).
Control* ChildControl(ProgramWindow& window, HWND child) {
  Control* control = FindControlById(window, GetDlgCtrlID(child));
  return control && control->hwnd == child ? control : nullptr;
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
HBRUSH OnControlColor(ProgramWindow& window, HDC dc, HWND child) {
  const Control* found = ChildControl(window, child);
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

// A click a button of this window reflects to it fires the button's event 0. The notification
// names the control by its ID and its window; both must be this window's button. True when
// the message was a click notification.
bool OnCommand(ProgramWindow& window, WPARAM wParam, LPARAM lParam) {
  if (HIWORD(wParam) != BN_CLICKED || !lParam) return false;
  Control* control = FindControlById(window, LOWORD(wParam));
  if (control && control->hwnd == reinterpret_cast<HWND>(lParam) && control->layout->kind == ControlKind::Button)
    FireEvent(window, *control, kEventClicked, {});
  return true;
}

// The window object arrives as the creation parameter and stays with the window.
void OnNcCreate(HWND hwnd, const CREATESTRUCTW& create) {
  auto* window = static_cast<ProgramWindow*>(create.lpCreateParams);
  if (!window) return;
  window->hwnd = hwnd;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
}

// Removes window from the loaded windows, destroying its object; false when it was not there.
bool Unload(const ProgramWindow* window) {
  auto it = std::find_if(g_loadedWindows.begin(), g_loadedWindows.end(),
                         [window](const auto& loaded) { return loaded.get() == window; });
  if (it == g_loadedWindows.end()) return false;
  g_loadedWindows.erase(it);
  return true;
}

// The last message of the window: its object goes, and with the last window the loop ends.
void OnNcDestroy(HWND hwnd, ProgramWindow* window) {
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  if (!window) return;
  window->hwnd = nullptr;
  if (!Unload(window)) return;
  const bool anyLeft = std::any_of(g_loadedWindows.begin(), g_loadedWindows.end(),
                                   [](const auto& loaded) { return IsWindow(loaded->hwnd); });
  if (!anyLeft && g_loopStarted) PostQuitMessage(0);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  ProgramWindow* window = FindProgramWindow(hwnd);  // nullptr until WM_NCCREATE
  switch (message) {
    case WM_NCCREATE:
      OnNcCreate(hwnd, *reinterpret_cast<const CREATESTRUCTW*>(lParam));
      break;
    case WM_COMMAND:
      if (window && OnCommand(*window, wParam, lParam)) return 0;
      break;
    case WM_CONTEXTMENU:  // a control's, passed on by its default handling
      if (window && ShowCommandMenu(*window, reinterpret_cast<HWND>(wParam), lParam)) return 0;
      break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX:
      if (window) {
        if (HBRUSH brush = OnControlColor(*window, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)))
          return reinterpret_cast<LRESULT>(brush);
      }
      break;
    case WM_ENDSESSION:
      if (wParam) DestroyWindow(hwnd);  // the session ends: the program ends with it, as when closed
      return 0;
    case WM_DESTROY:
      StopHarvestRun();  // a run in progress works this window's controls: it ends with them
      break;
    case WM_NCDESTROY:
      OnNcDestroy(hwnd, window);
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool RegisterClasses() {
  if (g_windowClass) return true;
  INITCOMMONCONTROLSEX common = {sizeof common, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&common);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!RegisterLabelClass(instance)) return false;
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kWindowClass;
  g_windowClass = RegisterClassExW(&windowClass);
  return g_windowClass != 0;
}

// Whether hwnd is a window of this process made from the program's window class: only such a
// window's user data is a window object.
bool IsProgramWindowHandle(HWND hwnd) {
  if (!hwnd || !g_windowClass) return false;
  DWORD process = 0;
  if (!GetWindowThreadProcessId(hwnd, &process) || process != GetCurrentProcessId()) return false;
  return GetClassWord(hwnd, GCW_ATOM) == g_windowClass;
}

// The frame keeps its outer size even where the system made it otherwise.
void KeepOuterSize(HWND hwnd, SIZE outer) {
  RECT frame;
  GetWindowRect(hwnd, &frame);
  if (frame.right - frame.left != outer.cx || frame.bottom - frame.top != outer.cy)
    SetWindowPos(hwnd, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER);
}

}  // namespace

ProgramWindow::~ProgramWindow() = default;

ProgramWindow* CreateProgramWindow(const WindowLayout& layout, int showCommand) {
  if (!RegisterClasses()) return nullptr;
  ProgramWindow* window = g_loadedWindows.emplace_back(std::make_unique<ProgramWindow>()).get();
  window->layout = &layout;
  window->buttonFaceBrush.Reset(CreateSolidBrush(GetSysColor(COLOR_BTNFACE)));
  BuildMenus(*window);
  window->dpi = SystemDpi();
  const SIZE outer = {ScaleToDpi(layout.width, window->dpi), ScaleToDpi(layout.height, window->dpi)};
  const int left = (GetSystemMetrics(SM_CXSCREEN) - outer.cx) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - outer.cy) / 2;
  if (!CreateWindowExW(0, kWindowClass, TextToWide(layout.title).c_str(), layout.style, left, top, outer.cx,
                       outer.cy, nullptr, nullptr, GetModuleHandleW(nullptr), window)) {
    Unload(window);  // still loaded when the creation failed before the window had a handle
    return nullptr;
  }
  KeepOuterSize(window->hwnd, outer);
  SendMessageW(window->hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadIconW(nullptr, IDI_APPLICATION)));
  SendMessageW(window->hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(DefaultGuiFont()), FALSE);
  if (!CreateControls(*window)) {
    DestroyWindow(window->hwnd);  // removes it from the loaded windows
    return nullptr;
  }
  ArrangeStacking(*window);
  ShowControls(*window);
  ShowWindow(window->hwnd, showCommand);
  UpdateWindow(window->hwnd);
  return window;
}

const std::vector<std::unique_ptr<ProgramWindow>>& LoadedWindows() { return g_loadedWindows; }

ProgramWindow* FindProgramWindow(HWND hwnd) {
  if (!IsProgramWindowHandle(hwnd)) return nullptr;
  return reinterpret_cast<ProgramWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

Control* FindControlOfHwnd(HWND hwnd, ProgramWindow** owner) {
  if (!hwnd) return nullptr;
  // GA_PARENT, not GetParent: a pop-up's owner is not its parent.
  ProgramWindow* window = FindProgramWindow(GetAncestor(hwnd, GA_PARENT));
  Control* control = window ? ChildControl(*window, hwnd) : nullptr;
  if (control && owner) *owner = window;
  return control;
}

Control* FindControlById(ProgramWindow& window, int id) {
  const auto found = window.controlIndexById.find(id);
  return found == window.controlIndexById.end() ? nullptr : &window.controls[found->second];
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
