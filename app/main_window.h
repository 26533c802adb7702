#pragma once
// Program windows made from a layout: the window, its controls and its non-visual file dialog.
#include <windows.h>

#include <commdlg.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/layout.h"
#include "base/owners.h"

namespace harvester {

// Settings of the non-visual file dialog component; they live as long as the window.
struct FileDialog {
  int kind = 0;           // 0 open-file, 1 save-file; 2 and 3 other kinds, clamped to 0..3
  std::string filter;     // display names and patterns separated by "|"
  std::wstring fileName;  // the path confirmed last, also the name the dialog opens with
  std::wstring defaultExtension;  // added by the dialog to a name typed without one; none when empty
};

void SetDialogKind(FileDialog& dialog, int kind);

// Shows the dialog of the component's kind modally over owner. True when the user confirmed
// a file: fileName then holds its full path. False on cancel, fileName unchanged.
bool OpenFileDialog(FileDialog& dialog, HWND owner);

// Tests answer in place of the user: the function receives the dialog's settings exactly as
// the system dialog would and returns what the system dialog would. nullptr restores it.
using FileDialogFunction = BOOL (*)(OPENFILENAMEW* settings);
void SetFileDialogFunction(FileDialogFunction function);

struct Control {
  const ControlLayout* layout;
  HWND hwnd;  // nullptr for the file dialog, which has no window
  std::vector<EventBinding> bindings;
};

struct ProgramWindow {
  const WindowLayout* layout = nullptr;
  HWND hwnd = nullptr;
  std::vector<Control> controls;  // in table order
  std::vector<UniqueMenu> menus;  // the hidden pop-up menus, destroyed with the window
  UniqueBrush buttonFaceBrush;    // made with the button-face colour when the window is
  FileDialog fileDialog;

  ProgramWindow() = default;
  ProgramWindow(const ProgramWindow&) = delete;
  ProgramWindow& operator=(const ProgramWindow&) = delete;
  ~ProgramWindow();
};

// Creates the window from its layout, with every control, and shows it; nullptr on failure.
// The window belongs to the loaded windows until it is destroyed.
ProgramWindow* CreateProgramWindow(const WindowLayout& layout, int showCommand);

// The loaded program windows (at most the main window in this program).
const std::vector<std::unique_ptr<ProgramWindow>>& LoadedWindows();
// The window of hwnd, or nullptr when hwnd is not a program window.
ProgramWindow* FindProgramWindow(HWND hwnd);
// The control whose window is hwnd, or nullptr; sets *owner to its program window.
Control* FindControlOfHwnd(HWND hwnd, ProgramWindow** owner);
// The control of that name in window, or nullptr.
Control* FindControl(ProgramWindow& window, std::string_view name);
// The control of that name in the first loaded window that has one; nullptr when none has.
Control* FindProgramControl(std::string_view name);
// The main window's file dialog component; nullptr when no window is loaded.
FileDialog* MainFileDialog();

// Called when the thread's message loop starts; from then on the end of the last program
// window posts the quit message.
void SetLoopStarted(bool started);
// Destroys every remaining program window.
void DestroyAllProgramWindows();

}  // namespace harvester
