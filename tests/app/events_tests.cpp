// Messages reaching the live main window: which events fire, with what arguments, and what
// the keyboard does.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/context_menu.h"
#include "app/control_names.h"
#include "app/controls.h"
#include "app/events.h"
#include "app/file_dialog.h"
#include "base/fatal_error.h"
#include "app/main_window.h"
#include "app/save_results.h"
#include "tests/support/test_support.h"

namespace harvester {
namespace {

using testing::PumpFor;
using testing::Text;
using testing::Wide;
using testing::WindowText;

struct Call {
  std::int32_t event;
  std::vector<std::int32_t> args;
};
std::vector<Call> g_calls;
std::optional<bool> g_answer;

template <std::int32_t kEvent>
std::optional<bool> Record(std::span<const std::int32_t> args) {
  g_calls.push_back({kEvent, {args.begin(), args.end()}});
  return g_answer;
}

constexpr EventBinding kRecordAll[] = {
    {kEventClicked, Record<kEventClicked>},       {kEventLeftDown, Record<kEventLeftDown>},
    {kEventLeftUp, Record<kEventLeftUp>},         {kEventDoubleClick, Record<kEventDoubleClick>},
    {kEventRightDown, Record<kEventRightDown>},   {kEventRightUp, Record<kEventRightUp>},
    {kEventKeyDown, Record<kEventKeyDown>},       {kEventKeyUp, Record<kEventKeyUp>},
    {kEventChar, Record<kEventChar>},             {kEventWheel, Record<kEventWheel>},
};

class EventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    g_answer.reset();
    window_ = CreateProgramWindow(MainWindowLayout(), SW_SHOWNOACTIVATE);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    SetFatalErrorSink(nullptr);
    SetFileDialogFunction(nullptr);
    DestroyAllProgramWindows();
  }

  Control& Named(const char* name) {
    Control* control = FindControl(*window_, name);
    EXPECT_NE(control, nullptr) << name;
    return *control;
  }
  // Replaces the layout's bindings of a control with ones that record every call.
  void RecordEvents(const char* name, std::span<const EventBinding> bindings) {
    Named(name).bindings.assign(bindings.begin(), bindings.end());
  }
  void Post(const char* name, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    PostMessageW(Named(name).hwnd, message, wParam, lParam);
    PumpFor(30);
  }

  ProgramWindow* window_ = nullptr;
};

int g_dialogsShown = 0;
BOOL CancelDialog(OPENFILENAMEW*) {
  ++g_dialogsShown;
  return FALSE;
}

// With the layout's own bindings: a click on the start button runs (over no pages here, so
// nothing is fetched and no dialog opens), a left press on the result list saves (the save
// dialog opens, and is cancelled). No other control reacts to anything.
TEST_F(EventsTest, LayoutBindsTheButtonToTheRunAndTheListPressToTheSave) {
  g_dialogsShown = 0;
  SetFileDialogFunction(CancelDialog);
  SetWindowTextW(Named(names::kPageCountBox).hwnd, L"0");
  ListBoxAddItem(names::kResultList, "联系人：张三");
  HWND results = Named(names::kResultList).hwnd;

  SendMessageW(Named(names::kStartButton).hwnd, BM_CLICK, 0, 0);
  PumpFor(50);
  EXPECT_EQ(g_dialogsShown, 0);
  EXPECT_EQ(SendMessageW(results, LB_GETCOUNT, 0, 0), 1);  // a run over no pages adds nothing

  Post(names::kResultList, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 5));
  Post(names::kResultList, WM_LBUTTONUP, 0, MAKELPARAM(10, 5));
  EXPECT_EQ(g_dialogsShown, 1);

  for (const char* other : {names::kPageCountBox, names::kCaptionLabel, names::kLinkList, names::kAddressBox, names::kInstructionBox})
    EXPECT_TRUE(Named(other).bindings.empty()) << other;
}

std::wstring ClipboardText() {
  if (!OpenClipboard(nullptr)) return L"(clipboard held)";
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const std::wstring text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : L"";
  if (data) GlobalUnlock(data);
  CloseClipboard();
  return text;
}

// Ctrl+C and Ctrl+S in whichever control has the focus, and the result list's context menu
// worked with the keys as a user works it: they copy every line or open the save dialog.
TEST_F(EventsTest, CtrlKeysAndTheListMenuCopyAllLinesOrSave) {
  g_dialogsShown = 0;
  SetFileDialogFunction(CancelDialog);
  ListBoxAddItem(names::kResultList, "联系人：张三");
  ListBoxAddItem(names::kResultList, "电话：1");
  const std::wstring all = Wide("联系人：张三\r\n电话：1");
  struct Way {
    const char* what;
    std::function<void()> act;
    std::wstring clipboard;
    int dialogs;
  };
  auto menu = [this](std::vector<WPARAM> keys) {
    Post(names::kResultList, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
    PostMessageW(Named(names::kResultList).hwnd, WM_RBUTTONUP, 0, MAKELPARAM(5, 5));
    for (WPARAM key : keys) PostMessageW(Named(names::kResultList).hwnd, WM_KEYDOWN, key, 1);
    PumpFor(200);
  };
  auto ctrl = [this](const char* control, WPARAM key, bool shift = false) {
    testing::HoldKeys(true, shift);
    Post(control, WM_KEYDOWN, key, 1);
  };
  const Way ways[] = {
      {"Ctrl+C in the instruction box", [&] { ctrl(names::kInstructionBox, 'C'); }, all, 0},
      {"Ctrl+Shift+C", [&] { ctrl(names::kResultList, 'C', true); }, L"", 0},
      {"Ctrl+S on the start button", [&] { ctrl(names::kStartButton, 'S'); }, L"", 1},
      {"the menu's first entry", [&] { menu({VK_DOWN, VK_RETURN}); }, all, 0},
      {"the menu's second entry", [&] { menu({VK_DOWN, VK_DOWN, VK_RETURN}); }, L"", 1},
      {"the menu left with Escape", [&] { menu({VK_ESCAPE}); }, L"", 0},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.what);
    OpenClipboard(nullptr);
    EmptyClipboard();
    CloseClipboard();
    g_dialogsShown = 0;
    way.act();
    testing::HoldKeys(false);
    EXPECT_EQ(ClipboardText(), way.clipboard);
    EXPECT_EQ(g_dialogsShown, way.dialogs);
    ASSERT_TRUE(IsWindow(window_->hwnd));  // Escape closed the menu, not the window
  }
  const UniqueMenu entries = MakeCommandMenu(MainWindowLayout());
  ASSERT_EQ(GetMenuItemCount(entries.Get()), 2);
  wchar_t text[2][32] = {};
  for (int i = 0; i < 2; ++i) GetMenuStringW(entries.Get(), i, text[i], 32, MF_BYPOSITION);
  EXPECT_EQ(Text(text[0]) + "," + Text(text[1]), "复制全部结果,保存结果…");
}

// A clipboard that another program keeps open: the copy says so in a box.
TEST_F(EventsTest, CopyWhileTheClipboardIsHeldSaysSo) {
  static std::vector<std::wstring> failures;
  failures.clear();
  SetSaveFailureFunction([](const std::wstring& text, const std::wstring&) { failures.push_back(text); });
  ListBoxAddItem(names::kResultList, "电话：1");
  const UniqueHandle opened(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread holder([&] {
    OpenClipboard(nullptr);
    SetEvent(opened.Get());
    WaitForSingleObject(done.Get(), 10000);
    CloseClipboard();
  });
  WaitForSingleObject(opened.Get(), 10000);
  testing::HoldKeys(true);
  Post(names::kResultList, WM_KEYDOWN, 'C', 1);
  testing::HoldKeys(false);
  SetEvent(done.Get());
  holder.join();
  SetSaveFailureFunction(nullptr);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].substr(0, 5), Wide("复制失败："));
}

TEST_F(EventsTest, LeftPressOnTheResultListFiresOnceOnAnItemAndOnTheEmptyArea) {
  static constexpr EventBinding kPress[] = {{kEventLeftDown, Record<kEventLeftDown>}};
  RecordEvents(names::kResultList, kPress);
  ListBoxAddItem(names::kResultList, "联系人：张三");
  Post(names::kResultList, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 5));  // on the item
  Post(names::kResultList, WM_LBUTTONUP, 0, MAKELPARAM(10, 5));
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].args, (std::vector<std::int32_t>{10, 5, 0}));
  Post(names::kResultList, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(200, 200));  // below the items
  Post(names::kResultList, WM_LBUTTONUP, 0, MAKELPARAM(200, 200));
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[1].args, (std::vector<std::int32_t>{200, 200, 0}));
}

TEST_F(EventsTest, DoubleClickFiresThePressOnce) {
  static constexpr EventBinding kPress[] = {{kEventLeftDown, Record<kEventLeftDown>}};
  RecordEvents(names::kResultList, kPress);
  // The system's order of a double click: down, up, double-click, up.
  for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
    PostMessageW(Named(names::kResultList).hwnd, message, 0, MAKELPARAM(20, 20));
  PumpFor(50);
  EXPECT_EQ(g_calls.size(), 1u);
}

TEST_F(EventsTest, RightButtonWheelAndKeysFireNothingBound) {
  // With the layout's own bindings, only a left press would reach the save operation; the
  // recording set shows each message arrives as its own event number instead.
  RecordEvents(names::kResultList, kRecordAll);
  Post(names::kResultList, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(3, 4));
  PostMessageW(Named(names::kResultList).hwnd, WM_RBUTTONUP, 0, MAKELPARAM(3, 4));
  Post(names::kResultList, WM_KEYDOWN, VK_ESCAPE, 1);  // leaves the context menu the release opens
  Post(names::kResultList, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(3, 4));
  Post(names::kResultList, WM_KEYDOWN, VK_DOWN, 1);
  Post(names::kResultList, WM_KEYUP, VK_DOWN, 1);
  std::vector<std::int32_t> numbers;
  for (const Call& call : g_calls) numbers.push_back(call.event);
  EXPECT_EQ(numbers, (std::vector<std::int32_t>{kEventRightDown, kEventRightUp, kEventWheel,
                                                 kEventKeyDown, kEventKeyUp}));
}

TEST_F(EventsTest, ButtonClickFiresEventZero) {
  static constexpr EventBinding kClick[] = {{kEventClicked, Record<kEventClicked>}};
  RecordEvents(names::kStartButton, kClick);
  SendMessageW(Named(names::kStartButton).hwnd, BM_CLICK, 0, 0);
  PumpFor(30);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].event, kEventClicked);
  EXPECT_TRUE(g_calls[0].args.empty());
}

TEST_F(EventsTest, HandlerAnsweringFalseKeepsThePressFromTheList) {
  static constexpr EventBinding kPress[] = {{kEventLeftDown, Record<kEventLeftDown>}};
  RecordEvents(names::kResultList, kPress);
  for (const char* line : {"a", "b", "c"}) ListBoxAddItem(names::kResultList, line);
  HWND list = Named(names::kResultList).hwnd;
  RECT third;
  SendMessageW(list, LB_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&third));
  const LPARAM at = MAKELPARAM(third.left + 4, third.top + 2);

  g_answer = false;
  Post(names::kResultList, WM_LBUTTONDOWN, MK_LBUTTON, at);
  Post(names::kResultList, WM_LBUTTONUP, 0, at);
  EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), LB_ERR);

  g_answer.reset();  // no answer: the list box gets the press and selects the item
  Post(names::kResultList, WM_LBUTTONDOWN, MK_LBUTTON, at);
  Post(names::kResultList, WM_LBUTTONUP, 0, at);
  EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(g_calls.size(), 2u);
}

TEST_F(EventsTest, NothingFiresWhileAFatalErrorIsReported) {
  static constexpr EventBinding kPress[] = {{kEventLeftDown, Record<kEventLeftDown>}};
  RecordEvents(names::kResultList, kPress);
  static HWND list;
  list = Named(names::kResultList).hwnd;
  SetFatalErrorSink([](const std::string&) {
    // The box would pump messages while it shows; a press arriving then must not run code.
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PumpFor(30);
    throw std::runtime_error("fatal");
  });
  EXPECT_THROW(ReportFatalError("x", 1), std::runtime_error);
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(FatalErrorDepth(), 0);
  Post(names::kResultList, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  EXPECT_EQ(g_calls.size(), 1u);
}

TEST(CommonEventTest, ArgumentsOfTheCommonEvents) {
  struct Row {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    BYTE control, shift, alt;  // key state at the time
    std::int32_t number;
    std::vector<std::int32_t> args;
  };
  const Row rows[] = {
      {WM_LBUTTONDOWN, 0, MAKELPARAM(7, 9), 0, 0, 0, kEventLeftDown, {7, 9, 0}},
      // Coordinates are the unsigned low and high words, also left of or above the control.
      {WM_LBUTTONUP, 0, MAKELPARAM(-5, -1), 0, 0, 0, kEventLeftUp, {65531, 65535, 0}},
      {WM_LBUTTONDBLCLK, 0, MAKELPARAM(1, 2), 0x80, 0, 0, kEventDoubleClick, {1, 2, 1}},
      {WM_RBUTTONDOWN, 0, MAKELPARAM(1, 2), 0, 0x80, 0, kEventRightDown, {1, 2, 2}},
      {WM_RBUTTONUP, 0, MAKELPARAM(1, 2), 0, 0, 0x80, kEventRightUp, {1, 2, 4}},
      {WM_MOUSEMOVE, 0, MAKELPARAM(3, 4), 0x80, 0x80, 0x80, kEventMouseMove, {3, 4, 7}},
      {WM_KEYDOWN, 'A', 0, 0x80, 0, 0, kEventKeyDown, {'A', 1}},
      {WM_KEYUP, VK_F5, 0, 0, 0x80, 0, kEventKeyUp, {VK_F5, 2}},
      {WM_CHAR, L'x', 0, 0, 0, 0, kEventChar, {L'x'}},
      // Wheel turns in whole notches, rounded toward zero.
      {WM_MOUSEWHEEL, MAKEWPARAM(0, 240), 0, 0, 0, 0, kEventWheel, {2, 0}},
      {WM_MOUSEWHEEL, MAKEWPARAM(0, 100), 0, 0, 0, 0, kEventWheel, {0, 0}},
      {WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-250)), 0, 0x80, 0, 0, kEventWheel, {-2, 1}},
      {WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-100)), 0, 0, 0, 0, kEventWheel, {0, 0}},
  };
  BYTE saved[256];
  ASSERT_TRUE(GetKeyboardState(saved));
  for (const Row& row : rows) {
    BYTE keys[256];
    std::copy(std::begin(saved), std::end(saved), keys);
    keys[VK_CONTROL] = row.control;
    keys[VK_SHIFT] = row.shift;
    keys[VK_MENU] = row.alt;
    ASSERT_TRUE(SetKeyboardState(keys));
    const MSG message = {nullptr, row.message, row.wParam, row.lParam};
    const std::optional<CommonEvent> event = CommonEventOf(message);
    ASSERT_TRUE(event.has_value()) << row.message;
    EXPECT_EQ(event->number, row.number) << row.message;
    EXPECT_EQ(event->args, row.args) << row.message;
  }
  SetKeyboardState(saved);
  for (UINT other : {WM_PAINT, WM_TIMER, WM_COMMAND, WM_MBUTTONDOWN})
    EXPECT_FALSE(CommonEventOf(MSG{nullptr, other, 0, 0}).has_value()) << other;
}

TEST_F(EventsTest, TabAndShiftTabGoRoundTheFocusableControlsInReverseTableOrder) {
  const char* const ring[] = {names::kInstructionBox, names::kStartButton, names::kAddressBox, names::kLinkList, names::kResultList};
  SetFocus(Named(names::kInstructionBox).hwnd);
  PumpFor(20);
  for (size_t step = 1; step <= 5; ++step) {
    Post(ring[(step - 1) % 5], WM_KEYDOWN, VK_TAB, 1);
    EXPECT_EQ(GetFocus(), Named(ring[step % 5]).hwnd) << "Tab to " << ring[step % 5];
  }
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_SHIFT] = 0x80;
  SetKeyboardState(keys);
  for (size_t step = 5; step >= 1; --step) {
    Post(ring[step % 5], WM_KEYDOWN, VK_TAB, 1);
    EXPECT_EQ(GetFocus(), Named(ring[step - 1]).hwnd) << "Shift+Tab to " << ring[step - 1];
  }
  keys[VK_SHIFT] = 0;
  SetKeyboardState(keys);
}

TEST_F(EventsTest, EnterBreaksTheLineOnlyInTheInstructionBox) {
  for (const char* name : {names::kAddressBox, names::kInstructionBox}) {
    HWND edit = Named(name).hwnd;
    const std::string before = WindowText(edit);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, 0);
    Post(name, WM_KEYDOWN, VK_RETURN, 1);
    const std::string after = WindowText(edit);
    if (std::string(name) == names::kInstructionBox) {
      EXPECT_EQ(after, "\r\n" + before);
    } else {
      EXPECT_EQ(after, before);
    }
    EXPECT_EQ(GetFocus(), edit) << name;
  }
}

TEST_F(EventsTest, EscapeClosesTheWindowFromEveryControl) {
  for (const char* name : {names::kInstructionBox, names::kStartButton, names::kAddressBox, names::kLinkList, names::kResultList}) {
    if (!window_) window_ = CreateProgramWindow(MainWindowLayout(), SW_SHOWNOACTIVATE);
    ASSERT_NE(window_, nullptr);
    SetFocus(Named(name).hwnd);
    HWND frame = window_->hwnd;
    Post(name, WM_KEYDOWN, VK_ESCAPE, 1);
    EXPECT_FALSE(IsWindow(frame)) << name;
    EXPECT_TRUE(LoadedWindows().empty()) << name;
    window_ = nullptr;
  }
}

void CALLBACK QuitAfterAll(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(7); }

// A loop other than the program's own, like the request object's wait, may take the quit
// message that the end of the window posts; the program's loop then still ends, because no
// window is left.
TEST_F(EventsTest, TheLoopEndsWithoutItsWindowWhenAnotherLoopTookTheQuitMessage) {
  SetLoopStarted(true);
  PostMessageW(window_->hwnd, WM_CLOSE, 0, 0);
  bool quitTaken = false;
  MSG message;
  for (int i = 0; i < 1000 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (message.message == WM_QUIT) quitTaken = true;
    DispatchMessageW(&message);
  }
  SetLoopStarted(false);
  window_ = nullptr;
  ASSERT_TRUE(LoadedWindows().empty());
  ASSERT_TRUE(quitTaken);
  // Should the loop wait for a quit message after all, one comes 3 s later.
  const UINT_PTR timer = SetTimer(nullptr, 0, 3000, QuitAfterAll);
  ASSERT_NE(timer, 0u);
  const ULONGLONG start = GetTickCount64();
  RunMessageLoop();
  const ULONGLONG elapsed = GetTickCount64() - start;
  KillTimer(nullptr, timer);
  while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
  EXPECT_LT(elapsed, 1000u);
}

}  // namespace
}  // namespace harvester
