// The program as a process: it ends with 0 when its window is closed, and a fatal error shows
// the real box and ends it with -1. Worked from outside through the driver, it harvests the
// demo site.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/fatal_error.h"
#include "tests/support/http_server.h"
#include "tests/support/test_support.h"
#include "tools/demo-site/site_pages.h"

namespace harvester {
namespace {

using testing::ChildProcess;
using testing::ExecutableFolder;
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

// Program text (code page 936) of UTF-8 text.
std::string ProgramText(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                      wide.data(), static_cast<int>(wide.size()))));
  return Text(wide);
}

std::string FileBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

std::wstring TemporaryPath(const wchar_t* name) {
  wchar_t folder[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, folder);
  const std::wstring path = std::wstring(folder) + name;
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

// The whole program against the demo site, worked through its window: one run over list page 1
// collects the lines of its 45 listings, they are saved as they stand, and closing ends it.
TEST(EndToEnd, HarvestsTheDemoSiteThroughTheWindow) {
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
  const std::vector<std::string> expected = demo::ResultLines(1);
  EXPECT_EQ(run.output, Utf8Lines(expected));

  const std::wstring saved = TemporaryPath(L"driver-results.txt");
  const testing::FinishedProcess save = Drive(program.Id(), L"save \"" + saved + L"\" close");
  EXPECT_EQ(save.exitCode, 0u);
  std::string bytes;
  for (const std::string& line : expected) bytes += ProgramText(line) + "\r\n";
  EXPECT_EQ(FileBytes(saved), bytes);
  EXPECT_EQ(program.WaitForExit(kStartMs), 0u);
  DeleteFileW(saved.c_str());
  siteInput.Close();
  EXPECT_EQ(site.WaitForExit(kStartMs), 0u);
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
