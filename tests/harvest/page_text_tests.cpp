// Fetched UTF-8 pages turned into program text (code page 936) through UTF-16.
#include <gtest/gtest.h>

#include <string>

#include "harvest/page_text.h"

namespace harvester {
namespace {

Bytes BytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

struct ConversionCase {
  const char* what;
  std::string utf8;      // page bytes as they arrive
  std::string expected;  // program text
};

// The prefixes in UTF-8 (written as escapes: the source's literals are compiled to code page 936).
const ConversionCase kCases[] = {
    {"empty", "", ""},
    {"ASCII unchanged", "<a class=\"list-item\" href=\"/x/1.html\">13800138000</a>",
     "<a class=\"list-item\" href=\"/x/1.html\">13800138000</a>"},
    {"contact prefix", "\xE8\x81\x94\xE7\xB3\xBB\xE4\xBA\xBA\xEF\xBC\x9A", "联系人："},
    {"title prefix", "\xE6\xA0\x87\xE9\xA2\x98\xE6\x96\x87\xE6\x9C\xAC\xEF\xBC\x9A", "标题文本："},
    {"telephone prefix", "\xE7\x94\xB5\xE8\xAF\x9D\xEF\xBC\x9A", "电话："},
    {"GBK bytes of the prefixes, explicitly", "\xE7\x94\xB5\xE8\xAF\x9D\xEF\xBC\x9A", "\xB5\xE7\xBB\xB0\xA3\xBA"},
    {"byte order mark converted, not stripped", "\xEF\xBB\xBF" "abc", "?abc"},
    {"NUL ends the text", std::string("ab\0cd", 5), "ab"},
    {"NUL first gives the empty text", std::string("\0abc", 4), ""},
    {"character the code page lacks becomes its default", "a\xF0\x9F\x98\x80z", "a??z"},
    {"base plus combining acute precomposed", "e\xCC\x81", "\xA8\xA6"},
};

TEST(PageBytesToText, Table) {
  for (const ConversionCase& row : kCases) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(PageBytesToText(BytesOf(row.utf8)), row.expected);
  }
}

TEST(PageBytesToText, InvalidUtf8IsReplacedAndTheRestKept) {
  const std::string text = PageBytesToText(BytesOf("<title>\xC3(\xFF</title>"));
  ASSERT_GE(text.size(), 15u);
  EXPECT_EQ(text.substr(0, 7), "<title>");
  EXPECT_EQ(text.substr(text.size() - 8), "</title>");
  EXPECT_NE(text.find('('), std::string::npos);
  // Every invalid byte leaves a replacement, so the markers of the run still cut around it.
  EXPECT_GT(text.size(), std::string("<title>(</title>").size());
}

TEST(PageBytesToText, GbkPageKeepsItsAsciiButNotItsChinese) {
  // The page is code page 936 already: 电话 then markers, a link and digits.
  const std::string gbk = "<title>电话</title><a class=\"list-item\" href=\"/a/7.html\">href=\"tel:021-555\"";
  const std::string text = PageBytesToText(BytesOf(gbk));
  EXPECT_NE(text.find("<title>"), std::string::npos);
  EXPECT_NE(text.find("</title><a class=\"list-item\" href=\"/a/7.html\">href=\"tel:021-555\""), std::string::npos);
  EXPECT_EQ(text.find("电话"), std::string::npos);
}

TEST(PageBytesToText, TwoMegabytePageConvertsCompletely) {
  std::string page;
  page.reserve(2 * 1024 * 1024 + 64);
  while (page.size() < 2 * 1024 * 1024) page += "\xE7\x94\xB5\xE8\xAF\x9D" "0123456789";  // 电话 + digits
  page += "<end>";
  const std::string text = PageBytesToText(BytesOf(page));
  const size_t repeats = (page.size() - 5) / 16;
  ASSERT_EQ(text.size(), repeats * 14 + 5);
  EXPECT_EQ(text.substr(0, 14), "电话0123456789");
  EXPECT_EQ(text.substr(text.size() - 19), "电话0123456789<end>");
}

TEST(Utf8ToUtf16, GivesExactlyTwoBytesPerUnitWithoutTerminator) {
  const Bytes wide = Utf8ToUtf16(BytesOf("a\xE7\x94\xB5\xF0\x9F\x98\x80"));  // a, 电, one surrogate pair
  const Bytes expected = {'a', 0, 0x35, 0x75, 0x3D, 0xD8, 0x00, 0xDE};
  EXPECT_EQ(wide, expected);
  EXPECT_TRUE(Utf8ToUtf16({}).empty());
}

TEST(Utf16ToLocal, OddByteIsIgnoredAndZeroUnitEndsTheText) {
  EXPECT_EQ(Utf16ToLocal(Bytes{'h', 0, 'i', 0, 'x'}), "hi");
  EXPECT_EQ(Utf16ToLocal(Bytes{'h', 0, 0, 0, 'i', 0}), "h");
  EXPECT_EQ(Utf16ToLocal(Bytes{'h'}), "");
}

}  // namespace
}  // namespace harvester
