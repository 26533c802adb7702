#include "tests/support/test_support.h"

#include <vector>

#include "app/events.h"
#include "automation/text_codec.h"

namespace harvester::testing {

std::string Text(std::wstring_view wide) { return WideToText(wide); }
std::wstring Wide(std::string_view text) { return TextToWide(text); }

std::string WindowText(HWND hwnd) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return WideToText(text);
}

void PumpFor(DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  do {
    PumpPendingMessages();
    Sleep(5);
  } while (GetTickCount64() < end);
  PumpPendingMessages();
}

std::wstring ExecutableFolder() {
  std::wstring path(MAX_PATH * 4, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

ChildProcess::ChildProcess(const std::wstring& commandLine, const wchar_t* environment) {
  std::wstring line = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                     const_cast<wchar_t*>(environment), nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
  }
}

ChildProcess::~ChildProcess() {
  if (!process_) return;
  if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

DWORD ChildProcess::WaitForExit(DWORD timeoutMs) {
  if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process_, &code);
  return code;
}

namespace {

struct WindowSearch {
  DWORD processId;
  const std::wstring* title;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner != search->processId || !IsWindowVisible(hwnd)) return TRUE;
  wchar_t title[256] = {};
  GetWindowTextW(hwnd, title, 256);
  if (*search->title != title) return TRUE;
  search->found = hwnd;
  return FALSE;
}

}  // namespace

HWND ChildProcess::WaitForWindow(const std::wstring& title, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (process_) {
    WindowSearch search{id_, &title, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    if (GetTickCount64() >= end || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) break;
    Sleep(50);
  }
  return nullptr;
}

}  // namespace harvester::testing
