#include "app/copy_results.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "app/control_names.h"
#include "app/controls.h"
#include "app/main_window.h"
#include "app/save_results.h"
#include "base/owners.h"
#include "base/text_codec.h"

namespace harvester {
namespace {

// Another program may hold the clipboard open for a moment (a clipboard viewer reading what
// changed): a few tries within a quarter of a second. 0, or the system's error code.
DWORD OpenClipboardSoon(HWND owner) {
  DWORD error = ERROR_ACCESS_DENIED;
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (OpenClipboard(owner)) return 0;
    if (const DWORD last = GetLastError()) error = last;
    Sleep(25);
  }
  return error;
}

// text as the clipboard's only content; 0, or the system's error code.
DWORD PutUnicodeText(HWND owner, std::wstring_view text) {
  UniqueGlobal memory(GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t)));
  if (!memory) return GetLastError();
  auto* units = static_cast<wchar_t*>(GlobalLock(memory.Get()));
  if (!units) return GetLastError();
  *std::copy(text.begin(), text.end(), units) = L'\0';
  GlobalUnlock(memory.Get());
  if (const DWORD error = OpenClipboardSoon(owner)) return error;
  DWORD error = 0;
  if (!EmptyClipboard() || !SetClipboardData(CF_UNICODETEXT, memory.Get()))
    error = GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;  // a failure, whatever it says
  else
    static_cast<void>(memory.Release());  // the clipboard's now
  CloseClipboard();
  return error;
}

}  // namespace

void CopyResults() {
  const std::vector<std::string> lines = ListBoxItems(names::kResultList);
  if (lines.empty()) return;
  std::string text = lines.front();
  for (size_t i = 1; i < lines.size(); ++i) text += "\r\n" + lines[i];
  const auto& windows = LoadedWindows();
  if (const DWORD error = PutUnicodeText(windows.empty() ? nullptr : windows.front()->hwnd, TextToWide(text)))
    ShowResultFailure(TextToWide("复制失败：") + SystemErrorText(error), "复制全部结果");
}

}  // namespace harvester
