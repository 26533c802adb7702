// Platform functions looked up by name, and the fatal error for one that is missing.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "base/fatal_error.h"
#include "base/dll_functions.h"

namespace harvester {
namespace {

struct FatalCaught : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string g_lastFatal;
void CatchFatal(const std::string& message) {
  g_lastFatal = message;
  throw FatalCaught(message);
}

class DllFunctionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_lastFatal.clear();
    SetFatalErrorSink(CatchFatal);
  }
  void TearDown() override { SetFatalErrorSink(nullptr); }
};

TEST_F(DllFunctionTest, MissingTextTable) {
  struct Row {
    const char* library;
    const char* function;
    std::string expected;
  };
  const Row rows[] = {
      {"kernel32.dll", "NoSuch", "无法找到指定DLL库文件“kernel32.dll”中的输出命令“NoSuch”"},
      {"", "NoSuch", "无法找到指定DLL库文件中的输出命令“NoSuch”"},
      {nullptr, "NoSuch", "无法找到指定DLL库文件中的输出命令“NoSuch”"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    EXPECT_EQ(MissingDllFunctionText(row.library, row.function), row.expected);
  }
  // The curly quotes are code page 936 bytes A1 B0 / A1 B1.
  EXPECT_EQ(MissingDllFunctionText("", "F"), "\xCE\xDE\xB7\xA8\xD5\xD2\xB5\xBD\xD6\xB8\xB6\xA8" "DLL"
                                           "\xBF\xE2\xCE\xC4\xBC\xFE\xD6\xD0\xB5\xC4\xCA\xE4\xB3\xF6"
                                           "\xC3\xFC\xC1\xEE\xA1\xB0" "F\xA1\xB1");
}

TEST_F(DllFunctionTest, FindsAFunctionInTheNamedLibrary) {
  void* address = LookUpDllFunction("kernel32.dll", "GetTickCount");
  EXPECT_EQ(address, reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount")));
  EXPECT_TRUE(g_lastFatal.empty());
}

TEST_F(DllFunctionTest, DefaultListFindsFunctionsBeyondItsFirstLibrary) {
  // GetSysColor lives in User32, the third library of the list.
  void* address = LookUpDllFunction("", "GetSysColor");
  EXPECT_EQ(address, reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSysColor")));
  EXPECT_NE(LookUpDllFunction(nullptr, "lstrlenA"), nullptr);
}

TEST_F(DllFunctionTest, MissingFunctionInNamedLibraryEndsTheProgram) {
  EXPECT_THROW(LookUpDllFunction("kernel32.dll", "NoSuchFunctionAnywhere"), FatalCaught);
  EXPECT_EQ(g_lastFatal,
            ComposeFatalErrorMessage("无法找到指定DLL库文件“kernel32.dll”中的输出命令“NoSuchFunctionAnywhere”", 0));
}

TEST_F(DllFunctionTest, MissingLibraryEndsTheProgram) {
  EXPECT_THROW(LookUpDllFunction("no_such_library_here.dll", "F"), FatalCaught);
  EXPECT_EQ(g_lastFatal, ComposeFatalErrorMessage("无法找到指定DLL库文件“no_such_library_here.dll”中的输出命令“F”", 0));
}

TEST_F(DllFunctionTest, MissingFunctionInTheDefaultListEndsTheProgram) {
  EXPECT_THROW(LookUpDllFunction("", "NoSuchFunctionAnywhere"), FatalCaught);
  EXPECT_EQ(g_lastFatal, ComposeFatalErrorMessage("无法找到指定DLL库文件中的输出命令“NoSuchFunctionAnywhere”", 0));
}

TEST_F(DllFunctionTest, TypedCallLooksUpOnceAndKeepsTheAddress) {
  DllFunction<int __stdcall(LPCSTR)> length{"", "lstrlenA"};
  EXPECT_EQ(length("abcd"), 4);
  EXPECT_EQ(length(""), 0);
  DllFunction<DWORD __stdcall()> missing{"kernel32.dll", "NoSuchFunctionAnywhere"};
  EXPECT_THROW(missing(), FatalCaught);
  ReleaseDllLibraries();  // the kernel libraries stay mapped: the program itself links them
  EXPECT_EQ(length("xyz"), 3);
}

}  // namespace
}  // namespace harvester
