#include "tests/support/site_pages.h"

namespace harvester::site {
namespace {

// The literals of this file are UTF-8 whatever the execution character set of the build.
std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

}  // namespace

std::string Head(std::string_view title) {
  std::string head =
      "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  if (!title.empty()) head += "<title>" + std::string(title) + "</title>\n";
  return head + "</head>\n";
}

std::string Html(const ListPage& page) {
  std::string html = Head(page.title) + "<body>\n" + page.header + "<ul class=\"list\">\n";
  for (const ListItem& item : page.items)
    html += "<li><a class=\"list-item\" href=\"" + item.url + "\">" + item.inner + "</a></li>\n";
  html += "</ul>\n";
  if (!page.nextPage.empty())
    html += "<div class=\"pager\"><a class=\"next\" href=\"" + page.nextPage + "\">" + U8(u8"下一页") + "</a></div>\n";
  return html + "</body>\n</html>\n";
}

std::string Html(const ListingPage& page) {
  std::string html = Head(page.title) + "<body>\n<div class=\"detail\"><h1>" + page.title + "</h1>\n";
  html += page.description;
  html += "<div class=\"contact\"><p>" + U8(u8"联系人") + "&nbsp;</p><p>" + page.contact + "</p></div>\n";
  html += "<div class=\"phones\">";
  for (const std::string& phone : page.phones)
    html += "<a class=\"call\" href=\"tel:" + phone + "\">" + U8(u8"拨打") + " " + phone + "</a>";
  html += "</div>\n</div>\n";
  return html + page.more + "</body>\n</html>\n";
}

}  // namespace harvester::site
