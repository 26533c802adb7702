// The main window as it stands on the screen, read back from the live windows.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include "app/control_names.h"
#include "app/file_dialog.h"
#include "app/main_window.h"
#include "tests/support/test_support.h"

namespace harvester {
namespace {

using testing::Text;
using testing::WindowText;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = CreateProgramWindow(MainWindowLayout(), SW_SHOWNOACTIVATE);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override { DestroyAllProgramWindows(); }

  HWND Hwnd(const char* name) {
    Control* control = FindControl(*window_, name);
    return control ? control->hwnd : nullptr;
  }

  ProgramWindow* window_ = nullptr;
};

std::wstring ClassName(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

RECT ClientRectOf(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

struct ExpectedControl {
  const char* name;
  const wchar_t* className;
  RECT rect;  // client coordinates
  DWORD styles;       // must all be set
  DWORD absentStyles; // must all be clear
  DWORD exStyle;
  bool enabled;
  const wchar_t* text;
};

constexpr DWORD kEdit = ES_AUTOHSCROLL | WS_TABSTOP | WS_VISIBLE;
constexpr DWORD kNotEdit1 = ES_MULTILINE | ES_NOHIDESEL | ES_READONLY | ES_PASSWORD | WS_HSCROLL | WS_VSCROLL;

const ExpectedControl kExpected[] = {
    {names::kPageCountBox, L"Edit", {56, 16, 112, 40}, kEdit, kNotEdit1 | WS_BORDER, WS_EX_CLIENTEDGE, false, L"1"},
    {names::kCaptionLabel, nullptr, {16, 16, 192, 40}, WS_VISIBLE, WS_TABSTOP | WS_BORDER, 0, true,
     L"\u5171\u91c7\u96c6            \u9875"},
    {names::kResultList, L"ListBox", {16, 56, 432, 320},
     LBS_NOTIFY | LBS_USETABSTOPS | LBS_NOINTEGRALHEIGHT | WS_TABSTOP | WS_VISIBLE,
     LBS_SORT | LBS_MULTIPLESEL | LBS_EXTENDEDSEL, WS_EX_CLIENTEDGE, true, L""},
    {names::kLinkList, L"SysListView32", {448, 40, 656, 296},
     LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP | WS_VISIBLE,
     LVS_NOCOLUMNHEADER | LVS_NOSORTHEADER | LVS_SORTASCENDING | LVS_SORTDESCENDING | LVS_EDITLABELS,
     WS_EX_CLIENTEDGE, true, L""},
    {names::kAddressBox, L"Edit", {-216, -16, -40, 8}, kEdit, kNotEdit1, WS_EX_CLIENTEDGE, true, nullptr},
    {names::kStartButton, L"Button", {224, 16, 336, 40}, BS_CENTER | BS_VCENTER | WS_TABSTOP | WS_VISIBLE, BS_DEFPUSHBUTTON, 0,
     true, L"\u5f00\u59cb\u91c7\u96c6"},
    {names::kInstructionBox, L"Edit", {328, 417, 880, 489},
     ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_TABSTOP | WS_VISIBLE,
     ES_NOHIDESEL | ES_READONLY | WS_HSCROLL | WS_VSCROLL | WS_BORDER, 0, true, nullptr},
};

TEST_F(MainWindowTest, ControlsStandAsLaidOut) {
  for (const ExpectedControl& expected : kExpected) {
    SCOPED_TRACE(expected.name);
    HWND hwnd = Hwnd(expected.name);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(GetParent(hwnd), window_->hwnd);
    if (expected.className) EXPECT_EQ(ClassName(hwnd), expected.className);
    const RECT rect = ClientRectOf(hwnd);
    EXPECT_EQ(rect.left, expected.rect.left);
    EXPECT_EQ(rect.top, expected.rect.top);
    EXPECT_EQ(rect.right, expected.rect.right);
    EXPECT_EQ(rect.bottom, expected.rect.bottom);
    const DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
    EXPECT_EQ(style & expected.styles, expected.styles) << std::hex << style;
    EXPECT_EQ(style & expected.absentStyles, 0u) << std::hex << style;
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE));
    EXPECT_EQ(exStyle & (WS_EX_CLIENTEDGE | WS_EX_WINDOWEDGE | WS_EX_STATICEDGE | WS_EX_TOPMOST), expected.exStyle);
    EXPECT_EQ(IsWindowEnabled(hwnd) != FALSE, expected.enabled);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    if (expected.text) EXPECT_EQ(WindowText(hwnd), Text(expected.text));
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)), GetStockObject(DEFAULT_GUI_FONT));
  }
}

TEST_F(MainWindowTest, StackingOrderIsTableOrder) {
  const char* order[] = {names::kPageCountBox, names::kCaptionLabel, names::kResultList, names::kLinkList, names::kAddressBox, names::kStartButton, names::kInstructionBox};
  HWND child = GetWindow(window_->hwnd, GW_CHILD);
  for (const char* name : order) {
    SCOPED_TRACE(name);
    ASSERT_EQ(child, Hwnd(name));
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr);  // the file dialog has no window
}

TEST_F(MainWindowTest, FrameTitleSizeAndPosition) {
  EXPECT_EQ(WindowText(window_->hwnd), Text(L"Orvel\u624b\u673a\u53f7\u7801\u91c7\u96c6\u5668"));
  RECT frame;
  GetWindowRect(window_->hwnd, &frame);
  EXPECT_EQ(frame.right - frame.left, 447);
  EXPECT_EQ(frame.bottom - frame.top, 381);
  EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - 447) / 2);
  EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - 381) / 2);
  const DWORD style = static_cast<DWORD>(GetWindowLongW(window_->hwnd, GWL_STYLE));
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN),
            static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN));
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0u);
  EXPECT_EQ(GetWindowLongW(window_->hwnd, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_DLGMODALFRAME), 0);
  EXPECT_EQ(GetMenu(window_->hwnd), nullptr);  // every menu is hidden: no entry in a bar
  EXPECT_EQ(GetClassLongPtrW(window_->hwnd, GCLP_HBRBACKGROUND), static_cast<ULONG_PTR>(COLOR_BTNFACE + 1));
  HMENU system = GetSystemMenu(window_->hwnd, FALSE);
  EXPECT_NE(GetMenuState(system, SC_MOVE, MF_BYCOMMAND), static_cast<UINT>(-1));
}

TEST_F(MainWindowTest, HiddenMenusHoldTheirItems) {
  ASSERT_EQ(window_->menus.size(), 3u);
  wchar_t item[64] = {};
  GetMenuStringW(window_->menus[1].Get(), 2, item, 64, MF_BYPOSITION);
  EXPECT_EQ(Text(item), Text(L"\u6e05\u7a7a\u8d26\u53f72"));
  EXPECT_EQ(GetMenuItemCount(window_->menus[2].Get()), 3);
}

TEST_F(MainWindowTest, ContentOfTheHiddenBoxes) {
  const std::string address = WindowText(Hwnd(names::kAddressBox));
  EXPECT_EQ(address.rfind("http://", 0), 0u);
  EXPECT_EQ(address.substr(address.size() - 20), "/danbaobaoxiantouzi/");
  EXPECT_EQ(WindowText(Hwnd(names::kInstructionBox)),
            Text(L"\u64cd\u4f5c\u6b65\u9aa4\uff1a\r\n\r\n1. \u5728\u8868\u683c\u4e2d\u53f3\u952e\u5355\u51fb\uff0c"
                 L"\u5bfc\u5165txt\u6587\u4ef6\u3002\r\n2.\u5728IP\u8bbe\u7f6e\u9009\u9879\uff0c\u8fdb\u884c"
                 L"\u5207\u6362IP\u548c\u53d1\u5e16\u9876\u8d34\u7684\u65f6\u95f4\u95f4\u9694\u8bbe\u7f6e\r\n3. "
                 L"\u70b9\u51fb\u53d1\u5e16"));
}

TEST_F(MainWindowTest, ResultListAndLinkListDetails) {
  HWND list = Hwnd(names::kResultList);
  HWND links = Hwnd(names::kLinkList);
  EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), LB_ERR);
  // The standard item height of the font, plus one pixel.
  HWND plain = CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD | LBS_NOTIFY, 0, 0, 50, 50, window_->hwnd, nullptr,
                               nullptr, nullptr);
  SendMessageW(plain, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  EXPECT_EQ(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0), SendMessageW(plain, LB_GETITEMHEIGHT, 0, 0) + 1);
  DestroyWindow(plain);
  // The vertical scroll bar shows once the lines no longer fit.
  for (int i = 0; i < 40; ++i) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"line"));
  EXPECT_NE(GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL, 0);

  const DWORD ex = static_cast<DWORD>(SendMessageW(links, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
  const DWORD wanted = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES | LVS_EX_INFOTIP;
  EXPECT_EQ(ex & wanted, wanted);
  EXPECT_EQ(ex & (LVS_EX_CHECKBOXES | LVS_EX_TRACKSELECT | LVS_EX_HEADERDRAGDROP | LVS_EX_FLATSB), 0u);
  wchar_t title[32] = {};
  LVCOLUMNW column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  column.pszText = title;
  column.cchTextMax = 32;
  ASSERT_TRUE(SendMessageW(links, LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&column)));
  EXPECT_EQ(std::wstring(title), L"\u7f51\u5740");
  EXPECT_EQ(column.cx, 200);
  EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
  EXPECT_FALSE(SendMessageW(links, LVM_GETCOLUMNW, 1, reinterpret_cast<LPARAM>(&column)));
  EXPECT_EQ(SendMessageW(links, LVM_GETITEMCOUNT, 0, 0), 0);
}

// The system's window colours, set to others for as long as it lives: the colours the layout
// fixes must not follow them.
class OtherWindowColours {
 public:
  OtherWindowColours() {
    for (int i = 0; i < 2; ++i) saved_[i] = GetSysColor(kElements[i]);
    const COLORREF others[2] = {RGB(0, 0, 128), RGB(255, 255, 0)};
    SetSysColors(2, kElements, others);
  }
  OtherWindowColours(const OtherWindowColours&) = delete;
  OtherWindowColours& operator=(const OtherWindowColours&) = delete;
  ~OtherWindowColours() { SetSysColors(2, kElements, saved_); }

 private:
  static constexpr INT kElements[2] = {COLOR_WINDOW, COLOR_WINDOWTEXT};
  COLORREF saved_[2] = {};
};

TEST_F(MainWindowTest, ColourMessagesGiveTheLayoutsColours) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  constexpr COLORREF kBlack = RGB(0, 0, 0);
  constexpr COLORREF kWhite = RGB(255, 255, 255);
  struct Row {
    const char* name;
    UINT message;  // the one the control sends its parent before it draws
    COLORREF text;
    COLORREF background;  // of the text and of the brush
  };
  const Row rows[] = {
      {names::kPageCountBox, WM_CTLCOLORSTATIC, kBlack, kWhite},  // disabled: it asks as a static does
      {names::kAddressBox, WM_CTLCOLOREDIT, kBlack, kWhite},
      {names::kInstructionBox, WM_CTLCOLOREDIT, RGB(255, 0, 0), face},
      {names::kCaptionLabel, WM_CTLCOLORSTATIC, kBlack, face},
      {names::kResultList, WM_CTLCOLORLISTBOX, kBlack, kWhite},
  };
  const OtherWindowColours others;
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SetTextColor(dc, RGB(1, 2, 3));
    SetBkColor(dc, RGB(4, 5, 6));
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(window_->hwnd, row.message,
                                                             reinterpret_cast<WPARAM>(dc),
                                                             reinterpret_cast<LPARAM>(Hwnd(row.name))));
    EXPECT_EQ(GetTextColor(dc), row.text);
    EXPECT_EQ(GetBkColor(dc), row.background);
    LOGBRUSH fill = {};
    ASSERT_EQ(GetObjectW(brush, sizeof fill, &fill), static_cast<int>(sizeof fill));
    EXPECT_EQ(fill.lbStyle, static_cast<UINT>(BS_SOLID));
    EXPECT_EQ(fill.lbColor, row.background);
  }
  DeleteDC(dc);
}

TEST_F(MainWindowTest, OffScreenControlsLieOutsideTheClientArea) {
  RECT client;
  GetClientRect(window_->hwnd, &client);
  for (const char* name : {names::kLinkList, names::kAddressBox, names::kInstructionBox}) {
    SCOPED_TRACE(name);
    RECT rect = ClientRectOf(Hwnd(name));
    RECT overlap;
    EXPECT_FALSE(IntersectRect(&overlap, &rect, &client));
  }
}

TEST(FileDialogTest, KindIsClampedAndTextsStartEmpty) {
  FileDialog dialog;
  EXPECT_EQ(dialog.kind, 0);
  EXPECT_TRUE(dialog.filter.empty());
  EXPECT_TRUE(dialog.fileName.empty());
  const int rows[][2] = {{1, 1}, {3, 3}, {4, 3}, {-1, 0}, {0, 0}, {2, 2}};
  for (const auto& row : rows) {
    SetDialogKind(dialog, row[0]);
    EXPECT_EQ(dialog.kind, row[1]) << row[0];
  }
}

}  // namespace
}  // namespace harvester
