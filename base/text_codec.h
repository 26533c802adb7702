#pragma once
// Every text inside the program is a byte string in code page 936 (GBK). These are the
// only conversions between that text and UTF-16; they never use the system's ANSI code
// page, so the program behaves the same on every system locale.
#include <string>
#include <string_view>

namespace harvester {

inline constexpr unsigned kTextCodePage = 936;

// Program text (code page 936) to UTF-16; any length.
std::wstring TextToWide(std::string_view text);
// UTF-16 to program text (code page 936); characters the code page lacks become its default character.
std::string WideToText(std::wstring_view wide);
// UTF-16 to UTF-8, for files that other programs read whatever their system's code page.
std::string WideToUtf8(std::wstring_view wide);

}  // namespace harvester
