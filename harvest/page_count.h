#pragma once
// Reading the page count box as a number.
#include <string>
#include <string_view>

namespace harvester {

// Full-width forms of ASCII characters (0xA3 0xA1..0xFE, the full-width space, tilde and the
// two stars) turned into their ASCII characters; everything else unchanged.
std::string FullWidthToAscii(std::string_view text);

// The longest leading decimal number of the text after FullWidthToAscii (leading white space,
// optional sign, digits with optional fraction, optional exponent); 0 when there is none.
double ReadPageCount(std::string_view text);

}  // namespace harvester
