#pragma once
// Plain versions of the text rules, written straight from their statement and with no care
// for speed, to check the program's versions against.
#include <cstddef>
#include <cstdlib>
#include <regex>
#include <string>
#include <string_view>

#include "base/lead_byte.h"
#include "harvest/combining_marks.h"

namespace harvester::reference {

// True when byte offset at of text begins a character: walks from the first byte every time.
inline bool OnBoundary(std::string_view text, std::size_t at) {
  std::size_t walk = 0;
  while (walk < at) walk += IsLeadByte(text[walk]) ? 2 : 1;
  return walk == at;
}

inline int FindText(std::string_view text, std::string_view marker, int start) {
  if (text.empty() || marker.empty()) return -1;
  if (start < 1) start = 1;
  for (std::size_t candidate = static_cast<std::size_t>(start) - 1;
       candidate + marker.size() <= text.size(); ++candidate) {
    bool equal = true;
    for (std::size_t i = 0; i < marker.size() && equal; ++i) equal = text[candidate + i] == marker[i];
    if (equal && OnBoundary(text, candidate)) return static_cast<int>(candidate) + 1;
  }
  return -1;
}

inline std::string GetTextBetween(std::string_view text, std::string_view startMarker,
                                  std::string_view endMarker, int& position) {
  const int found = FindText(text, startMarker, position);
  if (found == -1) {
    position = 0;
    return {};
  }
  const int valueStart = found + static_cast<int>(startMarker.size());
  const int end = FindText(text, endMarker, valueStart);
  if (end == -1) {
    position = 0;
    return {};
  }
  position = end + static_cast<int>(endMarker.size());
  std::string value;
  for (int at = valueStart; at < end; ++at) value += text[static_cast<std::size_t>(at) - 1];
  return value;
}

// Every line cut after its last closing: one character at a time, a line ended by a one-byte
// character of lineEnds.
inline std::string CutAfterLastClosings(std::string_view text, std::string_view closing, std::string_view lineEnds) {
  if (closing.empty()) return std::string(text);
  std::string kept, line;
  std::size_t lineKept = 0;
  for (std::size_t at = 0; at < text.size(); at += IsLeadByte(text[at]) ? 2 : 1) {
    if (!IsLeadByte(text[at]) && lineEnds.find(text[at]) != std::string_view::npos) {
      kept += line.substr(0, lineKept) + text[at];
      line.clear();
      lineKept = 0;
      continue;
    }
    if (text.substr(at).starts_with(closing)) lineKept = line.size() + closing.size();
    line += text.substr(at, IsLeadByte(text[at]) ? 2 : 1);
  }
  return kept + line.substr(0, lineKept);
}

// The page count: full-width forms of ASCII mapped, then the leading decimal number.
inline double ReadPageCount(std::string_view text) {
  std::string mapped;
  std::size_t at = 0;
  while (at < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    if (IsLeadByte(lead) && at + 1 < text.size()) {
      const unsigned char trail = static_cast<unsigned char>(text[at + 1]);
      if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) mapped += static_cast<char>(trail - 0x80);
      else if (lead == 0xA1 && trail == 0xA1) mapped += ' ';
      else if (lead == 0xA1 && trail == 0xAB) mapped += '~';
      else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF)) mapped += '*';
      else mapped.append(text.substr(at, 2));
      at += 2;
    } else {
      mapped += text[at++];
    }
  }
  static const std::regex number(R"(^[ \t\n\v\f\r]*([+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?))");
  std::smatch match;
  if (!std::regex_search(mapped, match, number)) return 0;
  return std::strtod(match[1].str().c_str(), nullptr);
}

// "#引号" in code page 936.
constexpr std::string_view kQuoteMarker = "#\xD2\xFD\xBA\xC5";

inline std::string ReplaceQuoteMarker(std::string_view pattern) {
  std::string result;
  std::size_t at = 0;
  while (at < pattern.size()) {
    if (pattern.size() - at >= kQuoteMarker.size() && pattern.compare(at, kQuoteMarker.size(), kQuoteMarker) == 0) {
      result += '"';
      at += kQuoteMarker.size();
    } else if (IsLeadByte(pattern[at]) && at + 1 < pattern.size()) {
      result += pattern[at];
      result += pattern[at + 1];
      at += 2;
    } else {
      result += pattern[at++];
    }
  }
  return result;
}

// The byte offset of a found text: from the match's start, one character at a time; -2 when
// not found.
inline int FindTextOffset(std::string_view subject, std::string_view text, int firstIndex) {
  std::size_t at = firstIndex > 0 ? static_cast<std::size_t>(firstIndex) - 1 : 0;
  if (at >= subject.size()) return -2;
  if (text.empty()) return 0;
  for (; at < subject.size(); at += IsLeadByte(subject[at]) ? 2 : 1) {
    if (subject.substr(at, text.size()) == text) return static_cast<int>(at);
  }
  return -2;
}

// Whether a text holds a combining mark: one unit at a time, by the unit rule.
inline bool HasCombiningMark(std::u16string_view text) {
  for (const char16_t unit : text) {
    if (harvester::IsCombiningMark(unit)) return true;
  }
  return false;
}

}  // namespace harvester::reference
