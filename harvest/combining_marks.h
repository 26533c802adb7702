#pragma once
// Whether converting UTF-16 text with the composite check can give other bytes than converting
// it without: the check joins a base character and a following combining mark into one
// precomposed character, so text without any mark converts the same either way.
#include <string_view>

namespace harvester {

// True for a UTF-16 unit that a composition could join to the unit before it: every
// combining mark of the Basic Multilingual Plane and the vowels and final consonants of
// conjoining Korean letters, in a few wide ranges (a superset; see the table's comment).
bool IsCombiningMark(char16_t unit);

// True when some unit of text is a combining mark; reads every unit once, eight or more at a time.
bool HasCombiningMark(std::u16string_view text);

}  // namespace harvester
