#include "app/fatal_error.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/shell.h"
#include "automation/text_codec.h"

namespace harvester {
namespace {

FatalErrorSink g_sink = nullptr;
int g_fatalErrorDepth = 0;

}  // namespace

std::string ComposeFatalErrorMessage(std::string_view text, int code) {
  std::string message = "运行时出错!\r\n\r\n";
  if (code != 0) {
    message += "错误代码：";
    message += std::to_string(code);
    message += "\r\n\r\n";
  }
  if (!text.empty()) {
    message += "错误信息：";
    message += text;
    message += "\r\n";
  }
  return message;
}

void SetFatalErrorSink(FatalErrorSink sink) { g_sink = sink; }

int FatalErrorDepth() { return g_fatalErrorDepth; }

void ReportFatalError(std::string_view text, int code) {
  struct DepthGuard {  // a test sink leaves by throwing; the real path never comes back
    DepthGuard() { ++g_fatalErrorDepth; }
    ~DepthGuard() { --g_fatalErrorDepth; }
  } depth;
  const std::string message = ComposeFatalErrorMessage(text, code);
  if (g_sink) {
    g_sink(message);
    std::abort();  // a sink must not return
  }
  MessageBoxW(nullptr, TextToWide(message).c_str(), TextToWide("错误").c_str(), MB_ICONERROR | MB_OK);
  EndProgram(-1);
  ExitProcess(static_cast<UINT>(-1));
}

}  // namespace harvester

// Every allocation of the program goes through here: a request that cannot be met ends the
// program with the size it asked for.
namespace {

void* AllocateOrDie(std::size_t size) {
  if (size == 0) size = 1;
  void* block = HeapAlloc(GetProcessHeap(), 0, size);
  if (!block) {
    char text[64];  // no allocation here: the heap has just refused one
    std::snprintf(text, sizeof text, "分配 %d 字节内存失败!", static_cast<int>(size));
    harvester::ReportFatalError(text, 0);
  }
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrDie(size); }
void* operator new[](std::size_t size) { return AllocateOrDie(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}
void operator delete(void* block) noexcept {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}
void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }
void operator delete[](void* block, std::size_t) noexcept { operator delete(block); }
