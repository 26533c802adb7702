#pragma once
// Control events: the common events built from queued messages, and their dispatch to the
// handlers bound in the layout.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "app/main_window.h"
#include "base/owners.h"

namespace harvester {

struct FiredEvent {
  bool handlerRan = false;
  std::optional<bool> value;  // what the handler returned, if anything
};

// One handler of the program's operations at a time: while it lives it is the running
// handler, when a handler may run now; otherwise it is nothing and tests false. No handler
// runs while a fatal error is being reported, nor while another one is still running: a wait
// inside a handler may dispatch messages, and an event delivered that way must not start a
// second operation.
class HandlerTurn {
 public:
  HandlerTurn();
  ~HandlerTurn();
  HandlerTurn(const HandlerTurn&) = delete;
  HandlerTurn& operator=(const HandlerTurn&) = delete;
  explicit operator bool() const { return taken_; }

 private:
  bool taken_;
};

// Calls the control's first handler bound to event, when a handler may run (see HandlerTurn).
FiredEvent FireEvent(ProgramWindow& window, Control& control, std::int32_t event,
                     const std::vector<std::int32_t>& args);

struct CommonEvent {
  std::int32_t number;
  std::vector<std::int32_t> args;
};

// The common event a queued message stands for, if any.
std::optional<CommonEvent> CommonEventOf(const MSG& message);

// Pre-translation of one queued message: fires its common event, then the window's keys
// (Escape closes, Tab and Shift+Tab move the focus, a command's key with Ctrl runs it). True
// when the message must not go on.
bool PreTranslateMessage(const MSG& message);

// Pre-translates and dispatches every message already queued for this thread; returns false
// when the quit message was among them. The message loop and tests share it.
bool PumpPendingMessages();

// Removes the keyboard and mouse input queued for this thread (client and non-client area)
// without acting on it.
void DiscardQueuedInput();

// While it lives, Escape pressed in a program window closes that window also when a loop other
// than the program's own takes the key (the request object's wait during a run dispatches
// keys straight to the focused control, past PreTranslateMessage). One at a time per thread.
class EscapeClosesMeanwhile {
 public:
  EscapeClosesMeanwhile();
  EscapeClosesMeanwhile(const EscapeClosesMeanwhile&) = delete;
  EscapeClosesMeanwhile& operator=(const EscapeClosesMeanwhile&) = delete;

 private:
  UniqueHook hook_;
};

// Peek, idle and pump until the quit message arrives, or until no program window is left: a
// wait inside a handler that takes messages itself may have taken the quit message too.
void RunMessageLoop();

}  // namespace harvester
