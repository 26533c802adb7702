#pragma once
// The main window as data: its frame, its controls in stacking order, its menus and its
// event bindings. Creating the window reads only this table.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace harvester {

enum class ControlKind { EditBox, Label, CommonDlg, ListBox, ListView, Button };

// Common events of every control with a window of its own; 0 and up are a kind's own events.
enum EventNumber : std::int32_t {
  kEventClicked = 0,
  kEventLeftDown = -1,
  kEventLeftUp = -2,
  kEventDoubleClick = -3,
  kEventRightDown = -4,
  kEventRightUp = -5,
  kEventMouseMove = -6,
  kEventKeyDown = -9,
  kEventKeyUp = -10,
  kEventChar = -11,
  kEventWheel = -12,
};

// A handler gets the event's arguments; a returned false drops the message that fired it.
using EventHandler = std::optional<bool> (*)(std::span<const std::int32_t> args);

struct EventBinding {
  std::int32_t event;
  EventHandler handler;  // nullptr: the event is not bound
};

struct ControlLayout {
  const char* name;
  int id;  // the child window's ID (its hMenu), unique in the window; 0 for a kind with no window
  ControlKind kind;
  int left, top, width, height;
  DWORD style;    // kind-specific styles; WS_CHILD, visibility and WS_DISABLED are added from the flags
  DWORD exStyle;
  bool visible, enabled, tabStop;
  const char* text;
  std::span<const EventBinding> bindings;
};

// A command of the window beside its control events: run by its key pressed with Ctrl alone,
// whichever control has the focus, and by its entry in the context menu of the window's command
// control.
struct WindowCommand {
  const char* menuText;
  UINT ctrlKey;  // a virtual-key code
  void (*run)();
};

struct MenuLayout {
  const char* title;
  bool visible;
  const char* items[3];
};

struct WindowLayout {
  const char* title;
  int width, height;
  DWORD style;
  std::span<const ControlLayout> controls;
  std::span<const MenuLayout> menus;
  const char* commandControl = nullptr;  // the control whose context menu lists the commands
  std::span<const WindowCommand> commands = {};
};

// Whether every control with a window has an ID of its own that a WM_COMMAND can carry (1 to
// 0xFFFF), and every control without one has none.
constexpr bool ControlIdsAreSound(std::span<const ControlLayout> controls) {
  for (size_t i = 0; i < controls.size(); ++i) {
    const ControlLayout& control = controls[i];
    if (control.kind == ControlKind::CommonDlg) {
      if (control.id != 0) return false;
      continue;
    }
    if (control.id < 1 || control.id > 0xFFFF) return false;
    for (size_t k = 0; k < i; ++k)
      if (controls[k].id == control.id) return false;
  }
  return true;
}

// The main window, its controls in table order (the first is on top).
const WindowLayout& MainWindowLayout();

}  // namespace harvester
