#include "tests/harvest/run_fixture.h"

#include "app/control_names.h"
#include "app/controls.h"
#include "app/file_dialog.h"
#include "app/layout.h"
#include "harvest/harvest_run.h"
#include "tests/support/site_pages.h"
#include "tests/support/test_support.h"

namespace harvester::testing {
namespace {

constexpr char kListQuery[] = "&url=shouji&pageSize=45&deal_type=1&agent=1&ifid=qz3g_list_next_wu";

std::string RequestTarget(const std::string& requestLine) {
  const size_t begin = requestLine.find(' ') + 1;
  return requestLine.substr(begin, requestLine.rfind(' ') - begin);
}

}  // namespace

Response Page(std::string body, DWORD delayMs) {
  Response response;
  response.body = std::move(body);
  response.delayMs = delayMs;
  return response;
}

std::string Listing(std::wstring_view title, std::wstring_view contact, std::vector<std::string> phones) {
  return site::Html(site::ListingPage{.title = Utf8(title), .contact = Utf8(contact), .phones = std::move(phones)});
}

std::string ListTarget(int page) { return std::string(kListPath) + "?page=" + std::to_string(page) + kListQuery; }

ProgramWindow* HarvestRunTest::window_ = nullptr;

void HarvestRunTest::SetUpTestSuite() { window_ = CreateProgramWindow(MainWindowLayout(), SW_SHOWNOACTIVATE); }

void HarvestRunTest::TearDownTestSuite() {
  DestroyAllProgramWindows();
  window_ = nullptr;
}

void HarvestRunTest::SetUp() {
  ASSERT_NE(window_, nullptr);
  ASSERT_TRUE(server_.Started());
  SetSiteHost("127.0.0.1:" + std::to_string(server_.Port()));
  SendMessageW(Hwnd(kResultList), LB_RESETCONTENT, 0, 0);
  ListViewDeleteAll(kLinkList);
  SetPageCount(L"1");
}

void HarvestRunTest::TearDown() {
  SetSiteHost(SITE_HOST);
  SetFileDialogFunction(nullptr);
}

HWND HarvestRunTest::Hwnd(const char* control) { return FindControl(*window_, control)->hwnd; }

void HarvestRunTest::SetPageCount(const wchar_t* text) { SetWindowTextW(Hwnd(names::kPageCountBox), text); }

std::string HarvestRunTest::ListPage(std::initializer_list<std::string> links) const {
  return ListPage(std::vector<std::string>(links));
}

std::string HarvestRunTest::ListPage(const std::vector<std::string>& links) const {
  site::ListPage page;
  for (const std::string& link : links) page.items.push_back({link.starts_with('/') ? server_.Url(link) : link, "x"});
  return site::Html(page);
}

std::vector<std::string> HarvestRunTest::Lines() {
  std::vector<std::string> lines;
  for (int i = 0; i < ListBoxItemCount(kResultList); ++i) lines.push_back(ListBoxItemText(kResultList, i));
  return lines;
}

std::vector<std::string> HarvestRunTest::Targets() const {
  std::vector<std::string> targets;
  for (const auto& request : server_.Requests()) targets.push_back(RequestTarget(request.requestLine));
  return targets;
}

void HarvestRunTest::ClickStart() {
  SendMessageW(Hwnd(names::kStartButton), BM_CLICK, 0, 0);
  PumpFor(50);
}

}  // namespace harvester::testing
