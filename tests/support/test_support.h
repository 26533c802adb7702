#pragma once
// Helpers shared by the test executables.
#include <windows.h>

#include <string>
#include <string_view>

namespace harvester::testing {

// Program text (code page 936) of a UTF-16 literal, and back.
std::string Text(std::wstring_view wide);
std::wstring Wide(std::string_view text);

// The window text of hwnd as program text.
std::string WindowText(HWND hwnd);

// Pumps this thread's messages (with the program's pre-translation) for about ms milliseconds.
void PumpFor(DWORD ms);

// The folder of the running test executable (where harvester.exe is built too), with a backslash.
std::wstring ExecutableFolder();

// A child process owned by a test; killed if still running when the owner goes.
class ChildProcess {
 public:
  explicit ChildProcess(const std::wstring& commandLine, const wchar_t* environment = nullptr);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  bool Started() const { return process_ != nullptr; }
  DWORD Id() const { return id_; }
  // The exit code, or STILL_ACTIVE when the process did not end within timeoutMs.
  DWORD WaitForExit(DWORD timeoutMs);
  // The first visible top-level window of the process with that title, within timeoutMs.
  HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs);

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
};

}  // namespace harvester::testing
