#pragma once
// The harvest run in this process, with the real window, controls and platform objects,
// against the loopback server: what the run's test suites share.
#include <windows.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "app/control_names.h"
#include "app/main_window.h"
#include "tests/support/http_server.h"
#include "tests/support/utf8.h"

namespace harvester::testing {

using names::kLinkList;
using names::kResultList;
inline constexpr char kListPath[] = "/sh_shouji/";

Response Page(std::string body, DWORD delayMs = 0);
// A listing page as the site writes it, UTF-8; an empty title leaves the title element out.
std::string Listing(std::wstring_view title, std::wstring_view contact, std::vector<std::string> phones);
// The target of list page p, as the run asks for it.
std::string ListTarget(int page);

class HarvestRunTest : public ::testing::Test {
 protected:
  // One window for the suite: destroying a window is slow under Wine.
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  static HWND Hwnd(const char* control);
  static void SetPageCount(const wchar_t* text);
  // A list page whose links are the given targets on this server, or written as they are
  // when they do not begin with '/'.
  std::string ListPage(std::initializer_list<std::string> links) const;
  std::string ListPage(const std::vector<std::string>& links) const;
  static std::vector<std::string> Lines();
  std::vector<std::string> Targets() const;
  // The user's click on the start button; returns when the run has ended.
  static void ClickStart();

  static ProgramWindow* window_;
  HttpServer server_;
};

}  // namespace harvester::testing
