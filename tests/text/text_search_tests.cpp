// Searching and cutting program text: byte positions, character boundaries, markers.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "harvest/text_search.h"

namespace harvester {
namespace {

struct FindCase {
  const char* what;
  std::string text;
  std::string marker;
  int start;
  int expected;
};

// Bytes 0x81..0xFF begin a two-byte character; "\xB0\x41" is one character whose second byte is 'A'.
const FindCase kFindCases[] = {
    {"found at the first byte", "abc", "a", 1, 1},
    {"found in the middle, 1-based", "xxabc", "abc", 1, 3},
    {"found at the last possible byte", "xxab", "ab", 1, 3},
    {"first of several occurrences", "abab", "ab", 1, 1},
    {"start skips an earlier occurrence", "abab", "ab", 2, 3},
    {"start exactly on the occurrence", "abab", "ab", 3, 3},
    {"start 0 counts as 1", "abc", "a", 0, 1},
    {"negative start counts as 1", "abc", "a", -5, 1},
    {"start past the last occurrence", "abab", "ab", 4, -1},
    {"start past the end", "abc", "a", 10, -1},
    {"start one past the end", "abc", "c", 4, -1},
    {"marker longer than the rest", "abc", "bcd", 2, -1},
    {"marker longer than the text", "ab", "abc", 1, -1},
    {"empty text", "", "a", 1, -1},
    {"empty marker", "abc", "", 1, -1},
    {"absent", "abcdef", "xyz", 1, -1},
    {"case-sensitive: capitals do not match", "<TITLE>x", "<title>", 1, -1},
    {"case-sensitive: exact case matches", "<TITLE><title>", "<title>", 1, 8},
    {"match on a second byte is rejected", "\xB0\x41\x42", "AB", 1, -1},
    {"next match on a boundary is taken", "\xB0\x41\x41\x42", "AB", 1, 3},
    {"boundaries walked from the first byte, not from start", "\xB0\x41\x41\x42", "A", 2, 3},
    {"0x80 stands alone", "\x80\x41", "A", 1, 2},
    {"0x81 begins a two-byte character", "\x81\x41", "A", 1, -1},
    {"0xFF begins a two-byte character", "\xFF\x41\x41", "A", 1, 3},
    {"two-byte marker on a boundary", "a电话", "话", 1, 4},
    {"two-byte marker straddling two characters is rejected",
     "\xB5\xE7\xBB\xB0", "\xE7\xBB", 1, -1},
    {"zero bytes are compared like any other", std::string("a\0b", 3), std::string("\0b", 2), 1, 2},
    {"long run of two-byte characters, odd length before the marker",
     std::string(101, '\xB0') + "AB", "AB", 1, -1},
    {"long run of two-byte characters, even length before the marker",
     std::string(100, '\xB0') + "AB", "AB", 1, 101},
    {"a single byte far back decides the run after it",
     "x" + std::string(98, '\xC1') + "AB" + std::string(70, '\xC1') + "AB", "AB", 1, 100},
    {"a rejected match far into a run, then the next run decides",
     "x" + std::string(99, '\xC1') + "AB" + std::string(70, '\xC1') + "AB", "AB", 1, 173},
};

TEST(FindText, Table) {
  for (const FindCase& row : kFindCases) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(FindText(row.text, row.marker, row.start), row.expected);
  }
}

TEST(FindText, LongTextOfTwoByteCharactersFindsTheBoundaryMatchOnly) {
  // 100 000 characters "\xB0\x41" then "AA": every 'A' inside a character is a second byte.
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "\xB0\x41";
  text += "AA";
  EXPECT_EQ(FindText(text, "AA", 1), 200001);
  EXPECT_EQ(FindText(text, "A", 1), 200001);
}

// A page of size bytes in blocks of ten, each holding the marker "AZ" on a second byte (a near
// miss the boundary check must reject), and the marker on a boundary at the end.
std::string NearMissPage(std::size_t size) {
  std::string page;
  page.reserve(size + 2);
  while (page.size() + 10 <= size) page += "\xB0" "AZxxxxxxx";
  return page + "AZ";
}

// Seconds per search, over as many searches as fill a twentieth of a second.
double SecondsPerSearch(const std::string& page) {
  int searches = 0;
  const std::clock_t start = std::clock();
  std::clock_t now;
  do {
    EXPECT_EQ(FindText(page, "AZ", 1), static_cast<int>(page.size()) - 1);
    ++searches;
    now = std::clock();
  } while (now - start < CLOCKS_PER_SEC / 20);
  return static_cast<double>(now - start) / CLOCKS_PER_SEC / searches;
}

TEST(FindText, TimeGrowsLinearlyWithThePage) {
  // 1 MB holds 10^5 near misses, 8 MB eight times as many. A search that walks the boundaries
  // from the first byte again for each of them takes 64 times as long on the larger page.
  const double small = SecondsPerSearch(NearMissPage(1 << 20));
  const double large = SecondsPerSearch(NearMissPage(8 << 20));
  EXPECT_LT(large, 16 * small) << "1 MB: " << small << " s, 8 MB: " << large << " s";
}

// The rule in its plain form: walk the characters from the first byte to every occurrence.
int ReferenceFind(std::string_view text, std::string_view marker, int start) {
  if (text.empty() || marker.empty()) return -1;
  if (start < 1) start = 1;
  std::size_t boundary = 0;
  for (std::size_t at = static_cast<std::size_t>(start) - 1; at + marker.size() <= text.size(); ++at) {
    while (boundary < at) boundary += static_cast<unsigned char>(text[boundary]) > 0x80 ? 2 : 1;
    if (boundary == at && text.compare(at, marker.size(), marker) == 0) return static_cast<int>(at) + 1;
  }
  return -1;
}

// Texts of every length up to a few hundred bytes, mostly bytes that begin two-byte characters,
// so that runs of them end at every offset inside the blocks the search reads at once.
TEST(FindText, AgreesWithTheCharacterWalkOnGeneratedTexts) {
  const char alphabet[] = {'\xB0', '\xC1', '\xFF', '\x81', '\xB0', '\xC1', '\x80', 'A', 'B', '\0'};
  const std::string markers[] = {"A", "AB", "BA", "\xB0", "\xB0\xC1", "\xC1\xB0", std::string("A\0", 2)};
  std::uint32_t state = 12345;
  const auto next = [&state](std::uint32_t bound) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % bound;
  };
  int compared = 0, found = 0;
  for (int length = 0; length < 400; ++length) {
    for (int round = 0; round < 6; ++round) {
      std::string text(static_cast<std::size_t>(length), 'A');
      // Some texts are all two-byte leads with a few other bytes, some are an even mix.
      const std::uint32_t range = round < 3 ? 6 : 10;
      for (char& c : text) c = alphabet[next(range)];
      for (int k = 0; round < 3 && k < 3 && length > 0; ++k) text[next(static_cast<std::uint32_t>(length))] = 'A';
      for (const std::string& marker : markers) {
        const int start = static_cast<int>(next(static_cast<std::uint32_t>(length) + 2));
        const int expected = ReferenceFind(text, marker, start);
        ASSERT_EQ(FindText(text, marker, start), expected)
            << "length " << length << " round " << round << " marker " << marker.size() << " start " << start;
        ++compared;
        found += expected > 0;
      }
    }
  }
  EXPECT_GT(found, compared / 4);  // the texts must give matches, not only misses
}

struct BetweenCase {
  const char* what;
  std::string text;
  std::string startMarker;
  std::string endMarker;
  int position;
  std::string expected;
  int expectedPosition;
};

const BetweenCase kBetweenCases[] = {
    {"title", "<html><title>Hello</title></html>", "<title>", "</title>", 0, "Hello", 27},
    {"position 1 is the same as 0", "<title>A</title>", "<title>", "</title>", 1, "A", 17},
    {"negative position counts as 1", "<title>A</title>", "<title>", "</title>", -3, "A", 17},
    {"start marker missing", "no markers here</title>", "<title>", "</title>", 0, "", 0},
    {"end marker missing", "<title>never closed", "<title>", "</title>", 0, "", 0},
    {"end marker only before the start marker", "</title><title>x", "<title>", "</title>", 0, "", 0},
    {"markers adjacent", "<title></title>", "<title>", "</title>", 0, "", 16},
    {"first start marker, first end marker after it", "<b>1</b><b>2</b>", "<b>", "</b>", 0, "1", 9},
    {"position skips the first value", "<b>1</b><b>2</b>", "<b>", "</b>", 9, "2", 17},
    {"position past the last value", "<b>1</b><b>2</b>", "<b>", "</b>", 10, "", 0},
    {"end marker is searched after the start marker, not inside it", "<t>x</t>", "<t>", "t>", 0, "x</", 9},
    {"contact: an earlier end marker is skipped",
     "</p></div>head&nbsp;</p><p>张三</p></div>tail", "&nbsp;</p><p>", "</p></div>", 0, "张三", 42},
    {"case-sensitive markers", "<TITLE>x</TITLE>", "<title>", "</title>", 0, "", 0},
    {"value keeps two-byte characters whole", "<b>标题</b>", "<b>", "</b>", 0, "标题", 12},
    {"end marker on a second byte is not taken",
     "<b>\xB0\x41\x42</b>", "<b>", "AB", 0, "", 0},
    {"start marker ending in a first byte: the end marker on its second byte is not taken",
     "x\xB0" "AyA", "x\xB0", "A", 0, "Ay", 6},
    {"end marker after a long run of two-byte characters",
     "<b>" + std::string(75, '\xB0') + "\xB0</b></b>", "<b>", "</b>", 0, std::string(76, '\xB0'), 84},
    {"end marker on the second byte after an odd run is not taken",
     "<b>" + std::string(75, '\xB0') + "</b></b>", "<b>", "</b>", 0, std::string(75, '\xB0') + "</b>", 87},
};

TEST(GetTextBetween, Table) {
  for (const BetweenCase& row : kBetweenCases) {
    SCOPED_TRACE(row.what);
    int position = row.position;
    EXPECT_EQ(GetTextBetween(row.text, row.startMarker, row.endMarker, position), row.expected);
    EXPECT_EQ(position, row.expectedPosition);
  }
}

TEST(GetTextBetween, WalkingThePositionCollectsEveryValueInOrder) {
  const std::string text = "<i>a</i>--<i></i>--<i>ccc</i>";
  std::string values;
  int position = 0;
  for (int round = 0; round < 10; ++round) {  // more rounds than values: the walk must stop
    std::string value = GetTextBetween(text, "<i>", "</i>", position);
    if (position == 0) break;
    values += "[" + value + "]";
  }
  EXPECT_EQ(values, "[a][][ccc]");
}

struct CutCase {
  const char* what;
  std::string text, lineEnds, expected;
};

// The link pattern's closing "\">"; "\xB0" begins a two-byte character.
const CutCase kCutCases[] = {
    {"each line up to its last closing, a line without one emptied", "a\">b\">c\nd\n\">", "\n", "a\">b\">\n\n\">"},
    {"a carriage return that ends no line", "a\">x\ry\">z\r\n", "\n", "a\">x\ry\">\n"},
    {"carriage returns that end lines", "a\">x\ry\">z\r\n", "\n\r", "a\">\ry\">\r\n"},
    {"a closing on a second byte is none", "a\xB0\">\n", "\n", "\n"},
    {"a line end on a second byte ends no line", "a\xB0\nb\">c", "\n", "a\xB0\nb\">"},
};

TEST(CutAfterLastClosings, Table) {
  for (const CutCase& row : kCutCases) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(CutAfterLastClosings(row.text, "\">", row.lineEnds), row.expected);
  }
}

}  // namespace
}  // namespace harvester
