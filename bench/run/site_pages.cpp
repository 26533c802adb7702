#include "bench/run/site_pages.h"

#include <windows.h>

#include <cstdint>
#include <string_view>

#include "base/text_codec.h"
#include "tests/support/site_pages.h"
#include "tests/support/utf8.h"
#include "tests/support/seeded_random.h"

namespace harvester::bench {
namespace {

using testing::Utf8;

constexpr std::wstring_view kCharacters =
    L"出售二手手机九成新无拆修电池健康屏幕完好配件齐全发票在保价格可议本人自用因换新机转让同城面交"
    L"先验货后付款非诚勿扰联系电话微信同号上海市浦东新区华为小米苹果三星安卓系统内存存储全网通双卡"
    L"双待原装充电器耳机包装盒说明书外观成色功能正常使用半年左右送手机壳钢化膜有意者请来电咨询谢谢";
constexpr std::wstring_view kPunctuation[] = {L"，", L"。", L"；", L"、", L"！"};
constexpr std::wstring_view kSurnames[] = {L"王", L"李", L"张", L"刘", L"陈", L"杨", L"赵", L"黄", L"周"};
constexpr std::wstring_view kCalls[] = {L"先生", L"女士"};

using Random = testing::SeededRandom;

// A sentence of Chinese: characters, now and then a number, a closing punctuation mark.
std::wstring Sentence(Random& random) {
  std::wstring text;
  const int length = 8 + static_cast<int>(random.Next(30));
  for (int i = 0; i < length; ++i) {
    text += kCharacters[random.Next(static_cast<std::uint32_t>(kCharacters.size()))];
    if (random.Next(40) == 0) text += std::to_wstring(random.Next(2000));
  }
  text += kPunctuation[random.Next(5)];
  return text;
}

std::string Paragraphs(Random& random, std::size_t bytes) {
  std::string html;
  while (html.size() < bytes) {
    std::wstring paragraph = L"<p class=\"desc\">";
    for (int s = 1 + static_cast<int>(random.Next(5)); s > 0; --s) paragraph += Sentence(random);
    html += Utf8(paragraph + L"</p>\n");
  }
  return html;
}

std::string RelatedItems(Random& random, const std::string& baseUrl, std::size_t bytes) {
  std::string html = "<ul class=\"related\">\n";
  while (html.size() < bytes) {
    html += "<li><a href=\"" + baseUrl + "/sh_shouji/" + std::to_string(100000 + random.Next(900000)) +
            "x.shtml\"><img src=\"//img.example.com/p/" + std::to_string(random.Next(1000000)) +
            ".jpg\"><span class=\"t\">" + Utf8(Sentence(random)) + "</span><span class=\"p\">" +
            std::to_string(100 + random.Next(5000)) + Utf8(L"元") + "</span></a></li>\n";
  }
  return html + "</ul>\n";
}

std::string ListingPath(int index) { return "/l/" + std::to_string(index) + ".html"; }

}  // namespace

Listing MakeListing(const std::string& baseUrl, int index, std::size_t size) {
  Random random(static_cast<std::uint64_t>(index) + 1);
  Listing listing;
  listing.path = ListingPath(index);
  const std::wstring title = L"出售二手手机" + std::to_wstring(index) + L"号 九成新";
  const std::wstring contact = std::wstring(kSurnames[index % 9]) + std::wstring(kCalls[index % 2]);
  listing.title = WideToText(title);
  listing.contact = WideToText(contact);
  listing.phones = {"138" + std::to_string(10000000 + index * 1237), "021-6" + std::to_string(1000000 + index)};

  // The markers a little past the middle, Chinese paragraphs around them, related items last.
  site::ListingPage page{.title = Utf8(title), .contact = Utf8(contact), .phones = listing.phones};
  page.description = Paragraphs(random, size * 55 / 100);
  const std::size_t around = site::Html(page).size();
  page.more = Paragraphs(random, size * 80 / 100 - around);
  page.more += RelatedItems(random, baseUrl, size - around - page.more.size() - 32);
  listing.body = site::Html(page);
  return listing;
}

std::string MakeListPage(const std::string& baseUrl, int count) {
  Random random(0);
  site::ListPage page{.title = Utf8(L"上海二手手机"), .nextPage = "/sh_shouji/?page=2"};
  for (int i = 1; i <= count; ++i) {
    std::string inner = "<div class=\"pic\"><img src=\"//img.example.com/p/" + std::to_string(random.Next(1000000)) +
                        ".jpg\"></div><div class=\"info\"><p class=\"t\">" + Utf8(Sentence(random)) + "</p>";
    inner += "<p class=\"p\"><span>" + std::to_string(100 + random.Next(5000)) + "</span>" + Utf8(L"元") + "</p></div>";
    page.items.push_back({baseUrl + ListingPath(i), std::move(inner)});
  }
  return site::Html(page);
}

unsigned long long Fingerprint(std::string_view bytes) {
  unsigned long long hash = 14695981039346656037ULL;
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return hash;
}

}  // namespace harvester::bench
