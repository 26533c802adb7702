#include "automation/call_results.h"

#include <windows.h>
#include <ole2.h>

#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>

#include "base/owners.h"
#include "base/text_codec.h"

namespace harvester::calls_internal {

namespace {

// The text of a BSTR, converted from the string itself: a null BSTR is the empty text.
std::string BstrToText(BSTR value) { return WideToText(std::wstring_view(value, SysStringLen(value))); }

bool Coerce(const VARIANT& source, VARTYPE type, Variant& target) {
  if ((source.vt & VT_TYPEMASK) == VT_RECORD) return false;
  return SUCCEEDED(VariantChangeType(target.Get(), Source(&source), 0, type)) && target.Type() == type;
}

template <typename T, VARTYPE Type, typename Field>
bool StoreNumber(const VARIANT& source, T& out, Field field) {
  Variant value;
  if (!Coerce(source, Type, value)) return false;
  out = static_cast<T>(value.Get()->*field);
  return true;
}

}  // namespace

bool StoreAs(const VARIANT& source, std::string& out) {
  // A string is read where it lies; coercing it to a string first would only copy it (a whole
  // page at times).
  if (source.vt == VT_BSTR) {
    out = BstrToText(source.bstrVal);
    return true;
  }
  Variant value;
  if (!Coerce(source, VT_BSTR, value)) return false;
  out = BstrToText(value.Get()->bstrVal);
  return true;
}

bool StoreAs(const VARIANT& source, bool& out) {
  Variant value;
  if (!Coerce(source, VT_BOOL, value)) return false;
  out = value.Get()->boolVal != 0;
  return true;
}

bool StoreAs(const VARIANT& s, std::uint8_t& out) { return StoreNumber<std::uint8_t, VT_UI1>(s, out, &VARIANT::bVal); }
bool StoreAs(const VARIANT& s, std::int16_t& out) { return StoreNumber<std::int16_t, VT_I2>(s, out, &VARIANT::iVal); }
bool StoreAs(const VARIANT& s, std::int32_t& out) { return StoreNumber<std::int32_t, VT_I4>(s, out, &VARIANT::lVal); }
bool StoreAs(const VARIANT& s, std::int64_t& out) { return StoreNumber<std::int64_t, VT_I4>(s, out, &VARIANT::lVal); }
bool StoreAs(const VARIANT& s, float& out) { return StoreNumber<float, VT_R4>(s, out, &VARIANT::fltVal); }
bool StoreAs(const VARIANT& s, double& out) { return StoreNumber<double, VT_R8>(s, out, &VARIANT::dblVal); }
bool StoreAs(const VARIANT& s, DateTime& out) { return StoreNumber<double, VT_DATE>(s, out.value, &VARIANT::date); }

bool StoreAs(const VARIANT& source, ComObject& out) {
  Variant value;
  if (!Coerce(source, VT_UNKNOWN, value)) return false;
  out = ComObject::FromPointer(value.Get()->punkVal);
  return true;
}

bool StoreAs(const VARIANT& source, Variant& out) {
  if ((source.vt & VT_TYPEMASK) == VT_RECORD) return false;
  Variant copy;
  if (FAILED(VariantCopyInd(copy.Get(), Source(&source)))) return false;
  out = std::move(copy);
  return true;
}

bool StoreAs(const VARIANT&, Bytes&) { return false; }

namespace {

bool TakeAs(VARIANT& source, Variant& out) {
  if ((source.vt & VT_BYREF) || (source.vt & VT_TYPEMASK) == VT_RECORD) return StoreAs(source, out);
  Clear(out);
  std::memcpy(out.Get(), &source, sizeof source);
  VariantInit(&source);
  return true;
}

template <typename T>
bool TakeAs(VARIANT& source, T& out) {
  return StoreAs(source, out);
}

}  // namespace

bool StoreResult(VARIANT& source, const ResultSlot& slot) {
  return std::visit(
      [&](auto& target) {
        if constexpr (std::is_same_v<std::decay_t<decltype(target)>, std::monostate>) {
          return true;
        } else {
          return TakeAs(source, *target);
        }
      },
      slot);
}

}  // namespace harvester::calls_internal
