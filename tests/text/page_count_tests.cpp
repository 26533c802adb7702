// Reading the page count box as a number.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "harvest/page_count.h"

namespace harvester {
namespace {

struct WidthCase {
  const char* what;
  std::string text;
  std::string expected;
};

const WidthCase kWidthCases[] = {
    {"ASCII unchanged", "abc 123", "abc 123"},
    {"full-width digits", "\xA3\xB1\xA3\xB2\xA3\xB3", "123"},
    {"first and last full-width forms", "\xA3\xA1\xA3\xFE", "!~"},
    {"0xA3 0xA0 is not a full-width form", "\xA3\xA0", "\xA3\xA0"},
    {"0xA3 0xFF is not a full-width form", "\xA3\xFF", "\xA3\xFF"},
    {"full-width space", "\xA1\xA1", " "},
    {"full-width tilde", "\xA1\xAB", "~"},
    {"both stars", "\xA1\xEE\xA1\xEF", "**"},
    {"other 0xA1 characters unchanged", "\xA1\xA2\xA1\xED\xA1\xF0", "\xA1\xA2\xA1\xED\xA1\xF0"},
    {"Chinese text unchanged", "页数", "页数"},
    {"a second byte 0xA3 does not start a pair", "\xB0\xA3\xA3\xB1", "\xB0\xA3" "1"},
    {"0x80 stands alone before a pair", "\x80\xA3\xB1", "\x80" "1"},
    {"lone first byte at the end kept", "1\xA3", "1\xA3"},
    {"source literals of full-width forms", "３．５", "3.5"},
};

TEST(FullWidthToAscii, Table) {
  for (const WidthCase& row : kWidthCases) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(FullWidthToAscii(row.text), row.expected);
  }
}

struct CountCase {
  const char* what;
  std::string text;
  double expected;
};

const CountCase kCountCases[] = {
    {"the layout's text", "1", 1},
    {"three", "3", 3},
    {"fraction", "2.5", 2.5},
    {"empty", "", 0},
    {"not a number", "abc", 0},
    {"zero", "0", 0},
    {"negative", "-2", -2},
    {"explicit plus", "+5", 5},
    {"leading spaces", "   7", 7},
    {"leading tab, newline, vertical tab, form feed, return", "\t\n\v\f\r4", 4},
    {"white space only", "  \t", 0},
    {"trailing text ignored", "12abc", 12},
    {"trailing space ignored", "12 3", 12},
    {"exponent", "1e2", 100},
    {"capital exponent with sign", "25E-1", 2.5},
    {"exponent with plus", "2e+1", 20},
    {"exponent without digits is not read", "1e", 1},
    {"exponent sign without digits is not read", "1e+", 1},
    {"decimal point without fraction", "5.", 5},
    {"fraction without integer digits", ".5", 0.5},
    {"negative fraction", "-.25", -0.25},
    {"point alone", ".", 0},
    {"sign alone", "-", 0},
    {"sign then space", "- 3", 0},
    {"two signs", "+-3", 0},
    {"second point ends the number", "1.2.3", 1.2},
    {"no hexadecimal", "0x10", 0},
    {"no infinity word", "inf", 0},
    {"no nan word", "nan", 0},
    {"leading zeros", "007", 7},
    {"full-width digits", "\xA3\xB3", 3},
    {"full-width space before full-width digits", "\xA1\xA1\xA3\xB2\xA3\xAE\xA3\xB5", 2.5},
    {"full-width minus", "\xA3\xAD\xA3\xB3", -3},
    {"Chinese before the number gives 0", "共3页", 0},
};

TEST(ReadPageCount, Table) {
  for (const CountCase& row : kCountCases) {
    SCOPED_TRACE(row.what);
    EXPECT_DOUBLE_EQ(ReadPageCount(row.text), row.expected);
  }
}

TEST(ReadPageCount, RoundsLikeTheCompilerReadsTheSameLiteral) {
  EXPECT_EQ(ReadPageCount("0.1"), 0.1);
  EXPECT_EQ(ReadPageCount("2.9999999"), 2.9999999);
  EXPECT_EQ(ReadPageCount("123456789.123456789"), 123456789.123456789);
}

TEST(ReadPageCount, OutOfRangeExponentGivesInfinity) {
  EXPECT_TRUE(std::isinf(ReadPageCount("1e999")));
  EXPECT_EQ(ReadPageCount("1e-999"), 0.0);
}

}  // namespace
}  // namespace harvester
