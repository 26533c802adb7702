#pragma once
// Fetched pages arrive as UTF-8 bytes; inside the program all text is code page 936.
#include <cstdint>
#include <span>
#include <string>

#include "automation/com_object.h"

namespace harvester {

// UTF-8 bytes to UTF-16 code units (little-endian, two bytes each, no terminator).
Bytes Utf8ToUtf16(std::span<const std::uint8_t> utf8);
// UTF-16 bytes to program text, ending at the first zero byte.
std::string Utf16ToLocal(const Bytes& utf16);
// Utf16ToLocal(Utf8ToUtf16(bytes)).
std::string PageBytesToText(std::span<const std::uint8_t> bytes);
// The same for a fetched body, converted where it lies and given back as soon as its UTF-16
// form is made: the page is never held in all three forms at once.
std::string PageBytesToText(VariantBytes&& body);

}  // namespace harvester
