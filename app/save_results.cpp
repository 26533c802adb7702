#include "app/save_results.h"

#include <string>
#include <vector>

#include "app/control_names.h"
#include "app/controls.h"
#include "app/file_dialog.h"
#include "app/layout.h"
#include "app/main_window.h"
#include "app/result_table.h"
#include "base/text_codec.h"
#include "base/owners.h"

namespace harvester {
namespace {

SaveFailureFunction g_failureFunction = nullptr;
const SaveFileOperations kSystemFileOperations = {CreateFileW, WriteFile, FlushFileBuffers, MoveFileExW};
SaveFileOperations g_file = kSystemFileOperations;

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return L".";
  if (slash == 0 || (slash == 2 && path[1] == L':')) return path.substr(0, slash + 1);  // a root
  return path.substr(0, slash);
}

DWORD WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
    DWORD written = 0;
    if (!g_file.write(file, bytes.data(), chunk, &written, nullptr)) return GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    bytes.remove_prefix(written);
  }
  return g_file.flush(file) ? 0 : GetLastError();
}

// An existing target that another program holds open without sharing, or that is read-only,
// must not be replaced: the same refusal the system gives to a writer.
DWORD CheckTargetWritable(const std::wstring& path) {
  // Windows refuses to replace a read-only file; said here too, so that it holds where the
  // file system would let an administrator through.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    return ERROR_ACCESS_DENIED;
  const UniqueFile target(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (target) return 0;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND ? 0 : error;
}

// The file types of the save dialog, in the order it offers them: the lines as the list holds
// them, and the table a spreadsheet opens.
constexpr char kSaveFilter[] = "txt|*.txt|CSV|*.csv";
constexpr int kTableEntry = 2;

std::string TextFileBytes(const std::vector<std::string>& lines) {
  std::string content;
  for (const std::string& line : lines) {
    content += line;
    content += "\r\n";
  }
  return content;
}

// UTF-8 with a byte order mark: a spreadsheet reads the Chinese text right on any system.
std::string TableFileBytes(const std::vector<std::string>& lines) {
  return "\xEF\xBB\xBF" + WideToUtf8(TextToWide(ResultTableText(ResultRows(lines))));
}

}  // namespace

DWORD ReplaceFileContent(const std::wstring& path, std::string_view bytes) {
  if (path.empty()) return ERROR_INVALID_NAME;
  if (const DWORD error = CheckTargetWritable(path)) return error;
  wchar_t temporary[MAX_PATH + 16] = {};
  // The new file lies in the target's folder so that the replacement is a rename on one volume.
  if (!GetTempFileNameW(FolderOf(path).c_str(), L"hrv", 0, temporary)) return GetLastError();
  DWORD error = 0;
  {
    UniqueFile file(g_file.create(temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file) {
      error = GetLastError();
    } else {
      error = WriteAll(file.Get(), bytes);
      if (!file.Close() && error == 0) error = GetLastError();
    }
  }
  if (error == 0 &&
      !g_file.replace(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != 0) DeleteFileW(temporary);
  return error;
}

std::wstring SaveFailureText(const std::wstring& path, DWORD error) {
  return TextToWide("保存失败：") + path + L"\r\n" + SystemErrorText(error);
}

std::wstring SystemErrorText(DWORD error) {
  wchar_t* description = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&description), 0, nullptr);
  std::wstring text = length && description ? std::wstring(description, length) : L"(" + std::to_wstring(error) + L")";
  if (description) LocalFree(description);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  return text;
}

void ShowResultFailure(const std::wstring& text, std::string_view caption) {
  const std::wstring wideCaption = TextToWide(caption);
  if (g_failureFunction) {
    g_failureFunction(text, wideCaption);
    return;
  }
  const auto& windows = LoadedWindows();
  MessageBoxW(windows.empty() ? nullptr : windows.front()->hwnd, text.c_str(), wideCaption.c_str(),
              MB_OK | MB_ICONERROR);
}

void SetSaveFailureFunction(SaveFailureFunction function) { g_failureFunction = function; }

void SetSaveFileOperations(const SaveFileOperations* operations) {
  g_file = operations ? *operations : kSystemFileOperations;
}

void SaveResults(std::int32_t, std::int32_t, std::int32_t) {
  // The content is the list as it stands at the press, complete before the dialog opens.
  const std::vector<std::string> lines = ListBoxItems(names::kResultList);
  FileDialog* dialog = MainFileDialog();
  if (!dialog) return;
  SetDialogKind(*dialog, 1);
  dialog->filter = kSaveFilter;
  // The dialog adds the chosen type's extension to a name typed without one, this one where
  // the type has none of its own.
  dialog->defaultExtension = L"txt";
  const auto& windows = LoadedWindows();
  if (!OpenFileDialog(*dialog, windows.empty() ? nullptr : windows.front()->hwnd)) return;
  const std::string bytes = dialog->filterIndex == kTableEntry ? TableFileBytes(lines) : TextFileBytes(lines);
  // The path the dialog confirmed is the file its replace prompt asked about: written as it is.
  if (const DWORD error = ReplaceFileContent(dialog->fileName, bytes))
    ShowResultFailure(SaveFailureText(dialog->fileName, error), "保存结果");
}

}  // namespace harvester
