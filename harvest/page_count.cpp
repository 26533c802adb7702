#include "harvest/page_count.h"

#include <cstddef>
#include <cstdlib>

#include "base/lead_byte.h"

namespace harvester {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The ASCII character of a two-byte full-width form, or 0 when the pair is none.
char AsciiOfFullWidth(unsigned char lead, unsigned char trail) {
  if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) return static_cast<char>(trail - 0x80);
  if (lead != 0xA1) return 0;
  switch (trail) {
    case 0xA1: return ' ';
    case 0xAB: return '~';
    case 0xEE:
    case 0xEF: return '*';
    default: return 0;
  }
}

std::size_t SkipDigits(std::string_view text, std::size_t at) {
  while (at < text.size() && IsDigit(text[at])) ++at;
  return at;
}

// Length of the decimal number at the start of text (sign, digits, fraction, exponent); 0 if none.
std::size_t LeadingNumberLength(std::string_view text) {
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  const std::size_t integerEnd = SkipDigits(text, at);
  std::size_t digits = integerEnd - at;
  at = integerEnd;
  if (at < text.size() && text[at] == '.') {
    const std::size_t fractionEnd = SkipDigits(text, at + 1);
    digits += fractionEnd - (at + 1);
    at = fractionEnd;
  }
  if (digits == 0) return 0;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    std::size_t exponent = at + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    const std::size_t exponentEnd = SkipDigits(text, exponent);
    if (exponentEnd > exponent) at = exponentEnd;  // an "e" without digits is not part of the number
  }
  return at;
}

}  // namespace

std::string FullWidthToAscii(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (!IsLeadByte(lead) || at + 1 == text.size()) {
      result += text[at++];
      continue;
    }
    // Two-byte characters are taken as units, so a second byte is never read as a first.
    const char ascii = AsciiOfFullWidth(lead, static_cast<unsigned char>(text[at + 1]));
    if (ascii != 0) {
      result += ascii;
    } else {
      result.append(text.substr(at, 2));
    }
    at += 2;
  }
  return result;
}

double ReadPageCount(std::string_view text) {
  const std::string ascii = FullWidthToAscii(text);
  std::string_view rest = ascii;
  while (!rest.empty() && IsWhiteSpace(rest.front())) rest.remove_prefix(1);
  const std::size_t length = LeadingNumberLength(rest);
  if (length == 0) return 0;
  // strtod reads exactly the number found above (the program never changes the C locale, so
  // the decimal point is '.'); its rounding is the correct one.
  const std::string number(rest.substr(0, length));
  return std::strtod(number.c_str(), nullptr);
}

}  // namespace harvester
