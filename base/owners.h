#pragma once
// Owners of the platform's raw resources. Each holds at most one resource and gives it back
// when it goes; none can be copied, each can be moved (the moved-from owner holds nothing).
// Put() gives the one held back before a function writes a new one into it.
#include <windows.h>

#include <ole2.h>

#include <type_traits>
#include <utility>

namespace harvester {

// A resource that is a value with one "none" value and one function that gives it back.
// Traits: `Value`, `static Value None()`, `static bool Close(Value)` (true when given back).
template <typename Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;

  UniqueResource() noexcept = default;
  explicit UniqueResource(Value value) noexcept : value_(value) {}
  UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { Reset(); }

  Value Get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::None(); }

  // Gives the one held back and holds value instead.
  void Reset(Value value = Traits::None()) noexcept {
    const Value old = std::exchange(value_, value);
    if (old != Traits::None()) Traits::Close(old);
  }
  // Gives the one held back; false when the platform refused (its last error tells why).
  bool Close() noexcept {
    const Value old = Release();
    return old == Traits::None() || Traits::Close(old);
  }
  // Lets go of the one held without giving it back.
  [[nodiscard]] Value Release() noexcept { return std::exchange(value_, Traits::None()); }
  // For a function that writes a new one: the one held is given back first.
  Value* Put() noexcept {
    Reset();
    return &value_;
  }

 private:
  Value value_ = Traits::None();
};

namespace owner_traits {

struct Handle {
  using Value = HANDLE;
  static Value None() noexcept { return nullptr; }
  static bool Close(Value value) noexcept { return CloseHandle(value) != FALSE; }
};

struct File {
  using Value = HANDLE;
  static Value None() noexcept { return INVALID_HANDLE_VALUE; }
  static bool Close(Value value) noexcept { return CloseHandle(value) != FALSE; }
};

struct Module {
  using Value = HMODULE;
  static Value None() noexcept { return nullptr; }
  static bool Close(Value value) noexcept { return FreeLibrary(value) != FALSE; }
};

struct Menu {
  using Value = HMENU;
  static Value None() noexcept { return nullptr; }
  static bool Close(Value value) noexcept { return DestroyMenu(value) != FALSE; }
};

struct GlobalMemory {
  using Value = HGLOBAL;
  static Value None() noexcept { return nullptr; }
  static bool Close(Value value) noexcept { return GlobalFree(value) == nullptr; }
};

struct Hook {
  using Value = HHOOK;
  static Value None() noexcept { return nullptr; }
  static bool Close(Value value) noexcept { return UnhookWindowsHookEx(value) != FALSE; }
};

struct Desktop {
  using Value = HDESK;
  static Value None() noexcept { return nullptr; }
  static bool Close(Value value) noexcept { return CloseDesktop(value) != FALSE; }
};

struct Bstr {
  using Value = BSTR;
  static Value None() noexcept { return nullptr; }
  static bool Close(Value value) noexcept {
    SysFreeString(value);
    return true;
  }
};

template <typename T>
struct GdiObject {
  using Value = T;
  static Value None() noexcept { return nullptr; }
  static bool Close(Value value) noexcept { return DeleteObject(value) != FALSE; }
};

}  // namespace owner_traits

// Kernel handles whose "none" is null: processes, threads, events, pipes.
using UniqueHandle = UniqueResource<owner_traits::Handle>;
// Kernel handles whose "none" is INVALID_HANDLE_VALUE: what CreateFile gives.
using UniqueFile = UniqueResource<owner_traits::File>;
using UniqueModule = UniqueResource<owner_traits::Module>;
using UniqueMenu = UniqueResource<owner_traits::Menu>;
using UniqueDesktop = UniqueResource<owner_traits::Desktop>;
using UniqueHook = UniqueResource<owner_traits::Hook>;
// Global memory, as the clipboard takes it: once handed over, Release() lets go of it.
using UniqueGlobal = UniqueResource<owner_traits::GlobalMemory>;
template <typename T>
using UniqueGdiObject = UniqueResource<owner_traits::GdiObject<T>>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;
using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueBitmap = UniqueGdiObject<HBITMAP>;
// A BSTR; null is the empty text, as automation has it.
using UniqueBstr = UniqueResource<owner_traits::Bstr>;

// One counted COM interface reference; Put() releases the old one before handing out the slot.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      pointer_ = std::exchange(other.pointer_, nullptr);
    }
    return *this;
  }

  T* Get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  T** Put() {
    Reset();
    return &pointer_;
  }
  void Reset() {
    if (pointer_) std::exchange(pointer_, nullptr)->Release();
  }

 private:
  T* pointer_ = nullptr;
};

// An object selected into a DC for as long as this lives; the one it replaced is selected
// again when it goes. An owner of the object itself must outlive the selection.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(dc && object ? SelectObject(dc, object) : nullptr) {
    if (previous_ == HGDI_ERROR) previous_ = nullptr;
  }
  SelectedObject(SelectedObject&& other) noexcept
      : dc_(std::exchange(other.dc_, nullptr)), previous_(std::exchange(other.previous_, nullptr)) {}
  SelectedObject& operator=(SelectedObject&& other) noexcept {
    if (this != &other) {
      Restore();
      dc_ = std::exchange(other.dc_, nullptr);
      previous_ = std::exchange(other.previous_, nullptr);
    }
    return *this;
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() { Restore(); }

  // False when nothing was selected (no DC, no object, or the DC refused it).
  explicit operator bool() const noexcept { return previous_ != nullptr; }

 private:
  void Restore() noexcept {
    if (dc_ && previous_) SelectObject(dc_, previous_);
    dc_ = nullptr;
    previous_ = nullptr;
  }
  HDC dc_;
  HGDIOBJ previous_;
};

// The DC of a window's client area from GetDC, released to the same window.
class WindowDC {
 public:
  explicit WindowDC(HWND hwnd) noexcept : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  WindowDC(WindowDC&& other) noexcept
      : hwnd_(std::exchange(other.hwnd_, nullptr)), dc_(std::exchange(other.dc_, nullptr)) {}
  WindowDC& operator=(WindowDC&& other) noexcept {
    if (this != &other) {
      Release();
      hwnd_ = std::exchange(other.hwnd_, nullptr);
      dc_ = std::exchange(other.dc_, nullptr);
    }
    return *this;
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  ~WindowDC() { Release(); }

  HDC Get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  void Release() noexcept {
    if (dc_) ReleaseDC(hwnd_, dc_);
    dc_ = nullptr;
  }
  HWND hwnd_;
  HDC dc_;
};

// The paint of a window inside WM_PAINT: BeginPaint when made, EndPaint when it goes.
class PaintDC {
 public:
  explicit PaintDC(HWND hwnd) noexcept : hwnd_(hwnd) { dc_ = BeginPaint(hwnd, &paint_); }
  PaintDC(PaintDC&& other) noexcept
      : hwnd_(std::exchange(other.hwnd_, nullptr)), dc_(std::exchange(other.dc_, nullptr)), paint_(other.paint_) {}
  PaintDC& operator=(PaintDC&& other) noexcept {
    if (this != &other) {
      End();
      hwnd_ = std::exchange(other.hwnd_, nullptr);
      dc_ = std::exchange(other.dc_, nullptr);
      paint_ = other.paint_;
    }
    return *this;
  }
  PaintDC(const PaintDC&) = delete;
  PaintDC& operator=(const PaintDC&) = delete;
  ~PaintDC() { End(); }

  HDC Get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }
  const PAINTSTRUCT& Paint() const noexcept { return paint_; }

 private:
  void End() noexcept {
    if (dc_) EndPaint(hwnd_, &paint_);
    dc_ = nullptr;
  }
  HWND hwnd_;
  HDC dc_ = nullptr;
  PAINTSTRUCT paint_ = {};
};

// An owned VARIANT: cleared when it goes; Put() clears it before a function writes into it.
class UniqueVariant {
 public:
  UniqueVariant() noexcept { VariantInit(&value_); }
  UniqueVariant(UniqueVariant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
  UniqueVariant& operator=(UniqueVariant&& other) noexcept {
    if (this != &other) {
      VariantClear(&value_);
      value_ = other.value_;
      VariantInit(&other.value_);
    }
    return *this;
  }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  ~UniqueVariant() { VariantClear(&value_); }

  const VARIANT& Get() const noexcept { return value_; }
  // For a function that fills a VARIANT: the value held is cleared first.
  VARIANT* Put() noexcept {
    VariantClear(&value_);
    return &value_;
  }
  void Reset() noexcept { VariantClear(&value_); }

 private:
  VARIANT value_;
};

// The platform headers declare the source of a VARIANT copy or coercion writable; it is not written.
inline VARIANT* Source(const VARIANT* variant) { return const_cast<VARIANT*>(variant); }

// OLE on this thread for as long as this lives. Uninitialises only after a successful
// initialise; S_FALSE (already initialised here) is one, and must be balanced too.
class OleInitialization {
 public:
  OleInitialization() noexcept : result_(OleInitialize(nullptr)) {}
  OleInitialization(OleInitialization&& other) noexcept : result_(std::exchange(other.result_, E_FAIL)) {}
  OleInitialization& operator=(OleInitialization&&) = delete;
  OleInitialization(const OleInitialization&) = delete;
  OleInitialization& operator=(const OleInitialization&) = delete;
  ~OleInitialization() {
    if (SUCCEEDED(result_)) OleUninitialize();
  }

  HRESULT Result() const noexcept { return result_; }
  explicit operator bool() const noexcept { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

// COM alone on this thread (apartment model as CoInitializeEx takes it), with the same rule.
class ComInitialization {
 public:
  explicit ComInitialization(DWORD model = COINIT_APARTMENTTHREADED) noexcept
      : result_(CoInitializeEx(nullptr, model)) {}
  ComInitialization(ComInitialization&& other) noexcept : result_(std::exchange(other.result_, E_FAIL)) {}
  ComInitialization& operator=(ComInitialization&&) = delete;
  ComInitialization(const ComInitialization&) = delete;
  ComInitialization& operator=(const ComInitialization&) = delete;
  ~ComInitialization() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }

  HRESULT Result() const noexcept { return result_; }
  explicit operator bool() const noexcept { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

template <typename Owner>
inline constexpr bool kIsMoveOnlyOwner = !std::is_copy_constructible_v<Owner> && !std::is_copy_assignable_v<Owner> &&
                                         std::is_nothrow_move_constructible_v<Owner>;

static_assert(kIsMoveOnlyOwner<UniqueHandle>);
static_assert(kIsMoveOnlyOwner<UniqueFile>);
static_assert(kIsMoveOnlyOwner<UniqueModule>);
static_assert(kIsMoveOnlyOwner<UniqueMenu>);
static_assert(kIsMoveOnlyOwner<UniqueDesktop>);
static_assert(kIsMoveOnlyOwner<UniqueHook>);
static_assert(kIsMoveOnlyOwner<UniqueBrush>);
static_assert(kIsMoveOnlyOwner<UniqueBstr>);
static_assert(kIsMoveOnlyOwner<SelectedObject>);
static_assert(kIsMoveOnlyOwner<WindowDC>);
static_assert(kIsMoveOnlyOwner<PaintDC>);
static_assert(kIsMoveOnlyOwner<UniqueVariant>);
static_assert(kIsMoveOnlyOwner<ComPtr<IUnknown>>);
static_assert(kIsMoveOnlyOwner<OleInitialization>);
static_assert(kIsMoveOnlyOwner<ComInitialization>);

}  // namespace harvester
