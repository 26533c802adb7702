#include "automation/com_object.h"

#include <windows.h>
#include <ole2.h>

#include <cstring>
#include <utility>

#include "automation/com_ptr.h"
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

// Element access to a safe array for as long as the owner lives.
class ArrayAccess {
 public:
  explicit ArrayAccess(SAFEARRAY* array) : array_(array) {
    if (array_ && FAILED(SafeArrayAccessData(array_, &data_))) data_ = nullptr;
  }
  ~ArrayAccess() {
    if (data_) SafeArrayUnaccessData(array_);
  }
  ArrayAccess(const ArrayAccess&) = delete;
  ArrayAccess& operator=(const ArrayAccess&) = delete;
  const void* Data() const { return data_; }

 private:
  SAFEARRAY* array_;
  void* data_ = nullptr;
};

Bytes ByteArrayElements(SAFEARRAY* array) {
  if (!array || array->cbElements != 1) return {};
  const UINT dimensions = SafeArrayGetDim(array);
  if (dimensions == 0) return {};
  size_t count = 1;
  for (UINT dimension = 1; dimension <= dimensions; ++dimension) {
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(array, dimension, &lower)) ||
        FAILED(SafeArrayGetUBound(array, dimension, &upper)) || upper < lower) {
      return {};
    }
    count *= static_cast<size_t>(static_cast<long long>(upper) - lower + 1);
  }
  ArrayAccess access(array);
  if (!access.Data() || count == 0) return {};
  const auto* first = static_cast<const std::uint8_t*>(access.Data());
  return Bytes(first, first + count);
}

bool IsByteArrayType(VARTYPE type) {
  const VARTYPE element = type & ~(VT_ARRAY | VT_BYREF);
  return (type & VT_ARRAY) && (element == VT_UI1 || element == VT_I1);
}

}  // namespace

Bytes ToBytes(const Variant& variant) {
  const VARIANT* source = variant.Get();
  if (source->vt & VT_ARRAY) {
    if (!IsByteArrayType(source->vt)) return {};
    SAFEARRAY* array = (source->vt & VT_BYREF) ? (source->pparray ? *source->pparray : nullptr) : source->parray;
    return ByteArrayElements(array);
  }
  Variant converted;
  if (FAILED(VariantChangeType(converted.Get(), Source(source), 0, VT_ARRAY | VT_UI1)) ||
      !IsByteArrayType(converted.Type())) {
    return {};
  }
  return ByteArrayElements(converted.Get()->parray);
}

}  // namespace harvester
