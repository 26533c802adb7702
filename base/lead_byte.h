#pragma once
// Program text is code page 936: a byte of 0x81..0xFF begins a two-byte character, a byte of
// 0x00..0x80 is a character of its own (0x80 is the euro sign). Every walk over program text
// that steps by characters asks this one question.
namespace harvester {

constexpr bool IsLeadByte(unsigned char byte) { return byte > 0x80; }
constexpr bool IsLeadByte(char byte) { return IsLeadByte(static_cast<unsigned char>(byte)); }

}  // namespace harvester
