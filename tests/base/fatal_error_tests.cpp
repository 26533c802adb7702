// A failed allocation: its size in the box, and a box that needs no memory to appear.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "base/allocation.h"
#include "base/fatal_error.h"
#include "tests/support/test_support.h"

namespace harvester {
namespace {

using testing::ChildProcess;

constexpr DWORD kStartMs = 20000;
constexpr char kChildVariable[] = "HARVESTER_FATAL_ALLOCATION_CHILD";

// The heap of a process whose memory is gone for good: after the first refusal every further
// request is refused too.
bool g_exhausted = false;
void* RefuseAfterFirstFailure(std::size_t size) {
  if (!g_exhausted) {
    if (void* block = HeapAlloc(GetProcessHeap(), 0, size)) return block;
    g_exhausted = true;
  }
  return nullptr;
}

// Far more than the address space gives: the heap refuses it without touching memory.
constexpr std::size_t kHugeRequest = (std::size_t{1} << 62) + 40;

// Run only as the children of the tests below.
TEST(FatalAllocationChild, ReportsTheRequest) {
  if (!std::getenv(kChildVariable)) GTEST_SKIP() << "run by FatalAllocationTest";
  SetHeapRequestFunction(RefuseAfterFirstFailure);
  void* volatile block = ::operator new(kHugeRequest);
  ADD_FAILURE() << "the request was met: " << block;
}

// A request the compiler must make: a call whose result is unused may be left out.
void Request(std::size_t size) {
  void* volatile block = ::operator new(size);
  ::operator delete(block);
}

void CALLBACK AllocateOnTimer(HWND, UINT, UINT_PTR, DWORD) { Request(64); }

TEST(FatalAllocationChild, FailsAgainWhileTheBoxShows) {
  if (!std::getenv(kChildVariable)) GTEST_SKIP() << "run by FatalAllocationTest";
  SetHeapRequestFunction(RefuseAfterFirstFailure);
  // The box's own message loop runs the timer, whose request fails as well.
  SetTimer(nullptr, 0, 1500, AllocateOnTimer);
  void* volatile block = ::operator new(kHugeRequest);
  ADD_FAILURE() << "the request was met: " << block;
}

class FatalAllocationTest : public ::testing::Test {
 protected:
  void Start(const wchar_t* child) {
    environment_ = testing::EnvironmentWith(testing::Wide(kChildVariable) + L"=1");
    child_ = std::make_unique<ChildProcess>(testing::SelfCommandLine(child), environment_.c_str());
    ASSERT_TRUE(child_->Started());
  }
  std::wstring environment_;
  std::unique_ptr<ChildProcess> child_;
};

TEST_F(FatalAllocationTest, BoxAppearsWithNoMemoryLeftAndShowsTheWholeSize) {
  Start(L"FatalAllocationChild.ReportsTheRequest");
  HWND box = child_->WaitForWindow(testing::Wide("错误"), kStartMs);
  ASSERT_NE(box, nullptr) << "no box; the child ended with " << child_->WaitForExit(0);
  // 2^62 + 40, written out: the size as the unsigned 64-bit number it is.
  const std::string text = testing::MessageBoxText(box);
  EXPECT_NE(text.find("运行时出错!"), std::string::npos) << text;
  EXPECT_NE(text.find("错误信息：分配 4611686018427387944 字节内存失败!"), std::string::npos) << text;
  EXPECT_EQ(text.find("错误代码："), std::string::npos) << text;
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(child_->WaitForExit(kStartMs), 0xFFFFFFFFu);
}

TEST_F(FatalAllocationTest, SecondFailureEndsTheProcessWithMinusOneAtOnce) {
  Start(L"FatalAllocationChild.FailsAgainWhileTheBoxShows");
  ASSERT_NE(child_->WaitForWindow(testing::Wide("错误"), kStartMs), nullptr)
      << "no box; the child ended with " << child_->WaitForExit(0);
  // Nobody presses OK: the second failure ends it.
  EXPECT_EQ(child_->WaitForExit(kStartMs), 0xFFFFFFFFu);
}

// In process, through the sink: a heap that refuses one request of the size in question.
std::size_t g_refusedSize = 0;
void* RefuseOnce(std::size_t size) {
  if (size == g_refusedSize) {
    g_refusedSize = 0;
    return nullptr;
  }
  return HeapAlloc(GetProcessHeap(), 0, size);
}

std::string g_reported;

TEST(FatalAllocationSizeTest, SizeIsShownInFull) {
  struct Row {
    std::size_t size;
    const char* expected;
  };
  const Row rows[] = {
      {40, "运行时出错!\r\n\r\n错误信息：分配 40 字节内存失败!\r\n"},
      {std::size_t{1} << 31, "运行时出错!\r\n\r\n错误信息：分配 2147483648 字节内存失败!\r\n"},
      {(std::size_t{1} << 32) + 40, "运行时出错!\r\n\r\n错误信息：分配 4294967336 字节内存失败!\r\n"},
      {kHugeRequest, "运行时出错!\r\n\r\n错误信息：分配 4611686018427387944 字节内存失败!\r\n"},
      {SIZE_MAX, "运行时出错!\r\n\r\n错误信息：分配 18446744073709551615 字节内存失败!\r\n"},
  };
  SetFatalErrorSink([](const std::string& message) {
    g_reported = message;
    throw std::runtime_error("fatal");
  });
  SetHeapRequestFunction(RefuseOnce);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    g_reported.clear();
    g_refusedSize = row.size;
    EXPECT_THROW(Request(row.size), std::runtime_error);
    EXPECT_EQ(g_reported, row.expected);
    EXPECT_EQ(FatalErrorDepth(), 0);
  }
  SetHeapRequestFunction(nullptr);
  SetFatalErrorSink(nullptr);
}

// The box's message in a fixed buffer: the same text as the composed one when it fits; cut at a
// whole character when it does not.
TEST(FatalErrorTest, FixedBufferComposition) {
  struct Row {
    const char* text;
    int code;
    std::size_t capacity;
    const char* expected;
  };
  const Row rows[] = {
      {"载入启动窗口失败", 0, 256, "运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n"},
      {"", 6, 256, "运行时出错!\r\n\r\n错误代码：6\r\n\r\n"},
      {"x", INT32_MIN, 256, "运行时出错!\r\n\r\n错误代码：-2147483648\r\n\r\n错误信息：x\r\n"},
      {"x", INT32_MAX, 256, "运行时出错!\r\n\r\n错误代码：2147483647\r\n\r\n错误信息：x\r\n"},
      // "运行时出错!" is 11 bytes: room for 9 would end inside "错", which is left off whole.
      {"", 0, 10, "运行时出"},
      {"", 0, 11, "运行时出错"},
      {"", 0, 12, "运行时出错!"},
      // The text begins at byte 25: room for 26 would end inside "载".
      {"载入", 0, 27, "运行时出错!\r\n\r\n错误信息："},
      {"载入", 0, 28, "运行时出错!\r\n\r\n错误信息：载"},
      {"", 0, 1, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.expected) + " / " + std::to_string(row.capacity));
    char buffer[256];
    std::memset(buffer, 'Z', sizeof buffer);
    const std::size_t length = ComposeFatalErrorMessage(row.text, row.code, buffer, row.capacity);
    EXPECT_EQ(std::string(buffer, length), row.expected);
    EXPECT_EQ(buffer[length], '\0');
    if (row.capacity < sizeof buffer) EXPECT_EQ(buffer[row.capacity], 'Z');  // nothing beyond the capacity
  }
}

}  // namespace
}  // namespace harvester
