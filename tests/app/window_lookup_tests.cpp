// Finding a program window and its controls from their handles and IDs, with more than one
// window made from the same layout.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <vector>

#include "app/control_names.h"
#include "app/main_window.h"
#include "base/owners.h"
#include "tests/support/test_support.h"

namespace harvester {
namespace {

struct WindowTraits {
  using Value = HWND;
  static Value None() noexcept { return nullptr; }
  static bool Close(Value value) noexcept { return DestroyWindow(value) != FALSE; }
};
using UniqueWindow = UniqueResource<WindowTraits>;

std::vector<int> g_clicks;  // which recorder ran, in order

template <int kWhich>
std::optional<bool> RecordClick(std::span<const std::int32_t>) {
  g_clicks.push_back(kWhich);
  return std::nullopt;
}
constexpr EventBinding kClickA[] = {{kEventClicked, RecordClick<1>}};
constexpr EventBinding kClickB[] = {{kEventClicked, RecordClick<2>}};

class WindowLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_clicks.clear();
    first_ = CreateProgramWindow(MainWindowLayout(), SW_SHOWNOACTIVATE);
    ASSERT_NE(first_, nullptr);
  }
  void TearDown() override { DestroyAllProgramWindows(); }

  // Every control of window, as the lookups must give it back from its handle and its ID.
  static void ExpectFoundFromItsHandle(ProgramWindow& window) {
    for (Control& control : window.controls) {
      SCOPED_TRACE(control.layout->name);
      if (!control.hwnd) continue;
      EXPECT_EQ(GetDlgCtrlID(control.hwnd), control.layout->id);
      ProgramWindow* owner = nullptr;
      EXPECT_EQ(FindControlOfHwnd(control.hwnd, &owner), &control);
      EXPECT_EQ(owner, &window);
      EXPECT_EQ(FindControlById(window, control.layout->id), &control);
      EXPECT_EQ(FindProgramWindow(control.hwnd), nullptr);  // a control is not a program window
    }
  }

  static void SendClick(ProgramWindow& to, const char* idOf, HWND sender) {
    const int id = FindControl(to, idOf)->layout->id;
    SendMessageW(to.hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(sender));
  }

  ProgramWindow* first_ = nullptr;
};

TEST_F(WindowLookupTest, WindowAndEveryControlAreFoundFromTheirHandles) {
  EXPECT_EQ(FindProgramWindow(first_->hwnd), first_);
  EXPECT_EQ(FindControlOfHwnd(first_->hwnd, nullptr), nullptr);
  ExpectFoundFromItsHandle(*first_);
  EXPECT_EQ(FindProgramWindow(nullptr), nullptr);
  EXPECT_EQ(FindProgramWindow(GetDesktopWindow()), nullptr);
  // The list view's header lies inside a control, not in the window.
  HWND header = reinterpret_cast<HWND>(
      SendMessageW(FindControl(*first_, names::kLinkList)->hwnd, LVM_GETHEADER, 0, 0));
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(FindControlOfHwnd(header, nullptr), nullptr);
}

TEST_F(WindowLookupTest, ForeignWindowsAreNotTakenForTheProgramsOwn) {
  // A child of the window that is no control of it, with the ID of the result list.
  const int listId = FindControl(*first_, names::kResultList)->layout->id;
  const UniqueWindow stranger(CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD, 0, 0, 10, 10, first_->hwnd,
                                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(listId)), nullptr,
                                              nullptr));
  ASSERT_TRUE(stranger);
  EXPECT_EQ(FindControlOfHwnd(stranger.Get(), nullptr), nullptr);
  // A window of the program's class made without a window object has none.
  wchar_t className[64] = {};
  ASSERT_GT(GetClassNameW(first_->hwnd, className, 64), 0);
  const UniqueWindow bare(CreateWindowExW(0, className, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                          GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(bare);
  EXPECT_EQ(FindProgramWindow(bare.Get()), nullptr);
  EXPECT_EQ(LoadedWindows().size(), 1u);
}

TEST_F(WindowLookupTest, ControlIsFoundByItsIdAfterTheStackingOrderChanges) {
  // Each control in table order to the top: the stacking ends up reversed.
  for (const Control& control : first_->controls)
    if (control.hwnd) SetWindowPos(control.hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ASSERT_EQ(GetWindow(first_->hwnd, GW_CHILD), FindControl(*first_, names::kInstructionBox)->hwnd);
  ExpectFoundFromItsHandle(*first_);
}

TEST_F(WindowLookupTest, TwoWindowsFromOneLayoutKeepTheirControlsApart) {
  ProgramWindow* second = CreateProgramWindow(MainWindowLayout(), SW_SHOWNOACTIVATE);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(FindProgramWindow(second->hwnd), second);
  ExpectFoundFromItsHandle(*first_);
  ExpectFoundFromItsHandle(*second);
  HWND firstButton = FindControl(*first_, names::kStartButton)->hwnd;
  HWND secondButton = FindControl(*second, names::kStartButton)->hwnd;
  EXPECT_NE(firstButton, secondButton);
  EXPECT_EQ(GetDlgCtrlID(firstButton), GetDlgCtrlID(secondButton));

  DestroyWindow(first_->hwnd);
  first_ = nullptr;
  ASSERT_EQ(LoadedWindows().size(), 1u);
  EXPECT_EQ(LoadedWindows().front().get(), second);
  ExpectFoundFromItsHandle(*second);
}

TEST_F(WindowLookupTest, ClickFromAControlOfAnotherWindowIsNotTakenForOurs) {
  ProgramWindow* second = CreateProgramWindow(MainWindowLayout(), SW_SHOWNOACTIVATE);
  ASSERT_NE(second, nullptr);
  FindControl(*first_, names::kStartButton)->bindings.assign(std::begin(kClickA), std::end(kClickA));
  FindControl(*second, names::kStartButton)->bindings.assign(std::begin(kClickB), std::end(kClickB));
  HWND firstButton = FindControl(*first_, names::kStartButton)->hwnd;
  HWND secondButton = FindControl(*second, names::kStartButton)->hwnd;

  SendClick(*first_, names::kStartButton, secondButton);  // the right ID, another window's button
  SendClick(*first_, names::kStartButton, FindControl(*first_, names::kResultList)->hwnd);  // not that ID's
  EXPECT_TRUE(g_clicks.empty());
  SendClick(*first_, names::kStartButton, firstButton);
  EXPECT_EQ(g_clicks, std::vector<int>{1});
  // A real click on each button reaches its own window's binding.
  SendMessageW(secondButton, BM_CLICK, 0, 0);
  SendMessageW(firstButton, BM_CLICK, 0, 0);
  testing::PumpFor(30);
  EXPECT_EQ(g_clicks, (std::vector<int>{1, 2, 1}));
}

TEST(ControlIdsTest, EveryControlWithAWindowHasAnIdOfItsOwn) {
  EXPECT_TRUE(ControlIdsAreSound(MainWindowLayout().controls));
  const auto row = [](const char* name, int id, ControlKind kind) {
    return ControlLayout{name, id, kind, 0, 0, 1, 1, 0, 0, true, true, true, "", {}};
  };
  struct Case {
    const char* what;
    std::vector<ControlLayout> controls;
    bool sound;
  };
  const Case cases[] = {
      {"distinct", {row("a", 1, ControlKind::EditBox), row("b", 0xFFFF, ControlKind::Button)}, true},
      {"dialog without", {row("a", 1, ControlKind::EditBox), row("d", 0, ControlKind::CommonDlg)}, true},
      {"twice", {row("a", 7, ControlKind::EditBox), row("b", 7, ControlKind::ListBox)}, false},
      {"zero", {row("a", 0, ControlKind::Label)}, false},
      {"beyond a word", {row("a", 0x10000, ControlKind::Button)}, false},
      {"dialog with one", {row("d", 3, ControlKind::CommonDlg)}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ControlIdsAreSound(c.controls), c.sound);
  }
}

}  // namespace
}  // namespace harvester
