#include "base/text_codec.h"

#include <windows.h>

namespace harvester {

std::wstring TextToWide(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(kTextCodePage, 0, text.data(), size, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(kTextCodePage, 0, text.data(), size, wide.data(), units);
  return wide;
}

namespace {

std::string WideToCodePage(unsigned codePage, std::wstring_view wide) {
  if (wide.empty()) return {};
  const int units = static_cast<int>(wide.size());
  const int bytes = WideCharToMultiByte(codePage, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string text(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), units, text.data(), bytes, nullptr, nullptr);
  return text;
}

}  // namespace

std::string WideToText(std::wstring_view wide) { return WideToCodePage(kTextCodePage, wide); }

std::string WideToUtf8(std::wstring_view wide) { return WideToCodePage(CP_UTF8, wide); }

}  // namespace harvester
