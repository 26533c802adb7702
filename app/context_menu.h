#pragma once
// The context menu of a window's command control: the window's commands as its entries.
#include <windows.h>

#include "app/layout.h"
#include "app/main_window.h"
#include "base/owners.h"

namespace harvester {

// A pop-up menu of the layout's commands in table order; an entry's ID is its command's place
// in the table plus 1.
UniqueMenu MakeCommandMenu(const WindowLayout& layout);

// WM_CONTEXTMENU of window asked for target (a right press, the Menu key or Shift+F10) at the
// screen point in where, or from the keyboard (both coordinates -1): over the command control
// it shows the menu and runs the chosen command as a handler runs, and shows nothing while
// another handler runs. False when target is not the command control: not this menu's turn.
bool ShowCommandMenu(ProgramWindow& window, HWND target, LPARAM where);

}  // namespace harvester
