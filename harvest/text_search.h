#pragma once
// Searching and cutting program text (code page 936: a byte of 0x81..0xFF begins a
// two-byte character). Positions are 1-based byte positions, -1 meaning not found.
#include <string>
#include <string_view>

namespace harvester {

// First occurrence of marker at or after start (values below 1 count as 1) that begins on a
// character boundary; exact, case-sensitive bytes. -1 when absent or when text or marker is empty.
int FindText(std::string_view text, std::string_view marker, int start);

// The text between the first startMarker at or after position and the first endMarker after it.
// position is also an out-value: the first byte after the end marker, or 0 when a marker is missing.
std::string GetTextBetween(std::string_view text, std::string_view startMarker,
                           std::string_view endMarker, int& position);

// The text with every line cut after the last closing in it, and emptied where it holds none;
// the line ends themselves stay. Lines end at the characters of lineEnds, one-byte characters
// of which closing holds none. A search for a pattern whose matches lie within one line and end
// at the first closing after their start finds the same matches in what is left: nothing after
// a line's last closing can be part of one.
std::string CutAfterLastClosings(std::string text, std::string_view closing, std::string_view lineEnds);

}  // namespace harvester
