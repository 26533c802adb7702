#include "harvest/page_text.h"

#include <windows.h>

#include <climits>

#include "base/dll_functions.h"
#include "base/text_codec.h"
#include "harvest/combining_marks.h"

namespace harvester {
namespace {

constexpr UINT kUtf8CodePage = 65001;
constexpr DWORD kCompositeCheck = 0x200;  // WC_COMPOSITECHECK: base plus combining mark -> precomposed

DllFunction<int __stdcall(UINT, DWORD, LPCCH, int, LPWSTR, int)> g_multiByteToWideChar{
    "kernel32.dll", "MultiByteToWideChar"};
DllFunction<int __stdcall(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL)> g_wideCharToMultiByte{
    "kernel32.dll", "WideCharToMultiByte"};

}  // namespace

Bytes Utf8ToUtf16(std::span<const std::uint8_t> utf8) {
  // The converters count in int; a page beyond that cannot be converted and gives nothing.
  if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) return {};
  const auto* input = reinterpret_cast<LPCCH>(utf8.data());
  const int length = static_cast<int>(utf8.size());
  const int units = g_multiByteToWideChar(kUtf8CodePage, 0, input, length, nullptr, 0);
  if (units <= 0) return {};
  Bytes wide(static_cast<size_t>(units) * 2, 0);
  // The buffer comes from operator new, aligned for wchar_t.
  g_multiByteToWideChar(kUtf8CodePage, 0, input, length, reinterpret_cast<LPWSTR>(wide.data()), units);
  return wide;
}

std::string Utf16ToLocal(const Bytes& utf16) {
  const size_t units = utf16.size() / 2;
  if (units == 0 || units > static_cast<size_t>(INT_MAX)) return {};
  // A byte vector's storage comes from operator new, aligned for two-byte units.
  const auto* wide = reinterpret_cast<LPCWCH>(utf16.data());
  const int count = static_cast<int>(units);
  // The composite check only ever joins a base character and a combining mark after it; text
  // without a mark converts to the same bytes without it, many times faster under Wine.
  const std::u16string_view scan(reinterpret_cast<const char16_t*>(utf16.data()), units);
  const DWORD flags = HasCombiningMark(scan) ? kCompositeCheck : 0;
  const int size = g_wideCharToMultiByte(kTextCodePage, flags, wide, count, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string text(static_cast<size_t>(size), '\0');
  g_wideCharToMultiByte(kTextCodePage, flags, wide, count, text.data(), size, nullptr, nullptr);
  const size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

std::string PageBytesToText(std::span<const std::uint8_t> bytes) { return Utf16ToLocal(Utf8ToUtf16(bytes)); }

std::string PageBytesToText(VariantBytes&& body) {
  const Bytes wide = Utf8ToUtf16(body.Get());
  body.Reset();
  return Utf16ToLocal(wide);
}

}  // namespace harvester
