// The owner kit: each owner gives its resource back when it goes, before Put() hands out its
// slot, and exactly once however it is moved.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/owners.h"
#include "base/winhttp_owner.h"
#include "tests/support/test_support.h"

namespace harvester {
namespace {

// A resource that is a number; every give-back is recorded.
std::vector<int> g_closed;
bool g_closeSucceeds = true;
struct CountedTraits {
  using Value = int;
  static Value None() noexcept { return 0; }
  static bool Close(Value value) noexcept {
    g_closed.push_back(value);
    return g_closeSucceeds;
  }
};
using Counted = UniqueResource<CountedTraits>;

class UniqueResourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_closed.clear();
    g_closeSucceeds = true;
  }
};

TEST_F(UniqueResourceTest, GivesBackOnDestructionAndNothingWhenEmpty) {
  { Counted owner(7); EXPECT_TRUE(owner); }
  { Counted empty; EXPECT_FALSE(empty); }
  EXPECT_EQ(g_closed, std::vector<int>{7});
}

TEST_F(UniqueResourceTest, PutAndResetGiveBackTheOldOneFirst) {
  Counted owner(1);
  int* slot = owner.Put();
  EXPECT_EQ(g_closed, std::vector<int>{1});
  EXPECT_EQ(*slot, 0);  // the function writing into it finds "none"
  *slot = 2;
  owner.Reset(3);
  EXPECT_EQ(g_closed, (std::vector<int>{1, 2}));
  EXPECT_EQ(owner.Get(), 3);
  EXPECT_EQ(owner.Release(), 3);  // let go of without giving back
  EXPECT_FALSE(owner);
  EXPECT_EQ(g_closed, (std::vector<int>{1, 2}));
}

TEST_F(UniqueResourceTest, MovesGiveBackOnceAndAssignmentGivesBackTheTargets) {
  {
    Counted first(1);
    Counted second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.Get(), 1);
    Counted third(3);
    third = std::move(second);  // 3 goes now, 1 with third
    EXPECT_EQ(g_closed, std::vector<int>{3});
    Counted& same = third;
    third = std::move(same);  // a move onto itself keeps what it holds
    EXPECT_EQ(third.Get(), 1);
    EXPECT_EQ(g_closed, std::vector<int>{3});
  }
  EXPECT_EQ(g_closed, (std::vector<int>{3, 1}));
}

TEST_F(UniqueResourceTest, CloseReportsThePlatformsAnswer) {
  Counted owner(4);
  g_closeSucceeds = false;
  EXPECT_FALSE(owner.Close());
  EXPECT_FALSE(owner);
  EXPECT_TRUE(owner.Close());  // nothing held: nothing to refuse
  EXPECT_EQ(g_closed, std::vector<int>{4});
}

static_assert(!std::is_copy_constructible_v<Counted> && !std::is_copy_assignable_v<Counted>);

TEST(OwnersTest, HandleIsClosedOnDestruction) {
  HANDLE event = nullptr;
  {
    UniqueHandle owner(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(owner);
    event = owner.Get();
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(event, &flags));
  }
  DWORD flags = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(GetHandleInformation(event, &flags));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(OwnersTest, FileOwnerTakesInvalidHandleValueAsNone) {
  UniqueFile missing(CreateFileW(L"Z:\\no\\such\\folder\\file.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(missing.Get(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(missing);
  EXPECT_TRUE(missing.Close());

  const std::wstring path = testing::TemporaryFileName(L"own");
  {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    ASSERT_TRUE(file);
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
  }
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);  // closed: deleted
}

TEST(OwnersTest, ModuleMenuAndBrushAreGivenBack) {
  constexpr wchar_t kLibrary[] = L"msimg32.dll";
  if (GetModuleHandleW(kLibrary)) GTEST_SKIP() << "msimg32.dll is loaded by something else here";
  {
    UniqueModule module(LoadLibraryW(kLibrary));
    ASSERT_TRUE(module);
    EXPECT_EQ(GetModuleHandleW(kLibrary), module.Get());
  }
  EXPECT_EQ(GetModuleHandleW(kLibrary), nullptr);

  HMENU menu = nullptr;
  {
    UniqueMenu owner(CreatePopupMenu());
    menu = owner.Get();
    EXPECT_TRUE(IsMenu(menu));
  }
  EXPECT_FALSE(IsMenu(menu));

  HBRUSH brush = nullptr;
  {
    UniqueBrush owner(CreateSolidBrush(RGB(1, 2, 3)));
    brush = owner.Get();
    EXPECT_EQ(GetObjectType(brush), static_cast<DWORD>(OBJ_BRUSH));
  }
  EXPECT_EQ(GetObjectType(brush), 0u);
}

TEST(OwnersTest, SelectedObjectPutsThePreviousOneBack) {
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  const HGDIOBJ before = GetCurrentObject(dc, OBJ_BRUSH);
  UniqueBrush red(CreateSolidBrush(RGB(255, 0, 0)));
  UniqueBrush blue(CreateSolidBrush(RGB(0, 0, 255)));
  {
    SelectedObject selected(dc, red.Get());
    EXPECT_TRUE(selected);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), red.Get());
    {
      SelectedObject inner(dc, blue.Get());
      EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), blue.Get());
    }
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), red.Get());
    SelectedObject moved(std::move(selected));  // the selection now ends with moved, once
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), red.Get());
  }
  EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), before);
  EXPECT_FALSE(SelectedObject(nullptr, red.Get()));
  DeleteDC(dc);
}

// A window of this thread to draw on.
struct TestWindow {
  TestWindow()
      : hwnd(CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 60, 40, nullptr, nullptr, nullptr,
                             nullptr)) {}
  ~TestWindow() { DestroyWindow(hwnd); }
  HWND hwnd;
};

TEST(OwnersTest, WindowAndPaintDCsAreReleased) {
  TestWindow window;
  ASSERT_NE(window.hwnd, nullptr);
  HDC dc = nullptr;
  {
    WindowDC owner(window.hwnd);
    ASSERT_TRUE(owner);
    dc = owner.Get();
    WindowDC moved(std::move(owner));
    EXPECT_FALSE(owner);
    EXPECT_EQ(moved.Get(), dc);
  }
  EXPECT_EQ(ReleaseDC(window.hwnd, dc), 0) << "released once already";

  InvalidateRect(window.hwnd, nullptr, TRUE);
  {
    PaintDC paint(window.hwnd);
    ASSERT_TRUE(paint);
    EXPECT_EQ(paint.Paint().hdc, paint.Get());
    EXPECT_FALSE(GetUpdateRect(window.hwnd, nullptr, FALSE));  // BeginPaint validated it
    dc = paint.Get();
  }
  EXPECT_EQ(ReleaseDC(window.hwnd, dc), 0) << "EndPaint released it";
}

TEST(OwnersTest, InternetHandleIsClosedOnDestruction) {
  HINTERNET session = nullptr;
  {
    UniqueInternet owner(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
    ASSERT_TRUE(owner);
    session = owner.Get();
  }
  DWORD timeout = 0;
  DWORD size = sizeof timeout;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(WinHttpQueryOption(session, WINHTTP_OPTION_CONNECT_TIMEOUT, &timeout, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(OwnersTest, BstrMovesAndPutEmptiesTheSlot) {
  UniqueBstr text(SysAllocString(L"\u7535\u8bdd"));
  ASSERT_TRUE(text);
  EXPECT_EQ(SysStringLen(text.Get()), 2u);
  const BSTR held = text.Get();
  UniqueBstr moved(std::move(text));
  EXPECT_FALSE(text);
  EXPECT_EQ(moved.Get(), held);
  BSTR* slot = moved.Put();
  EXPECT_EQ(*slot, nullptr);
  *slot = SysAllocString(L"x");
  EXPECT_EQ(std::wstring(moved.Get()), L"x");
}

// An object that counts its references, to see what a VARIANT holding it releases.
class CountedObject : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown) return E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  ULONG references = 1;  // the test's own
};

void Hold(VARIANT* slot, CountedObject& object) {
  object.AddRef();
  slot->vt = VT_UNKNOWN;
  slot->punkVal = &object;
}

TEST(OwnersTest, VariantClearsOnDestructionAndBeforePut) {
  CountedObject first;
  CountedObject second;
  {
    UniqueVariant value;
    EXPECT_EQ(value.Get().vt, VT_EMPTY);
    Hold(value.Put(), first);
    EXPECT_EQ(first.references, 2u);
    VARIANT* slot = value.Put();  // first is released before the slot is handed out
    EXPECT_EQ(first.references, 1u);
    EXPECT_EQ(slot->vt, VT_EMPTY);
    Hold(slot, second);

    UniqueVariant moved(std::move(value));
    EXPECT_EQ(value.Get().vt, VT_EMPTY);
    EXPECT_EQ(second.references, 2u);
    UniqueVariant other;
    Hold(other.Put(), first);
    moved = std::move(other);  // moved's second goes, first moves in
    EXPECT_EQ(second.references, 1u);
    EXPECT_EQ(first.references, 2u);
  }
  EXPECT_EQ(first.references, 1u);
  EXPECT_EQ(second.references, 1u);
}

// What the initialisation guards do to a thread that starts with no apartment of its own.
struct GuardProbe {
  HRESULT outer = E_UNEXPECTED;
  HRESULT inner = E_UNEXPECTED;
  HRESULT whileOuterHolds = E_UNEXPECTED;  // a probe CoInitializeEx after the inner guard went
  HRESULT afterBoth = E_UNEXPECTED;        // the same after the outer went
  // On a multi-threaded thread the single-threaded initialisations are refused; the probes
  // after each tell whether the thread's own initialisation is still there.
  HRESULT comRefused = E_UNEXPECTED;
  HRESULT mtaAfterComRefused = E_UNEXPECTED;
  HRESULT oleRefused = E_UNEXPECTED;
  HRESULT mtaAfterOleRefused = E_UNEXPECTED;
};

// S_FALSE: the thread was initialised already; the probe's own count is taken back at once.
HRESULT ProbeApartment(DWORD model) {
  const HRESULT result = CoInitializeEx(nullptr, model);
  if (SUCCEEDED(result)) CoUninitialize();
  return result;
}

DWORD WINAPI RunGuards(void* parameter) {
  auto* probe = static_cast<GuardProbe*>(parameter);
  {
    OleInitialization outer;
    probe->outer = outer.Result();
    {
      OleInitialization inner;
      probe->inner = inner.Result();
    }
    probe->whileOuterHolds = ProbeApartment(COINIT_APARTMENTTHREADED);
  }
  probe->afterBoth = ProbeApartment(COINIT_APARTMENTTHREADED);

  if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    {
      ComInitialization refused(COINIT_APARTMENTTHREADED);
      probe->comRefused = refused.Result();
    }
    probe->mtaAfterComRefused = ProbeApartment(COINIT_MULTITHREADED);
    {
      OleInitialization refused;
      probe->oleRefused = refused.Result();
    }
    probe->mtaAfterOleRefused = ProbeApartment(COINIT_MULTITHREADED);
    CoUninitialize();
  }
  return 0;
}

TEST(OwnersTest, InitialisationGuardsUninitialiseOnlyWhatTheyInitialised) {
  GuardProbe probe;
  UniqueHandle thread(CreateThread(nullptr, 0, RunGuards, &probe, 0, nullptr));
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForSingleObject(thread.Get(), 30000), WAIT_OBJECT_0);
  EXPECT_EQ(probe.outer, S_OK);
  EXPECT_EQ(probe.inner, S_FALSE);           // a success: it is balanced too
  EXPECT_EQ(probe.whileOuterHolds, S_FALSE);  // the inner one took back only its own count
  EXPECT_EQ(probe.afterBoth, S_OK);           // the outer one took back the last
  // The failed guards uninitialised nothing. (Wine's OleUninitialize ignores a call without
  // an OleInitialize of its own; Windows' would take the thread's apartment with it.)
  EXPECT_EQ(probe.comRefused, RPC_E_CHANGED_MODE);
  EXPECT_EQ(probe.mtaAfterComRefused, S_FALSE);
  EXPECT_EQ(probe.oleRefused, RPC_E_CHANGED_MODE);
  EXPECT_EQ(probe.mtaAfterOleRefused, S_FALSE);
}

}  // namespace
}  // namespace harvester
