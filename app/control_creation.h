#pragma once
// The parts of a program window that its layout describes: the controls and the hidden menus.
#include <windows.h>

#include "app/main_window.h"

namespace harvester {

// The font of the window and of every control: the system's default GUI font. The system makes
// its stock fonts for the system DPI (Windows its 8-point font as 11 pixels high at 96 DPI and 13
// at 120; Wine from the LogPixels setting), so this font is already the size of the window's DPI.
HFONT DefaultGuiFont();

// Creates every control of the layout as a child of window.hwnd, in table order, each with its
// ID, its font and what its kind adds (edit box height, item height, list view column), and
// indexes them by ID. False when a control's window cannot be made.
bool CreateControls(ProgramWindow& window);

// Stacking order = table order, the first control on top, whatever order they were made in.
void ArrangeStacking(const ProgramWindow& window);

// Shows every control the layout marks visible, without activating it.
void ShowControls(const ProgramWindow& window);

// Hidden top-level menus are not added to the bar, so the window gets no menu bar at all;
// their pop-ups still exist, with no behaviour.
void BuildMenus(ProgramWindow& window);

}  // namespace harvester
