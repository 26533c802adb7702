#include "harvest/combining_marks.h"

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace harvester {
namespace {

struct UnitRange {
  char16_t first, last;
};

// The units a composition could join to the character before them. A composition with the
// composite check gives other bytes only when its precomposed character has a form in code
// page 936, and code page 936 holds characters of the Basic Multilingual Plane only: so a
// mark outside that plane (a surrogate pair) never changes the text, and only the plane's own
// marks are listed. The ranges cover
//  - every character of the classes nonspacing, spacing and enclosing mark (Unicode 15),
//  - every second character of a canonical two-character decomposition (this includes the
//    composition table behind Wine's WideCharToMultiByte, whose second characters in this
//    plane are U+0300..U+0345, U+0653..U+0655, a few vowel signs and nuktas of Indic scripts,
//    U+102E, U+1B35, U+3099 and U+309A),
//  - the vowels and final consonants of conjoining Korean letters (composed by rule),
//  - the spacing kana sound marks U+309B/U+309C and their half-width forms U+FF9E/U+FF9F.
// Ranges are widened over the letters between marks of the same scripts, none of which code
// page 936 holds: a page in those scripts only loses the shortcut.
constexpr UnitRange kMarkRanges[] = {
    {0x0300, 0x036F},  // combining diacritical marks
    {0x0483, 0x0489},  // Cyrillic combining marks
    {0x0591, 0x1DFF},  // Hebrew to the diacritical marks supplement (U+1AB0.., U+1DC0..)
    {0x20D0, 0x20FF},  // combining marks for symbols
    {0x2CEF, 0x2CF1},  // Coptic
    {0x2D7F, 0x2D7F},  // Tifinagh
    {0x2DE0, 0x2DFF},  // Cyrillic extended-A
    {0x302A, 0x302F},  // ideographic and Hangul tone marks
    {0x3099, 0x309C},  // kana sound marks, combining and spacing
    {0xA66F, 0xA69F},  // Cyrillic extended-B
    {0xA6F0, 0xA6F1},  // Bamum
    {0xA802, 0xABED},  // Syloti Nagri to Meetei Mayek
    {0xFB1E, 0xFB1E},  // Hebrew point judeo-spanish varika
    {0xFE00, 0xFE0F},  // variation selectors
    {0xFE20, 0xFE2F},  // combining half marks
    {0xFF9E, 0xFF9F},  // half-width kana sound marks
};

// Wider ranges around the ones above, fewer of them, for a first look at a round of units: a
// Chinese page's own characters (ASCII, Chinese, its punctuation and full-width forms) lie
// outside them, and only a round with a unit inside is compared with every range.
constexpr UnitRange kNearMarkRanges[] = {
    {0x0300, 0x1DFF}, {0x20D0, 0x20FF}, {0x2CEF, 0x2DFF}, {0x302A, 0x309C},
    {0xA66F, 0xABED}, {0xFB1E, 0xFE2F}, {0xFF9E, 0xFF9F},
};

template <std::size_t N>
constexpr bool InRanges(const UnitRange (&ranges)[N], char16_t unit) {
  for (const UnitRange& range : ranges) {
    if (unit >= range.first && unit <= range.last) return true;
  }
  return false;
}

// Every range of the first look holds the ranges of marks it overlaps.
template <std::size_t N>
constexpr bool NearRangesHoldEveryMark(const UnitRange (&near)[N]) {
  for (const UnitRange& range : kMarkRanges) {
    bool held = false;
    for (const UnitRange& wide : near) held = held || (wide.first <= range.first && range.last <= wide.last);
    if (!held) return false;
  }
  return true;
}
static_assert(NearRangesHoldEveryMark(kNearMarkRanges));

bool AnyMarkPlain(const char16_t* units, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (InRanges(kMarkRanges, units[i])) return true;
  }
  return false;
}

#if defined(__SSE2__)
// Eight units at a time. SSE2 compares 16-bit lanes as signed numbers only; flipping the top
// bit of both sides turns that order into the unsigned one. A unit u lies in [first, last]
// exactly when (u - first) mod 2^16 is below last - first + 1 as an unsigned number, and
// (u with its top bit flipped) - first is u - first with its top bit flipped.
template <std::size_t N>
class RangeTest {
 public:
  explicit RangeTest(const UnitRange (&ranges)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
      first_[i] = _mm_set1_epi16(static_cast<short>(ranges[i].first));
      width_[i] = _mm_set1_epi16(static_cast<short>((ranges[i].last - ranges[i].first + 1) ^ 0x8000));
    }
  }

  // A lane of all ones for every unit in one of the ranges.
  __m128i Lanes(__m128i units) const {
    const __m128i flipped = _mm_xor_si128(units, _mm_set1_epi16(static_cast<short>(0x8000)));
    __m128i hits = _mm_setzero_si128();
#pragma GCC unroll 16
    for (std::size_t i = 0; i < N; ++i) {
      hits = _mm_or_si128(hits, _mm_cmplt_epi16(_mm_sub_epi16(flipped, first_[i]), width_[i]));
    }
    return hits;
  }

  // Whether one of the units [at, at + 8 * blocks) lies in one of the ranges.
  bool Any(const char16_t* at, std::size_t blocks) const {
    __m128i hits = _mm_setzero_si128();
    for (std::size_t block = 0; block < blocks; ++block) {
      hits = _mm_or_si128(hits, Lanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 8 * block))));
    }
    return _mm_movemask_epi8(hits) != 0;
  }

 private:
  __m128i first_[N];
  __m128i width_[N];
};
#endif

}  // namespace

bool IsCombiningMark(char16_t unit) { return InRanges(kMarkRanges, unit); }

bool HasCombiningMark(std::u16string_view text) {
  const char16_t* units = text.data();
  const std::size_t count = text.size();
  std::size_t at = 0;
#if defined(__SSE2__)
  const RangeTest nearMarks(kNearMarkRanges);
  const RangeTest marks(kMarkRanges);
  // Thirty-two units a round: a page without marks is read at one branch a round.
  for (; count - at >= 32; at += 32) {
    if (nearMarks.Any(units + at, 4) && marks.Any(units + at, 4)) return true;
  }
  for (; count - at >= 8; at += 8) {
    if (marks.Any(units + at, 1)) return true;
  }
#endif
  return AnyMarkPlain(units + at, count - at);
}

}  // namespace harvester
