// Which UTF-16 units count as combining marks, and the scan of a text for any of them.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "harvest/combining_marks.h"

namespace harvester {
namespace {

struct UnitCase {
  const char* what;
  char16_t unit;
  bool mark;
};

const UnitCase kUnitCases[] = {
    {"NUL", 0x0000, false},
    {"ASCII letter", u'e', false},
    {"last unit before the diacritical marks (modifier letter)", 0x02FF, false},
    {"combining grave accent, first diacritical mark", 0x0300, true},
    {"combining acute accent", 0x0301, true},
    {"combining caron", 0x030C, true},
    {"combining long solidus overlay", 0x0338, true},
    {"last diacritical mark", 0x036F, true},
    {"Greek capital heta, after the marks", 0x0370, false},
    {"Greek small alpha (code page 936 has it)", 0x03B1, false},
    {"Cyrillic capital io (code page 936 has it)", 0x0401, false},
    {"Cyrillic titlo", 0x0483, true},
    {"Cyrillic millions sign, last Cyrillic mark", 0x0489, true},
    {"Hebrew accent etnahta", 0x0591, true},
    {"Arabic hamza above", 0x0654, true},
    {"Devanagari nukta", 0x093C, true},
    {"Hangul jungseong a, composed by rule", 0x1161, true},
    {"Hangul jongseong kiyeok", 0x11A8, true},
    {"first extended diacritical mark", 0x1AB0, true},
    {"last extended diacritical mark", 0x1AFF, true},
    {"first diacritical mark supplement", 0x1DC0, true},
    {"last diacritical mark supplement", 0x1DFF, true},
    {"Latin small m with acute (code page 936 has it)", 0x1E3F, false},
    {"em dash", 0x2014, false},
    {"unit before the marks for symbols", 0x20CF, false},
    {"first mark for symbols", 0x20D0, true},
    {"last unit of the marks for symbols", 0x20FF, true},
    {"account of, after the marks for symbols", 0x2100, false},
    {"circled digit one", 0x2460, false},
    {"ideographic full stop", 0x3002, false},
    {"ideographic level tone mark", 0x302A, true},
    {"last Hangul tone mark", 0x302F, true},
    {"wavy dash, after the tone marks", 0x3030, false},
    {"hiragana small a", 0x3041, false},
    {"unit before the kana sound marks", 0x3098, false},
    {"combining kana voiced sound mark", 0x3099, true},
    {"combining kana semi-voiced sound mark", 0x309A, true},
    {"spacing kana voiced sound mark", 0x309B, true},
    {"spacing kana semi-voiced sound mark", 0x309C, true},
    {"hiragana iteration mark", 0x309D, false},
    {"CJK ideograph (zhong)", 0x4E2D, false},
    {"Hangul syllable ga", 0xAC00, false},
    {"high surrogate", 0xD83D, false},
    {"low surrogate", 0xDE00, false},
    {"private use", 0xE000, false},
    {"variation selector 1", 0xFE00, true},
    {"variation selector 16", 0xFE0F, true},
    {"vertical comma", 0xFE10, false},
    {"unit before the half marks", 0xFE1F, false},
    {"first combining half mark", 0xFE20, true},
    {"last unit of the half marks", 0xFE2F, true},
    {"presentation form for vertical two dot leader, after the half marks", 0xFE30, false},
    {"full-width comma", 0xFF0C, false},
    {"half-width katakana voiced sound mark", 0xFF9E, true},
    {"half-width katakana semi-voiced sound mark", 0xFF9F, true},
    {"half-width hangul filler", 0xFFA0, false},
    {"last unit", 0xFFFF, false},
};

TEST(IsCombiningMark, Table) {
  for (const UnitCase& row : kUnitCases) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(IsCombiningMark(row.unit), row.mark);
  }
}

// Units that are no marks but lie close to them, or are what a Chinese page is made of.
constexpr char16_t kFiller[] = {u'a', 0x4E2D, 0x3002, 0xFF0C, u'<', 0x0370, 0x3041, 0xFE10,
                                0x2014, 0xA000, 0xFE30, 0x02FF, 0x20CF, 0x1E00, 0x3098, 0xABEE};

std::u16string Filler(std::size_t length) {
  std::u16string text;
  for (std::size_t i = 0; i < length; ++i) text += kFiller[(i * 7) % (sizeof kFiller / sizeof kFiller[0])];
  return text;
}

TEST(HasCombiningMark, FillerHasNone) {
  for (const char16_t unit : kFiller) {
    SCOPED_TRACE(static_cast<int>(unit));
    EXPECT_FALSE(IsCombiningMark(unit));
  }
  for (std::size_t length = 0; length <= 200; ++length) {
    SCOPED_TRACE(length);
    EXPECT_FALSE(HasCombiningMark(Filler(length)));
  }
}

TEST(HasCombiningMark, EmptyTextHasNone) {
  EXPECT_FALSE(HasCombiningMark(std::u16string_view()));
  EXPECT_FALSE(HasCombiningMark(u""));
}

// A mark at every position of texts of every length across the edges of the 8-unit blocks and
// 32-unit rounds, the text starting at every alignment.
TEST(HasCombiningMark, MarkAtEveryPositionAcrossBlockEdges) {
  const char16_t marks[] = {0x0300, 0x036F, 0x1DFF, 0x3099, 0xFE2F, 0xFF9F};
  const std::u16string buffer = Filler(7 + 100);
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t length = 1; length <= 100; ++length) {
      for (std::size_t position = 0; position < length; ++position) {
        SCOPED_TRACE("offset " + std::to_string(offset) + ", length " + std::to_string(length) + ", mark at " +
                     std::to_string(position));
        std::u16string text = buffer;
        text[offset + position] = marks[(offset + length + position) % (sizeof marks / sizeof marks[0])];
        const std::u16string_view view = std::u16string_view(text).substr(offset, length);
        ASSERT_TRUE(HasCombiningMark(view));
        // The same text with the mark just outside the view.
        if (position == 0 && offset > 0) {
          std::u16string before = buffer;
          before[offset - 1] = 0x0301;
          ASSERT_FALSE(HasCombiningMark(std::u16string_view(before).substr(offset, length)));
        }
        if (position == length - 1 && offset + length < text.size()) {
          std::u16string after = buffer;
          after[offset + length] = 0x0301;
          ASSERT_FALSE(HasCombiningMark(std::u16string_view(after).substr(offset, length)));
        }
      }
    }
  }
}

// Every unit, alone among filler, in a 32-unit round, an 8-unit block and the last few units:
// the scan agrees with the unit rule everywhere.
TEST(HasCombiningMark, EveryUnitAgreesWithTheUnitRule) {
  const std::size_t length = 32 + 8 + 5;
  const std::size_t positions[] = {0, 17, 31, 32, 39, 40, 44};
  std::u16string text = Filler(length);
  for (unsigned value = 0; value <= 0xFFFF; ++value) {
    const auto unit = static_cast<char16_t>(value);
    for (const std::size_t position : positions) {
      const char16_t kept = text[position];
      text[position] = unit;
      if (HasCombiningMark(text) != IsCombiningMark(unit)) {
        ADD_FAILURE() << "unit " << std::hex << value << " at " << std::dec << position;
      }
      text[position] = kept;
    }
  }
}

struct BlockCase {
  const char* what;
  char16_t first, last;
};

// The blocks of combining marks, each of which must be marks through and through.
TEST(IsCombiningMark, WholeBlocksOfMarks) {
  const BlockCase blocks[] = {
      {"combining diacritical marks", 0x0300, 0x036F},
      {"extended diacritical marks", 0x1AB0, 0x1AFF},
      {"diacritical marks supplement", 0x1DC0, 0x1DFF},
      {"marks for symbols", 0x20D0, 0x20FF},
      {"half marks", 0xFE20, 0xFE2F},
      {"combining kana sound marks", 0x3099, 0x309A},
      {"Hangul vowels", 0x1161, 0x1175},
      {"Hangul final consonants", 0x11A8, 0x11C2},
  };
  for (const BlockCase& block : blocks) {
    SCOPED_TRACE(block.what);
    for (unsigned unit = block.first; unit <= block.last; ++unit) {
      if (!IsCombiningMark(static_cast<char16_t>(unit))) ADD_FAILURE() << "unit " << std::hex << unit;
    }
  }
}

// What a Chinese page is made of, none of which may cost the page its fast conversion.
TEST(IsCombiningMark, WholeBlocksOfOtherCharacters) {
  const BlockCase blocks[] = {
      {"ASCII, Latin-1 and the Latin extensions", 0x0000, 0x02FF},
      {"general punctuation, currency and letter-like symbols, arrows to dingbats", 0x2000, 0x20CF},
      {"letter-like symbols to the miscellaneous symbols and arrows", 0x2100, 0x2BFF},
      {"CJK symbols and punctuation", 0x3000, 0x3029},
      {"hiragana letters", 0x3041, 0x3096},
      {"katakana to the CJK compatibility block", 0x30A0, 0x33FF},
      {"CJK ideographs with extension A", 0x3400, 0x9FFF},
      {"Hangul syllables", 0xAC00, 0xD7A3},
      {"surrogates and private use", 0xD800, 0xF8FF},
      {"vertical forms", 0xFE10, 0xFE1F},
      {"CJK compatibility forms and small forms", 0xFE30, 0xFE6F},
      {"full-width forms", 0xFF00, 0xFF9D},
      {"full-width signs and specials", 0xFFE0, 0xFFFF},
  };
  for (const BlockCase& block : blocks) {
    SCOPED_TRACE(block.what);
    for (unsigned unit = block.first; unit <= block.last; ++unit) {
      if (IsCombiningMark(static_cast<char16_t>(unit))) ADD_FAILURE() << "unit " << std::hex << unit;
    }
  }
}

}  // namespace
}  // namespace harvester
