// The regular-expression object over the platform's pattern engine.
#include <gtest/gtest.h>

#include "automation/calls.h"
#include "automation/regex_object.h"

namespace harvester {
namespace {

TEST(RegexObject, DefaultsAndOptionsAreWritten) {
  RegexObject regex;
  ASSERT_TRUE(regex.Search("a", "a"));
  EXPECT_EQ(ReadTextProperty(regex.regExp, "IgnoreCase"), "-1");
  EXPECT_EQ(ReadTextProperty(regex.regExp, "Multiline"), "-1");
  EXPECT_EQ(ReadTextProperty(regex.regExp, "Global"), "-1");
  ASSERT_TRUE(regex.Search("a", "a", true, false, false));
  EXPECT_EQ(ReadTextProperty(regex.regExp, "IgnoreCase"), "0");
  EXPECT_EQ(ReadTextProperty(regex.regExp, "Multiline"), "0");
  EXPECT_EQ(ReadTextProperty(regex.regExp, "Global"), "0");
  EXPECT_EQ(regex.GetPattern(), "a");
}

TEST(RegexObject, ProgramPatternsOverPages) {
  RegexObject regex;
  const std::string page =
      "<ul><li><a class=\"list-item\" href=\"/a/1.html\">一</a></li>\r\n"
      "<li><a class=\"list-item\" href=\"\">空</a></li>\r\n"
      "<li><a class=\"list-item\" href=\"/a/3.html\">三</a></li></ul>";
  ASSERT_TRUE(regex.Search("<a class=\"list-item\" href=\"(.*?)\">", page));
  ASSERT_EQ(regex.GetMatchCount(), 3);
  EXPECT_EQ(regex.GetSubMatchText(1, 1), "/a/1.html");
  EXPECT_EQ(regex.GetSubMatchText(2, 1), "");
  EXPECT_EQ(regex.GetSubMatchText(3, 1), "/a/3.html");
  EXPECT_EQ(regex.GetSubMatchCount(), 1);
  EXPECT_EQ(regex.GetMatchText(0), "");
  EXPECT_EQ(regex.GetMatchText(4), "");

  ASSERT_TRUE(regex.Search("href=\"tel:(.*?)\"", "<a HREF=\"TEL:13800000000\">电话</a> <a href=\"tel:010-1\">"));
  ASSERT_EQ(regex.GetMatchCount(), 2) << "a second search replaces the first's matches";
  EXPECT_EQ(regex.GetSubMatchText(1, 1), "13800000000");
  EXPECT_EQ(regex.GetSubMatchText(2, 1), "010-1");
  EXPECT_EQ(regex.Replace("X"), "<a X>电话</a> <a X>");
}

TEST(RegexObject, NoMatchAndInvalidPattern) {
  RegexObject regex;
  EXPECT_TRUE(regex.Search("zzz", "abc"));
  EXPECT_EQ(regex.GetMatchCount(), 0);
  EXPECT_EQ(regex.GetSubMatchCount(), 0);
  EXPECT_FALSE(regex.Search("(", "abc"));
  EXPECT_TRUE(IsEmpty(regex.matches));
  EXPECT_EQ(regex.GetMatchCount(), 0);
  EXPECT_EQ(regex.GetMatchText(1), "");
  EXPECT_EQ(regex.GetSubMatchText(1, 1), "");
}

TEST(RegexObject, EmptySubjectHasNoMatches) {
  // A failed fetch leaves an empty page; searching it must not take the program down.
  RegexObject regex;
  ASSERT_TRUE(regex.Search("a", "a"));
  EXPECT_FALSE(regex.Search("href=\"tel:(.*?)\"", ""));
  EXPECT_EQ(regex.GetMatchCount(), 0);
  EXPECT_EQ(regex.GetSubMatchText(1, 1), "");
  EXPECT_EQ(regex.GetPattern(), "href=\"tel:(.*?)\"");
}

TEST(RegexObject, QuoteMarker) {
  RegexObject regex;
  ASSERT_TRUE(regex.Search("a=#引号(.*?)#引号", "a=\"x\"", false, true, true, true));
  EXPECT_EQ(regex.GetPattern(), "a=\"(.*?)\"");
  EXPECT_EQ(regex.GetSubMatchText(1, 1), "x");
  ASSERT_TRUE(regex.Search("#引号", "#引号", false, true, true, false));
  EXPECT_EQ(regex.GetPattern(), "#引号");
  EXPECT_EQ(regex.GetMatchCount(), 1);
}

TEST(RegexObject, PositionAndChineseText) {
  RegexObject regex;
  ASSERT_TRUE(regex.Search("[0-9]+", "电话：13800000000"));
  int position = -100;
  EXPECT_EQ(regex.GetMatchText(1, &position), "13800000000");
  EXPECT_EQ(ReadNumberProperty(ReadObjectProperty(regex.matches, "Item", {Arg(0.0)}), "FirstIndex"), 3.0);
  EXPECT_EQ(position, 6);
  ASSERT_TRUE(regex.Search("联系人：(.*?)<", "<p>联系人：王先生</p>"));
  EXPECT_EQ(regex.GetSubMatchText(1, 1, &position), "王先生");
  EXPECT_EQ(position, 11);  // "<p>" and four double-byte characters
  EXPECT_EQ(regex.GetMatchText(2, &position), "");
  EXPECT_EQ(position, -2);
}

}  // namespace
}  // namespace harvester
