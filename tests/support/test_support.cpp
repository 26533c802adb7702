#include "tests/support/test_support.h"

#include <vector>

#include "app/events.h"
#include "base/text_codec.h"
#include "tests/support/utf8.h"

namespace harvester::testing {

std::string Text(std::wstring_view wide) { return WideToText(wide); }
std::wstring Wide(std::string_view text) { return TextToWide(text); }
std::string ProgramText(std::string_view utf8) { return WideToText(WideOfUtf8(utf8)); }

namespace {

// Everything from the file pointer of file to its end.
std::string ReadToEnd(HANDLE file) {
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  return bytes;
}

}  // namespace

std::optional<std::string> FileBytes(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes = ReadToEnd(file);
  CloseHandle(file);
  return bytes;
}

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

std::wstring ExecutablePath() {
  std::wstring path(MAX_PATH * 4, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

std::wstring ExecutableFolder() {
  const std::wstring path = ExecutablePath();
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::wstring SelfCommandLine(std::wstring_view gtestFilter) {
  return L"\"" + ExecutablePath() + L"\" --gtest_filter=" + std::wstring(gtestFilter);
}

std::wstring TemporaryFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  return length > 0 && length <= MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

std::wstring TemporaryFileName(const wchar_t* prefix) {
  wchar_t path[MAX_PATH + 16] = {};
  const std::wstring folder = TemporaryFolder();
  if (folder.empty() || !GetTempFileNameW(folder.c_str(), prefix, 0, path)) return {};
  return path;
}

void HoldKeys(bool control, bool shift) {
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_CONTROL] = control ? 0x80 : 0;
  keys[VK_SHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(keys);
}

bool RunningOnWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::wstring EnvironmentWith(std::wstring_view entry) {
  std::wstring environment;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* block = strings; block && *block; block += wcslen(block) + 1)
    environment.append(block).push_back(L'\0');
  if (strings) FreeEnvironmentStringsW(strings);
  environment.append(entry).push_back(L'\0');
  return environment;
}

namespace {

BOOL CALLBACK CollectStaticText(HWND child, LPARAM found) {
  wchar_t name[16] = {};
  GetClassNameW(child, name, 16);
  if (lstrcmpiW(name, L"Static") == 0 && GetWindowTextLengthW(child) > 0)
    *reinterpret_cast<std::string*>(found) += WindowText(child);
  return TRUE;
}

}  // namespace

std::string MessageBoxText(HWND box) {
  std::string text;
  EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&text));
  return text;
}

ChildProcess::ChildProcess(const std::wstring& commandLine, const wchar_t* environment,
                           const StandardHandles* handles) {
  std::wstring line = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (handles) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = handles->input;
    startup.hStdOutput = handles->output;
    startup.hStdError = handles->error;
  }
  PROCESS_INFORMATION info = {};
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, handles != nullptr, CREATE_UNICODE_ENVIRONMENT,
                     const_cast<wchar_t*>(environment), nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    process_.Reset(info.hProcess);
    id_ = info.dwProcessId;
  }
}

ChildProcess::~ChildProcess() {
  if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.Get(), 99);
    WaitForSingleObject(process_.Get(), 5000);
  }
}

DWORD ChildProcess::WaitForExit(DWORD timeoutMs) {
  if (!process_ || WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process_.Get(), &code);
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
    if (GetTickCount64() >= end || WaitForSingleObject(process_.Get(), 0) == WAIT_OBJECT_0) break;
    Sleep(50);
  }
  return nullptr;
}

InputPipe::InputPipe() {
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  if (!CreatePipe(read_.Put(), write_.Put(), &inherited, 0)) {
    (void)read_.Release();  // a refused pipe leaves nothing to close
    (void)write_.Release();
    return;
  }
  // Only the read end goes to the child: a child holding the write end would never see the end.
  SetHandleInformation(write_.Get(), HANDLE_FLAG_INHERIT, 0);
}

InputPipe::~InputPipe() = default;

StandardHandles InputPipe::Handles() const {
  return {read_.Get(), GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE)};
}

void InputPipe::Close() { write_.Reset(); }

namespace {

class TemporaryFile {
 public:
  TemporaryFile() {
    const std::wstring path = TemporaryFileName(L"out");
    if (path.empty()) return;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    file_.Reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  }
  explicit operator bool() const { return static_cast<bool>(file_); }
  HANDLE Get() const { return file_.Get(); }

  std::string Content() const {
    if (!file_ || SetFilePointer(file_.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return {};
    return ReadToEnd(file_.Get());
  }

 private:
  UniqueFile file_;
};

}  // namespace

FinishedProcess RunToEnd(const std::wstring& commandLine, DWORD timeoutMs) {
  FinishedProcess finished;
  TemporaryFile output;
  if (!output) return finished;
  const StandardHandles handles{nullptr, output.Get(), GetStdHandle(STD_ERROR_HANDLE)};
  {
    ChildProcess child(commandLine, nullptr, &handles);
    finished.exitCode = child.WaitForExit(timeoutMs);
  }  // killed here if it did not end
  finished.output = output.Content();
  return finished;
}

}  // namespace harvester::testing
