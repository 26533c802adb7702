#pragma once
// The letter case that the built-in pattern engine compares with when IgnoreCase is on: the
// same on every system and in every locale.
namespace harvester {

// The simple upper case of a UTF-16 code unit of the Basic Multilingual Plane, or the unit
// itself; nothing beyond ASCII maps into ASCII. A surrogate maps to itself.
char16_t PatternUpperCase(char16_t unit);

// The same mapping as a table of all 65536 units, for loops that look up unit after unit.
const char16_t* PatternUpperCaseTable();

}  // namespace harvester
