#pragma once
// Fetched pages arrive as UTF-8 bytes; inside the program all text is code page 936.
#include <string>

#include "automation/com_object.h"

namespace harvester {

// UTF-8 bytes to UTF-16 code units (little-endian, two bytes each, no terminator).
Bytes Utf8ToUtf16(const Bytes& utf8);
// UTF-16 bytes to program text, ending at the first zero byte.
std::string Utf16ToLocal(const Bytes& utf16);
// Utf16ToLocal(Utf8ToUtf16(bytes)).
std::string PageBytesToText(const Bytes& bytes);

}  // namespace harvester
