#include "app/file_dialog.h"

#include <algorithm>
#include <vector>

#include "base/text_codec.h"

namespace harvester {
namespace {

FileDialogFunction g_dialogFunction = nullptr;

// The system's filter form: names and patterns separated by NUL, the list ended by two.
std::wstring SystemFilter(const std::string& filter) {
  std::string text = filter;
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n'))
    text.pop_back();
  if (text.empty()) return {};
  if (text.size() < 2 || text.compare(text.size() - 2, 2, "||") != 0) text += "||";
  std::wstring wide = TextToWide(text);
  std::replace(wide.begin(), wide.end(), L'|', L'\0');
  return wide;
}

}  // namespace

void SetDialogKind(FileDialog& dialog, int kind) { dialog.kind = std::clamp(kind, 0, 3); }

void SetFileDialogFunction(FileDialogFunction function) { g_dialogFunction = function; }

bool OpenFileDialog(FileDialog& dialog, HWND owner) {
  if (dialog.kind != 0 && dialog.kind != 1) return false;  // kinds this program never shows
  const std::wstring filter = SystemFilter(dialog.filter);
  // Room for any path the file system takes; the initial name is cut only if longer.
  std::vector<wchar_t> file(32768, L'\0');
  std::copy_n(dialog.fileName.begin(), std::min(dialog.fileName.size(), file.size() - 1), file.begin());

  OPENFILENAMEW settings = {};
  settings.lStructSize = sizeof settings;
  settings.hwndOwner = owner;
  settings.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
  settings.nFilterIndex = filter.empty() ? 0 : static_cast<DWORD>(std::max(dialog.filterIndex, 1));
  settings.lpstrFile = file.data();
  settings.nMaxFile = static_cast<DWORD>(file.size());
  settings.lpstrDefExt = dialog.defaultExtension.empty() ? nullptr : dialog.defaultExtension.c_str();
  settings.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
  settings.Flags |= dialog.kind == 1 ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST;

  BOOL confirmed;
  if (g_dialogFunction) {
    confirmed = g_dialogFunction(&settings);
  } else {
    confirmed = dialog.kind == 1 ? GetSaveFileNameW(&settings) : GetOpenFileNameW(&settings);
  }
  if (!confirmed) return false;
  dialog.fileName.assign(file.begin(), std::find(file.begin(), file.end(), L'\0'));
  if (!filter.empty()) dialog.filterIndex = static_cast<int>(settings.nFilterIndex);
  return true;
}

}  // namespace harvester
