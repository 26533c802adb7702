#include "app/context_menu.h"

#include <windowsx.h>

#include <algorithm>

#include "app/events.h"
#include "base/text_codec.h"

namespace harvester {
namespace {

// Where a menu asked for from the keyboard opens on the command control, a list box: below its
// selected line where that line shows, else at its top-left corner.
POINT KeyboardMenuPoint(HWND list) {
  POINT at = {0, 0};
  RECT client = {}, line = {};
  GetClientRect(list, &client);
  const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
  if (selected != LB_ERR &&
      SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(&line)) != LB_ERR &&
      line.bottom > 0 && line.top < client.bottom)
    at = {line.left, std::min(line.bottom, client.bottom)};
  ClientToScreen(list, &at);
  return at;
}

}  // namespace

UniqueMenu MakeCommandMenu(const WindowLayout& layout) {
  UniqueMenu menu(CreatePopupMenu());
  UINT id = 0;
  for (const WindowCommand& command : layout.commands)
    AppendMenuW(menu.Get(), MF_STRING, ++id, TextToWide(command.menuText).c_str());
  return menu;
}

bool ShowCommandMenu(ProgramWindow& window, HWND target, LPARAM where) {
  const Control* control = window.layout->commandControl ? FindControl(window, window.layout->commandControl) : nullptr;
  if (!control || !target || control->hwnd != target) return false;
  const HandlerTurn turn;
  if (!turn) return true;  // a run or a save is going on: the list offers nothing meanwhile
  const UniqueMenu menu = MakeCommandMenu(*window.layout);
  POINT at = {GET_X_LPARAM(where), GET_Y_LPARAM(where)};
  if (at.x == -1 && at.y == -1) at = KeyboardMenuPoint(target);
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(menu.Get(), TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON,
                                                       at.x, at.y, 0, window.hwnd, nullptr));
  if (chosen >= 1 && chosen <= window.layout->commands.size()) window.layout->commands[chosen - 1].run();
  return true;
}

}  // namespace harvester
