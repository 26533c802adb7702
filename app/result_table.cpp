#include "app/result_table.h"

#include <string_view>

#include "harvest/harvest_run.h"

namespace harvester {
namespace {

// The text of line after prefix, or nothing when line does not begin with it. The prefixes
// begin the line, so their bytes are whole characters there.
bool After(std::string_view line, std::string_view prefix, std::string_view& rest) {
  if (!line.starts_with(prefix)) return false;
  rest = line.substr(prefix.size());
  return true;
}

// A comma, a double quote, CR and LF are single bytes below 0x40, which no second byte of a
// two-byte character takes: a byte found here is that character itself.
void AppendField(std::string& text, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    text += field;
    return;
  }
  text += '"';
  for (const char c : field) {
    if (c == '"') text += '"';
    text += c;
  }
  text += '"';
}

// The listing whose lines are being read, and the rows it gives.
class Listings {
 public:
  explicit Listings(std::vector<ResultRow>& rows) : rows_(rows) {}

  void Begin(std::string_view contact) {
    End();
    listing_ = {std::string(contact), {}, {}};
    open_ = true;
  }
  void Title(std::string_view title) {
    if (!open_ || titled_ || numbered_) Begin({});
    listing_.title = title;
    titled_ = true;
  }
  void Phone(std::string_view phone) {
    if (!open_) Begin({});
    rows_.push_back({listing_.contact, listing_.title, std::string(phone)});
    numbered_ = true;
  }
  // A listing without a number still gives its row.
  void End() {
    if (open_ && !numbered_) rows_.push_back(listing_);
    open_ = titled_ = numbered_ = false;
  }

 private:
  std::vector<ResultRow>& rows_;
  ResultRow listing_;
  bool open_ = false, titled_ = false, numbered_ = false;
};

}  // namespace

std::vector<ResultRow> ResultRows(std::span<const std::string> lines) {
  std::vector<ResultRow> rows;
  Listings listings(rows);
  for (const std::string& line : lines) {
    std::string_view rest;
    if (After(line, kContactPrefix, rest)) {
      listings.Begin(rest);
    } else if (After(line, kTitlePrefix, rest)) {
      listings.Title(rest);
    } else if (After(line, kPhonePrefix, rest)) {
      listings.Phone(rest);
    } else {
      listings.Begin({});
      listings.Title(line);
      listings.End();
    }
  }
  listings.End();
  return rows;
}

std::string ResultTableText(std::span<const ResultRow> rows) {
  std::string text = kResultTableHeader;
  text += "\r\n";
  for (const ResultRow& row : rows) {
    AppendField(text, row.contact);
    text += ',';
    AppendField(text, row.title);
    text += ',';
    AppendField(text, row.phone);
    text += "\r\n";
  }
  return text;
}

}  // namespace harvester
