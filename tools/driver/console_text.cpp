#include "tools/driver/console_text.h"

#include <windows.h>

#include <algorithm>

#include "tests/support/utf8.h"

namespace harvester::driver {
namespace {

using testing::Utf8;

void Write(DWORD which, std::wstring_view text) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(handle, &mode)) {
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string bytes = Utf8(text);
  std::string_view rest = bytes;
  while (!rest.empty() && WriteFile(handle, rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr) &&
         written > 0)
    rest.remove_prefix(written);
}

}  // namespace

void WriteOut(std::wstring_view text) { Write(STD_OUTPUT_HANDLE, text); }
void WriteErr(std::wstring_view text) { Write(STD_ERROR_HANDLE, text); }

void Note(std::wstring_view text) {
  std::wstring line = L"driver: ";
  line += text;
  line += L"\n";
  WriteErr(line);
}

std::wstring WindowsPath(const std::wstring& given) {
  if (!given.empty() && given[0] == L'/') {
    // Wine's own conversion knows the prefix's drive mapping; Z: is the root in every prefix.
    using DosName = LPWSTR(CDECL*)(LPCSTR);
    const auto dosName = reinterpret_cast<DosName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (dosName) {
      if (LPWSTR converted = dosName(Utf8(given).c_str())) {
        std::wstring path = converted;
        HeapFree(GetProcessHeap(), 0, converted);
        return path;
      }
    }
    std::wstring path = L"Z:" + given;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
  }
  std::wstring relative = given;
  std::replace(relative.begin(), relative.end(), L'/', L'\\');
  std::wstring full(32768, L'\0');
  const DWORD length = GetFullPathNameW(relative.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length == 0 || length >= full.size()) return relative;
  full.resize(length);
  return full;
}

std::wstring WithDefaultExtension(const std::wstring& path, const wchar_t* extension) {
  const size_t slash = path.find_last_of(L"\\/");
  const size_t dot = path.find_last_of(L'.');
  if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) return path;
  return path + L"." + extension;
}

}  // namespace harvester::driver
