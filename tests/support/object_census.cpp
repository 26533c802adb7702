#include "tests/support/object_census.h"

#include <windows.h>

#include "automation/calls.h"
#include "automation/regex_object.h"

#include <array>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace harvester::testing {
namespace {

using AddRefFunction = ULONG(STDMETHODCALLTYPE*)(IUnknown*);
using ReleaseFunction = ULONG(STDMETHODCALLTYPE*)(IUnknown*);

constexpr int kMostTables = 12;
constexpr int kAddRefSlot = 1;
constexpr int kReleaseSlot = 2;

struct Table {
  void** slots = nullptr;
  AddRefFunction addRef = nullptr;
  ReleaseFunction release = nullptr;
};

std::array<Table, kMostTables> g_tables;
int g_tableCount = 0;

std::mutex g_mutex;  // the request objects' own threads add and release references too
bool g_counting = false;
std::unordered_map<IUnknown*, ULONG> g_references;
CensusCount g_count;

void Note(IUnknown* object, ULONG references) {
  std::lock_guard lock(g_mutex);
  if (!g_counting) return;
  if (references == 0) {
    if (g_references.erase(object) == 0) ++g_count.seen;  // released the first time it was seen
    ++g_count.destroyed;
    return;
  }
  const auto [entry, inserted] = g_references.try_emplace(object, references);
  if (inserted) {
    ++g_count.seen;
  } else {
    entry->second = references;
  }
}

template <int N>
ULONG STDMETHODCALLTYPE CountingAddRef(IUnknown* self) {
  const ULONG references = g_tables[N].addRef(self);
  Note(self, references);
  return references;
}

template <int N>
ULONG STDMETHODCALLTYPE CountingRelease(IUnknown* self) {
  const ULONG references = g_tables[N].release(self);
  Note(self, references);
  return references;
}

template <int... N>
constexpr std::array<std::pair<AddRefFunction, ReleaseFunction>, sizeof...(N)> MakeWrappers(
    std::integer_sequence<int, N...>) {
  return {std::pair<AddRefFunction, ReleaseFunction>{&CountingAddRef<N>, &CountingRelease<N>}...};
}
constexpr auto kWrappers = MakeWrappers(std::make_integer_sequence<int, kMostTables>());

bool WriteSlots(void** slots, void* addRef, void* release) {
  DWORD old = 0;
  if (!VirtualProtect(slots, 3 * sizeof(void*), PAGE_READWRITE, &old)) return false;
  slots[kAddRefSlot] = addRef;
  slots[kReleaseSlot] = release;
  DWORD ignored = 0;
  VirtualProtect(slots, 3 * sizeof(void*), old, &ignored);
  FlushInstructionCache(GetCurrentProcess(), slots, 3 * sizeof(void*));
  return true;
}

}  // namespace

bool WatchKindOf(IUnknown* sample) {
  if (!sample) return false;
  void** slots = *reinterpret_cast<void***>(sample);
  for (int i = 0; i < g_tableCount; ++i)
    if (g_tables[i].slots == slots) return true;  // already watched
  if (g_tableCount == kMostTables) return false;
  Table& table = g_tables[g_tableCount];
  table.slots = slots;
  table.addRef = reinterpret_cast<AddRefFunction>(slots[kAddRefSlot]);
  table.release = reinterpret_cast<ReleaseFunction>(slots[kReleaseSlot]);
  const auto [addRef, release] = kWrappers[g_tableCount];
  if (!WriteSlots(slots, reinterpret_cast<void*>(addRef), reinterpret_cast<void*>(release))) return false;
  ++g_tableCount;
  return true;
}

void UnwatchAll() {
  for (int i = 0; i < g_tableCount; ++i) {
    WriteSlots(g_tables[i].slots, reinterpret_cast<void*>(g_tables[i].addRef),
               reinterpret_cast<void*>(g_tables[i].release));
  }
  g_tableCount = 0;
}

void StartCensus() {
  std::lock_guard lock(g_mutex);
  g_references.clear();
  g_count = {};
  g_counting = true;
}

CensusCount StopCensus() {
  std::lock_guard lock(g_mutex);
  g_counting = false;
  CensusCount count = g_count;
  count.alive = static_cast<long>(g_references.size());
  g_references.clear();
  return count;
}

bool WatchPlatformKinds(std::string& failure) {
  const auto watch = [&](const ComObject& object, const char* kind) {
    IUnknown* unknown = object.Get();
    if (!unknown) {
      failure = std::string("no sample ") + kind;
      return false;
    }
    IDispatch* dispatch = nullptr;
    bool watched = WatchKindOf(unknown);
    if (SUCCEEDED(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) && dispatch) {
      watched = watched && WatchKindOf(dispatch);
      dispatch->Release();
    }
    if (!watched) failure = std::string("cannot watch ") + kind;
    return watched;
  };
  ComObject request;
  Create(request, "Winhttp.WinHttpRequest.5.1");
  RegexObject pattern;
  pattern.Search("(a)", "aa");
  ComObject match = ReadObjectProperty(pattern.matches, "Item", {Arg(0.0)});
  ComObject groups = ReadObjectProperty(match, "SubMatches");
  return watch(request, "request object") && watch(pattern.regExp, "pattern object") &&
         watch(pattern.matches, "match collection") && watch(match, "match") && watch(groups, "groups");
}

}  // namespace harvester::testing
