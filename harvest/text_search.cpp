#include "harvest/text_search.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "base/lead_byte.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace harvester {
namespace {

// In program text a byte of 0x81..0xFF begins a two-byte character; 0x00..0x80 stand alone
// (IsLeadByte; the vector code below asks the same question sixteen bytes at a time).
//
// Whether a position begins a character is decided by the bytes just before it, without
// walking the text from its first byte. A byte of 0x00..0x80 is either a character of its own
// or the second byte of one, so the byte after it always begins a character. Between that
// byte and the position lie only bytes of 0x81..0xFF, which pair up into characters: the
// position is a boundary when their number is even.

#if defined(__SSE2__)
// Sixteen bytes at a time (every x86-64 processor has SSE2): a page of Chinese text has long
// runs without a byte of 0x00..0x80, and the run before a marker is read whole.

__m128i Load(const unsigned char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

// Bit i set for every byte i of bytes that is 0x00..0x80 (the larger of it and 0x80 is 0x80).
unsigned SingleBytes(__m128i bytes) {
  const __m128i x80 = _mm_set1_epi8(static_cast<char>(0x80));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(bytes, x80), x80)));
}

// The index after the highest bit of a non-zero mask.
std::size_t AfterHighestBit(unsigned mask) { return static_cast<std::size_t>(32 - std::countl_zero(mask)); }

#endif

// The position after the last byte of 0x00..0x80 in [from, to), or from when there is none.
std::size_t AfterLastSingleByte(const unsigned char* text, std::size_t from, std::size_t to) {
#if defined(__SSE2__)
  while (to - from >= 64) {
    const unsigned char* block = text + to - 64;
    const __m128i parts[4] = {Load(block), Load(block + 16), Load(block + 32), Load(block + 48)};
    // Sixty-four bytes are tested by their smallest byte; only a block that has one is looked into.
    const __m128i smallest = _mm_min_epu8(_mm_min_epu8(parts[0], parts[1]), _mm_min_epu8(parts[2], parts[3]));
    if (SingleBytes(smallest) != 0) {
      for (int part = 3; part >= 0; --part) {
        if (const unsigned mask = SingleBytes(parts[part]))
          return to - 64 + static_cast<std::size_t>(16 * part) + AfterHighestBit(mask);
      }
    }
    to -= 64;
  }
  while (to - from >= 16) {
    if (const unsigned mask = SingleBytes(Load(text + to - 16))) return to - 16 + AfterHighestBit(mask);
    to -= 16;
  }
#endif
  while (to > from) {
    if (!IsLeadByte(text[to - 1])) return to;
    --to;
  }
  return from;
}

// True when position begins a character, given a boundary at or before it.
bool OnBoundary(std::string_view text, std::size_t knownBoundary, std::size_t position) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t runStart = AfterLastSingleByte(bytes, knownBoundary, position);
  return (position - runStart) % 2 == 0;
}

// FindText with a character boundary known at or before from (0-based).
int FindTextAfterBoundary(std::string_view text, std::string_view marker, std::size_t from,
                          std::size_t knownBoundary) {
  if (text.empty() || marker.empty()) return -1;
  if (from > text.size() || text.size() - from < marker.size()) return -1;
  // The bytes before a rejected candidate are looked at no further back than the previous
  // one: every byte is looked at once at most, whatever the text.
  for (std::size_t candidate = text.find(marker, from); candidate != std::string_view::npos;
       candidate = text.find(marker, candidate + 1)) {
    if (OnBoundary(text, knownBoundary, candidate)) return static_cast<int>(candidate) + 1;
    knownBoundary = candidate + 1;  // the candidate is a second byte, so the next byte begins one
  }
  return -1;
}

}  // namespace

std::string CutAfterLastClosings(std::string text, std::string_view closing, std::string_view lineEnds) {
  if (closing.empty()) return text;
  bool stop[256] = {};  // the first bytes of line ends and closings
  for (const char c : lineEnds) stop[static_cast<unsigned char>(c)] = true;
  stop[static_cast<unsigned char>(closing[0])] = true;
  // What is kept moves to the front of the text: no page is ever held twice.
  std::size_t kept = 0;
  std::size_t lineStart = 0;
  std::size_t lineKept = 0;  // the end of the current line's last closing so far
  const auto keepLine = [&](std::size_t lineEnd) {
    std::memmove(text.data() + kept, text.data() + lineStart, lineKept - lineStart);
    kept += lineKept - lineStart;
    if (lineEnd < text.size()) text[kept++] = text[lineEnd];
    lineStart = lineKept = lineEnd + 1;
  };
  // A byte that is the second of a character begins neither a line end nor a closing. The bytes
  // before each candidate are looked at once at most.
  std::size_t knownBoundary = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (!stop[static_cast<unsigned char>(text[at])] || at < knownBoundary) continue;
    const bool character = OnBoundary(text, knownBoundary, at);
    knownBoundary = at + (character && IsLeadByte(text[at]) ? 2 : 1);
    if (!character) continue;
    if (lineEnds.find(text[at]) != std::string_view::npos) keepLine(at);
    else if (text.compare(at, closing.size(), closing) == 0) lineKept = at + closing.size();
  }
  keepLine(text.size());
  text.resize(kept);
  return text;
}

int FindText(std::string_view text, std::string_view marker, int start) {
  if (start < 1) start = 1;
  return FindTextAfterBoundary(text, marker, static_cast<std::size_t>(start) - 1, 0);
}

std::string GetTextBetween(std::string_view text, std::string_view startMarker,
                           std::string_view endMarker, int& position) {
  const int startFound = FindText(text, startMarker, position < 1 ? 1 : position);
  if (startFound < 0) {
    position = 0;
    return {};
  }
  const int valueStart = startFound + static_cast<int>(startMarker.size());
  // The start marker begins a character, so the boundaries before the end marker need not be
  // looked for any further back than the start marker.
  const int endFound = FindTextAfterBoundary(text, endMarker, static_cast<std::size_t>(valueStart) - 1,
                                             static_cast<std::size_t>(startFound) - 1);
  if (endFound < 0) {
    position = 0;
    return {};
  }
  position = endFound + static_cast<int>(endMarker.size());
  return std::string(text.substr(static_cast<std::size_t>(valueStart) - 1,
                                 static_cast<std::size_t>(endFound - valueStart)));
}

}  // namespace harvester
