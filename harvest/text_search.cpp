#include "harvest/text_search.h"

#include <cstddef>

namespace harvester {
namespace {

// In program text a byte of 0x81..0xFF begins a two-byte character; 0x00..0x80 stand alone.
bool BeginsTwoByteCharacter(unsigned char byte) { return byte > 0x80; }

}  // namespace

int FindText(std::string_view text, std::string_view marker, int start) {
  if (text.empty() || marker.empty()) return -1;
  if (start < 1) start = 1;
  const std::size_t from = static_cast<std::size_t>(start) - 1;
  if (from > text.size() || text.size() - from < marker.size()) return -1;

  // The character boundaries are walked once, from the first byte of the text, alongside the
  // candidates: candidates only grow, so the walk never goes back.
  std::size_t boundary = 0;
  std::size_t candidate = text.find(marker, from);
  while (candidate != std::string_view::npos) {
    while (boundary < candidate)
      boundary += BeginsTwoByteCharacter(static_cast<unsigned char>(text[boundary])) ? 2 : 1;
    if (boundary == candidate) return static_cast<int>(candidate) + 1;
    candidate = text.find(marker, candidate + 1);  // the candidate is the second byte of a character
  }
  return -1;
}

std::string GetTextBetween(std::string_view text, std::string_view startMarker,
                           std::string_view endMarker, int& position) {
  const int startFound = FindText(text, startMarker, position < 1 ? 1 : position);
  if (startFound < 0) {
    position = 0;
    return {};
  }
  const int valueStart = startFound + static_cast<int>(startMarker.size());
  const int endFound = FindText(text, endMarker, valueStart);
  if (endFound < 0) {
    position = 0;
    return {};
  }
  position = endFound + static_cast<int>(endMarker.size());
  return std::string(text.substr(static_cast<std::size_t>(valueStart) - 1,
                                 static_cast<std::size_t>(endFound - valueStart)));
}

}  // namespace harvester
