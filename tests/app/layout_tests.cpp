// What creating a window from a layout derives, on layouts of the tests' own: the height of a
// low single-line edit box, the stacking order, the focus ring, the frame's outer size and its
// centring. Then what the main window shows, read back from the live windows, and what the
// file dialog's kind asks of the system dialog.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "app/control_names.h"
#include "app/dpi.h"
#include "app/main_window.h"
#include "base/owners.h"
#include "tests/support/test_support.h"

namespace harvester {
namespace {

using testing::PumpFor;
using testing::RunningOnWine;
using testing::Text;
using testing::Wide;
using testing::WindowText;

constexpr wchar_t kFrameTitle[] = L"layout test";
constexpr DWORD kFrame = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

struct Flags {
  bool visible = true, enabled = true, tabStop = true;
};

constexpr ControlLayout Row(const char* name, ControlKind kind, int left, int top, int width, int height,
                            DWORD style = 0, Flags flags = {}) {
  return {.name = name, .kind = kind, .left = left, .top = top, .width = width, .height = height,
          .style = style, .exStyle = kind == ControlKind::EditBox ? DWORD{WS_EX_CLIENTEDGE} : 0,
          .visible = flags.visible, .enabled = flags.enabled, .tabStop = flags.tabStop, .text = "",
          .bindings = {}};
}

constexpr WindowLayout Frame(std::span<const ControlLayout> controls, int width = 300, int height = 200) {
  return {.title = "layout test", .width = width, .height = height, .style = kFrame, .controls = controls,
          .menus = {}};
}

class LayoutTest : public ::testing::Test {
 protected:
  void TearDown() override { DestroyAllProgramWindows(); }

  ProgramWindow* Create(const WindowLayout& layout) {
    ProgramWindow* window = CreateProgramWindow(layout, SW_SHOWNOACTIVATE);
    EXPECT_NE(window, nullptr);
    return window;
  }
  static HWND Hwnd(ProgramWindow& window, const char* name) {
    Control* control = FindControl(window, name);
    return control ? control->hwnd : nullptr;
  }
};

RECT ClientRectOf(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// The height the system's rule gives a single-line edit box with the default GUI font.
int SingleLineEditHeight() {
  HDC screen = GetDC(nullptr);
  HGDIOBJ old = SelectObject(screen, GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRICW metrics = {};
  GetTextMetricsW(screen, &metrics);
  SelectObject(screen, old);
  ReleaseDC(nullptr, screen);
  return static_cast<int>(metrics.tmHeight) + 2 * GetSystemMetrics(SM_CYEDGE);
}

TEST_F(LayoutTest, ControlsStandWhereTheirRowsSayAndOnlyLowSingleLineEditsGrow) {
  const int editHeight = SingleLineEditHeight();
  ASSERT_GT(editHeight, 10);
  ASSERT_LT(editHeight, 40);
  const ControlLayout controls[] = {
      Row("low edit", ControlKind::EditBox, 10, 5, 80, 10, ES_AUTOHSCROLL),
      Row("tall edit", ControlKind::EditBox, 100, 5, 80, 40, ES_AUTOHSCROLL),
      Row("low multi-line edit", ControlKind::EditBox, 190, 5, 80, 10, ES_MULTILINE),
      Row("low button", ControlKind::Button, 10, 60, 50, 10, BS_PUSHBUTTON),
      Row("list above and left", ControlKind::ListBox, -30, -20, 60, 50, LBS_NOTIFY | LBS_NOINTEGRALHEIGHT),
      Row("link list beyond", ControlKind::ListView, 310, 150, 120, 90, LVS_REPORT),
  };
  struct Expected {
    const char* name;
    int height;
  };
  const Expected expected[] = {{"low edit", editHeight}, {"tall edit", 40}, {"low multi-line edit", 10},
                               {"low button", 10},       {"list above and left", 50}, {"link list beyond", 90}};
  ProgramWindow* window = Create(Frame(controls));
  ASSERT_NE(window, nullptr);
  for (size_t i = 0; i < std::size(controls); ++i) {
    const ControlLayout& row = controls[i];
    SCOPED_TRACE(row.name);
    HWND hwnd = Hwnd(*window, row.name);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(GetParent(hwnd), window->hwnd);
    const RECT rect = ClientRectOf(hwnd);
    EXPECT_EQ(rect.left, row.left);
    EXPECT_EQ(rect.top, row.top);
    EXPECT_EQ(rect.right - rect.left, row.width);
    EXPECT_EQ(rect.bottom - rect.top, expected[i].height);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)), GetStockObject(DEFAULT_GUI_FONT));
  }
}

// Every control made directly on a top-level window is put on top of its siblings once made,
// so that the controls stand in the reverse of the order they were made in.
int g_movedToTop = 0;
LRESULT CALLBACK PutOnTopWhenMade(int code, WPARAM wParam, LPARAM lParam) {
  const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
  if (code == HC_ACTION && message->message == WM_CREATE) {
    HWND parent = GetAncestor(message->hwnd, GA_PARENT);
    if (parent && parent != GetDesktopWindow() && GetAncestor(parent, GA_PARENT) == GetDesktopWindow()) {
      SetWindowPos(message->hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      ++g_movedToTop;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(LayoutTest, StackingOrderIsTableOrderWhateverOrderTheControlsWereMadeIn) {
  const ControlLayout controls[] = {
      Row("first", ControlKind::EditBox, 10, 10, 100, 24, ES_AUTOHSCROLL),
      Row("second", ControlKind::Button, 20, 20, 100, 24, BS_PUSHBUTTON),
      Row("no window", ControlKind::CommonDlg, 0, 0, 26, 26, 0, {false, false, false}),
      Row("third", ControlKind::ListBox, 30, 30, 100, 60, LBS_NOTIFY),
      Row("fourth", ControlKind::ListView, 40, 40, 100, 60, LVS_REPORT),
      Row("fifth", ControlKind::Label, 50, 50, 100, 24),
  };
  g_movedToTop = 0;
  ProgramWindow* window = nullptr;
  {
    const UniqueHook hook(SetWindowsHookExW(WH_CALLWNDPROCRET, PutOnTopWhenMade, nullptr, GetCurrentThreadId()));
    ASSERT_TRUE(hook);
    window = Create(Frame(controls));
  }
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(g_movedToTop, 5) << "each control was put on top as it was made";
  HWND child = GetWindow(window->hwnd, GW_CHILD);
  for (const char* name : {"first", "second", "third", "fourth", "fifth"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(child, Hwnd(*window, name));
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr);
}

void PressTab(HWND focus, bool shift) {
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_SHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(keys);
  PostMessageW(focus, WM_KEYDOWN, VK_TAB, 1);
  PumpFor(30);
  keys[VK_SHIFT] = 0;
  SetKeyboardState(keys);
}

TEST_F(LayoutTest, TabRingIsTheReverseTableOrderOfVisibleEnabledTabStops) {
  const ControlLayout controls[] = {
      Row("a", ControlKind::EditBox, 10, 10, 100, 24, ES_AUTOHSCROLL),
      Row("no tab stop", ControlKind::Button, 10, 40, 100, 24, BS_PUSHBUTTON, {true, true, false}),
      Row("disabled", ControlKind::EditBox, 10, 70, 100, 24, ES_AUTOHSCROLL, {true, false, true}),
      Row("hidden", ControlKind::EditBox, 10, 100, 100, 24, ES_AUTOHSCROLL, {false, true, true}),
      Row("b", ControlKind::Button, 120, 10, 100, 24, BS_PUSHBUTTON),
      Row("label", ControlKind::Label, 120, 40, 100, 24, 0, {true, true, false}),
      Row("c", ControlKind::ListBox, 120, 70, 100, 60, LBS_NOTIFY),
  };
  ProgramWindow* window = Create(Frame(controls));
  ASSERT_NE(window, nullptr);
  const char* const ring[] = {"c", "b", "a"};
  SetFocus(Hwnd(*window, "c"));
  PumpFor(20);
  for (size_t step = 1; step <= 3; ++step) {
    SCOPED_TRACE(std::string("Tab from ") + ring[step - 1]);
    PressTab(GetFocus(), false);
    EXPECT_EQ(GetFocus(), Hwnd(*window, ring[step % 3]));
  }
  for (size_t step = 3; step >= 1; --step) {
    SCOPED_TRACE(std::string("Shift+Tab from ") + ring[step % 3]);
    PressTab(GetFocus(), true);
    EXPECT_EQ(GetFocus(), Hwnd(*window, ring[step - 1]));
  }
}

// The system makes the frame another size than the layout's: asked for its smallest size as it
// is made (the first time only), the frame answers one larger than the layout's. The frame's
// procedure is wrapped for that as the system is about to make it. On Windows the frame then
// keeps that size unless the program sets it again; Wine's window system gives a frame back the
// size it was asked to make as soon as it handles the frame's first events, so there the
// program's correction is not what is seen.
int g_framesResized = 0;
int g_layoutWidth = 0, g_layoutHeight = 0;
WNDPROC g_frameProcedure = nullptr;

LRESULT CALLBACK RaiseSmallestSizeOnce(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = CallWindowProcW(g_frameProcedure, hwnd, message, wParam, lParam);
  if (message == WM_GETMINMAXINFO && g_framesResized == 0) {
    reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {g_layoutWidth + 37, g_layoutHeight + 23};
    ++g_framesResized;
  }
  return result;
}

LRESULT CALLBACK WrapTheFrame(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && !g_frameProcedure) {
    const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
    if (create->lpszName && !IS_INTRESOURCE(create->lpszName) && std::wstring_view(create->lpszName) == kFrameTitle) {
      g_frameProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
          reinterpret_cast<HWND>(wParam), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RaiseSmallestSizeOnce)));
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(LayoutTest, FrameHasTheLayoutsOuterSizeCentredOnTheScreen) {
  const ControlLayout controls[] = {Row("a", ControlKind::Button, 10, 10, 100, 24, BS_PUSHBUTTON)};
  struct Case {
    int width, height;
    bool resizedBySystem;
  };
  for (const Case& c : {Case{447, 381, true}, Case{301, 203, false}, Case{301, 203, true}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) +
                 (c.resizedBySystem ? ", made another size" : ""));
    g_framesResized = 0;
    g_frameProcedure = nullptr;  // the frame of the case before is gone
    g_layoutWidth = c.width;
    g_layoutHeight = c.height;
    UniqueHook hook;
    if (c.resizedBySystem) {
      hook.Reset(SetWindowsHookExW(WH_CBT, WrapTheFrame, nullptr, GetCurrentThreadId()));
      ASSERT_TRUE(hook);
    }
    ProgramWindow* window = Create(Frame(controls, c.width, c.height));
    hook.Reset();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(g_framesResized, c.resizedBySystem ? 1 : 0);
    RECT frame;
    GetWindowRect(window->hwnd, &frame);
    EXPECT_EQ(frame.right - frame.left, c.width);
    EXPECT_EQ(frame.bottom - frame.top, c.height);
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - c.width) / 2);
    EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - c.height) / 2);
    DestroyAllProgramWindows();
  }
}

// ---- the main window as it stands on the screen

class MainWindowTest : public LayoutTest {
 protected:
  void SetUp() override {
    window_ = Create(MainWindowLayout());
    ASSERT_NE(window_, nullptr);
  }
  HWND Hwnd(const char* name) { return LayoutTest::Hwnd(*window_, name); }

  ProgramWindow* window_ = nullptr;
};

TEST_F(MainWindowTest, ShowsItsTitleAndTexts) {
  EXPECT_EQ(WindowText(window_->hwnd), Text(L"Orvel手机号码采集器"));
  EXPECT_EQ(WindowText(Hwnd("标签2")), Text(L"共采集            页"));
  EXPECT_EQ(WindowText(Hwnd("编辑框2")), "1");
  EXPECT_FALSE(IsWindowEnabled(Hwnd("编辑框2")));
  EXPECT_EQ(WindowText(Hwnd("按钮1")), Text(L"开始采集"));
  EXPECT_EQ(GetMenu(window_->hwnd), nullptr) << "every menu is hidden: no bar";
  wchar_t title[32] = {};
  LVCOLUMNW column = {};
  column.mask = LVCF_TEXT;
  column.pszText = title;
  column.cchTextMax = 32;
  ASSERT_TRUE(SendMessageW(Hwnd("超级列表框3"), LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&column)));
  EXPECT_EQ(std::wstring(title), L"网址");
  const std::string address = WindowText(Hwnd("编辑框1"));
  EXPECT_EQ(address.rfind("http://", 0), 0u);
  EXPECT_TRUE(address.ends_with("/danbaobaoxiantouzi/")) << address;
  EXPECT_EQ(WindowText(Hwnd("编辑框5")), Text(L"操作步骤：\r\n\r\n1. 在表格中右键单击，导入txt文件。\r\n"
                                              L"2.在IP设置选项，进行切换IP和发帖顶贴的时间间隔设置\r\n3. 点击发帖"));
}

TEST_F(MainWindowTest, ResultListItemsAreOnePixelHigherThanTheFontsStandard) {
  HWND list = Hwnd("列表框1");
  HWND plain = CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD | LBS_NOTIFY, 0, 0, 50, 50, window_->hwnd, nullptr,
                               nullptr, nullptr);
  SendMessageW(plain, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  EXPECT_EQ(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0), SendMessageW(plain, LB_GETITEMHEIGHT, 0, 0) + 1);
  DestroyWindow(plain);
  // The vertical scroll bar shows once the lines no longer fit.
  for (int i = 0; i < 40; ++i) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"line"));
  EXPECT_NE(GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL, 0);
}

TEST_F(MainWindowTest, OffScreenControlsLieOutsideTheClientArea) {
  RECT client;
  GetClientRect(window_->hwnd, &client);
  for (const char* name : {"超级列表框3", "编辑框1", "编辑框5"}) {
    SCOPED_TRACE(name);
    RECT rect = ClientRectOf(Hwnd(name));
    RECT overlap;
    EXPECT_TRUE(IsWindowVisible(Hwnd(name)));
    EXPECT_FALSE(IntersectRect(&overlap, &rect, &client));
  }
}

// ---- the main window at the system DPI

int StockFontHeight() {
  LOGFONTW font = {};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
  return static_cast<int>(font.lfHeight);
}

// A run started at another DPI learns the DPI and the default GUI font's height of its starter,
// as "dpi:height".
constexpr wchar_t kStarterFont[] = L"HARVESTER_STARTER_FONT";

// Runs the current test again in a process started at dpi. Wine 8 reads the user's LogPixels
// setting, over the machine's (HKEY_CURRENT_CONFIG\Software\Fonts), as each process starts: it
// is dpi while that process runs, then as it was.
void RunAgainAtDpi(DWORD dpi) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key), 0);
  DWORD old = 0, size = sizeof old;
  const bool had = RegQueryValueExW(key, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&old), &size) == 0;
  RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
  const std::wstring font = std::to_wstring(SystemDpi()) + L":" + std::to_wstring(StockFontHeight());
  SetEnvironmentVariableW(kStarterFont, font.c_str());
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const testing::FinishedProcess run = testing::RunToEnd(
      testing::SelfCommandLine(Wide(std::string(test->test_suite_name()) + "." + test->name())), 120000);
  SetEnvironmentVariableW(kStarterFont, nullptr);
  if (had) RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old), sizeof old);
  if (!had) RegDeleteValueW(key, L"LogPixels");
  RegCloseKey(key);
  EXPECT_NE(run.output.find("[  PASSED  ] 1 test."), std::string::npos) << run.output;
}

// The main window as the user sees it at the case's DPI. A case at another DPI than this
// process's runs again in a process started at that DPI (under Wine: Windows takes a new
// system DPI only at the next sign-in), and its outcome is the case's.
class MainWindowAtDpiTest : public LayoutTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    if (SystemDpi() == GetParam()) {
      window_ = Create(MainWindowLayout());
    } else if (GetEnvironmentVariableW(kStarterFont, nullptr, 0)) {
      FAIL() << "started for " << GetParam() << " DPI, this run is at " << SystemDpi();  // and starts no other
    } else if (SystemDpi() != 96 || !RunningOnWine()) {
      GTEST_SKIP() << "the system runs at " << SystemDpi() << " DPI";
    } else {
      RunAgainAtDpi(GetParam());
    }
  }

  ProgramWindow* window_ = nullptr;  // nullptr when the case ran elsewhere
};

// Every length of the layout is 96-DPI pixels: at another DPI the frame and every control are
// that much larger, within a pixel, and so is their font.
TEST_P(MainWindowAtDpiTest, FrameControlsAndFontAreTheLayoutScaledByTheDpi) {
  if (!window_) return;
  const double scale = GetParam() / 96.0;
  wchar_t starter[32] = {};
  int starterDpi = SystemDpi(), starterFontHeight = StockFontHeight();
  if (GetEnvironmentVariableW(kStarterFont, starter, 32)) swscanf(starter, L"%d:%d", &starterDpi, &starterFontHeight);
  RECT frame;
  GetWindowRect(window_->hwnd, &frame);
  EXPECT_NEAR(frame.right - frame.left, MainWindowLayout().width * scale, 1);
  EXPECT_NEAR(frame.bottom - frame.top, MainWindowLayout().height * scale, 1);
  EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2);
  EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2);
  for (const Control& control : window_->controls) {
    if (!control.hwnd) continue;
    SCOPED_TRACE(control.layout->name);
    const RECT rect = ClientRectOf(control.hwnd);
    EXPECT_NEAR(rect.left, control.layout->left * scale, 1);
    EXPECT_NEAR(rect.top, control.layout->top * scale, 1);
    EXPECT_NEAR(rect.right - rect.left, control.layout->width * scale, 1);
    EXPECT_NEAR(rect.bottom - rect.top, control.layout->height * scale, 1);
    LOGFONTW font = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control.hwnd, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_NEAR(font.lfHeight, starterFontHeight * GetParam() / static_cast<double>(starterDpi), 1);
  }
}

// What any right layout gives the user, whatever its numbers: the four controls a user sees lie
// inside the client area and apart, but for the page count box over the label's blank run, which
// leaves the label's two words uncovered; the three the layout puts outside lie wholly outside.
TEST_P(MainWindowAtDpiTest, UserSeesFourControlsApartAndBothWordsOfTheLabel) {
  if (!window_) return;
  RECT client, rect, other, overlap;
  GetClientRect(window_->hwnd, &client);
  const auto at = [&](const char* name) { return ClientRectOf(LayoutTest::Hwnd(*window_, name)); };
  // The first lies over the second.
  const char* const seen[] = {names::kPageCountBox, names::kCaptionLabel, names::kStartButton, names::kResultList};
  for (size_t i = 0; i < std::size(seen); ++i) {
    rect = at(seen[i]);
    EXPECT_TRUE(IntersectRect(&overlap, &rect, &client) && EqualRect(&overlap, &rect)) << seen[i] << " inside";
    for (size_t k = i + 1; k < std::size(seen); ++k) {
      other = at(seen[k]);
      if (i != 0 || k != 1) EXPECT_FALSE(IntersectRect(&overlap, &rect, &other)) << seen[i] << " over " << seen[k];
    }
  }
  for (const char* name : {names::kLinkList, names::kAddressBox, names::kInstructionBox}) {
    rect = at(name);
    EXPECT_FALSE(IntersectRect(&overlap, &rect, &client)) << name;
  }
  // The label draws its line from its left edge: "共采集" must end before the box, "页" begin after it.
  HWND label = LayoutTest::Hwnd(*window_, names::kCaptionLabel);
  const std::wstring line = Wide(WindowText(label));
  const WindowDC dc(label);
  const SelectedObject font(dc.Get(), reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
  SIZE first, beforeLast, whole;
  GetTextExtentPoint32W(dc.Get(), line.c_str(), static_cast<int>(line.find(L' ')), &first);
  GetTextExtentPoint32W(dc.Get(), line.c_str(), static_cast<int>(line.find_last_of(L' ') + 1), &beforeLast);
  GetTextExtentPoint32W(dc.Get(), line.c_str(), static_cast<int>(line.size()), &whole);
  rect = at(names::kCaptionLabel);
  other = at(names::kPageCountBox);
  EXPECT_LE(rect.left + first.cx, other.left);
  EXPECT_GE(rect.left + beforeLast.cx, other.right);
  EXPECT_LE(rect.left + whole.cx, rect.right);
  EXPECT_LE(whole.cy, rect.bottom - rect.top);
}

INSTANTIATE_TEST_SUITE_P(Dpi, MainWindowAtDpiTest, ::testing::Values(96, 144),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param); });

// ---- the file dialog component

enum class Asked { kNothing, kOpen, kSave };
std::vector<Asked> g_asked;

BOOL RecordDialog(OPENFILENAMEW* settings) {
  const bool open = settings->Flags & OFN_FILEMUSTEXIST;
  const bool save = settings->Flags & OFN_OVERWRITEPROMPT;
  g_asked.push_back(open == save ? Asked::kNothing : open ? Asked::kOpen : Asked::kSave);
  return FALSE;  // the user cancels
}

TEST(FileDialogTest, TheClampedKindDecidesWhatTheSystemDialogIsAskedFor) {
  struct Row {
    int kind;
    Asked asked;
  };
  const Row rows[] = {{-7, Asked::kOpen}, {-1, Asked::kOpen},    {0, Asked::kOpen},    {1, Asked::kSave},
                      {2, Asked::kNothing}, {3, Asked::kNothing}, {4, Asked::kNothing}, {100, Asked::kNothing}};
  SetFileDialogFunction(RecordDialog);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kind);
    g_asked.clear();
    FileDialog dialog;
    dialog.fileName = L"kept.txt";
    SetDialogKind(dialog, row.kind);
    EXPECT_FALSE(OpenFileDialog(dialog, nullptr));
    EXPECT_EQ(g_asked, row.asked == Asked::kNothing ? std::vector<Asked>{} : std::vector<Asked>{row.asked});
    EXPECT_EQ(dialog.fileName, L"kept.txt");
  }
  SetFileDialogFunction(nullptr);
}

}  // namespace
}  // namespace harvester
