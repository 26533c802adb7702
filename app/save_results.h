#pragma once
// Saving the result list to a text file the user picks.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace harvester {

// The result list's left-button press (and Ctrl+S, and the list's context menu): its lines, as
// they stand, to a file the user picks in the save dialog, as text (the lines as the list holds
// them, each ended by CR LF) or, with the dialog's second file type, as a table (see
// app/result_table.h) in UTF-8 with a byte order mark. The press's position and key state are
// not used.
void SaveResults(std::int32_t x, std::int32_t y, std::int32_t keyState);

// Writes bytes to path so that the file either holds all of them or keeps what it held: the
// bytes go to a new file beside it, which then replaces it in one step. 0 on success, else the
// system's error code (and no new file is left behind).
DWORD ReplaceFileContent(const std::wstring& path, std::string_view bytes);

// The file operations a save makes its new file with, by the system's signatures: creating it,
// writing to it, flushing it to the disk, and putting it in the target's place. Tests put ones
// that fail in their place; nullptr restores the system's.
struct SaveFileOperations {
  decltype(&CreateFileW) create;
  decltype(&WriteFile) write;
  decltype(&FlushFileBuffers) flush;
  decltype(&MoveFileExW) replace;
};
void SetSaveFileOperations(const SaveFileOperations* operations);

// "保存失败：", the path, a line break and the system's description of error.
std::wstring SaveFailureText(const std::wstring& path, DWORD error);
// The system's description of error on one line, or its number where the system has none.
std::wstring SystemErrorText(DWORD error);

// Tells the user that an operation on the results failed: a box over the main window.
void ShowResultFailure(const std::wstring& text, std::string_view caption);
// Tests see the failure message in place of the box; nullptr restores the box.
using SaveFailureFunction = void (*)(const std::wstring& text, const std::wstring& caption);
void SetSaveFailureFunction(SaveFailureFunction function);

}  // namespace harvester
