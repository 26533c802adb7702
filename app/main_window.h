#pragma once
// Program windows made from a layout: the window, its controls and its non-visual file dialog.
#include <windows.h>

#include <cstddef>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/dpi.h"
#include "app/file_dialog.h"
#include "app/layout.h"
#include "base/owners.h"

namespace harvester {

struct Control {
  const ControlLayout* layout;
  HWND hwnd;  // nullptr for the file dialog, which has no window
  std::vector<EventBinding> bindings;
};

// A program window's object. It goes to CreateWindowExW as the creation parameter and stays
// in the window's GWLP_USERDATA from WM_NCCREATE to WM_NCDESTROY.
struct ProgramWindow {
  const WindowLayout* layout = nullptr;
  HWND hwnd = nullptr;
  int dpi = kLayoutDpi;  // the DPI the window and its controls are made at (the system's)
  std::vector<Control> controls;  // in table order
  std::unordered_map<int, std::size_t> controlIndexById;  // controls with a window, by their ID
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
// The window of hwnd, or nullptr when hwnd is not a program window (a control is not).
ProgramWindow* FindProgramWindow(HWND hwnd);
// The control whose window is hwnd, or nullptr; sets *owner to its program window.
Control* FindControlOfHwnd(HWND hwnd, ProgramWindow** owner);
// The control of window whose child window has that ID, or nullptr.
Control* FindControlById(ProgramWindow& window, int id);
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
