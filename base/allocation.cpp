// Every allocation of the program goes through here: a request that cannot be met ends the
// program with the size it asked for.
#include "base/allocation.h"

#include <windows.h>

#include <cstdint>
#include <new>

#include "base/fatal_error.h"
#include "base/fixed_text.h"

namespace harvester {
namespace {

HeapRequestFunction g_heapRequest = nullptr;
bool g_allocationFailing = false;  // set from a failed allocation until its report is done

}  // namespace

void SetHeapRequestFunction(HeapRequestFunction function) { g_heapRequest = function; }

}  // namespace harvester

namespace {

void* RequestFromHeap(std::size_t size) {
  if (size == 0) size = 1;
  return harvester::g_heapRequest ? harvester::g_heapRequest(size) : HeapAlloc(GetProcessHeap(), 0, size);
}

void* AllocateOrDie(std::size_t size) {
  void* block = RequestFromHeap(size);
  if (block) return block;
  // The report of a failed allocation allocates nothing; if anything else fails meanwhile,
  // there is no memory left to say so.
  if (harvester::g_allocationFailing) ExitProcess(static_cast<UINT>(-1));
  struct FailingGuard {  // the real report never comes back; a test sink throws through here
    FailingGuard() { harvester::g_allocationFailing = true; }
    ~FailingGuard() { harvester::g_allocationFailing = false; }
  } failing;
  char text[64];
  harvester::FixedText message(text, sizeof text);
  message.Append("分配 ");
  message.Append(harvester::Decimal(static_cast<std::uint64_t>(size)).View());
  message.Append(" 字节内存失败!");
  harvester::ReportFatalError(text, 0);
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrDie(size); }
void* operator new[](std::size_t size) { return AllocateOrDie(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return RequestFromHeap(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return RequestFromHeap(size); }
void operator delete(void* block) noexcept {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}
void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }
void operator delete[](void* block, std::size_t) noexcept { operator delete(block); }
