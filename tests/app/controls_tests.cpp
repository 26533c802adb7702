// The control operations by name, on the live main window.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/control_names.h"
#include "app/controls.h"
#include "app/main_window.h"
#include "tests/support/test_support.h"

namespace harvester {
namespace {

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(CreateProgramWindow(MainWindowLayout(), SW_SHOWNOACTIVATE), nullptr); }
  void TearDown() override { DestroyAllProgramWindows(); }
};

TEST_F(ControlsTest, EditBoxReadsWhatItShowsNow) {
  EXPECT_EQ(EditText(names::kPageCountBox), "1");
  SetWindowTextW(FindProgramControl(names::kPageCountBox)->hwnd, testing::Wide("12页").c_str());
  EXPECT_EQ(EditText(names::kPageCountBox), "12页");
  EXPECT_EQ(EditText("没有这个控件"), "");
}

TEST_F(ControlsTest, ListBoxAppendsInOrderAndReadsBack) {
  EXPECT_EQ(ListBoxItemCount(names::kResultList), 0);
  EXPECT_EQ(ListBoxAddItem(names::kResultList, "联系人：王五"), 0);
  EXPECT_EQ(ListBoxAddItem(names::kResultList, "电话：13800000000", 7), 1);
  EXPECT_EQ(ListBoxAddItem(names::kResultList, "a"), 2);  // unsorted: stays last
  EXPECT_EQ(ListBoxItemCount(names::kResultList), 3);
  EXPECT_EQ(ListBoxItemText(names::kResultList, 0), "联系人：王五");
  EXPECT_EQ(ListBoxItemText(names::kResultList, 2), "a");
  HWND list = FindProgramControl(names::kResultList)->hwnd;
  EXPECT_EQ(SendMessageW(list, LB_GETITEMDATA, 0, 0), 0);
  EXPECT_EQ(SendMessageW(list, LB_GETITEMDATA, 1, 0), 7);
  for (int outside : {-1, 3, 1000}) EXPECT_EQ(ListBoxItemText(names::kResultList, outside), "") << outside;
}

TEST_F(ControlsTest, ListViewHoldsTheLinksOfAnyLength) {
  EXPECT_EQ(ListViewItemCount(names::kLinkList), 0);
  EXPECT_EQ(ListViewInsertItem(names::kLinkList), 0);
  EXPECT_EQ(ListViewInsertItem(names::kLinkList), 1);
  EXPECT_EQ(ListViewInsertItem(names::kLinkList, -5), 2);  // negative: at the end
  EXPECT_EQ(ListViewInsertItem(names::kLinkList, 0), 0);
  EXPECT_EQ(ListViewItemCount(names::kLinkList), 4);
  EXPECT_EQ(ListViewText(names::kLinkList, 0), "");

  // Lengths around the first buffer and its doublings.
  for (size_t length : {1u, 510u, 511u, 512u, 1023u, 1024u, 5000u}) {
    const std::string link = "http://m.example/" + std::string(length, 'x') + "联系";
    ASSERT_TRUE(ListViewSetText(names::kLinkList, 1, 0, link));
    EXPECT_EQ(ListViewText(names::kLinkList, 1), link) << length;
  }
  EXPECT_EQ(ListViewText(names::kLinkList, 4), "");   // no such item
  EXPECT_EQ(ListViewText(names::kLinkList, 1, 3), "");  // no such column
  EXPECT_TRUE(ListViewDeleteAll(names::kLinkList));
  EXPECT_EQ(ListViewItemCount(names::kLinkList), 0);
}

TEST_F(ControlsTest, HeldListDrawsNothingUntilResumedWithItsChanges) {
  HWND list = FindProgramControl(names::kResultList)->hwnd;
  testing::PumpFor(50);
  ValidateRect(list, nullptr);
  EXPECT_TRUE(SetControlRedraw(names::kResultList, false));
  ListBoxAddItem(names::kResultList, "联系人：甲");
  EXPECT_FALSE(GetUpdateRect(list, nullptr, FALSE));
  EXPECT_TRUE(SetControlRedraw(names::kResultList, true));
  EXPECT_EQ(ListBoxItemCount(names::kResultList), 1);
  // Drawn again: the line added while held and the lines added from now on.
  testing::PumpFor(50);
  ValidateRect(list, nullptr);
  ListBoxAddItem(names::kResultList, "标题文本：乙");
  EXPECT_TRUE(GetUpdateRect(list, nullptr, FALSE));
  EXPECT_FALSE(SetControlRedraw("没有这个控件", false));
}

// Resuming the drawing must ask for it. Windows' list box does not invalidate anything when it
// is drawn again; Wine's invalidates itself only when a line it added while held fell on the
// visible page. Whatever the control invalidated on its own while held is validated here, so
// only the resume can put the list in the update region: all of it, the new lines with it.
TEST_F(ControlsTest, ResumedListIsDrawnAgainWithTheLinesAddedWhileHeld) {
  struct Row {
    const char* what;
    int linesBefore;  // drawn before the hold
    int linesHeld;    // added while held
  };
  const Row rows[] = {
      {"lines on the visible page", 0, 3},
      {"lines below the visible page", 60, 3},
  };
  HWND list = FindProgramControl(names::kResultList)->hwnd;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (int i = 0; i < row.linesBefore; ++i) ListBoxAddItem(names::kResultList, "联系人：甲");
    testing::PumpFor(50);
    ASSERT_TRUE(SetControlRedraw(names::kResultList, false));
    for (int i = 0; i < row.linesHeld; ++i) ListBoxAddItem(names::kResultList, "电话：13800000000");
    ValidateRect(list, nullptr);
    ASSERT_TRUE(SetControlRedraw(names::kResultList, true));

    RECT client = {};
    RECT update = {};
    GetClientRect(list, &client);
    EXPECT_TRUE(GetUpdateRect(list, &update, FALSE));
    EXPECT_TRUE(EqualRect(&update, &client));
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetUpdateRgn(list, region, FALSE), ERROR);
    for (int index = row.linesBefore; index < row.linesBefore + row.linesHeld; ++index) {
      RECT line = {};
      SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&line));
      RECT shown = {};
      if (IntersectRect(&shown, &line, &client)) EXPECT_TRUE(RectInRegion(region, &shown)) << index;
    }
    DeleteObject(region);
  }
}

}  // namespace
}  // namespace harvester
