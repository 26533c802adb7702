#include "tests/support/allocation_census.h"

#include <windows.h>
#include <objbase.h>
#include <objidl.h>

#include <atomic>

#include "base/allocation.h"

namespace harvester::testing {
namespace {

std::atomic<DWORD> g_thread{0};  // the thread being counted; 0 when no census runs
std::size_t g_threshold = 0;
std::atomic<int> g_program{0};
std::atomic<int> g_taskAllocator{0};

bool Counted(std::size_t size) { return size >= g_threshold && g_thread.load() == GetCurrentThreadId(); }

// Stands in for the heap behind the program's operator new, taking its blocks from the same heap.
void* CountingHeapRequest(std::size_t size) {
  if (Counted(size)) ++g_program;
  return HeapAlloc(GetProcessHeap(), 0, size);
}

// Sees every request of the task allocator; changes nothing of it.
class CountingSpy final : public IMallocSpy {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
      *out = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // static: lives as long as the process
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T request) override {
    if (Counted(request)) ++g_taskAllocator;
    return request;
  }
  void* STDMETHODCALLTYPE PostAlloc(void* actual) override { return actual; }
  void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override { return request; }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** newRequest, BOOL) override {
    if (Counted(size)) ++g_taskAllocator;
    *newRequest = request;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override { return actual; }
  void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override { return actual; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

CountingSpy g_spy;
// The spy of an earlier census is still registered until the blocks it saw are freed.
bool g_spyMayBeRegistered = false;

}  // namespace

AllocationCensus::AllocationCensus(std::size_t threshold) {
  if (g_thread.load() != 0) return;
  if (FAILED(CoRegisterMallocSpy(&g_spy)) && !g_spyMayBeRegistered) return;
  g_threshold = threshold;
  g_program = 0;
  g_taskAllocator = 0;
  g_thread = GetCurrentThreadId();
  SetHeapRequestFunction(CountingHeapRequest);
  started_ = true;
}

AllocationCensus::~AllocationCensus() {
  if (!started_) return;
  SetHeapRequestFunction(nullptr);
  g_thread = 0;
  // Blocks allocated while the spy watched may still be alive; the task allocator then lets the
  // spy go once they are freed (CoRevokeMallocSpy answers E_ACCESSDENIED), and it passes them
  // through unchanged meanwhile.
  g_spyMayBeRegistered = CoRevokeMallocSpy() != S_OK;
}

AllocationCount AllocationCensus::Count() const { return {g_program.load(), g_taskAllocator.load()}; }

}  // namespace harvester::testing
