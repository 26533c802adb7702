// The program as a process: it ends with 0 when its window is closed, and a fatal error shows
// the real box and ends it with -1. Worked from outside through the driver, it harvests the
// demo site.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/result_table.h"
#include "automation/com_object.h"
#include "base/fatal_error.h"
#include "base/owners.h"
#include "tests/support/http_server.h"
#include "tests/support/test_support.h"
#include "tests/support/utf8.h"
#include "tools/demo-site/site_pages.h"

namespace harvester {
namespace {

using testing::ChildProcess;
using testing::ExecutableFolder;
using testing::FileBytes;
using testing::ProgramText;
using testing::RunningOnWine;
using testing::Text;
using testing::Wide;
namespace demo = harvester::demo;

constexpr DWORD kStartMs = 20000;
const std::wstring kTitle = Wide("Orvel手机号码采集器");

std::wstring ProgramPath() { return L"\"" + ExecutableFolder() + L"harvester.exe\""; }

// The driver works the window of one process; it prints UTF-8.
testing::FinishedProcess Drive(DWORD processId, const std::wstring& commands, DWORD timeoutMs = 120000) {
  return testing::RunToEnd(L"\"" + ExecutableFolder() + L"driver.exe\" --timeout 30 --pid " +
                               std::to_wstring(processId) + L" " + commands,
                           timeoutMs);
}

std::string Utf8Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::wstring TemporaryPath(const wchar_t* name) {
  const std::wstring path = testing::TemporaryFolder() + name;
  DeleteFileW(path.c_str());
  return path;
}

TEST(DriverTest, ReadsAnEmptyResultListSavesItAndClosesTheWindow) {
  ChildProcess program(ProgramPath());
  ASSERT_NE(program.WaitForWindow(kTitle, kStartMs), nullptr);
  const std::wstring saved = TemporaryPath(L"driver-empty.txt");
  const testing::FinishedProcess driven = Drive(program.Id(), L"wait lines save \"" + saved + L"\" close");
  EXPECT_EQ(driven.exitCode, 0u);
  // No result line; then the path of the saved file, which holds nothing.
  EXPECT_EQ(driven.output, testing::Text(saved) + "\n");
  EXPECT_EQ(GetFileAttributesW(saved.c_str()) != INVALID_FILE_ATTRIBUTES, true);
  EXPECT_EQ(FileBytes(saved), "");
  EXPECT_EQ(program.WaitForExit(kStartMs), 0u);
  DeleteFileW(saved.c_str());
}

TEST(DriverTest, FailsWithoutPrintingWhenThereIsNoWindow) {
  // No process has this id: the search ends at the bound, with a message and exit code 1.
  const testing::FinishedProcess driven =
      testing::RunToEnd(L"\"" + ExecutableFolder() + L"driver.exe\" --timeout 1 --pid 4000000000 lines", 30000);
  EXPECT_EQ(driven.exitCode, 1u);
  EXPECT_EQ(driven.output, "");
  EXPECT_EQ(testing::RunToEnd(L"\"" + ExecutableFolder() + L"driver.exe\" lines --bogus", 30000).exitCode, 2u);
}

// True once something accepts connections on 127.0.0.1:port, within timeoutMs.
bool WaitForListener(unsigned short port, DWORD timeoutMs, ChildProcess& server) {
  struct Winsock {
    Winsock() { WSAStartup(MAKEWORD(2, 2), &data); }
    ~Winsock() { WSACleanup(); }
    WSADATA data;
  } winsock;
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  do {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool connected = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    closesocket(s);
    if (connected) return true;
    Sleep(100);
  } while (GetTickCount64() < end && server.WaitForExit(0) == STILL_ACTIVE);
  return false;
}

// What one run of the program against the demo site gave: the lines the driver read, the bytes
// saved through the save dialog, and whether the platform's pattern engine was in the program.
struct DemoRun {
  std::string lines;
  std::optional<std::string> saved;
  std::string copied;                // what Ctrl+C put on the clipboard, as the driver prints it
  std::optional<std::string> table;  // saved with Ctrl+S as the table
  bool vbscriptLoaded = false;
};

// Whether the process has a module of that file name loaded.
bool HasModule(DWORD processId, const wchar_t* name) {
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  HMODULE modules[512] = {};
  DWORD bytes = 0;
  if (!process || !EnumProcessModules(process.Get(), modules, sizeof modules, &bytes)) return false;
  for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < std::size(modules); ++i) {
    wchar_t base[MAX_PATH] = {};
    if (GetModuleBaseNameW(process.Get(), modules[i], base, MAX_PATH) && lstrcmpiW(base, name) == 0) return true;
  }
  return false;
}

// The whole program against the demo site, worked through its window: one run over list page 1,
// the lines saved as they stand, the window closed.
void RunAgainstTheDemoSite(DemoRun& result) {
  const std::string host = SITE_HOST;
  const auto port = demo::PortOf(host);
  if (host.rfind("127.0.0.1:", 0) != 0 || !port)
    GTEST_SKIP() << "the program is built for the site host " << host << ", not for the loopback demo site";
  {
    testing::HttpServer probe(*port);
    if (!probe.Started()) GTEST_SKIP() << "port " << *port << " of the demo site is taken by another program";
  }
  testing::InputPipe siteInput;  // the site also ends when this test goes
  const testing::StandardHandles siteHandles = siteInput.Handles();
  ChildProcess site(L"\"" + ExecutableFolder() + L"demo-site.exe\" --seconds 600", nullptr, &siteHandles);
  ASSERT_TRUE(site.Started());
  ASSERT_TRUE(WaitForListener(*port, kStartMs, site)) << "the demo site did not start listening";

  ChildProcess program(ProgramPath());
  ASSERT_NE(program.WaitForWindow(kTitle, kStartMs), nullptr);
  const testing::FinishedProcess run = Drive(program.Id(), L"press lines", 300000);
  ASSERT_EQ(run.exitCode, 0u);
  result.lines = run.output;
  result.vbscriptLoaded = HasModule(program.Id(), L"vbscript.dll");

  const std::wstring saved = TemporaryPath(L"driver-results.txt"), table = TemporaryPath(L"driver-results.csv");
  const testing::FinishedProcess save =
      Drive(program.Id(), L"save \"" + saved + L"\" save-csv \"" + table + L"\" copy close");
  EXPECT_EQ(save.exitCode, 0u);
  result.saved = FileBytes(saved);
  result.table = FileBytes(table);
  const size_t paths = testing::Utf8(saved + L"\n" + table + L"\n").size();  // printed before the copied lines
  result.copied = save.output.substr(std::min(save.output.size(), paths));
  EXPECT_EQ(program.WaitForExit(kStartMs), 0u);
  DeleteFileW(saved.c_str());
  DeleteFileW(table.c_str());
  siteInput.Close();
  EXPECT_EQ(site.WaitForExit(kStartMs), 0u);
}

// The demo site's 150 lines of page 1, as the driver prints them and as the program saves them.
std::string ExpectedLines() { return Utf8Lines(demo::ResultLines(1)); }
std::string ExpectedSavedBytes() {
  std::string bytes;
  for (const std::string& line : demo::ResultLines(1)) bytes += ProgramText(line) + "\r\n";
  return bytes;
}

// Whether this system has the platform's pattern object, which the program then uses.
bool PlatformPatternObjectThere() {
  const ComInitialization com;
  ComObject object;
  return Create(object, "VBScript.RegExp");
}

TEST(EndToEnd, HarvestsTheDemoSiteThroughTheWindow) {
  DemoRun run;
  RunAgainstTheDemoSite(run);
  if (::testing::Test::IsSkipped() || HasFatalFailure()) return;
  EXPECT_EQ(run.lines, ExpectedLines());
  EXPECT_EQ(run.saved, ExpectedSavedBytes());
  EXPECT_EQ(run.copied, ExpectedLines());
  std::vector<std::string> lines;
  for (const std::string& line : demo::ResultLines(1)) lines.push_back(ProgramText(line));
  EXPECT_EQ(run.table, "\xEF\xBB\xBF" + testing::Utf8(Wide(ResultTableText(ResultRows(lines)))));
  EXPECT_EQ(run.vbscriptLoaded, PlatformPatternObjectThere());
}

// A Wine DLL override for one program, in the prefix's registry for as long as this lives.
// Wine gives a child process the WINEDLLOVERRIDES of its own Unix environment, whatever the
// environment block says; its key for the program is how a library is switched off for one
// program alone. The project's overrides stay as they are: that variable names no vbscript.
class ProgramDllOverride {
 public:
  ProgramDllOverride(const std::wstring& program, const wchar_t* dll, const wchar_t* mode)
      : program_(L"Software\\Wine\\AppDefaults\\" + program), dll_(dll) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (program_ + L"\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
      return;
    const auto bytes = static_cast<DWORD>((wcslen(mode) + 1) * sizeof(wchar_t));
    set_ = RegSetValueExW(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(mode), bytes) == ERROR_SUCCESS;
    RegCloseKey(key);
  }
  ProgramDllOverride(const ProgramDllOverride&) = delete;
  ProgramDllOverride& operator=(const ProgramDllOverride&) = delete;
  // The value goes, and the two keys if nothing else is in them.
  ~ProgramDllOverride() {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, (program_ + L"\\DllOverrides").c_str(), dll_);
    RegDeleteKeyW(HKEY_CURRENT_USER, (program_ + L"\\DllOverrides").c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, program_.c_str());
  }
  bool Set() const { return set_; }

 private:
  std::wstring program_;
  const wchar_t* dll_;
  bool set_ = false;
};

// As on a Windows without VBScript: with Wine's vbscript.dll switched off for the program alone,
// nothing of VBScript is in the program, and the built-in pattern engine gives the same lines
// and the same saved bytes.
TEST(EndToEnd, WithoutVbscriptTheBuiltInEngineHarvestsTheSameLinesAndBytes) {
  if (!RunningOnWine()) GTEST_SKIP() << "on Windows VBScript is switched off as a system feature, not per program";
  const ProgramDllOverride withoutVbscript(L"harvester.exe", L"vbscript", L"");
  ASSERT_TRUE(withoutVbscript.Set());
  DemoRun run;
  RunAgainstTheDemoSite(run);
  if (::testing::Test::IsSkipped() || HasFatalFailure()) return;
  EXPECT_EQ(run.lines, ExpectedLines());
  EXPECT_EQ(run.saved, ExpectedSavedBytes());
  EXPECT_FALSE(run.vbscriptLoaded);
}

TEST(ProcessTest, ClosingTheWindowEndsTheProgramWithZero) {
  ChildProcess program(ProgramPath());
  ASSERT_TRUE(program.Started());
  HWND window = program.WaitForWindow(kTitle, kStartMs);
  ASSERT_NE(window, nullptr);
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(program.WaitForExit(kStartMs), 0u);
}

TEST(ProcessTest, EscapeInAControlEndsTheProgramWithZero) {
  ChildProcess program(ProgramPath());
  HWND window = program.WaitForWindow(kTitle, kStartMs);
  ASSERT_NE(window, nullptr);
  HWND button = FindWindowExW(window, nullptr, L"Button", nullptr);
  ASSERT_NE(button, nullptr);
  PostMessageW(button, WM_KEYDOWN, VK_ESCAPE, 1);
  EXPECT_EQ(program.WaitForExit(kStartMs), 0u);
}

// The program with its window on a desktop of its own: under Wine a virtual desktop, started by
// that desktop's shell. On a bare X server Wine holds the end of every top-level window for 2 s,
// waiting for a window manager that is not there; inside a virtual desktop a window ends at
// once, as on a desktop with a window manager, so the program's own time can be measured.
class ProgramOnItsDesktop {
 public:
  ProgramOnItsDesktop() {
    static int count = 0;
    desktop_ = L"harvester-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++count);
    const std::wstring shell = L"explorer /desktop=" + desktop_ + L",800x600 ";
    starter_ = std::make_unique<ChildProcess>(RunningOnWine() ? shell + ProgramPath() : ProgramPath());
  }
  ProgramOnItsDesktop(const ProgramOnItsDesktop&) = delete;
  ProgramOnItsDesktop& operator=(const ProgramOnItsDesktop&) = delete;
  ~ProgramOnItsDesktop() {
    if (process_) {
      if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
      }
      CloseHandle(process_);
    }
  }

  // The program's window, within timeoutMs; nullptr when it did not come.
  HWND WaitForWindow(DWORD timeoutMs) {
    HWND window = nullptr;
    if (!RunningOnWine()) {
      window = starter_->WaitForWindow(kTitle, timeoutMs);
    } else {
      // The windows of another desktop are found from a thread on that desktop. That thread asks
      // for nothing but FindWindowW: under Wine, whatever makes it look up its desktop window
      // (IsWindowVisible of a shown window does) makes that desktop's X window the parent of every
      // X window this process creates afterwards, and the process dies of an X error once that
      // desktop has ended. So the main thread waits for the controls, by FindWindowExW.
      HDESK desktop = nullptr;
      std::thread finder([&] {
        const ULONGLONG end = GetTickCount64() + timeoutMs;
        while (!window && GetTickCount64() < end) {
          if (!desktop) {
            desktop = OpenDesktopW(desktop_.c_str(), 0, FALSE, GENERIC_ALL);
            if (desktop && !SetThreadDesktop(desktop)) {
              CloseDesktop(desktop);
              desktop = nullptr;
            }
          }
          if (desktop) window = FindWindowW(nullptr, kTitle.c_str());
          if (!window) Sleep(50);
        }
      });
      finder.join();
      if (desktop) CloseDesktop(desktop);  // its thread has ended
    }
    DWORD id = 0;
    if (window && GetWindowThreadProcessId(window, &id) && !process_)
      process_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id);
    return process_ ? window : nullptr;
  }

  // The exit code, or STILL_ACTIVE when the program did not end within timeoutMs.
  DWORD WaitForExit(DWORD timeoutMs) {
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_, &code);
    return code;
  }

 private:
  std::wstring desktop_;
  std::unique_ptr<ChildProcess> starter_;  // the program itself, or the desktop's shell that started it
  HANDLE process_ = nullptr;
};

// The first child of that class, within timeoutMs. The program's window has its title, and so is
// found, before its controls are made.
HWND WaitForChild(HWND parent, const wchar_t* windowClass, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  HWND child = nullptr;
  while (!(child = FindWindowExW(parent, nullptr, windowClass, nullptr)) && GetTickCount64() < end) Sleep(20);
  return child;
}

// The site of the compiled-in host on the loopback interface, for a program whose listing is
// slow: a list page with two listings, the first answering after 10 s.
class SlowSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string host = SITE_HOST;
    const auto port = demo::PortOf(host);
    if (host.rfind("127.0.0.1:", 0) != 0 || !port)
      GTEST_SKIP() << "the program is built for the site host " << host << ", not for a loopback site";
    server_ = std::make_unique<testing::HttpServer>(*port);
    if (!server_->Started()) GTEST_SKIP() << "port " << *port << " is taken by another program";
    testing::Response list;
    list.body = "<html><ul><li><a class=\"list-item\" href=\"" + server_->Url("/l/slow.html") +
                "\">a</a></li><li><a class=\"list-item\" href=\"" + server_->Url("/l/next.html") +
                "\">b</a></li></ul></html>";
    server_->Route("/sh_shouji/", list);
    testing::Response slow;
    slow.body = "<title>slow</title>";
    slow.delayMs = 10000;
    server_->Route("/l/slow.html", slow);
    testing::Response next;
    next.body = "<title>next</title>";
    server_->Route("/l/next.html", next);
  }

  // Starts the program, presses its start button and returns its window 1 s into the wait for
  // the slow listing; nullptr, with the reason, when that point was not reached.
  HWND StartRunIntoTheSlowListing() {
    program_ = std::make_unique<ProgramOnItsDesktop>();
    HWND window = program_->WaitForWindow(kStartMs);
    if (!window) {
      ADD_FAILURE() << "the program's window did not come";
      return nullptr;
    }
    HWND button = WaitForChild(window, L"Button", kStartMs);
    if (!button || !PostMessageW(button, BM_CLICK, 0, 0)) {
      ADD_FAILURE() << "the start button could not be pressed";
      return nullptr;
    }
    if (!server_->WaitForRequests(2, kStartMs)) {  // the list page, then the slow listing
      ADD_FAILURE() << "the run did not ask for the slow listing";
      return nullptr;
    }
    Sleep(1000);
    return window;
  }

  // The exit code of the program if it ends within boundMs of start (a GetTickCount64 value),
  // STILL_ACTIVE if not; *elapsed is the time from start to its end or to the bound.
  DWORD ExitCodeWithin(ULONGLONG start, DWORD boundMs, double* elapsed) {
    const ULONGLONG passed = GetTickCount64() - start;
    const DWORD code = program_->WaitForExit(passed >= boundMs ? 0 : static_cast<DWORD>(boundMs - passed));
    *elapsed = static_cast<double>(GetTickCount64() - start);
    return code;
  }

  std::unique_ptr<testing::HttpServer> server_;
  std::unique_ptr<ProgramOnItsDesktop> program_;  // ended before the server goes
};

TEST_F(SlowSiteTest, ClosingTheWindowDuringARunEndsTheProgramWithZeroAtOnce) {
  HWND window = StartRunIntoTheSlowListing();
  ASSERT_NE(window, nullptr);
  const ULONGLONG start = GetTickCount64();
  PostMessageW(window, WM_CLOSE, 0, 0);
  double elapsed = 0;
  const DWORD code = ExitCodeWithin(start, 2000, &elapsed);
  std::printf("closed during a run: the program ended %.0f ms after the close\n", elapsed);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(server_->RequestCount(), 2u);  // the second listing was not asked for
}

TEST_F(SlowSiteTest, TheEndOfTheSessionDuringARunEndsTheProgramWithZeroAtOnce) {
  HWND window = StartRunIntoTheSlowListing();
  ASSERT_NE(window, nullptr);
  DWORD_PTR answer = 0;
  ASSERT_NE(SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 1000, &answer), 0);
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));  // the program lets the session end
  const ULONGLONG start = GetTickCount64();
  SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 2000, &answer);
  double elapsed = 0;
  const DWORD code = ExitCodeWithin(start, 2000, &elapsed);
  std::printf("session ended during a run: the program ended %.0f ms after the end\n", elapsed);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(server_->RequestCount(), 2u);
}

TEST(FatalErrorTest, MessageComposition) {
  struct Row {
    const char* text;
    int code;
    const char* expected;
  };
  const Row rows[] = {
      {"", 0, "运行时出错!\r\n\r\n"},
      {"载入启动窗口失败", 0, "运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n"},
      {"", 6, "运行时出错!\r\n\r\n错误代码：6\r\n\r\n"},
      {"调用DLL命令后发现堆栈错误", -3,
       "运行时出错!\r\n\r\n错误代码：-3\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\n"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ComposeFatalErrorMessage(row.text, row.code), row.expected) << row.text << row.code;
}

// Run only as the child of the next test: shows the real box.
TEST(FatalErrorChild, ReportsAndEnds) {
  if (!std::getenv("HARVESTER_FATAL_CHILD")) GTEST_SKIP() << "run by FatalErrorTest.ShowsTheBox";
  ReportFatalError("无法找到指定DLL库文件中的输出命令“lstrlenA”", 0);
}

TEST(FatalErrorTest, ShowsTheBoxAndEndsWithMinusOne) {
  const std::wstring environment = testing::EnvironmentWith(L"HARVESTER_FATAL_CHILD=1");
  ChildProcess child(testing::SelfCommandLine(L"FatalErrorChild.*"), environment.c_str());
  ASSERT_TRUE(child.Started());
  HWND box = child.WaitForWindow(Wide("错误"), kStartMs);
  ASSERT_NE(box, nullptr);
  const std::string text = testing::MessageBoxText(box);
  // The box shows the message without the trailing line break.
  EXPECT_NE(text.find("运行时出错!"), std::string::npos) << text;
  EXPECT_NE(text.find("错误信息：无法找到指定DLL库文件中的输出命令“lstrlenA”"), std::string::npos) << text;
  EXPECT_EQ(text.find("错误代码："), std::string::npos) << text;
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(child.WaitForExit(kStartMs), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace harvester
