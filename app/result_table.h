#pragma once
// The result lines as a table that a spreadsheet opens: a row for each phone number, beside its
// listing's contact and title. Free of windows.h, so that it builds natively too.
#include <span>
#include <string>
#include <vector>

namespace harvester {

// One row of the table; program text (code page 936), without the lines' prefixes.
struct ResultRow {
  std::string contact;
  std::string title;
  std::string phone;  // empty in the one row of a listing without a number
  bool operator==(const ResultRow&) const = default;
};

// The header row's fields: contact, title, phone.
inline constexpr char kResultTableHeader[] = "联系人,标题,电话";

// The rows that result lines, as the run writes them, stand for. Each line is one item of the
// result list, taken by its prefix alone, so a title that holds a line break or another line's
// prefix stays one title. A contact line begins a listing; its title line and its phone lines
// follow. A title line that finds its listing titled or numbered already, and a phone line before
// any listing, begin a listing without a contact. A listing gives a row for each of its phone
// lines, or one row with no phone when it has none. A line with none of the prefixes is kept
// whole as the title of a row of its own.
std::vector<ResultRow> ResultRows(std::span<const std::string> lines);

// The header row and the rows as comma-separated values, each row ended by CR LF; a field that
// holds a comma, a double quote, CR or LF is put in double quotes, its double quotes doubled.
std::string ResultTableText(std::span<const ResultRow> rows);

}  // namespace harvester
