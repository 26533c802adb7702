#include "app/events.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "base/fatal_error.h"
#include "base/message_queue.h"

namespace harvester {
namespace {

bool g_handlerRunning = false;  // see HandlerTurn

std::int32_t KeyState() {
  std::int32_t state = 0;
  if (GetKeyState(VK_CONTROL) < 0) state |= 1;
  if (GetKeyState(VK_SHIFT) < 0) state |= 2;
  if (GetKeyState(VK_MENU) < 0) state |= 4;
  return state;
}

std::vector<std::int32_t> MouseArgs(LPARAM lParam) {
  return {static_cast<std::int32_t>(LOWORD(lParam)), static_cast<std::int32_t>(HIWORD(lParam)), KeyState()};
}

// The controls that Tab visits, in focus order: the reverse of the stacking (table) order.
std::vector<HWND> FocusRing(const ProgramWindow& window) {
  std::vector<HWND> ring;
  for (auto it = window.controls.rbegin(); it != window.controls.rend(); ++it) {
    if (it->hwnd && it->layout->tabStop && IsWindowVisible(it->hwnd) && IsWindowEnabled(it->hwnd))
      ring.push_back(it->hwnd);
  }
  return ring;
}

// The program window that hwnd (a control, a child of a control, or the window) lies in.
ProgramWindow* WindowOfMessage(HWND hwnd) {
  for (HWND h = hwnd; h; h = GetParent(h))
    if (ProgramWindow* window = FindProgramWindow(h)) return window;
  return nullptr;
}

void MoveFocus(ProgramWindow& window, HWND from, bool backwards) {
  const std::vector<HWND> ring = FocusRing(window);
  if (ring.empty()) return;
  HWND current = from;
  while (current && std::find(ring.begin(), ring.end(), current) == ring.end()) current = GetParent(current);
  auto it = std::find(ring.begin(), ring.end(), current);
  size_t index = 0;
  if (it != ring.end()) {
    const size_t at = static_cast<size_t>(std::distance(ring.begin(), it));
    index = backwards ? (at + ring.size() - 1) % ring.size() : (at + 1) % ring.size();
  }
  SetFocus(ring[index]);
}

// A command's key with Ctrl alone held runs the command, whichever control has the focus.
bool RunCommandKey(const ProgramWindow& window, WPARAM key) {
  if (GetKeyState(VK_CONTROL) >= 0 || GetKeyState(VK_MENU) < 0 || GetKeyState(VK_SHIFT) < 0) return false;
  for (const WindowCommand& command : window.layout->commands) {
    if (command.ctrlKey != key) continue;
    if (const HandlerTurn turn; turn) command.run();
    return true;
  }
  return false;
}

bool HandleWindowKeys(const MSG& message) {
  if (message.message != WM_KEYDOWN) return false;
  ProgramWindow* window = WindowOfMessage(message.hwnd);
  if (!window) return false;
  if (message.wParam == VK_ESCAPE) {
    SendMessageW(window->hwnd, WM_CLOSE, 0, 0);
    return true;
  }
  if (message.wParam != VK_TAB) return RunCommandKey(*window, message.wParam);
  if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
  MoveFocus(*window, message.hwnd, GetKeyState(VK_SHIFT) < 0);
  return true;
}

bool AnyProgramWindowLeft() {
  return std::any_of(LoadedWindows().begin(), LoadedWindows().end(),
                     [](const auto& window) { return IsWindow(window->hwnd); });
}

// Sees every message a loop of this thread takes from the queue, whichever loop it is.
LRESULT CALLBACK CloseOnEscape(int code, WPARAM removal, LPARAM lParam) {
  if (code == HC_ACTION && removal == PM_REMOVE) {
    MSG& message = *reinterpret_cast<MSG*>(lParam);
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
      if (ProgramWindow* window = WindowOfMessage(message.hwnd)) {
        PostMessageW(window->hwnd, WM_CLOSE, 0, 0);
        message.message = WM_NULL;  // the control does not see the key
      }
    }
  }
  return CallNextHookEx(nullptr, code, removal, lParam);
}

}  // namespace

EscapeClosesMeanwhile::EscapeClosesMeanwhile()
    : hook_(SetWindowsHookExW(WH_GETMESSAGE, CloseOnEscape, nullptr, GetCurrentThreadId())) {}

HandlerTurn::HandlerTurn() : taken_(FatalErrorDepth() == 0 && !g_handlerRunning) {
  if (taken_) g_handlerRunning = true;
}

HandlerTurn::~HandlerTurn() {
  if (taken_) g_handlerRunning = false;
}

FiredEvent FireEvent(ProgramWindow&, Control& control, std::int32_t event, const std::vector<std::int32_t>& args) {
  FiredEvent fired;
  auto binding = std::find_if(control.bindings.begin(), control.bindings.end(),
                              [event](const EventBinding& b) { return b.event == event; });
  if (binding == control.bindings.end() || !binding->handler) return fired;
  const HandlerTurn turn;
  if (!turn) return fired;
  fired.handlerRan = true;
  fired.value = binding->handler(args);
  return fired;
}

std::optional<CommonEvent> CommonEventOf(const MSG& message) {
  switch (message.message) {
    case WM_LBUTTONDOWN: return CommonEvent{kEventLeftDown, MouseArgs(message.lParam)};
    case WM_LBUTTONUP: return CommonEvent{kEventLeftUp, MouseArgs(message.lParam)};
    case WM_LBUTTONDBLCLK: return CommonEvent{kEventDoubleClick, MouseArgs(message.lParam)};
    case WM_RBUTTONDOWN: return CommonEvent{kEventRightDown, MouseArgs(message.lParam)};
    case WM_RBUTTONUP: return CommonEvent{kEventRightUp, MouseArgs(message.lParam)};
    case WM_MOUSEMOVE: return CommonEvent{kEventMouseMove, MouseArgs(message.lParam)};
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      return CommonEvent{kEventKeyDown, {static_cast<std::int32_t>(message.wParam), KeyState()}};
    case WM_KEYUP:
    case WM_SYSKEYUP:
      return CommonEvent{kEventKeyUp, {static_cast<std::int32_t>(message.wParam), KeyState()}};
    case WM_CHAR: return CommonEvent{kEventChar, {static_cast<std::int32_t>(message.wParam)}};
    case WM_MOUSEWHEEL: {
      const int delta = GET_WHEEL_DELTA_WPARAM(message.wParam);
      return CommonEvent{kEventWheel, {delta / WHEEL_DELTA, KeyState()}};  // C++ division truncates toward zero
    }
  }
  return std::nullopt;
}

bool PreTranslateMessage(const MSG& message) {
  ProgramWindow* window = nullptr;
  if (Control* control = FindControlOfHwnd(message.hwnd, &window)) {
    if (std::optional<CommonEvent> event = CommonEventOf(message)) {
      const FiredEvent fired = FireEvent(*window, *control, event->number, event->args);
      if (fired.handlerRan && fired.value == false) return true;
    }
  }
  return HandleWindowKeys(message);
}

bool PumpPendingMessages() { return DispatchQueuedMessages(PreTranslateMessage); }

void DiscardQueuedInput() {
  // Bounded: input that keeps arriving while this runs is left to the loop.
  constexpr int kMostMessages = 100000;
  const std::pair<UINT, UINT> ranges[] = {
      {WM_KEYFIRST, WM_KEYLAST}, {WM_MOUSEFIRST, WM_MOUSELAST}, {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK}};
  for (const auto& [first, last] : ranges) {
    MSG message;
    for (int i = 0; i < kMostMessages && PeekMessageW(&message, nullptr, first, last, PM_REMOVE); ++i) {
    }
  }
}

void RunMessageLoop() {
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return;
      if (PreTranslateMessage(message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (!AnyProgramWindowLeft()) return;
    WaitMessage();  // idle: nothing of the program's own runs between messages
  }
}

}  // namespace harvester
