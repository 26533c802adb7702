#include "tools/demo-site/site_pages.h"

#include <charconv>
#include <cstdio>

namespace harvester::demo {
namespace {

// The literals of this file are UTF-8 whatever the execution character set of the build.
std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

constexpr const char8_t* kSurnames[] = {u8"王", u8"李", u8"张", u8"刘", u8"陈", u8"杨", u8"赵",
                                        u8"黄", u8"周", u8"吴", u8"徐"};
constexpr const char8_t* kGivenNames[] = {u8"小明", u8"建国", u8"丽娟", u8"海燕", u8"志强", u8"秀英",
                                          u8"文博", u8"雨桐", u8"子涵", u8"晓东", u8"春梅", u8"国庆", u8"美玲"};
constexpr const char8_t* kGoods[] = {u8"九成新手机", u8"二手平板电脑", u8"闲置笔记本", u8"全新蓝牙耳机",
                                     u8"老式收音机", u8"儿童自行车", u8"实木书桌", u8"单反相机镜头",
                                     u8"电饭煲", u8"双人沙发"};
constexpr const char8_t* kAreas[] = {u8"浦东", u8"徐汇", u8"静安", u8"闵行", u8"宝山", u8"长宁", u8"普陀"};

template <typename T, size_t n>
const T& Pick(const T (&table)[n], long long key) {
  return table[static_cast<size_t>(key % static_cast<long long>(n))];
}

// The digits after a phone number's seven fixed digits: P and N folded into four places.
std::string Tail(int page, int number) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04d", static_cast<int>((page * 100LL + number) % 10000));
  return digits;
}

// A positive decimal number making up all of text; nullopt otherwise.
std::optional<int> PositiveNumber(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1) return std::nullopt;
  return value;
}

// The value of key in the query part of target, if the key is there.
std::optional<std::string_view> QueryValue(std::string_view target, std::string_view key) {
  const size_t question = target.find('?');
  if (question == std::string_view::npos) return std::nullopt;
  std::string_view query = target.substr(question + 1);
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const size_t equals = pair.find('=');
    if (pair.substr(0, equals) == key)
      return equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return std::nullopt;
}

std::string PageHead(const std::string& title) {
  return "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
         title + "</title>\n</head>\n";
}

}  // namespace

Listing ListingOf(int page, int number) {
  const long long key = static_cast<long long>(page) * 131 + number;
  Listing listing;
  listing.contact = U8(Pick(kSurnames, key * 7 + 3)) + U8(Pick(kGivenNames, key * 5 + page));
  listing.title = U8(u8"出售") + U8(Pick(kGoods, key + page)) + U8(u8"，") + U8(Pick(kAreas, key * 3)) +
                  U8(u8"可面交（编号") + std::to_string(page) + "-" + std::to_string(number) + U8(u8"）");
  listing.phones.push_back("1380000" + Tail(page, number));
  if (number % 3 == 0) listing.phones.push_back("1390000" + Tail(page, number));
  return listing;
}

std::string ListingUrl(std::string_view host, int page, int number) {
  return "http://" + std::string(host) + "/listing/" + std::to_string(page) + "-" + std::to_string(number) +
         ".html";
}

std::string ListPage(std::string_view host, int page) {
  std::string html = PageHead(U8(u8"二手手机 - 第") + std::to_string(page) + U8(u8"页 - 演示分类信息"));
  html += "<body>\n<div class=\"header\"><a class=\"logo\" href=\"/\">" + U8(u8"演示分类信息") +
          "</a></div>\n<ul class=\"list\">\n";
  for (int number = 1; number <= kListingsPerPage; ++number) {
    const Listing listing = ListingOf(page, number);
    html += "<li><a class=\"list-item\" href=\"" + ListingUrl(host, page, number) + "\">";
    html += "<div class=\"title\">" + listing.title + "</div><span class=\"price\">" +
            std::to_string(50 + (page * 37LL + number * 11) % 950) + U8(u8"元") + "</span></a></li>\n";
  }
  html += "</ul>\n<div class=\"pager\"><a class=\"next\" href=\"/sh_shouji/?page=" + std::to_string(page + 1) +
          "&amp;pageSize=45\">" + U8(u8"下一页") + "</a></div>\n</body>\n</html>\n";
  return html;
}

std::string ListingPage(int page, int number) {
  const Listing listing = ListingOf(page, number);
  std::string html = PageHead(listing.title);
  // The description closes a paragraph block before the contact block: the contact is the
  // text after the first "&nbsp;</p><p>", not after the first "</p></div>".
  html += "<body>\n<div class=\"detail\"><h1>" + listing.title + "</h1>\n<div class=\"desc\"><p>" +
          U8(u8"成色很好，有意者请联系。") + "</p></div>\n";
  html += "<div class=\"contact\"><p>" + U8(u8"联系人") + "&nbsp;</p><p>" + listing.contact + "</p></div>\n";
  html += "<div class=\"phones\">";
  for (const std::string& phone : listing.phones)
    html += "<a class=\"call\" href=\"tel:" + phone + "\">" + U8(u8"拨打") + " " + phone + "</a>";
  html += "</div>\n</div>\n</body>\n</html>\n";
  return html;
}

std::vector<std::string> ResultLines(int page) {
  std::vector<std::string> lines;
  for (int number = 1; number <= kListingsPerPage; ++number) {
    const Listing listing = ListingOf(page, number);
    lines.push_back(U8(u8"联系人：") + listing.contact);
    lines.push_back(U8(u8"标题文本：") + listing.title);
    for (const std::string& phone : listing.phones) lines.push_back(U8(u8"电话：") + phone);
  }
  return lines;
}

Answer AnswerFor(std::string_view host, std::string_view target) {
  const std::string_view path = target.substr(0, target.find('?'));
  if (path == "/sh_shouji/") {
    const auto value = QueryValue(target, "page");
    if (const auto page = value ? PositiveNumber(*value) : std::nullopt) return {200, ListPage(host, *page)};
  }
  constexpr std::string_view kListing = "/listing/", kSuffix = ".html";
  if (path.starts_with(kListing) && path.ends_with(kSuffix)) {
    const std::string_view name = path.substr(kListing.size(), path.size() - kListing.size() - kSuffix.size());
    const size_t dash = name.find('-');
    const auto page = dash == std::string_view::npos ? std::nullopt : PositiveNumber(name.substr(0, dash));
    const auto number = dash == std::string_view::npos ? std::nullopt : PositiveNumber(name.substr(dash + 1));
    if (page && number && *number <= kListingsPerPage) return {200, ListingPage(*page, *number)};
  }
  return {404, PageHead(U8(u8"页面不存在")) + "<body><p>" + U8(u8"页面不存在") + "</p></body>\n</html>\n"};
}

std::optional<unsigned short> PortOf(std::string_view host) {
  const size_t colon = host.rfind(':');
  if (colon == std::string_view::npos) return 80;
  const auto port = PositiveNumber(host.substr(colon + 1));
  if (!port || *port > 65535) return std::nullopt;
  return static_cast<unsigned short>(*port);
}

}  // namespace harvester::demo
