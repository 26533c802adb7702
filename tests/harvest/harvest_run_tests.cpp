// The harvest run in this process, with the real window, controls and platform objects,
// against the loopback server.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/control_names.h"
#include "app/controls.h"
#include "app/file_dialog.h"
#include "app/layout.h"
#include "app/main_window.h"
#include "app/harvest_window.h"
#include "automation/com_object.h"
#include "harvest/harvest_run.h"
#include "tests/harvest/request_doubles.h"
#include "tests/harvest/run_fixture.h"
#include "tests/support/stand_ins.h"
#include "tests/support/test_support.h"

namespace harvester {
namespace {

using testing::HarvestRunTest;
using testing::HttpServer;
using testing::Response;
using testing::kLinkList;
using testing::kListPath;
using testing::kResultList;
using testing::Listing;
using testing::ListTarget;
using testing::Page;
using testing::PumpFor;
using testing::Utf8;

TEST_F(HarvestRunTest, PageCountOfOneFetchesExactlyPageOneAndLeavesTheWindowOpen) {
  server_.Route(kListPath, Page("<html>no listings today</html>"));
  StopHarvestRun();  // outside a run: no effect on the next one
  ClickStart();
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].requestLine, "GET " + ListTarget(1) + " HTTP/1.1");
  EXPECT_EQ(requests[0].Header("Host"), "127.0.0.1:" + std::to_string(server_.Port()));
  EXPECT_TRUE(Lines().empty());
  PumpFor(200);
  EXPECT_TRUE(IsWindow(window_->hwnd));
  EXPECT_TRUE(IsWindowVisible(window_->hwnd));
}

TEST_F(HarvestRunTest, PageCountDecidesTheListPagesFetched) {
  struct Case {
    const wchar_t* count;
    int pages;
  };
  const Case cases[] = {{L"3", 3}, {L"2.5", 3}, {L"0", 0}, {L"-2", 0}, {L"", 0},
                        {L"abc", 0}, {L"+2", 2}, {L"０.５", 1}, {L" 1e0", 1}};
  server_.Route(kListPath, Page("<html></html>"));
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Text(c.count));
    const size_t before = server_.RequestCount();
    SetPageCount(c.count);
    ClickStart();
    const auto targets = Targets();
    ASSERT_EQ(targets.size() - before, static_cast<size_t>(c.pages));
    for (int p = 1; p <= c.pages; ++p) EXPECT_EQ(targets[before + p - 1], ListTarget(p));
  }
}

TEST_F(HarvestRunTest, ThreeListingsGiveTheirLinesInOrder) {
  server_.Route(kListPath, Page(ListPage({"/l/1.html", "/l/2.html", "/l/3.html"})));
  server_.Route("/l/1.html", Page(Listing(L"出售二手自行车", L"王先生", {})));
  server_.Route("/l/2.html", Page(Listing(L"", L"李女士", {"13800000001", "021-00000002"})));
  server_.Route("/l/3.html", Page(Listing(L"求购旧书", L"赵", {})));
  ClickStart();
  const std::vector<std::string> expected = {
      "联系人：王先生", "标题文本：出售二手自行车",
      "联系人：李女士", "标题文本：",
      "电话：13800000001", "电话：021-00000002",
      "联系人：赵",     "标题文本：求购旧书",
  };
  EXPECT_EQ(Lines(), expected);
  const std::vector<std::string> order = {ListTarget(1), "/l/1.html", "/l/2.html", "/l/3.html"};
  EXPECT_EQ(Targets(), order);
  EXPECT_EQ(ListViewItemCount(kLinkList), 0);
}

TEST_F(HarvestRunTest, LinksAreUsedAsCaptured) {
  // A duplicate is fetched twice; a relative link reaches no server and gives two empty lines.
  server_.Route(kListPath, Page(ListPage({"/l/d.html", "/l/rel.html", "/l/d.html"}) +
                                "<a class=\"list-item\" href=\"/l/rel.html\">"));
  server_.Route("/l/d.html", Page(Listing(L"标题", L"钱", {"1"})));
  server_.Route("/l/rel.html", Page(Listing(L"不该出现", L"孙", {"2"})));
  ClickStart();
  const std::vector<std::string> expected = {
      "联系人：钱", "标题文本：标题", "电话：1",
      "联系人：孙", "标题文本：不该出现", "电话：2",
      "联系人：钱", "标题文本：标题", "电话：1",
      "联系人：",   "标题文本：",
  };
  EXPECT_EQ(Lines(), expected);
  const std::vector<std::string> order = {ListTarget(1), "/l/d.html", "/l/rel.html", "/l/d.html"};
  EXPECT_EQ(Targets(), order);
}

TEST_F(HarvestRunTest, MarkersAreExactWhileThePhonePatternIgnoresCase) {
  server_.Route(kListPath, Page(ListPage({"/l/caps.html", "/l/early.html"})));
  server_.Route("/l/caps.html",
                Page(Utf8(L"<TITLE>大写标题</TITLE>&nbsp;</p><p>周</p></div><a HREF=\"TEL:400-000-0000\">")));
  server_.Route("/l/early.html",
                Page(Utf8(L"<title>t</title></p></div>早<p>&nbsp;</p><p>吴</p></div> </p></div>")));
  ClickStart();
  const std::vector<std::string> expected = {
      "联系人：周", "标题文本：", "电话：400-000-0000",
      "联系人：吴", "标题文本：t",
  };
  EXPECT_EQ(Lines(), expected);
}

TEST_F(HarvestRunTest, TheListsDrawTheirChangesAgainAfterARun) {
  // A run holds the drawing of the lists while it adds to them; afterwards a change to the
  // result list must make it draw again, as it did before the run.
  server_.Route(kListPath, Page(ListPage({"/l/1.html", "/l/2.html"})));
  server_.Route("/l/1.html", Page(Listing(L"一", L"甲", {"1"})));
  server_.Route("/l/2.html", Page(Listing(L"二", L"乙", {"2"})));
  HWND results = Hwnd(kResultList);
  const auto drawsAnAddedLine = [&] {
    SendMessageW(results, LB_RESETCONTENT, 0, 0);
    PumpFor(50);
    ValidateRect(results, nullptr);
    ListBoxAddItem(kResultList, "x");
    return GetUpdateRect(results, nullptr, FALSE) != FALSE;
  };
  ASSERT_TRUE(drawsAnAddedLine());  // the check itself sees a list that draws
  SendMessageW(results, WM_SETREDRAW, FALSE, 0);
  EXPECT_FALSE(drawsAnAddedLine());  // and one that does not
  SendMessageW(results, WM_SETREDRAW, TRUE, 0);
  SendMessageW(results, LB_RESETCONTENT, 0, 0);
  ClickStart();
  ASSERT_EQ(Lines().size(), 6u);
  EXPECT_TRUE(drawsAnAddedLine());
}

// A list page whose last line holds 1 MB of link openings that never close, after real links:
// every listing's lines, and the run over within 2 s of the page's arrival, on either engine.
TEST_F(HarvestRunTest, AnUnclosedLineOfLinkOpeningsCostsTheRunLittleOnEitherEngine) {
  std::string page = ListPage({"/l/1.html", "/l/2.html"}) + "\n";
  while (page.size() < (1u << 20)) page += "<a class=\"list-item\" href=\"/l/";
  server_.Route("/l/1.html", Page(Listing(L"一", L"甲", {"1"})));
  server_.Route("/l/2.html", Page(Listing(L"二", L"乙", {"2"})));
  std::atomic<ULONGLONG> arrived{0};
  server_.SetHandler([&](const testing::RecordedRequest&) {
    arrived = GetTickCount64();
    return Page(page);
  });
  for (const bool builtIn : {false, true}) {
    SCOPED_TRACE(builtIn ? "built-in engine" : "the platform's object");
    std::optional<testing::ClassStandIn> withoutPlatformObject;
    if (builtIn) withoutPlatformObject.emplace(L"VBScript.RegExp", [](ComPtr<IDispatch>) { return nullptr; });
    ComObject platform;
    EXPECT_EQ(Create(platform, "VBScript.RegExp"), !builtIn);
    SendMessageW(Hwnd(kResultList), LB_RESETCONTENT, 0, 0);
    ClickStart();
    const double seconds = static_cast<double>(GetTickCount64() - arrived) / 1000.0;
    std::printf("%s: the run ended %.2f s after the list page arrived\n", builtIn ? "built-in" : "platform", seconds);
    const std::vector<std::string> expected = {"联系人：甲", "标题文本：一", "电话：1",
                                               "联系人：乙", "标题文本：二", "电话：2"};
    EXPECT_EQ(Lines(), expected);
    EXPECT_LT(seconds, 2.0);
  }
}

// Reads a control of the GUI thread from another thread; the run's waits for responses
// answer sent messages. -1 when the GUI thread did not answer.
LRESULT AskGuiThread(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, 3000, &result)) return -1;
  return static_cast<LRESULT>(result);
}

TEST_F(HarvestRunTest, EarlierPagesStayWhileLaterPagesRunAndTheLinkListHoldsOnlyTheCurrentPage) {
  // Listing a answers slowly; while page 2's copy of it is on its way the controls are looked at.
  server_.Route(kListPath, Page(ListPage({"/l/a.html", "/l/b.html"})));
  SetPageCount(L"2");
  server_.Route("/l/a.html", Page(Listing(L"A", L"甲", {"1"}), 600));
  server_.Route("/l/b.html", Page(Listing(L"B", L"乙", {})));
  HWND results = Hwnd(kResultList);
  HWND links = Hwnd(kLinkList);
  std::atomic<LRESULT> linesSeen{-2}, linksSeen{-2};
  std::thread watcher([&] {
    // Requests: list 1, a, b, list 2, a (the fifth), b.
    if (!server_.WaitForRequests(5, 10000)) return;
    Sleep(100);
    linesSeen = AskGuiThread(results, LB_GETCOUNT);
    linksSeen = AskGuiThread(links, LVM_GETITEMCOUNT);
  });
  ClickStart();
  watcher.join();
  // While page 2's first listing was on its way: page 1's five lines, page 2's two links.
  EXPECT_EQ(linesSeen.load(), 5);
  EXPECT_EQ(linksSeen.load(), 2);
  const std::vector<std::string> onePage = {"联系人：甲", "标题文本：A", "电话：1", "联系人：乙", "标题文本：B"};
  std::vector<std::string> expected = onePage;
  expected.insert(expected.end(), onePage.begin(), onePage.end());
  EXPECT_EQ(Lines(), expected);
  const std::vector<std::string> order = {ListTarget(1), "/l/a.html", "/l/b.html",
                                          ListTarget(2), "/l/a.html", "/l/b.html"};
  EXPECT_EQ(Targets(), order);
  EXPECT_EQ(ListViewItemCount(kLinkList), 0);
}

std::atomic<int> g_dialogsShown{0};
BOOL CountDialog(OPENFILENAMEW*) {
  ++g_dialogsShown;
  return FALSE;
}

void PostClick(HWND hwnd) {
  PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  PostMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
}

TEST_F(HarvestRunTest, InputDuringARunStartsNothingThenOrLater) {
  g_dialogsShown = 0;
  SetFileDialogFunction(CountDialog);
  // Two pages of one slow listing: the user's input arrives both while a response is awaited
  // and while the run pauses after a page, when nothing takes messages.
  SetPageCount(L"2");
  server_.Route(kListPath, Page(ListPage({"/l/slow.html"})));
  server_.Route("/l/slow.html", Page(Listing(L"慢", L"郑", {}), 800));
  HWND start = Hwnd(names::kStartButton);
  HWND results = Hwnd(kResultList);
  std::thread user([&] {
    if (!server_.WaitForRequests(2, 10000)) return;
    ULONGLONG until = GetTickCount64() + 20000;
    bool lastListingAsked = false;
    while (GetTickCount64() < until) {  // the impatient user clicks again and again, and on the list
      if (!lastListingAsked && server_.RequestCount() >= 4) {
        lastListingAsked = true;
        until = GetTickCount64() + 1000;  // into the pause after the last page
      }
      PostClick(start);
      PostClick(results);
      PostMessageW(start, WM_KEYDOWN, VK_SPACE, 0);
      PostMessageW(start, WM_KEYUP, VK_SPACE, 0);
      // and the results' other ways out: Ctrl+C, Ctrl+S, the list's menu and its first entry
      for (const WPARAM key : {'C', 'S'}) PostMessageW(start, WM_KEYDOWN, key, 0);
      PostMessageW(results, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
      PostMessageW(results, WM_RBUTTONUP, 0, MAKELPARAM(5, 5));
      for (const WPARAM key : {VK_DOWN, VK_RETURN}) PostMessageW(results, WM_KEYDOWN, key, 0);
      Sleep(50);
    }
  });
  SetFocus(start);
  testing::HoldKeys(true);
  const DWORD clipboard = GetClipboardSequenceNumber();
  ClickStart();
  user.join();
  PumpFor(300);
  testing::HoldKeys(false);
  EXPECT_EQ(server_.RequestCount(), 4u);  // two list pages and their listings: one run
  EXPECT_EQ(g_dialogsShown.load(), 0);
  EXPECT_EQ(GetClipboardSequenceNumber(), clipboard);
  const std::vector<std::string> expected = {"联系人：郑", "标题文本：慢", "联系人：郑", "标题文本：慢"};
  EXPECT_EQ(Lines(), expected);
  EXPECT_TRUE(IsWindow(window_->hwnd));

  // Once the run is over, the button and the list answer again.
  SetPageCount(L"1");
  server_.Route("/l/slow.html", Page(Listing(L"慢", L"郑", {})));
  PostClick(start);
  PumpFor(100);
  EXPECT_TRUE(server_.WaitForRequests(6, 5000));
  PostClick(results);
  PumpFor(100);
  EXPECT_EQ(g_dialogsShown.load(), 1);
}

// The run against the platform's request object and against each double of it: whatever the
// double, the run keeps the fetch's rules.
class RunByRequestMode : public HarvestRunTest, public ::testing::WithParamInterface<testing::RequestMode> {
 protected:
  void SetUp() override {
    HarvestRunTest::SetUp();
    ASSERT_TRUE(doubles_.Registered());
  }
  void TearDown() override {
    EXPECT_EQ(doubles_.BrokenRules(), "");
    HarvestRunTest::TearDown();
  }

  testing::RequestDoubles doubles_{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Modes, RunByRequestMode, ::testing::ValuesIn(testing::kRequestModes), testing::ModeName);

// The ways a window is closed while a run waits for a slow listing (10 s): the window goes, the
// run gives up that listing and asks for no other, and the start button's click returns well
// within a second of the window's end. (The end itself takes 2 s under Wine where its windows
// are left to a window manager that is not there, with or without a run.) Before the close,
// the window is drawn again within a second of being invalidated, while the run waits.
TEST_P(RunByRequestMode, ClosingTheWindowDuringARunStopsTheRunAtOnce) {
  struct Route {
    const char* name;
    void (*close)(HWND frame, HWND focused);
  };
  const Route routes[] = {
      {"WM_CLOSE", [](HWND frame, HWND) { PostMessageW(frame, WM_CLOSE, 0, 0); }},
      {"close from the system menu", [](HWND frame, HWND) { PostMessageW(frame, WM_SYSCOMMAND, SC_CLOSE, 0); }},
      {"Escape in the focused control", [](HWND, HWND focused) { PostMessageW(focused, WM_KEYDOWN, VK_ESCAPE, 1); }},
      {"Alt+F4 in the focused control",
       [](HWND, HWND focused) { PostMessageW(focused, WM_SYSKEYDOWN, VK_F4, 1 | (1 << 29)); }},
      {"end of the session", [](HWND frame, HWND) {
         DWORD_PTR answer = 0;
         SendMessageTimeoutW(frame, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 1000, &answer);
         SendMessageTimeoutW(frame, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 1000, &answer);
       }},
  };
  for (const Route& route : routes) {
    SCOPED_TRACE(route.name);
    if (!window_) {
      window_ = CreateProgramWindow(MainWindowLayout(), SW_SHOWNOACTIVATE);
      ASSERT_NE(window_, nullptr);
    }
    HttpServer server;
    ASSERT_TRUE(server.Started());
    SetSiteHost("127.0.0.1:" + std::to_string(server.Port()));
    Response slow = Page(Listing(L"慢", L"郑", {}), 10000);
    server.Route("/l/slow.html", slow);
    server.Route("/l/next.html", Page(Listing(L"下一个", L"王", {})));
    server.Route(kListPath, Page("<a class=\"list-item\" href=\"" + server.Url("/l/slow.html") +
                                 "\"><a class=\"list-item\" href=\"" + server.Url("/l/next.html") + "\">"));
    HWND frame = window_->hwnd;
    HWND start = Hwnd("按钮1");
    SetFocus(start);
    std::atomic<ULONGLONG> closedAt{0}, goneAt{0};
    std::atomic<bool> drawn{false};
    std::thread user([&] {
      if (!server.WaitForRequests(2, 10000)) return;  // the list page, then the slow listing
      Sleep(300);  // well inside the wait for it, also inside a request object's own wait of 1 s
      InvalidateRect(frame, nullptr, TRUE);
      for (const ULONGLONG end = GetTickCount64() + 1000; !drawn && GetTickCount64() < end; Sleep(5))
        drawn = !GetUpdateRect(frame, nullptr, FALSE);
      closedAt = GetTickCount64();
      route.close(frame, start);
      while (IsWindow(frame) && GetTickCount64() - closedAt < 12000) Sleep(5);
      goneAt = GetTickCount64();
    });
    SendMessageW(start, BM_CLICK, 0, 0);
    const ULONGLONG returnedAt = GetTickCount64();
    user.join();
    const bool closed = !IsWindow(frame);
    if (closed) window_ = nullptr;  // gone with its window
    PumpFor(50);
    ASSERT_NE(closedAt.load(), 0u) << "the run did not reach the slow listing";
    const double windowGone = static_cast<double>(goneAt.load()) - static_cast<double>(closedAt.load());
    const double returnedAfter = static_cast<double>(returnedAt) - static_cast<double>(goneAt.load());
    std::printf("%s: the window went %.0f ms after the close, the run returned %.0f ms after that\n",
                route.name, windowGone, returnedAfter);
    EXPECT_TRUE(drawn);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(LoadedWindows().empty());
    EXPECT_LT(windowGone, 3000.0);
    EXPECT_LT(returnedAfter, 500.0);
    EXPECT_EQ(server.RequestCount(), 2u);  // the next listing was not asked for
    doubles_.ExpectGivenUp(server.Url("/l/slow.html"));
  }
  SetSiteHost("127.0.0.1:" + std::to_string(server_.Port()));
  if (!window_) window_ = CreateProgramWindow(MainWindowLayout(), SW_SHOWNOACTIVATE);
  ASSERT_NE(window_, nullptr);
}

}  // namespace
}  // namespace harvester
