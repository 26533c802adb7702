#include "app/shell.h"

#include <ole2.h>

#include <string>

#include "app/events.h"
#include "base/fatal_error.h"
#include "app/main_window.h"
#include "base/dll_functions.h"

namespace harvester {
namespace {

// The program's folder becomes the current directory.
void EnterProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return;
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos) return;
  SetCurrentDirectoryW(path.substr(0, slash).c_str());
}

}  // namespace

int StartUp() {
  SetFatalErrorProgramEnd(EndProgram);
  OleInitialize(nullptr);
  EnterProgramFolder();
  // The layout is compiled into the program, so it is always readable here.
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWNORMAL;
  if (!CreateProgramWindow(MainWindowLayout(), show)) ReportFatalError("载入启动窗口失败", 0);
  SetLoopStarted(true);
  if (!LoadedWindows().empty()) RunMessageLoop();
  EndProgram(0);
  return 0;
}

void EndProgram(int) {
  ReleaseDllLibraries();
  DestroyAllProgramWindows();
  OleUninitialize();
}

}  // namespace harvester
