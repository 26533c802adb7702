// The program as a process: it ends with 0 when its window is closed, and a fatal error shows
// the real box and ends it with -1.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

#include "app/fatal_error.h"
#include "tests/support/test_support.h"

namespace harvester {
namespace {

using testing::ChildProcess;
using testing::ExecutableFolder;
using testing::Text;
using testing::Wide;

constexpr DWORD kStartMs = 20000;
const std::wstring kTitle = Wide("Orvel手机号码采集器");

std::wstring ProgramPath() { return L"\"" + ExecutableFolder() + L"harvester.exe\""; }

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

std::string g_reported;

TEST(FatalErrorTest, FailedAllocationReportsItsSize) {
  SetFatalErrorSink([](const std::string& message) {
    g_reported = message;
    throw std::runtime_error("fatal");
  });
  // Far more than the address space gives: the heap refuses it without touching memory.
  const size_t huge = (size_t{1} << 62) + 40;
  EXPECT_THROW((void)::operator new(huge), std::runtime_error);
  SetFatalErrorSink(nullptr);
  EXPECT_EQ(g_reported, ComposeFatalErrorMessage(
                            "分配 " + std::to_string(static_cast<int>(huge)) + " 字节内存失败!", 0));
}

// Run only as the child of the next test: shows the real box.
TEST(FatalErrorChild, ReportsAndEnds) {
  if (!std::getenv("HARVESTER_FATAL_CHILD")) GTEST_SKIP() << "run by FatalErrorTest.ShowsTheBox";
  ReportFatalError("无法找到指定DLL库文件中的输出命令“lstrlenA”", 0);
}

BOOL CALLBACK FindBoxText(HWND child, LPARAM found) {
  wchar_t name[16] = {};
  GetClassNameW(child, name, 16);
  if (lstrcmpiW(name, L"Static") == 0 && GetWindowTextLengthW(child) > 0)
    *reinterpret_cast<std::string*>(found) += testing::WindowText(child);
  return TRUE;
}

TEST(FatalErrorTest, ShowsTheBoxAndEndsWithMinusOne) {
  std::wstring environment;
  for (const wchar_t* block = GetEnvironmentStringsW(); *block; block += wcslen(block) + 1)
    environment.append(block).push_back(L'\0');
  environment.append(L"HARVESTER_FATAL_CHILD=1").push_back(L'\0');
  wchar_t self[MAX_PATH * 4];
  GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  ChildProcess child(L"\"" + std::wstring(self) + L"\" --gtest_filter=FatalErrorChild.*",
                     environment.c_str());
  ASSERT_TRUE(child.Started());
  HWND box = child.WaitForWindow(Wide("错误"), kStartMs);
  ASSERT_NE(box, nullptr);
  std::string text;
  EnumChildWindows(box, FindBoxText, reinterpret_cast<LPARAM>(&text));
  // The box shows the message without the trailing line break.
  EXPECT_NE(text.find("运行时出错!"), std::string::npos) << text;
  EXPECT_NE(text.find("错误信息：无法找到指定DLL库文件中的输出命令“lstrlenA”"), std::string::npos) << text;
  EXPECT_EQ(text.find("错误代码："), std::string::npos) << text;
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(child.WaitForExit(kStartMs), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace harvester
