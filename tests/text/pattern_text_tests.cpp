// Pattern text work of the regular-expression object: the quote marker and match offsets.
#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <optional>
#include <string>

#include "automation/pattern_text.h"

namespace harvester {
namespace {

struct QuoteCase {
  const char* what;
  std::string pattern;
  std::string expected;
};

const QuoteCase kQuoteCases[] = {
    {"no marker", "href=(.*?)>", "href=(.*?)>"},
    {"empty pattern", "", ""},
    {"one marker", "href=#引号(.*?)#引号", "href=\"(.*?)\""},
    {"marker alone", "#引号", "\""},
    {"markers back to back", "#引号#引号", "\"\""},
    {"Chinese around the marker kept", "电话#引号号码", "电话\"号码"},
    {"hash without the word", "#(.*)", "#(.*)"},
    {"half a marker", "#引", "#引"},
    {"marker with a different word", "#引用", "#引用"},
    {"the marker's bytes are compared exactly", "#\xD2\xFD\xBA\xC5", "\""},
    {"a marker hidden inside a two-byte unit is not replaced", "\x81#引号", "\x81#引号"},
    {"0x80 is one byte, the marker after it is replaced", "\x80#引号", "\x80\""},
    {"lone first byte at the end kept", "a\xB0", "a\xB0"},
};

TEST(ReplaceQuoteMarker, Table) {
  for (const QuoteCase& row : kQuoteCases) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(ReplaceQuoteMarker(row.pattern), row.expected);
  }
}

struct OffsetCase {
  const char* what;
  std::string subject;
  std::string text;
  int firstIndex;
  int expected;
};

const OffsetCase kOffsetCases[] = {
    {"digits after the telephone prefix (index 3 -> byte 6)", "电话：13800138000", "13800138000", 3, 6},
    {"index 0 scans from the first byte", "电话：138", "138", 0, 6},
    {"ASCII: index 1 starts at byte 0", "abcabc", "abc", 1, 0},
    {"ASCII: index 2 starts at byte 1", "abcabc", "abc", 2, 3},
    {"ASCII: index points one past the match", "xabc", "abc", 3, -2},
    {"not present", "abcdef", "xyz", 0, -2},
    {"start at the end", "abc", "c", 4, -2},
    {"start past the end", "abc", "c", 10, -2},
    {"negative index scans from the first byte", "abc", "b", -4, 1},
    {"text longer than the rest", "abc", "bcd", 2, -2},
    {"empty text found at the start of the subject", "abc", "", 2, 0},
    {"empty text past the end", "abc", "", 4, -2},
    {"empty subject", "", "a", 0, -2},
    {"exact case", "ABC", "abc", 0, -2},
    {"a lead byte is stepped over with the next", "\x81" "ab", "a", 0, -2},
    {"0x80 (the euro sign) is a character of its own", "\x80" "ab", "a", 0, 1},
    {"the step follows the byte at the scan start", "x\xB0\x41" "A", "A", 0, 3},
    {"match at the last byte", "\xB0\x41" "9", "9", 0, 2},
    {"the largest index", "abc", "c", INT_MAX, -2},
    {"the smallest index scans from the first byte", "abc", "c", INT_MIN, 2},
};

TEST(FindTextOffset, Table) {
  for (const OffsetCase& row : kOffsetCases) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(FindTextOffset(row.subject, row.text, row.firstIndex), row.expected);
  }
}

struct TruncateCase {
  const char* what;
  double value;
  std::optional<int> expected;
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

const TruncateCase kTruncateCases[] = {
    {"zero", 0.0, 0},
    {"negative zero", -0.0, 0},
    {"a fraction toward zero", 3.99, 3},
    {"a negative fraction toward zero", -3.99, -3},
    {"the largest int", 2147483647.0, INT_MAX},
    {"just below the largest int plus one", 2147483647.999, INT_MAX},
    {"the largest int plus one", 2147483648.0, std::nullopt},
    {"the smallest int", -2147483648.0, INT_MIN},
    {"just above the smallest int less one", -2147483648.999, INT_MIN},
    {"the smallest int less one", -2147483649.0, std::nullopt},
    {"far above", 1e300, std::nullopt},
    {"far below", -1e300, std::nullopt},
    {"infinity", kInfinity, std::nullopt},
    {"negative infinity", -kInfinity, std::nullopt},
    {"NaN", kNaN, std::nullopt},
    {"the smallest positive double", std::numeric_limits<double>::denorm_min(), 0},
};

TEST(TruncatedToInt, Table) {
  for (const TruncateCase& row : kTruncateCases) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(TruncatedToInt(row.value), row.expected);
  }
}

}  // namespace
}  // namespace harvester
