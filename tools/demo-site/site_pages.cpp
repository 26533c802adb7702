#include "tools/demo-site/site_pages.h"

#include <charconv>
#include <cstdio>

#include "tests/support/site_pages.h"

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
  site::ListPage list;
  list.title = U8(u8"二手手机 - 第") + std::to_string(page) + U8(u8"页 - 演示分类信息");
  list.header = "<div class=\"header\"><a class=\"logo\" href=\"/\">" + U8(u8"演示分类信息") + "</a></div>\n";
  for (int number = 1; number <= kListingsPerPage; ++number) {
    const Listing listing = ListingOf(page, number);
    list.items.push_back({ListingUrl(host, page, number),
                          "<div class=\"title\">" + listing.title + "</div><span class=\"price\">" +
                              std::to_string(50 + (page * 37LL + number * 11) % 950) + U8(u8"元") + "</span>"});
  }
  list.nextPage = "/sh_shouji/?page=" + std::to_string(page + 1) + "&amp;pageSize=45";
  return site::Html(list);
}

std::string ListingPage(int page, int number) {
  Listing listing = ListingOf(page, number);
  // The description closes a paragraph block before the contact block: the contact is the
  // text after the first "&nbsp;</p><p>", not after the first "</p></div>".
  return site::Html(site::ListingPage{
      .title = std::move(listing.title),
      .contact = std::move(listing.contact),
      .phones = std::move(listing.phones),
      .description = "<div class=\"desc\"><p>" + U8(u8"成色很好，有意者请联系。") + "</p></div>\n",
  });
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
  return {404, site::Head(U8(u8"页面不存在")) + "<body><p>" + U8(u8"页面不存在") + "</p></body>\n</html>\n"};
}

std::optional<unsigned short> PortOf(std::string_view host) {
  const size_t colon = host.rfind(':');
  if (colon == std::string_view::npos) return 80;
  const auto port = PositiveNumber(host.substr(colon + 1));
  if (!port || *port > 65535) return std::nullopt;
  return static_cast<unsigned short>(*port);
}

}  // namespace harvester::demo
