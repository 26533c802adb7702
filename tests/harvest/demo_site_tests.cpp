// The demo site's pages read with the program's own pieces: the link pattern finds exactly the
// listing links of a list page, and the markers and the phone pattern cut from each listing
// page exactly the result lines the site's generator promises.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "automation/regex_object.h"
#include "base/text_codec.h"
#include "harvest/fetch.h"
#include "harvest/page_text.h"
#include "harvest/text_search.h"
#include "tests/support/http_server.h"
#include "tests/support/test_support.h"
#include "tools/demo-site/site_pages.h"

namespace harvester {
namespace {

namespace demo = harvester::demo;
using testing::ProgramText;

constexpr char kHost[] = "127.0.0.1:18936";

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::vector<std::string> ProgramTexts(const std::vector<std::string>& utf8) {
  std::vector<std::string> texts;
  for (const std::string& line : utf8) texts.push_back(ProgramText(line));
  return texts;
}

TEST(DemoSite, ListPageLinksAreWhatTheLinkPatternFinds) {
  RegexObject regex;
  for (const int page : {1, 2, 17}) {
    SCOPED_TRACE(page);
    const std::string text = PageBytesToText(BytesOf(demo::ListPage(kHost, page)));
    regex.Search(R"re(<a class="list-item" href="(.*?)">)re", text);
    ASSERT_EQ(regex.GetMatchCount(), demo::kListingsPerPage);
    for (int n = 1; n <= demo::kListingsPerPage; ++n)
      EXPECT_EQ(regex.GetSubMatchText(n, 1), demo::ListingUrl(kHost, page, n)) << n;
  }
  EXPECT_EQ(demo::ListingUrl(kHost, 3, 7), "http://127.0.0.1:18936/listing/3-7.html");
}

TEST(DemoSite, ListingPagesGiveTheResultLinesOfTheirPage) {
  RegexObject regex;
  for (const int page : {1, 2}) {
    SCOPED_TRACE(page);
    std::vector<std::string> lines;
    for (int n = 1; n <= demo::kListingsPerPage; ++n) {
      const std::string text = PageBytesToText(BytesOf(demo::ListingPage(page, n)));
      int position = 0;
      const std::string title = GetTextBetween(text, "<title>", "</title>", position);
      position = 0;
      const std::string contact = GetTextBetween(text, "&nbsp;</p><p>", "</p></div>", position);
      lines.push_back("联系人：" + contact);
      lines.push_back("标题文本：" + title);
      regex.Search(R"re(href="tel:(.*?)")re", text);
      for (int i = 1; i <= regex.GetMatchCount(); ++i) lines.push_back("电话：" + regex.GetSubMatchText(i, 1));
    }
    EXPECT_EQ(lines, ProgramTexts(demo::ResultLines(page)));
  }
}

TEST(DemoSite, ListingsAreFixedMadeUpAndDistinct) {
  const std::vector<std::string> lines = demo::ResultLines(1);
  // Every listing has a contact and a title line and one phone; every third has a second phone.
  EXPECT_EQ(lines.size(), 45u * 3 + 15);
  EXPECT_NE(lines, demo::ResultLines(2));
  const demo::Listing third = demo::ListingOf(1, 3);
  EXPECT_EQ(third.phones, (std::vector<std::string>{"13800000103", "13900000103"}));
  EXPECT_EQ(demo::ListingOf(12, 44).phones, std::vector<std::string>{"13800001244"});
  EXPECT_EQ(ProgramText(lines[0]).substr(0, 8), "联系人：");
  EXPECT_EQ(ProgramText(lines[1]).substr(0, 10), "标题文本：");
  EXPECT_EQ(lines[2], "\xe7\x94\xb5\xe8\xaf\x9d\xef\xbc\x9a" "13800000101");  // UTF-8 "电话："
  for (int n = 1; n < demo::kListingsPerPage; ++n) {
    EXPECT_NE(demo::ListingOf(1, n).phones[0], demo::ListingOf(1, n + 1).phones[0]) << n;
    EXPECT_NE(demo::ListingOf(1, n).title, demo::ListingOf(1, n + 1).title) << n;
  }
}

// Every occurrence of the text between start and end in page, in order, by plain search.
std::vector<std::string> AllBetween(const std::string& page, const std::string& start, const std::string& end) {
  std::vector<std::string> found;
  for (size_t at = page.find(start); at != std::string::npos; at = page.find(start, at)) {
    at += start.size();
    const size_t stop = page.find(end, at);
    if (stop == std::string::npos) break;
    found.push_back(page.substr(at, stop - at));
    at = stop;
  }
  return found;
}

// The lines of list page p read from what the site answers, by plain search of its UTF-8 bytes:
// the list page's links followed one by one, each listing's first title and contact and all of
// its phone links.
std::vector<std::string> LinesReadFromTheSite(int page) {
  const std::string origin = std::string("http://") + kHost;
  std::vector<std::string> lines;
  const demo::Answer list = demo::AnswerFor(kHost, "/sh_shouji/?page=" + std::to_string(page));
  for (const std::string& url : AllBetween(list.body, "<a class=\"list-item\" href=\"", "\"")) {
    if (url.rfind(origin, 0) != 0) {
      ADD_FAILURE() << "a link off the site: " << url;
      continue;
    }
    const demo::Answer listing = demo::AnswerFor(kHost, url.substr(origin.size()));
    EXPECT_EQ(listing.status, 200) << url;
    const std::vector<std::string> titles = AllBetween(listing.body, "<title>", "</title>");
    const std::vector<std::string> contacts = AllBetween(listing.body, "&nbsp;</p><p>", "</p></div>");
    lines.push_back("联系人：" + ProgramText(contacts.empty() ? "" : contacts[0]));
    lines.push_back("标题文本：" + ProgramText(titles.empty() ? "" : titles[0]));
    for (const std::string& phone : AllBetween(listing.body, "href=\"tel:", "\"")) lines.push_back("电话：" + phone);
  }
  return lines;
}

TEST(DemoSite, ResultLinesAreWhatItsAnswersHold) {
  for (const int page : {1, 2, 9}) {
    SCOPED_TRACE(page);
    const std::vector<std::string> read = LinesReadFromTheSite(page);
    EXPECT_EQ(read.size(), 45u * 3 + 15);
    EXPECT_EQ(ProgramTexts(demo::ResultLines(page)), read);
  }
}

TEST(DemoSite, AnswersByPath) {
  struct Row {
    const char* target;
    int status;
  };
  const Row rows[] = {
      {"/sh_shouji/?page=3&url=shouji&pageSize=45&deal_type=1&agent=1&ifid=qz3g_list_next_wu", 200},
      {"/sh_shouji/?url=shouji&page=12", 200},
      {"/sh_shouji/?page=0", 404},
      {"/sh_shouji/?page=abc", 404},
      {"/sh_shouji/?page=", 404},
      {"/sh_shouji/", 404},
      {"/sh_shouji?page=1", 404},
      {"/listing/2-45.html", 200},
      {"/listing/2-46.html", 404},
      {"/listing/0-1.html", 404},
      {"/listing/1-1.htm", 404},
      {"/listing/1-x.html", 404},
      {"/", 404},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    EXPECT_EQ(demo::AnswerFor(kHost, row.target).status, row.status);
  }
  EXPECT_EQ(demo::AnswerFor(kHost, rows[0].target).body, demo::ListPage(kHost, 3));
  EXPECT_EQ(demo::AnswerFor(kHost, rows[1].target).body, demo::ListPage(kHost, 12));
  EXPECT_EQ(demo::AnswerFor(kHost, "/listing/2-45.html").body, demo::ListingPage(2, 45));
}

TEST(DemoSite, PortOfTheSiteHost) {
  EXPECT_EQ(demo::PortOf("127.0.0.1:18936"), 18936);
  EXPECT_EQ(demo::PortOf("m.example.com"), 80);
  EXPECT_EQ(demo::PortOf("h:65535"), 65535);
  EXPECT_EQ(demo::PortOf("h:0"), std::nullopt);
  EXPECT_EQ(demo::PortOf("h:65536"), std::nullopt);
  EXPECT_EQ(demo::PortOf("h:8o"), std::nullopt);
}

// The pages as the program receives them: through the request object from the loopback server
// answering with the site's generator.
TEST(DemoSite, PagesArriveThroughTheRequestObjectUnchanged) {
  testing::HttpServer server;
  ASSERT_TRUE(server.Started());
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  server.SetHandler([&host](const testing::RecordedRequest& request) {
    const demo::Answer answer = demo::AnswerFor(host, request.Target());
    testing::Response response;
    response.status = answer.status;
    response.body = answer.body;
    return response;
  });
  ComObject request;
  const Bytes list = FetchPage(request, server.Url("/sh_shouji/?page=2&url=shouji&pageSize=45"));
  EXPECT_EQ(list, BytesOf(demo::ListPage(host, 2)));
  const Bytes listing = FetchPage(request, demo::ListingUrl(host, 2, 9));
  EXPECT_EQ(listing, BytesOf(demo::ListingPage(2, 9)));
}

}  // namespace
}  // namespace harvester
