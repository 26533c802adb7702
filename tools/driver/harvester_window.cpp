#include "tools/driver/harvester_window.h"

#include <cstdio>
#include <cwctype>
#include <optional>
#include <string_view>

#include "base/owners.h"
#include "tools/driver/console_text.h"

namespace harvester::driver {
namespace {

constexpr DWORD kAnswerMs = 5000;            // a window that is not busy answers within this
constexpr DWORD kRunBoundMs = 10 * 60 * 1000;  // the longest run `press` waits for

// The desktop this thread moved to stays open as long as the process runs.
UniqueDesktop g_desktop;

std::wstring Lower(std::wstring_view text) {
  std::wstring lower(text);
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  return lower;
}

bool RunsTheProgram(DWORD processId) {
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return false;
  std::wstring path(32768, L'\0');
  DWORD length = static_cast<DWORD>(path.size());
  if (!QueryFullProcessImageNameW(process.Get(), 0, path.data(), &length)) return false;
  path.resize(length);
  const std::wstring name = Lower(path.substr(path.find_last_of(L"\\/") + 1));
  return name == kProgramName;
}

struct MainSearch {
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK MatchMain(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<MainSearch*>(param);
  wchar_t title[256] = {};
  if (!IsWindowVisible(hwnd) || !GetWindowTextW(hwnd, title, 256) || std::wstring_view(title) != kMainTitle)
    return TRUE;
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (search->processId ? owner == search->processId : RunsTheProgram(owner)) search->found.push_back(hwnd);
  return TRUE;
}

BOOL CALLBACK CollectDesktop(LPWSTR name, LPARAM param) {
  reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(name);
  return TRUE;
}

HDESK OpenNamedDesktop(const std::wstring& name) {
  return OpenDesktopW(name.c_str(), 0, FALSE,
                      DESKTOP_READOBJECTS | DESKTOP_ENUMERATE | DESKTOP_CREATEWINDOW | DESKTOP_WRITEOBJECTS |
                          DESKTOP_HOOKCONTROL | DESKTOP_SWITCHDESKTOP | GENERIC_READ | GENERIC_WRITE);
}

// Windows of another desktop are only reachable from a thread on that desktop: the search
// looks at this thread's desktop first and then moves the thread to the first other desktop
// of the window station that shows the window (a Wine virtual desktop started by
// "explorer /desktop=NAME" is one) and keeps it there.
std::vector<HWND> SearchMainWindows(Session& session) {
  MainSearch search{session.processId, {}};
  EnumWindows(MatchMain, reinterpret_cast<LPARAM>(&search));
  if (!search.found.empty() || session.onDesktop) return search.found;
  std::vector<std::wstring> names;
  EnumDesktopsW(GetProcessWindowStation(), CollectDesktop, reinterpret_cast<LPARAM>(&names));
  // Wine's EnumDesktopWindows does not list another desktop's windows: the thread visits each
  // desktop (possible while it has no window of its own) and enumerates there.
  const HDESK home = GetThreadDesktop(GetCurrentThreadId());
  wchar_t homeName[256] = {};
  DWORD length = 0;
  GetUserObjectInformationW(home, UOI_NAME, homeName, sizeof homeName, &length);
  for (const std::wstring& name : names) {
    if (Lower(name) == Lower(homeName)) continue;  // searched already
    UniqueDesktop desktop(OpenNamedDesktop(name));
    if (!desktop) continue;
    if (SetThreadDesktop(desktop.Get())) {
      EnumWindows(MatchMain, reinterpret_cast<LPARAM>(&search));
      if (!search.found.empty()) {
        g_desktop = std::move(desktop);
        session.onDesktop = true;
        return search.found;
      }
      SetThreadDesktop(home);
    }
  }
  return {};
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

std::wstring TextOf(HWND hwnd) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

// Sends a message that must be answered within kAnswerMs.
LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kAnswerMs, &result))
    throw Failure{IsWindow(window) ? L"the harvester's window does not answer (is a run going on?)"
                                   : L"the harvester's window has gone"};
  return static_cast<LRESULT>(result);
}

std::wstring Seconds(ULONGLONG ms) {
  wchar_t text[32];
  swprintf(text, 32, L"%.1f s", static_cast<double>(ms) / 1000.0);
  return text;
}

}  // namespace

HWND FindMainWindow(Session& session) {
  if (!session.desktop.empty() && !session.onDesktop) {
    UniqueDesktop desktop(OpenNamedDesktop(session.desktop));
    if (!desktop || !SetThreadDesktop(desktop.Get()))
      throw Failure{L"cannot use the desktop \"" + session.desktop + L"\""};
    g_desktop = std::move(desktop);
    session.onDesktop = true;
  }
  const ULONGLONG end = GetTickCount64() + session.timeoutMs;
  for (;;) {
    const std::vector<HWND> found = SearchMainWindows(session);
    if (found.size() > 1) {
      std::wstring ids;
      for (HWND hwnd : found) {
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        ids += (ids.empty() ? L"" : L", ") + std::to_wstring(owner);
      }
      throw Failure{L"several harvester windows are open (processes " + ids + L"); choose one with --pid"};
    }
    // The window is taken once its controls are there: they are made after the window itself.
    if (found.size() == 1 && FindWindowExW(found[0], nullptr, L"ListBox", nullptr) &&
        FindWindowExW(found[0], nullptr, L"Button", nullptr)) {
      session.main = found[0];
      return found[0];
    }
    if (GetTickCount64() >= end) break;
    Sleep(100);
  }
  throw Failure{L"no window \"" + std::wstring(kMainTitle) + L"\" of " +
                (session.processId ? L"process " + std::to_wstring(session.processId) : std::wstring(kProgramName)) +
                L" within " + Seconds(session.timeoutMs)};
}

HWND FindControl(HWND main, const wchar_t* className, const wchar_t* caption) {
  for (HWND child = FindWindowExW(main, nullptr, nullptr, nullptr); child;
       child = FindWindowExW(main, child, nullptr, nullptr)) {
    if (Lower(ClassOf(child)) == Lower(className) && (!caption || TextOf(child) == caption)) return child;
  }
  throw Failure{std::wstring(L"the window has no ") + className + L" control" +
                (caption ? std::wstring(L" \"") + caption + L"\"" : std::wstring())};
}

void RequireAnswer(HWND window, DWORD timeoutMs, const wchar_t* what) {
  DWORD_PTR result = 0;
  if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result)) return;
  throw Failure{std::wstring(what) + (IsWindow(window) ? L" does not answer within " + Seconds(timeoutMs)
                                                       : std::wstring(L" has gone"))};
}

std::vector<std::wstring> ListBoxLines(HWND list) {
  const LRESULT count = Ask(list, LB_GETCOUNT, 0, 0);
  if (count == LB_ERR) throw Failure{L"the result list does not tell its line count"};
  std::vector<std::wstring> lines;
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = Ask(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    if (length == LB_ERR) throw Failure{L"the result list changed while it was read"};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got = Ask(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
    if (got == LB_ERR) throw Failure{L"the result list changed while it was read"};
    text.resize(static_cast<size_t>(got));
    lines.push_back(std::move(text));
  }
  return lines;
}

void Press(Session& session) {
  const HWND main = FindMainWindow(session);
  const HWND button = FindControl(main, L"Button", kStartCaption);
  RequireAnswer(main, kAnswerMs, L"the harvester's window");
  const ULONGLONG start = GetTickCount64();
  DWORD_PTR result = 0;
  SetLastError(0);
  const bool returned = SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, kRunBoundMs, &result) != 0;
  const DWORD error = GetLastError();
  const ULONGLONG took = GetTickCount64() - start;
  if (!IsWindow(main)) throw Failure{L"the harvester's window closed during the run"};
  if (!returned) {
    if (error == ERROR_TIMEOUT) throw Failure{L"the run did not end within " + Seconds(kRunBoundMs)};
    throw Failure{L"the click on the start button failed (error " + std::to_wstring(error) + L")"};
  }
  Note(L"the run took " + Seconds(took));
}

void Close(Session& session) {
  const HWND main = FindMainWindow(session);
  if (!PostMessageW(main, WM_CLOSE, 0, 0)) throw Failure{L"cannot post the close request"};
  const ULONGLONG end = GetTickCount64() + session.timeoutMs;
  while (IsWindow(main)) {
    if (GetTickCount64() >= end) throw Failure{L"the window did not close within " + Seconds(session.timeoutMs)};
    Sleep(50);
  }
  session.main = nullptr;
}

namespace {

struct DialogSearch {
  DWORD processId;
  const wchar_t* className;
  std::vector<HWND> found;
};

BOOL CALLBACK MatchDialog(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner == search->processId && IsWindowVisible(hwnd) && ClassOf(hwnd) == search->className)
    search->found.push_back(hwnd);
  return TRUE;
}

DWORD ProcessOf(HWND hwnd) {
  DWORD processId = 0;
  GetWindowThreadProcessId(hwnd, &processId);
  return processId;
}

// The text on the clipboard; nullopt while another program holds it open.
std::optional<std::wstring> ClipboardText() {
  if (!OpenClipboard(nullptr)) return std::nullopt;
  std::wstring text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* units = static_cast<const wchar_t*>(GlobalLock(data))) text = units;
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

}  // namespace

std::vector<HWND> DialogsOfProcess(DWORD processId, const wchar_t* className) {
  DialogSearch search{processId, className, {}};
  EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool WaitUntil(DWORD ms, const std::function<bool()>& condition) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(50);
  }
}

void PressCtrlKey(Session& session, WORD key) {
  const HWND main = FindMainWindow(session);
  RequireAnswer(main, kAnswerMs, L"the harvester's window");
  SetForegroundWindow(main);
  if (!WaitUntil(kAnswerMs, [&] { return GetForegroundWindow() == main; }))
    throw Failure{L"the harvester's window does not come to the front"};
  const WORD sequence[] = {VK_CONTROL, key, key, VK_CONTROL};
  INPUT keys[4] = {};
  for (int i = 0; i < 4; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki.wVk = sequence[i];
    keys[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
  }
  if (SendInput(4, keys, sizeof(INPUT)) != 4) throw Failure{L"the keys could not be sent"};
}

std::wstring CopyResults(Session& session) {
  const DWORD before = GetClipboardSequenceNumber();
  PressCtrlKey(session, 'C');
  if (!WaitUntil(session.timeoutMs, [&] { return GetClipboardSequenceNumber() != before; }))
    throw Failure{L"the clipboard did not change after Ctrl+C"};
  std::optional<std::wstring> text;
  if (!WaitUntil(kAnswerMs, [&] { return (text = ClipboardText()).has_value(); }))
    throw Failure{L"the clipboard stays held by another program"};
  return *text;
}

void OpenListMenu(Session& session) {
  const HWND main = FindMainWindow(session);
  const HWND list = FindControl(main, L"ListBox");
  RequireAnswer(main, kAnswerMs, L"the harvester's window");
  // Posted, as the system queues a real press: the release asks for the context menu.
  PostMessageW(list, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(40, 40));
  PostMessageW(list, WM_RBUTTONUP, 0, MAKELPARAM(40, 40));
  if (!WaitUntil(session.timeoutMs, [&] { return !DialogsOfProcess(ProcessOf(main), L"#32768").empty(); }))
    throw Failure{L"no context menu came up after a right press on the result list"};
}

void CloseListMenu(Session& session) {
  const HWND main = FindMainWindow(session);
  // Escape without a menu would close the window.
  if (DialogsOfProcess(ProcessOf(main), L"#32768").empty()) throw Failure{L"no context menu is open"};
  // The menu's own loop takes the keys queued for the window's thread.
  PostMessageW(main, WM_KEYDOWN, VK_ESCAPE, 1);
  if (!WaitUntil(session.timeoutMs, [&] { return DialogsOfProcess(ProcessOf(main), L"#32768").empty(); }))
    throw Failure{L"the context menu did not close"};
}

}  // namespace harvester::driver
