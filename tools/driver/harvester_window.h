#pragma once
// The harvester's main window seen from another process: found by its title and its process,
// its controls by class and caption, the result list read through list box messages.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace harvester::driver {

// The texts the program's layout gives its main window and start button.
inline constexpr wchar_t kMainTitle[] = L"Orvel手机号码采集器";
inline constexpr wchar_t kStartCaption[] = L"开始采集";
inline constexpr wchar_t kProgramName[] = L"harvester.exe";

// A failure of a command, reported on standard error.
struct Failure {
  std::wstring message;
};

struct Session {
  DWORD processId = 0;    // --pid; 0: any process running harvester.exe
  DWORD timeoutMs = 60000;  // bound of every search and wait of a command
  std::wstring desktop;   // --desktop; empty: this desktop, then the others of the window station
  bool onDesktop = false;  // the thread has moved to the desktop the window was found on
  HWND main = nullptr;    // the window found last
};

// The main window, waiting for it up to the session's bound. Throws Failure.
HWND FindMainWindow(Session& session);
// The main window's child of that class (and caption, when given). Throws Failure.
HWND FindControl(HWND main, const wchar_t* className, const wchar_t* caption = nullptr);
// Fails unless the window's thread answers a message within timeoutMs.
void RequireAnswer(HWND window, DWORD timeoutMs, const wchar_t* what);

// Every line of a list box, through LB_GETCOUNT, LB_GETTEXTLEN and LB_GETTEXT.
std::vector<std::wstring> ListBoxLines(HWND list);

// Clicks the start button and returns once the click handler has returned (at most ten
// minutes).
void Press(Session& session);

// Brings the main window to the front and presses key with Ctrl held, as keyboard input.
void PressCtrlKey(Session& session, WORD key);

// Ctrl+C in the window; returns the text the clipboard holds then. Throws Failure.
std::wstring CopyResults(Session& session);

// A right press on the result list; returns once its context menu shows. Throws Failure.
void OpenListMenu(Session& session);
// Escape to the open context menu; returns once it has gone. Throws Failure.
void CloseListMenu(Session& session);

// Posts the close request and waits until the window is gone.
void Close(Session& session);

// The visible top-level windows of the process of that class: dialogs and message boxes by
// default, "#32768" for a pop-up menu.
std::vector<HWND> DialogsOfProcess(DWORD processId, const wchar_t* className = L"#32770");

// Polls condition every 50 ms until it holds or ms have passed.
bool WaitUntil(DWORD ms, const std::function<bool()>& condition);

}  // namespace harvester::driver
