#include "automation/pattern_text.h"

#include <climits>
#include <cstddef>

#include "base/lead_byte.h"

namespace harvester {
namespace {

constexpr std::string_view kQuoteMarker = "#\xD2\xFD\xBA\xC5";  // "#引号" in code page 936

}  // namespace

std::string ReplaceQuoteMarker(std::string_view pattern) {
  std::string result;
  result.reserve(pattern.size());
  for (std::size_t at = 0; at < pattern.size();) {
    if (pattern.substr(at).starts_with(kQuoteMarker)) {
      result += '"';
      at += kQuoteMarker.size();
      continue;
    }
    const bool twoBytes = IsLeadByte(pattern[at]) && at + 1 < pattern.size();
    const std::size_t step = twoBytes ? 2 : 1;
    result.append(pattern.substr(at, step));
    at += step;
  }
  return result;
}

int FindTextOffset(std::string_view subject, std::string_view text, int firstIndex) {
  constexpr int kNotFound = -2;
  std::size_t at = firstIndex > 0 ? static_cast<std::size_t>(firstIndex) - 1 : 0;
  if (at >= subject.size()) return kNotFound;
  if (text.empty()) return 0;  // an empty text is found at the start of the subject
  // The match index counts UTF-16 characters, the subject counts bytes: the text lies at or
  // after the index's byte offset, and the scan moves by whole characters from there.
  while (at < subject.size() && subject.size() - at >= text.size()) {
    if (subject.compare(at, text.size(), text) == 0) return static_cast<int>(at);
    at += IsLeadByte(subject[at]) ? 2 : 1;
  }
  return kNotFound;
}

std::optional<int> TruncatedToInt(double value) {
  // Exactly the doubles whose truncation lies in range; NaN fails both comparisons.
  constexpr double kBelowMin = static_cast<double>(INT_MIN) - 1.0;
  constexpr double kAboveMax = static_cast<double>(INT_MAX) + 1.0;
  if (!(value > kBelowMin && value < kAboveMax)) return std::nullopt;
  return static_cast<int>(value);
}

}  // namespace harvester
