#pragma once
// Helpers shared by the test executables.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "base/owners.h"

namespace harvester::testing {

// Program text (code page 936) of a UTF-16 literal, and back.
std::string Text(std::wstring_view wide);
std::wstring Wide(std::string_view text);
// Program text of UTF-8 text (as the site sends it and the driver prints it).
std::string ProgramText(std::string_view utf8);

// The bytes of the file at path, read while others may still write it; nullopt when it cannot
// be opened.
std::optional<std::string> FileBytes(const std::wstring& path);

// The window text of hwnd as program text.
std::string WindowText(HWND hwnd);

// Pumps this thread's messages (with the program's pre-translation) for about ms milliseconds.
void PumpFor(DWORD ms);

// Sets this thread's keyboard state as if Ctrl (and Shift) were held down, or released.
void HoldKeys(bool control, bool shift = false);

// True under Wine (its ntdll has wine_get_version), whose platform objects differ from Windows' here and there.
bool RunningOnWine();

// The path of the running executable.
std::wstring ExecutablePath();
// The folder of the running test executable (where harvester.exe is built too), with a backslash.
std::wstring ExecutableFolder();

// The folder for temporary files, with a backslash (empty when the system gives none).
std::wstring TemporaryFolder();
// A new empty file there, named from prefix and made unique by the system; empty on failure.
std::wstring TemporaryFileName(const wchar_t* prefix);

// The command line that runs this test executable again with only the tests of gtestFilter.
std::wstring SelfCommandLine(std::wstring_view gtestFilter);
// This process's environment with one more entry (NAME=VALUE), as a child's environment block.
std::wstring EnvironmentWith(std::wstring_view entry);
// The texts a message box shows (its static controls), as program text.
std::string MessageBoxText(HWND box);

// Standard handles given to a child process; each must be inheritable (or null for none).
struct StandardHandles {
  HANDLE input = nullptr;
  HANDLE output = nullptr;
  HANDLE error = nullptr;
};

// A child process owned by a test; killed if still running when the owner goes.
class ChildProcess {
 public:
  explicit ChildProcess(const std::wstring& commandLine, const wchar_t* environment = nullptr,
                        const StandardHandles* handles = nullptr);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  bool Started() const { return static_cast<bool>(process_); }
  DWORD Id() const { return id_; }
  // The exit code, or STILL_ACTIVE when the process did not end within timeoutMs.
  DWORD WaitForExit(DWORD timeoutMs);
  // The first visible top-level window of the process with that title, within timeoutMs.
  HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs);

 private:
  UniqueHandle process_;
  DWORD id_ = 0;
};

// A pipe whose read end a child process takes as its standard input: the child sees the input
// end when the pipe is closed, at the latest when the test's owner goes.
class InputPipe {
 public:
  InputPipe();
  InputPipe(const InputPipe&) = delete;
  InputPipe& operator=(const InputPipe&) = delete;
  ~InputPipe();
  StandardHandles Handles() const;  // this pipe as input; output and error those of the test
  void Close();                     // closes the write end

 private:
  UniqueHandle read_;
  UniqueHandle write_;
};

struct FinishedProcess {
  DWORD exitCode = STILL_ACTIVE;  // STILL_ACTIVE: it was killed after timeoutMs
  std::string output;             // the bytes it wrote to its standard output
};

// Runs commandLine to its end, at most timeoutMs, with its standard output caught in a
// temporary file (standard error stays the test's own).
FinishedProcess RunToEnd(const std::wstring& commandLine, DWORD timeoutMs);

}  // namespace harvester::testing
