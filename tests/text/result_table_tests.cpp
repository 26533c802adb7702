// The result lines as a table: which rows they stand for, and the comma-separated text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/result_table.h"

namespace harvester {
namespace {

struct GroupingCase {
  const char* what;
  std::vector<std::string> lines;
  std::vector<ResultRow> rows;
};

const GroupingCase kGroupingCases[] = {
    {"a row per number, a listing without one gives one",
     {"联系人：张三", "标题文本：出售", "电话：1", "电话：2", "联系人：李四", "标题文本：求购"},
     {{"张三", "出售", "1"}, {"张三", "出售", "2"}, {"李四", "求购", ""}}},
    {"a title with a line break and the other prefixes stays one title",
     {"联系人：甲", "标题文本：A\r\n电话：9\r\n联系人：乙", "电话：1"},
     {{"甲", "A\r\n电话：9\r\n联系人：乙", "1"}}},
    {"a contact that begins with another prefix", {"联系人：电话：5"}, {{"电话：5", "", ""}}},
    {"lines before the first contact line",
     {"电话：1", "标题文本：T", "电话：2", "联系人：甲"}, {{"", "", "1"}, {"", "T", "2"}, {"甲", "", ""}}},
    {"a second title begins another listing",
     {"联系人：甲", "标题文本：A", "标题文本：B"},
     {{"甲", "A", ""}, {"", "B", ""}}},
    {"a line without a prefix is a row of its own",
     {"联系人：甲", "其他", "电话：1"}, {{"甲", "", ""}, {"", "其他", ""}, {"", "", "1"}}},
};

TEST(ResultRows, Table) {
  for (const GroupingCase& row : kGroupingCases) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(ResultRows(row.lines), row.rows);
  }
}

TEST(ResultTableText, HeaderRowsAndQuotedFields) {
  // Commas, quotes and CR LF in a title go through the save's own test.
  const std::vector<ResultRow> rows = {{"\"老\"李", "只在\n换行", "3 4"}};
  EXPECT_EQ(ResultTableText(rows), "联系人,标题,电话\r\n\"\"\"老\"\"李\",\"只在\n换行\",3 4\r\n");
  EXPECT_EQ(ResultTableText({}), "联系人,标题,电话\r\n");
}

}  // namespace
}  // namespace harvester
