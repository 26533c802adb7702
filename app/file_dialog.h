#pragma once
// The non-visual file dialog component of a window: its settings, and the system's open or save
// dialog shown from them.
#include <windows.h>

#include <commdlg.h>

#include <string>

namespace harvester {

// Settings of the component; they live as long as the window.
struct FileDialog {
  int kind = 0;           // 0 open-file, 1 save-file; 2 and 3 other kinds, clamped to 0..3
  std::string filter;     // display names and patterns separated by "|"
  std::wstring fileName;  // the path confirmed last, also the name the dialog opens with
  std::wstring defaultExtension;  // added by the dialog to a name typed without one; none when empty
  int filterIndex = 1;  // the filter entry (from 1) shown chosen when it opens; then the one confirmed
};

void SetDialogKind(FileDialog& dialog, int kind);

// Shows the dialog of the component's kind modally over owner. True when the user confirmed
// a file: fileName then holds its full path. False on cancel, fileName unchanged.
bool OpenFileDialog(FileDialog& dialog, HWND owner);

// Tests answer in place of the user: the function receives the dialog's settings exactly as
// the system dialog would and returns what the system dialog would. nullptr restores it.
using FileDialogFunction = BOOL (*)(OPENFILENAMEW* settings);
void SetFileDialogFunction(FileDialogFunction function);

}  // namespace harvester
