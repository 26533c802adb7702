#pragma once
// Text and number work of the regular-expression object that needs no platform call.
#include <optional>
#include <string>
#include <string_view>

namespace harvester {

// Every "#引号" (code page 936 bytes) replaced by one double quote, left to right, scanning
// two-byte characters as units so a match never starts on a second byte.
std::string ReplaceQuoteMarker(std::string_view pattern);

// The 0-based byte offset of text in subject, scanned from the 1-based position firstIndex
// (byte offset firstIndex - 1, or 0 when firstIndex is 0), stepping over two-byte characters
// as units; -2 when not found.
int FindTextOffset(std::string_view subject, std::string_view text, int firstIndex);

// A number the pattern object gives (a count or an index) truncated toward zero, when the result
// is an int; nothing for NaN, the infinities and every value outside INT_MIN .. INT_MAX.
std::optional<int> TruncatedToInt(double value);

}  // namespace harvester
