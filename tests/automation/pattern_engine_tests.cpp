// The built-in pattern object beside the platform's "VBScript.RegExp": one table of patterns,
// a row for each rule of the object's language, and the program's patterns over generated
// pages through the pattern object on either engine. Where the two part, the row names the
// rule, what Microsoft's documentation has (the built-in engine's outcome) and what Wine 8's
// object gives instead, and both are asserted.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "automation/builtin_pattern_object.h"
#include "automation/calls.h"
#include "automation/regex_object.h"
#include "harvest/harvest_run.h"
#include "tests/support/seeded_random.h"
#include "tests/support/site_pages.h"
#include "tests/support/test_support.h"
#include "tools/demo-site/site_pages.h"

namespace harvester {
namespace {

using namespace std::string_view_literals;

Variant WideText(std::wstring_view text) {
  Variant value;
  value.Get()->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  value.Get()->vt = VT_BSTR;
  return value;
}

std::wstring WideOf(const Variant& value) {
  if (value.Type() != VT_BSTR) return L"<" + std::to_wstring(value.Type()) + L">";
  return std::wstring(value.Get()->bstrVal, SysStringLen(value.Get()->bstrVal));
}

// Where the objects part on a rule.
struct Difference {
  const char* rule;
  std::wstring_view documented;  // the outcome by Microsoft's documentation: the built-in engine's
  std::wstring_view wine;        // Wine 8's object; empty where it never returns (not run there)
};

struct Row {
  const char* name;
  const wchar_t* pattern;
  std::wstring_view subject;
  const char* switches;  // "i" IgnoreCase, "g" Global, "m" Multiline
  const wchar_t* replacement;
  const Difference* difference = nullptr;
};

// Everything the object gives for a row, as one text: each match as "FirstIndex+Length:Value",
// each group after "|" ("-" for the empty VARIANT of a group that took no part), then the
// replacement; "fails" when Execute fails.
std::wstring Outcome(const ComObject& regExp, const Row& row) {
  const std::string_view switches = row.switches;
  WriteProperty(regExp, "IgnoreCase", {Arg(switches.find('i') != std::string_view::npos)});
  WriteProperty(regExp, "Global", {Arg(switches.find('g') != std::string_view::npos)});
  WriteProperty(regExp, "Multiline", {Arg(switches.find('m') != std::string_view::npos)});
  WriteProperty(regExp, "Pattern", {Arg(WideText(row.pattern))});
  const ComObject matches = CallObjectMethod(regExp, "Execute", {Arg(WideText(row.subject))});
  if (IsEmpty(matches)) return L"fails";
  std::wstring outcome;
  const int count = static_cast<int>(ReadNumberProperty(matches, "Count"));
  for (std::int32_t i = 0; i < count; ++i) {
    const ComObject match = ReadObjectProperty(matches, "Item", {Arg(i)});
    outcome += std::to_wstring(static_cast<int>(ReadNumberProperty(match, "FirstIndex"))) + L"+" +
               std::to_wstring(static_cast<int>(ReadNumberProperty(match, "Length"))) + L":" +
               WideOf(ReadProperty(match, "Value"));
    const ComObject groups = ReadObjectProperty(match, "SubMatches");
    for (std::int32_t g = 0; g < static_cast<int>(ReadNumberProperty(groups, "Count")); ++g) {
      const Variant group = ReadProperty(groups, "Item", {Arg(g)});
      outcome += group.Type() == VT_EMPTY ? L"|-" : L"|" + WideOf(group);
    }
    outcome += L"; ";
  }
  return outcome + L"=> " + WideOf(ReadProperty(regExp, "Replace", {Arg(WideText(row.subject)), Arg(WideText(row.replacement))}));
}

const Difference kDotAndOtherBreaks{
    "\".\" matches any single character except a newline character (\\n); Wine's also stops at \\r, U+2028, U+2029",
    L"0+3:a\rc; 4+3:a\u2028c; 8+3:a\u2029c; => [a\rc] [a\u2028c] [a\u2029c]", L"=> a\rc a\u2028c a\u2029c"};
const Difference kZeroInAValue{
    "a match's Value is the matched text, a zero unit in it too; Wine's ends the Value at the zero (Length says 3)",
    L"1+3:a\0c; => x[a\0c]"sv, L"1+3:a; => x[a\0c]"sv};
const Difference kSpaceBeyondAscii{
    "\\s is [ \\f\\n\\r\\t\\v]; Wine's also takes U+00A0, U+3000, U+2028, U+2029, U+0085",
    L"=> a\u00A0b\u3000c\u2028d\u2029e\u0085f",
    L"1+1:\u00A0; 3+1:\u3000; 5+1:\u2028; 7+1:\u2029; 9+1:\u0085; => a[\u00A0]b[\u3000]c[\u2028]d[\u2029]e[\u0085]f"};
const Difference kCaseBeyondAscii{
    "IgnoreCase makes the search case-insensitive, the letters beyond ASCII too; Wine's folds ASCII letters only",
    L"0+4:\u00C9\u0416\uFF21\u03A3; 5+4:\u00E9\u0436\uFF41\u03C2; => [\u00C9\u0416\uFF21\u03A3] [\u00E9\u0436\uFF41\u03C2]",
    L"=> \u00C9\u0416\uFF21\u03A3 \u00E9\u0436\uFF41\u03C2"};
const Difference kCaseRangeBeyondAscii{
    "IgnoreCase on a range beyond ASCII, as on its letters; Wine's compares the letters as they stand",
    L"0+3:\u00C0\u00E9\u00DE; => [\u00C0\u00E9\u00DE]\u0100", L"1+1:\u00E9; => \u00C0[\u00E9]\u00DE\u0100"};
const Difference kLineSeparator{
    "with Multiline, ^ and $ match at \\n and \\r; Wine's also at U+2028 and U+2029",
    L"0+1:a; 4+1:b; => [a]\u2028c\u2029[b]", L"0+1:a; 2+1:c; 4+1:b; => [a]\u2028[c]\u2029[b]"};
const Difference kShortUnicodeEscape{
    "\\u takes four hexadecimal digits; with fewer it is the letter u, as in ECMAScript; Wine's reads it otherwise",
    L"0+3:u00; => [u00]", L"=> u00"};
const Difference kEightAndNine{
    "\\8 and \\9 name no group and are no octal escape: the digit itself, as in ECMAScript; Wine's matches nothing",
    L"0+1:8; => [8]", L"=> 8"};
const Difference kClassEscapeEndingARange{
    "a class escape at the end of a range makes the dash a character, as at its start; Wine's refuses the pattern",
    L"0+3:a-1; => [a-1]", L"fails"};
const Difference kBackReferenceRule{
    "\\n is a back reference when at least n groups begin before it, \\nm to n with m after it, else octal; "
    "Wine's, as ECMAScript: to any group of the pattern, \\11 octal",
    L"0+4:\u0001aa1|a; => [\u0001aa1] a\t", L"5+2:a\t|a; => \u0001aa1 [a\t]"};
const Difference kBackReferenceRuleOctal{
    "the same rule: with one group before them \\10 and \\18 refer to it, here in another alternative",
    L"0+2:aa|a; 7+1:8|-; => [aa] a\b \u0001[8]", L"0+2:aa|a; 4+1:\b|-; 6+2:\u00018|-; => [aa] a[\b] [\u00018]"};
const Difference kEmptyMatchesAll{
    "with Global an empty match is followed by a search one character further on, as in ECMAScript; Wine's never returns",
    L"0+0:; 1+2:xx; 3+0:; 4+0:; => -a--b-", {}};

const Row kRows[] = {
    {"the link pattern over CR LF lines", L"<a class=\"list-item\" href=\"(.*?)\">",
     L"<li><a class=\"list-item\" href=\"/l/1.html\">\u4E00</a></li>\r\n<LI><A CLASS=\"LIST-ITEM\" HREF=\"\">\u7A7A</A>\r\n"
     L"<a class=\"list-item\" href=\"/l/3.html\">",
     "igm", L"[$1]"},
    {"the phone pattern, letters in capitals", L"href=\"tel:(.*?)\"",
     L"<a HREF=\"TEL:13800000000\">\u7535\u8BDD</a>\n<a href=\"tel:021-6\">", "igm", L"[$1]"},
    {"letter case counts without IgnoreCase", L"href=\"tel:(.*?)\"", L"<a HREF=\"TEL:1\"> <a href=\"tel:2\">", "gm", L"[$1]"},
    {"without Global the first match only", L"\\d+", L"a1 b22 c333", "im", L"<$&>"},
    {"\".\" takes every unit but the line feed", L"a.c", L"a\nc abc a\fc a\u0085c a\tc", "g", L"[$&]"},
    {"a match holding a zero unit", L"a.c", L"xa\0c"sv, "g", L"[$&]", &kZeroInAValue},
    {"\".\" and other line breaks", L"a.c", L"a\rc a\u2028c a\u2029c", "g", L"[$&]", &kDotAndOtherBreaks},
    {"\\w and \\d are ASCII", L"\\w+|\\d", L"abc_09 \u00E9\u4E2D\u6587 \uFF21\uFF22 \uFF13\u0663", "g", L"[$&]"},
    {"\\s and \\S over ASCII white space", L"\\s|\\S+", L"a \tb\fc\vd\re\nf", "g", L"[$&]"},
    {"\\s beyond ASCII", L"\\s", L"a\u00A0b\u3000c\u2028d\u2029e\u0085f", "g", L"[$&]", &kSpaceBeyondAscii},
    {"IgnoreCase over ASCII, and letters that fold into ASCII", L"abc|s|k", L"ABC aBc \u017F \u212A S K", "gi", L"[$&]"},
    {"IgnoreCase beyond ASCII", L"\u00E9\u0436\uFF41\u03C3", L"\u00C9\u0416\uFF21\u03A3 \u00E9\u0436\uFF41\u03C2", "gi",
     L"[$&]", &kCaseBeyondAscii},
    {"IgnoreCase on ASCII ranges and negated classes", L"[a-z]+|[^a]", L"ABC A", "gi", L"[$&]"},
    {"IgnoreCase on a range beyond ASCII", L"[\u00E0-\u00FE]+", L"\u00C0\u00E9\u00DE\u0100", "gi", L"[$&]",
     &kCaseRangeBeyondAscii},
    {"Multiline: ^ and $ at \\n and \\r", L"^\\w|\\w$", L"ab\r\ncd\ref\ngh", "gm", L"[$&]"},
    {"without Multiline: ^ and $ at the ends", L"^\\w|\\w$", L"ab\r\ncd\ref\ngh", "g", L"[$&]"},
    {"Multiline and the Unicode line separators", L"^\\w|\\w$", L"a\u2028c\u2029b", "gm", L"[$&]", &kLineSeparator},
    {"lazy and greedy runs", L"<(.*?)>|\\[(.*)\\]", L"<a><bb> [c][d]", "g", L"{$1,$2}"},
    {"a group that took no part", L"a(b+)(x)?", L"zab abbbx", "g", L"[$1|$2]"},
    {"groups of earlier rounds of a repeat", L"(?:(a)|b)+|((c)|d)+", L"ab cd", "g", L"[$1|$2|$3]"},
    {"a reference to a group that took no part", L"(a)|\\1b", L"b", "g", L"[$&]"},
    {"$$, $&, $`, $', $n, $nn and numbers beyond the groups", L"(\\w)(\\d)", L"a1 b2", "g",
     L"$$|$&|$`|$'|$2$1|$3|$0|$10|$01|$"},
    {"two-digit group numbers", L"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)", L"abcdefghijk", "g", L"$11|$10|$1|$12|$011"},
    {"escapes", L"\\x41\\u00E9\\101\\cJ\\x4\\q\\(\\.\\/", L"A\u00E9A\nx4q(./", "g", L"[$&]"},
    {"\\u with fewer digits", L"\\u00", L"u00", "g", L"[$&]", &kShortUnicodeEscape},
    {"back references and octal escapes", L"(a)\\1|\\10|\\18", L"aa a\b \u00018", "g", L"[$&]", &kBackReferenceRuleOctal},
    {"a back reference before its group, and two digits", L"\\1(a)\\11", L"\u0001aa1 a\t", "g", L"[$&]", &kBackReferenceRule},
    {"back references after a repeat and in another alternative", L"(?:(a)|b)+\\1|(?:(c)|d\\2)+", L"aba cdc", "g", L"[$&]"},
    {"an empty capture of an earlier round", L"(?:b(a?)|c)+", L"bc", "g", L"[$1]"},
    {"a quantifier after an anchor", L"^*a|$+", L"a", "g", L"x"},
    {"a control escape of a digit or _ in a class", L"[\\c1\\c_]", L"\u0011\u001F \\ c 1 _", "g", L"[$&]"},
    {"\\8", L"\\8", L"8", "g", L"[$&]", &kEightAndNine},
    {"braces and brackets that are characters", L"a{,2}b{2}c{1,}|\\]|\\}|]|}", L"a{,2}bbcc]}", "g", L"[$&]"},
    {"the empty class, the class of all and no class names", L"[]a|[^]|[[:alpha:]]", L"ab:]", "g", L"[$&]"},
    {"a class escape at the start of a range", L"[\\d-z]+", L"1-z", "g", L"[$&]"},
    {"a class escape at the end of a range", L"[a-\\d]+", L"a-1", "g", L"[$&]", &kClassEscapeEndingARange},
    {"word boundaries", L"\\bfoo\\b|\\Bo", L"foo xfoo foo_ foo\u4E2D", "g", L"[$&]"},
    {"lookahead", L"(?=a)\\w|(?!b)c", L"ac", "g", L"[$&]"},
    {"Chinese text and positions in units", L"\u7535\u8BDD\uFF1A(\\d+)", L"\u8054\u7CFB\u7535\u8BDD\uFF1A138 \u7535\u8BDD\uFF1A021",
     "g", L"[$1]"},
    {"a surrogate pair is two units", L"..", L"\U0001F600", "g", L"[$&]"},
    {"the empty subject", L"a", L"", "g", L"[$&]"},
    {"an empty match without Global", L"x*", L"axxb", "", L"-"},
    {"empty matches with Global", L"x*", L"axxb", "g", L"-", &kEmptyMatchesAll},
    {"an unclosed group", L"(", L"a", "g", L"x"},
    {"a quantifier after a quantifier", L"a**|a*+", L"a", "g", L"x"},
    {"lookbehind and inline switches are not of the language", L"(?<=a)b|(?i)b", L"ab", "g", L"x"},
    {"a trailing backslash", L"a\\", L"a", "g", L"x"},
    {"an unclosed class", L"[a", L"a", "g", L"x"},
    {"a group closed twice", L"a)", L"a)", "g", L"x"},
    {"a range backwards", L"[z-a]|a{2,1}", L"a", "g", L"x"},
};

TEST(PatternEngines, TheTableGivesTheSameOnBothObjectsOrTheNamedDifference) {
  const bool wine = testing::RunningOnWine();
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    ComObject platform;
    ASSERT_TRUE(Create(platform, "VBScript.RegExp"));
    const std::wstring builtIn = Outcome(MakeBuiltInPatternObject(), row);
    if (!row.difference) {
      EXPECT_EQ(builtIn, Outcome(platform, row));
      continue;
    }
    SCOPED_TRACE(row.difference->rule);
    EXPECT_EQ(builtIn, row.difference->documented);
    if (wine && row.difference->wine.empty()) continue;  // Wine's object would never return
    EXPECT_EQ(Outcome(platform, row), wine ? row.difference->wine : row.difference->documented);
  }
}

TEST(PatternEngines, TheBuiltInObjectTakesANullStringForTheEmptyText) {
  // Wine's object ends the process on a null subject; automation has it as the empty text.
  const ComObject regExp = MakeBuiltInPatternObject();
  ASSERT_TRUE(WriteProperty(regExp, "Pattern", {Arg("a|^")}));
  Variant none;
  none.Get()->vt = VT_BSTR;
  const ComObject matches = CallObjectMethod(regExp, "Execute", {Arg(none)});
  ASSERT_FALSE(IsEmpty(matches));
  EXPECT_EQ(ReadNumberProperty(matches, "Count"), 1.0);
  EXPECT_EQ(CallTextMethod(regExp, "Replace", {Arg(none), Arg("x")}), "x");
  EXPECT_TRUE(WriteProperty(regExp, "Pattern", {Arg(none)}));
  EXPECT_EQ(ReadTextProperty(regExp, "Pattern"), "");
  // Answered by name only, as the platform's match objects are under Wine.
  ComPtr<IDispatch> dispatch;
  ASSERT_TRUE(SUCCEEDED(regExp.Get()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Put()))));
  UINT count = 9;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(IsEmpty(ReadObjectProperty(matches, "Item", {Arg(std::int32_t{1})}))) << "beyond the last match";
  EXPECT_EQ(LastCallError(), kInvokeFailed);
}

// ---- the program's patterns over generated pages, through the pattern object

std::string Utf8(std::u8string_view text) { return std::string(text.begin(), text.end()); }

// A page of the pieces the site's pages are made of, in a seeded order: Chinese text, CR LF
// and LF, the markers, links and phone links in either case, and at the end a link and a phone
// link that never end.
std::string MixedPage(std::uint64_t seed) {
  testing::SeededRandom random(seed);
  const std::string pieces[] = {
      Utf8(u8"出售二手手机九成新，"), Utf8(u8"价格可议。"), "\r\n", "\n", "&nbsp;</p><p>", "</p></div>",
      "<title>" + Utf8(u8"标题") + "</title>", "<a class=\"list-item\" href=\"/l/", "\">", "<A CLASS=\"LIST-ITEM\" HREF=\"",
      "<a href=\"tel:1380000", "<a HREF=\"TEL:021-6", "\">" + Utf8(u8"拨打") + "</a>", "1234", " ", "\t",
  };
  std::string page;
  while (page.size() < 20000) page += pieces[random.Next(std::size(pieces))];
  return page + "<a class=\"list-item\" href=\"/l/open" + std::string(3000, 'x') + "<a href=\"tel:1" + Utf8(u8"号码");
}

// The pages, as program text.
std::vector<std::string> GeneratedPages() {
  std::vector<std::string> pages;
  const std::string host = "127.0.0.1:1";
  pages.push_back(demo::ListPage(host, 1));
  std::string crlf;
  for (const char c : pages.back()) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  pages.push_back(crlf);
  for (int number = 1; number <= 4; ++number) pages.push_back(demo::ListingPage(1, number));
  site::ListPage many;
  for (int i = 0; i < 5000; ++i) many.items.push_back({"/l/" + std::to_string(i) + ".html", Utf8(u8"第") + std::to_string(i)});
  pages.push_back(site::Html(many));
  for (std::uint64_t seed = 1; seed <= 3; ++seed) pages.push_back(MixedPage(seed));
  for (std::string& page : pages) page = testing::ProgramText(page);
  return pages;
}

// Everything the pattern object gives for a search: count, every match and group with its
// position, the group count and a replacement.
std::string Summary(RegexObject& regex, const std::string& pattern, const std::string& page, bool multiline) {
  std::string summary = regex.Search(pattern, page, false, multiline) ? "found " : "failed ";
  const int count = regex.GetMatchCount();
  const int groups = regex.GetSubMatchCount();
  summary += std::to_string(count) + " groups " + std::to_string(groups) + "\n";
  for (int i = 1; i <= count + 1; ++i) {  // and one beyond the last
    int position = -100;
    summary += regex.GetMatchText(i, &position) + "@" + std::to_string(position);
    for (int g = 1; g <= groups; ++g) {
      summary += "|" + regex.GetSubMatchText(i, g, &position) + "@" + std::to_string(position);
    }
    summary += "\n";
  }
  return summary + regex.Replace("[$1]");
}

TEST(PatternEngines, TheProgramsPatternsOverGeneratedPagesGiveTheSameOnBothEngines) {
  struct Search {
    std::string pattern;
    bool multiline;
  };
  const Search searches[] = {
      {kLinkPattern, true}, {kPhonePattern, true}, {"<title>(.*?)</title>", true},
      {"&nbsp;</p><p>([^<]*)</p></div>", true}, {"^\\s*<(\\w+)", true}, {"(\\d{4})$", false},
      {"(\\w+)\\s+(\\w+)", true},
  };
  RegexObject platform(RegexObject::Engine::kPlatform);
  RegexObject builtIn(RegexObject::Engine::kBuiltIn);
  const std::vector<std::string> pages = GeneratedPages();
  for (size_t p = 0; p < pages.size(); ++p) {
    for (const Search& search : searches) {
      SCOPED_TRACE("page " + std::to_string(p) + ", pattern " + search.pattern);
      const std::string expected = Summary(platform, search.pattern, pages[p], search.multiline);
      EXPECT_EQ(Summary(builtIn, search.pattern, pages[p], search.multiline), expected);
    }
  }
  // The comparison is not an empty one: the links of the list pages, every one of them.
  ASSERT_TRUE(builtIn.Search(kLinkPattern, pages[0]));
  EXPECT_EQ(builtIn.GetMatchCount(), demo::kListingsPerPage);
  ASSERT_TRUE(builtIn.Search(kLinkPattern, pages[6]));
  EXPECT_EQ(builtIn.GetMatchCount(), 5000);
  EXPECT_EQ(builtIn.GetSubMatchText(5000, 1), "/l/4999.html");
  EXPECT_EQ(builtIn.UsedEngine(), RegexObject::Engine::kBuiltIn);
  EXPECT_EQ(platform.UsedEngine(), RegexObject::Engine::kPlatform);
}

// The run's link search hands the pattern object each line only up to its last closing: the same
// links as the whole page, on either engine (one "." takes the carriage return, one does not).
TEST(PatternEngines, TheRunsLinkSearchFindsTheLinksOfTheWholePage) {
  std::vector<std::string> pages = GeneratedPages();
  std::string openings;
  for (int i = 0; i < 200; ++i) openings += "<a class=\"list-item\" href=\"/l/";
  pages.push_back("<a class=\"list-item\" href=\"/l/1\">" + openings + "\r<a class=\"list-item\" href=\"/l/2\">\r" +
                  openings + "\n<a class=\"list-item\" href=\"/l/cr\r3\">" + openings);
  const auto links = [](RegexObject& regex) {
    std::vector<std::string> found;
    for (int i = 1; i <= regex.GetMatchCount(); ++i) found.push_back(regex.GetSubMatchText(i, 1));
    return found;
  };
  for (const auto engine : {RegexObject::Engine::kPlatform, RegexObject::Engine::kBuiltIn}) {
    for (size_t p = 0; p < pages.size(); ++p) {
      SCOPED_TRACE("page " + std::to_string(p) + (engine == RegexObject::Engine::kBuiltIn ? ", built-in" : ""));
      RegexObject whole(engine), cut(engine);
      ASSERT_TRUE(whole.Search(kLinkPattern, pages[p]));
      LinkSearch(cut).Search(pages[p]);
      EXPECT_EQ(links(cut), links(whole));
      if (p + 1 == pages.size()) EXPECT_GE(whole.GetMatchCount(), 2);
    }
  }
}

}  // namespace
}  // namespace harvester
