// The regular-expression object, on the engine it settles on by itself (the platform's object
// wherever it can be created) and on the built-in one: the same rules hold for both.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "automation/calls.h"
#include "automation/regex_object.h"
#include "tests/automation/test_object.h"
#include "tests/automation/typed_matches.h"

namespace harvester {
namespace {

// The pattern object's table runs on the engine the object settles on by itself, with the match
// collections as this platform gives them (Wine 8's: bound by name) and with collections that
// describe themselves as Windows' do (bound through their type information, Item taking a
// long), and on the built-in engine.
enum class MatchObjects { kAsGiven, kTyped };

struct TableRun {
  RegexObject::Engine engine;
  MatchObjects matches;
};

class RegexObjectTest : public ::testing::TestWithParam<TableRun> {
 protected:
  void SetUp() override {
    if (GetParam().matches == MatchObjects::kAsGiven) return;
    typed_ = std::make_unique<testing::TypedMatches>();
    ASSERT_TRUE(typed_->Registered());
  }
  void TearDown() override {
    if (!typed_) return;
    const testing::TypedMatchCalls& calls = typed_->Calls();
    EXPECT_EQ(calls.namesAsked, 0) << "a typed collection bound by name";
    EXPECT_EQ(calls.undeclared, 0) << "a call the type information does not declare";
    EXPECT_EQ(calls.invokes > 0, calls.typeInfos > 0);
  }
  RegexObject::Engine Engine() const { return GetParam().engine; }

  std::unique_ptr<testing::TypedMatches> typed_;
};

INSTANTIATE_TEST_SUITE_P(Engines, RegexObjectTest,
                         ::testing::Values(TableRun{RegexObject::Engine::kUndecided, MatchObjects::kAsGiven},
                                           TableRun{RegexObject::Engine::kUndecided, MatchObjects::kTyped},
                                           TableRun{RegexObject::Engine::kBuiltIn, MatchObjects::kAsGiven}),
                         [](const ::testing::TestParamInfo<TableRun>& info) {
                           if (info.param.engine == RegexObject::Engine::kBuiltIn) return std::string("BuiltIn");
                           return std::string(info.param.matches == MatchObjects::kTyped ? "TriedTyped" : "Tried");
                         });

TEST_P(RegexObjectTest, DefaultsAndOptionsAreWritten) {
  RegexObject regex(Engine());
  EXPECT_EQ(regex.UsedEngine(), Engine()) << "nothing is tried before the first search";
  ASSERT_TRUE(regex.Search("a", "a"));
  ComObject platform;
  const bool platformThere = Create(platform, "VBScript.RegExp");
  EXPECT_EQ(regex.UsedEngine(), Engine() == RegexObject::Engine::kUndecided && platformThere
                                    ? RegexObject::Engine::kPlatform
                                    : RegexObject::Engine::kBuiltIn);
  EXPECT_EQ(ReadTextProperty(regex.regExp, "IgnoreCase"), "-1");
  EXPECT_EQ(ReadTextProperty(regex.regExp, "Multiline"), "-1");
  EXPECT_EQ(ReadTextProperty(regex.regExp, "Global"), "-1");
  ASSERT_TRUE(regex.Search("a", "a", true, false, false));
  EXPECT_EQ(ReadTextProperty(regex.regExp, "IgnoreCase"), "0");
  EXPECT_EQ(ReadTextProperty(regex.regExp, "Multiline"), "0");
  EXPECT_EQ(ReadTextProperty(regex.regExp, "Global"), "0");
  EXPECT_EQ(regex.GetPattern(), "a");
}

TEST_P(RegexObjectTest, ProgramPatternsOverPages) {
  RegexObject regex(Engine());
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

TEST_P(RegexObjectTest, NoMatchAndInvalidPattern) {
  RegexObject regex(Engine());
  EXPECT_TRUE(regex.Search("zzz", "abc"));
  EXPECT_EQ(regex.GetMatchCount(), 0);
  EXPECT_EQ(regex.GetSubMatchCount(), 0);
  EXPECT_FALSE(regex.Search("(", "abc"));
  EXPECT_TRUE(IsEmpty(regex.matches));
  EXPECT_EQ(regex.GetMatchCount(), 0);
  EXPECT_EQ(regex.GetMatchText(1), "");
  EXPECT_EQ(regex.GetSubMatchText(1, 1), "");
}

TEST_P(RegexObjectTest, EmptySubjectIsSearchedAndHasNoMatches) {
  // A failed fetch leaves an empty page; searching it finds nothing and takes nothing down.
  RegexObject regex(Engine());
  ASSERT_TRUE(regex.Search("a", "a"));
  EXPECT_TRUE(regex.Search("href=\"tel:(.*?)\"", ""));
  EXPECT_FALSE(IsEmpty(regex.matches));
  EXPECT_EQ(regex.GetMatchCount(), 0);
  EXPECT_EQ(regex.GetMatchText(1), "");
  EXPECT_EQ(regex.GetSubMatchText(1, 1), "");
  EXPECT_EQ(regex.GetSubMatchCount(), 0);
  EXPECT_EQ(regex.GetPattern(), "href=\"tel:(.*?)\"");
  EXPECT_EQ(regex.Replace("x"), "");
  // (No pattern that matches the empty text: Wine's object, searching globally, never ends on one.)
  ASSERT_TRUE(regex.Search("a", "banana"));
  EXPECT_EQ(regex.Replace(""), "bnn") << "the empty replacement";
}

TEST_P(RegexObjectTest, QuoteMarker) {
  RegexObject regex(Engine());
  ASSERT_TRUE(regex.Search("a=#引号(.*?)#引号", "a=\"x\"", false, true, true, true));
  EXPECT_EQ(regex.GetPattern(), "a=\"(.*?)\"");
  EXPECT_EQ(regex.GetSubMatchText(1, 1), "x");
  ASSERT_TRUE(regex.Search("#引号", "#引号", false, true, true, false));
  EXPECT_EQ(regex.GetPattern(), "#引号");
  EXPECT_EQ(regex.GetMatchCount(), 1);
}

TEST_P(RegexObjectTest, PositionAndChineseText) {
  RegexObject regex(Engine());
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

// Typed collections are bound through their type information, and their Item gets the index as
// the callee coerces it: an index long cannot hold fails there and gives nothing.
TEST(TypedMatchObjects, BoundThroughTheirTypeInformation) {
  testing::TypedMatches typed;
  ASSERT_TRUE(typed.Registered());
  RegexObject regex;
  ASSERT_TRUE(regex.Search("(\\d)(x)?", "a1b2"));
  ASSERT_EQ(regex.GetMatchCount(), 2);
  int position = -100;
  EXPECT_EQ(regex.GetMatchText(2, &position), "2");
  EXPECT_EQ(position, 3);
  EXPECT_EQ(regex.GetSubMatchText(1, 1), "1");
  EXPECT_EQ(regex.GetSubMatchText(1, 2), "");
  EXPECT_EQ(regex.GetSubMatchCount(), 2);
  const int invokes = typed.Calls().invokes;
  EXPECT_EQ(regex.GetMatchText(INT_MIN, &position), "");
  EXPECT_EQ(position, -2);
  EXPECT_EQ(regex.GetSubMatchText(INT_MIN, 1), "");
  EXPECT_GE(typed.Calls().invokes, invokes + 2) << "the out-of-range indices reached the collection";
  EXPECT_GT(typed.Calls().typeInfos, 0);
  EXPECT_GT(typed.Calls().itemIndexNotLong, 0) << "the program's index arrives as it is given";
  EXPECT_EQ(typed.Calls().namesAsked, 0);
  EXPECT_EQ(typed.Calls().undeclared, 0);
}

// The object over a test collection whose numbers are set by the test: whatever the collection
// answers, the conversions to integers stay defined.
class RegexOverTestCollection : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(testing::TestTypeInfo(), nullptr);
    raw = testing::TestObject::Make(true);
    regex.matches = ComObject::FromPointer(raw);
  }
  void TearDown() override {
    Clear(regex.matches);
    raw->calls.clear();
    EXPECT_EQ(raw->References(), 1u) << "references left over by the object";
    raw->Release();
  }

  RegexObject regex;
  testing::TestObject* raw = nullptr;
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST_F(RegexOverTestCollection, CountsOutsideTheIntegersReadAsZero) {
  const std::pair<double, int> rows[] = {
      {3.99, 3}, {2147483647.9, INT_MAX}, {kNaN, 0}, {kInfinity, 0}, {-kInfinity, 0},
      {1e300, 0}, {-1e300, 0}, {2147483648.0, 0}, {-2147483649.0, 0},
  };
  for (const auto& [count, expected] : rows) {
    SCOPED_TRACE(count);
    raw->itemCount = count;
    EXPECT_EQ(regex.GetMatchCount(), expected);
    EXPECT_EQ(regex.GetSubMatchCount(), count > 0 ? expected : 0);
  }
}

TEST_F(RegexOverTestCollection, FirstIndexOutsideTheIntegersGivesNoPosition) {
  raw->itemCount = 1;
  raw->name = L"b";
  regex.subject = "abcb";
  const std::pair<double, int> rows[] = {
      {2.0, 1}, {3.0, 3}, {-5.0, 1}, {kNaN, -2}, {kInfinity, -2}, {-kInfinity, -2}, {1e300, -2}, {-1e300, -2},
  };
  for (const auto& [firstIndex, expected] : rows) {
    SCOPED_TRACE(firstIndex);
    raw->firstIndex = firstIndex;
    int position = 100;
    EXPECT_EQ(regex.GetMatchText(1, &position), "b");
    EXPECT_EQ(position, expected);
  }
}

TEST_F(RegexOverTestCollection, ExtremeIndicesReachTheCollectionLessOne) {
  raw->itemCount = 1;
  raw->name = L"b";
  regex.subject = "b";
  for (const int index : {INT_MIN, INT_MIN + 1, 0, 1, INT_MAX}) {
    SCOPED_TRACE(index);
    raw->calls.clear();
    int position = 100;
    EXPECT_EQ(regex.GetMatchText(index, &position), index == 1 ? "b" : "");
    EXPECT_EQ(position, index == 1 ? 0 : -2);
    ASSERT_FALSE(raw->calls.empty());
    EXPECT_EQ(raw->calls[0].id, testing::kItem);
    ASSERT_EQ(raw->calls[0].types, std::vector<VARTYPE>{VT_R8});
    EXPECT_EQ(raw->calls[0].values[0].Get()->dblVal, static_cast<double>(index) - 1.0);

    raw->calls.clear();
    EXPECT_EQ(regex.GetSubMatchText(index, index), "");
    ASSERT_FALSE(raw->calls.empty());
    EXPECT_EQ(raw->calls[0].values[0].Get()->dblVal, static_cast<double>(index) - 1.0);
    if (index == 1) {
      ASSERT_GE(raw->calls.size(), 3u);  // Item, SubMatches, Item of the groups
      EXPECT_EQ(raw->calls[2].values[0].Get()->dblVal, 0.0);
    }
  }
}

}  // namespace
}  // namespace harvester
