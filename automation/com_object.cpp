#include "automation/com_object.h"

#include <windows.h>
#include <ole2.h>

#include <cstring>
#include <utility>

#include "base/owners.h"
#include "base/text_codec.h"

namespace harvester {

ComObject ComObject::Attach(IUnknown* unknown) {
  ComObject object;
  object.unknown_ = unknown;
  return object;
}

ComObject ComObject::FromPointer(IUnknown* unknown) {
  if (unknown) unknown->AddRef();
  return Attach(unknown);
}

ComObject::ComObject(const ComObject& other) : unknown_(other.unknown_) {
  if (unknown_) unknown_->AddRef();
}

ComObject::ComObject(ComObject&& other) noexcept : unknown_(std::exchange(other.unknown_, nullptr)) {}

ComObject& ComObject::operator=(const ComObject& other) {
  IUnknown* const incoming = other.unknown_;  // taken first: on self-assignment other is *this
  if (incoming) incoming->AddRef();
  Clear(*this);
  unknown_ = incoming;
  return *this;
}

ComObject& ComObject::operator=(ComObject&& other) noexcept {
  if (this != &other) {
    Clear(*this);
    unknown_ = std::exchange(other.unknown_, nullptr);
  }
  return *this;
}

ComObject::~ComObject() { Clear(*this); }

void Clear(ComObject& object) {
  if (object.unknown_) std::exchange(object.unknown_, nullptr)->Release();
}

bool IsEmpty(const ComObject& object) { return object.Get() == nullptr; }

bool Create(ComObject& object, std::string_view progId) {
  const std::wstring wide = TextToWide(progId);
  CLSID clsid = {};
  const HRESULT parsed = (!progId.empty() && progId.front() == '{')
                             ? CLSIDFromString(wide.c_str(), &clsid)
                             : CLSIDFromProgID(wide.c_str(), &clsid);
  if (FAILED(parsed)) return false;

  // In-process server and handler, local and remote server; systems without remote activation
  // refuse that set with E_INVALIDARG, and only then is it tried once without the remote server.
  constexpr DWORD kAllContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                 CLSCTX_REMOTE_SERVER;
  constexpr DWORD kLocalContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;
  static_assert(kAllContexts == 23 && kLocalContexts == 7);
  ComPtr<IUnknown> created;
  HRESULT hr = CoCreateInstance(clsid, nullptr, kAllContexts, IID_IUnknown,
                                reinterpret_cast<void**>(created.Put()));
  if (hr == E_INVALIDARG) {
    hr = CoCreateInstance(clsid, nullptr, kLocalContexts, IID_IUnknown,
                          reinterpret_cast<void**>(created.Put()));
  }
  if (FAILED(hr) || !created) return false;
  if (FAILED(OleRun(created.Get()))) return false;

  IUnknown* unknown = created.Get();
  unknown->AddRef();
  object = ComObject::Attach(unknown);  // releases the old object only now
  return true;
}

Variant::Variant() { std::memset(&value_, 0, sizeof value_); }

Variant::Variant(const VARIANT& source) : Variant() {
  if (FAILED(VariantCopyInd(&value_, Source(&source)))) std::memset(&value_, 0, sizeof value_);
}

Variant::Variant(const Variant& other) : Variant(other.value_) {}

Variant::Variant(Variant&& other) noexcept : Variant() {
  std::memcpy(&value_, &other.value_, sizeof value_);
  std::memset(&other.value_, 0, sizeof other.value_);
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    Clear(*this);
    std::memcpy(&value_, &other.value_, sizeof value_);
    std::memset(&other.value_, 0, sizeof other.value_);
  }
  return *this;
}

Variant::~Variant() { Clear(*this); }

void Clear(Variant& variant) {
  VariantClear(&variant.value_);
  std::memset(&variant.value_, 0, sizeof variant.value_);
}

std::string ToText(const Variant& variant) {
  const VARIANT* source = variant.Get();
  if (source->vt == VT_BSTR) {
    return WideToText(std::wstring_view(source->bstrVal, SysStringLen(source->bstrVal)));
  }
  if (source->vt & VT_ARRAY) return {};
  Variant text;
  if (FAILED(VariantChangeType(text.Get(), Source(source), 0, VT_BSTR)) || text.Type() != VT_BSTR) return {};
  return WideToText(std::wstring_view(text.Get()->bstrVal, SysStringLen(text.Get()->bstrVal)));
}

namespace {

bool IsByteArrayType(VARTYPE type) {
  const VARTYPE element = type & ~(VT_ARRAY | VT_BYREF);
  return (type & VT_ARRAY) && (element == VT_UI1 || element == VT_I1);
}

// The element count of a one-byte-element array: the product of every dimension's extent; 0
// for an array of other elements, without dimensions or with a bound that cannot be read.
size_t ByteElementCount(SAFEARRAY* array) {
  if (!array || array->cbElements != 1) return 0;
  const UINT dimensions = SafeArrayGetDim(array);
  if (dimensions == 0) return 0;
  size_t count = 1;
  for (UINT dimension = 1; dimension <= dimensions; ++dimension) {
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(array, dimension, &lower)) ||
        FAILED(SafeArrayGetUBound(array, dimension, &upper)) || upper < lower) {
      return 0;
    }
    count *= static_cast<size_t>(static_cast<long long>(upper) - lower + 1);
  }
  return count;
}

}  // namespace

VariantBytes::VariantBytes(Variant&& variant) : held_(std::move(variant)) { Access(*held_.Get()); }

VariantBytes::VariantBytes(const Variant& variant) { Access(*variant.Get()); }

VariantBytes::VariantBytes(VariantBytes&& other) noexcept
    : held_(std::move(other.held_)),  // the array's descriptor stays where it is: only the VARIANT moves
      array_(std::exchange(other.array_, nullptr)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

VariantBytes& VariantBytes::operator=(VariantBytes&& other) noexcept {
  if (this != &other) {
    Reset();
    held_ = std::move(other.held_);
    array_ = std::exchange(other.array_, nullptr);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

VariantBytes::~VariantBytes() { Reset(); }

void VariantBytes::Reset() {
  if (array_) SafeArrayUnaccessData(std::exchange(array_, nullptr));
  data_ = nullptr;
  size_ = 0;
  Clear(held_);
}

void VariantBytes::Access(const VARIANT& source) {
  if (source.vt & VT_ARRAY) {
    if (!IsByteArrayType(source.vt)) return;
    Lock((source.vt & VT_BYREF) ? (source.pparray ? *source.pparray : nullptr) : source.parray);
    return;
  }
  Variant converted;
  if (FAILED(VariantChangeType(converted.Get(), Source(&source), 0, VT_ARRAY | VT_UI1)) ||
      !IsByteArrayType(converted.Type())) {
    return;
  }
  held_ = std::move(converted);  // source may have been held_ itself: it is not needed any more
  Lock(held_.Get()->parray);
}

void VariantBytes::Lock(SAFEARRAY* array) {
  const size_t count = ByteElementCount(array);
  void* data = nullptr;
  if (count == 0 || FAILED(SafeArrayAccessData(array, &data))) return;
  if (!data) {
    SafeArrayUnaccessData(array);
    return;
  }
  array_ = array;
  data_ = static_cast<const std::uint8_t*>(data);
  size_ = count;
}

Bytes ToBytes(const Variant& variant) {
  const VariantBytes bytes(variant);
  return Bytes(bytes.Get().begin(), bytes.Get().end());
}

}  // namespace harvester
