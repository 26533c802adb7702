// Fetched UTF-8 pages turned into program text (code page 936) through UTF-16.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "base/text_codec.h"
#include "harvest/combining_marks.h"
#include "harvest/page_text.h"
#include "tests/support/seeded_random.h"

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

// The bytes as the request object hands a body over: a one-byte array in a Variant.
Variant BodyOf(std::string_view utf8) {
  Variant body;
  SAFEARRAYBOUND bound = {static_cast<ULONG>(utf8.size()), 0};
  SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
  void* data = nullptr;
  if (array && !utf8.empty() && SUCCEEDED(SafeArrayAccessData(array, &data))) {
    std::copy(utf8.begin(), utf8.end(), static_cast<char*>(data));
    SafeArrayUnaccessData(array);
  }
  body.Get()->vt = VT_ARRAY | VT_UI1;
  body.Get()->parray = array;
  return body;
}

TEST(PageBytesToText, FetchedBodyConvertsWhereItLiesAndIsGivenBack) {
  for (const ConversionCase& row : kCases) {
    SCOPED_TRACE(row.what);
    VariantBytes body(BodyOf(row.utf8));
    ASSERT_EQ(body.Get().size(), row.utf8.size());
    EXPECT_EQ(PageBytesToText(std::move(body)), row.expected);
    EXPECT_TRUE(body.Empty()) << "the body is let go once converted";
  }
  EXPECT_EQ(PageBytesToText(VariantBytes()), "");
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

// ---- The composite check, left out for text without combining marks

constexpr DWORD kCompositeCheck = 0x200;  // WC_COMPOSITECHECK

Bytes UnitBytes(std::u16string_view units) {
  Bytes bytes;
  for (const char16_t unit : units) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

// The conversion as it was before the shortcut, or without the check at all: the platform's own
// converter on the units, the text ending at its first zero byte.
std::string ConvertWith(DWORD flags, std::u16string_view units) {
  const auto* wide = reinterpret_cast<const wchar_t*>(units.data());
  const int count = static_cast<int>(units.size());
  const int size = WideCharToMultiByte(kTextCodePage, flags, wide, count, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string text(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(kTextCodePage, flags, wide, count, text.data(), size, nullptr, nullptr);
  return text.substr(0, text.find('\0'));
}

struct CompositeCase {
  const char* what;
  std::u16string units;
  bool composes;  // the check gives other bytes than no check (asserted only where true)
};

const CompositeCase kCompositeCases[] = {
    {"no mark", u"<p>\u4E2D\u6587\uFF0C\u3002abc</p>", false},
    {"mark after a base at the very start", u"e\u0301\u4E2D\u6587", true},
    {"mark as the very first unit", u"\u0301e\u4E2D", false},
    {"mark as the very last unit, after a base", u"\u4E2D\u6587e\u0301", true},
    {"lone mark", u"\u0301", false},
    {"a + grave: code page 936 has the precomposed letter", u"a\u0300", true},
    {"u-diaeresis + acute: a pinyin letter of code page 936", u"\u00FC\u0301", true},
    {"u + diaeresis + acute: two marks, composed once", u"u\u0308\u0301", true},
    {"e + acute + acute", u"e\u0301\u0301", true},
    {"a + circumflex: no form in code page 936 but a near one", u"a\u0302", false},
    {"x + acute: no precomposed letter", u"x\u0301", false},
    {"Chinese character + acute", u"\u4E2D\u0301", false},
    {"mark between Chinese characters", u"\u4E2D\u0300\u6587", false},
    {"ka + voiced sound mark: ga", u"\u304B\u3099", true},
    {"ha + semi-voiced sound mark: pa", u"\u306F\u309A", true},
    {"Cyrillic ie + diaeresis: io", u"\u0415\u0308", true},
    {"equals sign + long solidus overlay: not equal to", u"=\u0338", true},
    {"Hangul leading and vowel jamo", u"\u1100\u1161", false},
    {"half-width ka + half-width voiced sound mark", u"\uFF76\uFF9E", false},
    {"Chinese character + variation selector", u"\u4E2D\uFE00", false},
    {"mark for symbols after a letter", u"a\u20D7", false},
    {"half mark after a letter", u"a\uFE20", false},
    {"supplement mark after a letter", u"a\u1DC0", false},
    {"NUL after a composed pair", std::u16string(u"e\u0301\0x", 4), true},
    {"mark right after a NUL", std::u16string(u"e\0\u0301", 3), false},
    {"NUL first, then a composed pair", std::u16string(u"\0e\u0301", 3), false},
    {"surrogate pair, then a mark", u"\U0001F600\u0301", false},
    {"composed pair, then a surrogate pair", u"e\u0301\U0001F600", true},
    {"supplementary base and supplementary mark (Chakma)", u"\U00011131\U00011127", false},
    {"two high surrogates and a low one (compared by halves)", std::u16string{0xD804, 0xD804, 0xDD27}, false},
    {"lone low surrogate before a mark", std::u16string{0xDC00, 0x0301}, false},
    {"pinyin sentence, decomposed", u"zho\u0304ngwe\u0301n pi\u0304nyi\u0304n lu\u0308\u0300", true},
};

TEST(Utf16ToLocal, SameBytesAsWithTheCompositeCheckAlways) {
  for (const CompositeCase& row : kCompositeCases) {
    SCOPED_TRACE(row.what);
    const std::string checked = ConvertWith(kCompositeCheck, row.units);
    EXPECT_EQ(Utf16ToLocal(UnitBytes(row.units)), checked);
    // Where the check composes, leaving it out would be seen.
    if (row.composes) EXPECT_NE(ConvertWith(0, row.units), checked);
  }
}

TEST(Utf16ToLocal, PrecomposedPinyinFromDecomposedLetters) {
  // "zhōngwén" with its tone marks after the letters: code page 936 holds the marked vowels.
  EXPECT_EQ(Utf16ToLocal(UnitBytes(u"zho\u0304ngwe\u0301n")), "zh\xA8\xADngw\xA8\xA6n");
}

using PageRandom = testing::SeededRandom;

// Pieces of a page: markup, Chinese, punctuation, letters with and without precomposed forms
// after them, kana, Cyrillic, emoji and lone surrogates.
const std::u16string_view kPagePieces[] = {
    u"<p class=\"desc\">", u"</p>\n", u"\u51FA\u552E\u4E8C\u624B\u624B\u673A", u"\u4E5D\u6210\u65B0",
    u"\uFF0C", u"\u3002", u"\u3001", u"\u201C", u"\u2014", u"13800138000", u"e", u"a", u"u", u"\u00FC",
    u"x", u"E", u"=", u"\u304B", u"\u306F", u"\u30AB", u"\u0415", u"\u03B1", u"\uFF76", u"\uAC00",
    u"\U0001F600", u"\U00011131", u"\xD804", u"\xDC00",
};
const char16_t kPageMarks[] = {0x0300, 0x0301, 0x0302, 0x0304, 0x0308, 0x030C, 0x0338, 0x0345, 0x093C,
                               0x1161, 0x1DC0, 0x20D0, 0x3099, 0x309A, 0xFE00, 0xFE20, 0xFF9E};

std::u16string GeneratedPage(PageRandom& random, std::size_t units, bool marks) {
  std::u16string page;
  if (marks && random.Next(2) == 0) page += kPageMarks[random.Next(std::size(kPageMarks))];
  while (page.size() < units) {
    const std::uint32_t pick = random.Next(1000);
    if (pick == 0) page += u'\0';
    else if (marks && pick < 80) page += kPageMarks[random.Next(std::size(kPageMarks))];
    else page += kPagePieces[random.Next(std::size(kPagePieces))];
  }
  if (marks && random.Next(2) == 0) page += kPageMarks[random.Next(std::size(kPageMarks))];
  // At least one mark on a page with marks, anywhere.
  if (marks) page.insert(random.Next(static_cast<std::uint32_t>(page.size()) + 1), 1, kPageMarks[random.Next(std::size(kPageMarks))]);
  return page;
}

TEST(Utf16ToLocal, GeneratedPagesGiveTheSameBytesAsWithTheCompositeCheckAlways) {
  int composedPages = 0;
  for (int seed = 0; seed < 240; ++seed) {
    PageRandom random(static_cast<std::uint64_t>(seed));
    const bool marks = seed % 2 == 1;
    // Short pages around the scan's blocks, then longer ones, and a few of page size.
    const std::size_t units = seed < 160 ? 1 + random.Next(100) : seed < 230 ? 1 + random.Next(5000) : 150000;
    const std::u16string page = GeneratedPage(random, units, marks);
    SCOPED_TRACE("seed " + std::to_string(seed) + (marks ? ", with marks" : ", without marks"));
    ASSERT_EQ(HasCombiningMark(page), marks);
    const std::string checked = ConvertWith(kCompositeCheck, page);
    ASSERT_EQ(Utf16ToLocal(UnitBytes(page)), checked);
    if (checked != ConvertWith(0, page)) ++composedPages;
  }
  // A good part of the 120 pages with marks gives the check something to compose.
  EXPECT_GT(composedPages, 120 / 4);
}

// The composite check joins a pair only where a character decomposes into it: every unit that
// the platform's canonical decomposition of a character puts after the first is a mark to the scan.
TEST(CombiningMarks, EveryUnitAfterTheFirstOfAPlatformDecompositionIsAMark) {
  using Normalize = int(WINAPI*)(int, const wchar_t*, int, wchar_t*, int);
  HMODULE library = GetModuleHandleW(L"kernel32.dll");
  auto normalize = reinterpret_cast<Normalize>(reinterpret_cast<void*>(GetProcAddress(library, "NormalizeString")));
  if (!normalize) {
    library = LoadLibraryW(L"normaliz.dll");
    ASSERT_NE(library, nullptr);
    normalize = reinterpret_cast<Normalize>(reinterpret_cast<void*>(GetProcAddress(library, "NormalizeString")));
  }
  ASSERT_NE(normalize, nullptr);
  constexpr int kNormalizationD = 2;
  int decomposed = 0;
  for (unsigned value = 1; value <= 0xFFFF; ++value) {
    if (value >= 0xD800 && value <= 0xDFFF) continue;
    const wchar_t character = static_cast<wchar_t>(value);
    wchar_t parts[8] = {};
    const int count = normalize(kNormalizationD, &character, 1, parts, 8);
    // The first character, one unit or a surrogate pair, is the base.
    const int first = count >= 2 && IS_HIGH_SURROGATE(parts[0]) ? 2 : 1;
    if (count <= first) continue;
    ++decomposed;
    for (int i = first; i < count; ++i) {
      // A mark beyond the plane (a surrogate pair) composes to a character beyond it, which code
      // page 936 lacks: the check never changes the text for it.
      if (IS_SURROGATE_PAIR(parts[i], parts[i + 1])) {
        ++i;
        continue;
      }
      if (!IsCombiningMark(static_cast<char16_t>(parts[i])))
        ADD_FAILURE() << std::hex << "U+" << value << " decomposes with U+" << static_cast<unsigned>(parts[i]);
    }
  }
  // The Latin letters with marks and the Korean syllables, at the least.
  EXPECT_GT(decomposed, 11172 + 500);
}

}  // namespace
}  // namespace harvester
