#pragma once
// The built-in pattern object: an in-process automation object of the program's own with the
// members of "VBScript.RegExp" that the program calls ("IgnoreCase", "Multiline", "Global",
// "Pattern", "Execute", "Replace", "Test"), whose match collection, matches and sub-match
// collections have theirs ("Count", "Item" from 0; "Value", "FirstIndex", "Length",
// "SubMatches"). The built-in engine does the matching. Like the platform's objects under Wine,
// every one of them answers by name only: GetTypeInfoCount gives 0.
#include "automation/com_object.h"

namespace harvester {

// A fresh pattern object: every switch off, the empty pattern.
ComObject MakeBuiltInPatternObject();

}  // namespace harvester
