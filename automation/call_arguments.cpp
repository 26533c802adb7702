#include "automation/call_arguments.h"

#include <windows.h>
#include <ole2.h>

#include <cstring>
#include <string>
#include <string_view>

#include "automation/call_results.h"
#include "base/lead_byte.h"
#include "base/owners.h"
#include "base/text_codec.h"

namespace harvester::calls_internal {

namespace {

void MoveVariant(VARIANT& target, VARIANT& source) {
  VariantClear(&target);
  std::memcpy(&target, &source, sizeof target);
  VariantInit(&source);
}

void SetMissing(VARIANT& value) {
  VariantClear(&value);
  value.vt = VT_ERROR;
  value.scode = DISP_E_PARAMNOTFOUND;
}

bool IsMissing(const VARIANT& value) { return value.vt == VT_ERROR && value.scode == DISP_E_PARAMNOTFOUND; }

// The UTF-16 length of code page 936 text whose two-byte characters are all whole: one unit
// for each character, of one byte or two.
size_t UnitsOfWholeText(std::string_view text) {
  size_t units = 0;
  for (size_t at = 0; at < text.size(); ++units) at += IsLeadByte(text[at]) ? 2 : 1;
  return units;
}

// The text as a string of exactly its UTF-16 length, converted straight into it: a page goes
// into the string without a wide copy of its own on the way. Program text is whole characters
// (it comes from the converter), so its length is counted here and the converter runs once;
// only when the converter reads the bytes otherwise (a broken pair) does it measure them first.
// The empty text is an allocated empty string, never a null one: to automation both are the
// same value, but Wine's pattern object ends the process on a null subject. Null only when the
// string cannot be allocated.
BSTR TextToBstr(std::string_view text) {
  const int size = static_cast<int>(text.size());
  if (text.empty()) return SysAllocStringLen(nullptr, 0);
  const int counted = static_cast<int>(UnitsOfWholeText(text));
  BSTR value = SysAllocStringLen(nullptr, static_cast<UINT>(counted));
  if (!value) return nullptr;
  if (MultiByteToWideChar(kTextCodePage, 0, text.data(), size, value, counted) == counted) return value;
  SysFreeString(value);
  const int units = MultiByteToWideChar(kTextCodePage, 0, text.data(), size, nullptr, 0);
  if (units <= 0) return SysAllocStringLen(nullptr, 0);
  value = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (value) MultiByteToWideChar(kTextCodePage, 0, text.data(), size, value, units);
  return value;
}

// One argument's VARIANT from the caller's value, as the argument table gives it.
struct ArgumentBuilder {
  const ParamType& param;
  VARIANT& out;

  int operator()(std::monostate) const { SetMissing(out); return kCallOk; }
  int operator()(bool v) const { out.vt = VT_BOOL; out.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE; return kCallOk; }
  int operator()(std::uint8_t v) const { out.vt = VT_UI1; out.bVal = v; return kCallOk; }
  int operator()(std::int16_t v) const { out.vt = VT_I2; out.iVal = v; return kCallOk; }
  int operator()(std::int32_t v) const { out.vt = VT_I4; out.lVal = v; return kCallOk; }
  int operator()(std::int64_t v) const {
    out.vt = VT_I4;
    out.lVal = static_cast<LONG>(static_cast<std::uint32_t>(v));  // the low 32 bits
    return kCallOk;
  }
  int operator()(float v) const { out.vt = VT_R4; out.fltVal = v; return kCallOk; }
  int operator()(double v) const { out.vt = VT_R8; out.dblVal = v; return kCallOk; }
  int operator()(DateTime v) const { out.vt = VT_DATE; out.date = v.value; return kCallOk; }
  int operator()(std::string_view v) const {
    out.bstrVal = TextToBstr(v);
    out.vt = out.bstrVal ? VT_BSTR : VT_EMPTY;
    return kCallOk;
  }
  int operator()(const std::string& v) const { return (*this)(std::string_view(v)); }
  int operator()(const ComObject& v) const;
  int operator()(const Variant& v) const {
    if (FAILED(VariantCopyInd(&out, Source(v.Get())))) VariantInit(&out);
    return kCallOk;
  }
  int operator()(const Bytes&) const { return kBadArgKind; }
};

int ArgumentBuilder::operator()(const ComObject& v) const {
  out.vt = VT_UNKNOWN;
  out.punkVal = nullptr;
  IUnknown* unknown = v.Get();
  if (!unknown) return kCallOk;
  const bool wantsDispatch = param.declared && !param.isArray && param.type == VT_DISPATCH;
  const bool wantsUnknown = param.declared && !param.isArray && param.type == VT_UNKNOWN;
  // A parameter that takes any value (VARIANT, an argument list, or no declared type at all) gets
  // the object as IDispatch when it has one, otherwise as IUnknown, rather than no object.
  const bool anyValue = !param.declared || param.isArray || param.type == VT_VARIANT;
  if (wantsDispatch || anyValue) {
    IDispatch* dispatch = nullptr;
    if (SUCCEEDED(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) && dispatch) {
      out.vt = VT_DISPATCH;
      out.pdispVal = dispatch;
      return kCallOk;
    }
  }
  if (wantsUnknown || anyValue) {
    unknown->AddRef();
    out.punkVal = unknown;
  }
  return kCallOk;
}

int BuildValue(const Arg& arg, const ParamType& param, VARIANT& out) {
  const ArgumentBuilder builder{param, out};
  int code = kCallOk;
  if (arg.IsByRef()) {
    code = std::visit([&](auto* variable) { return variable ? builder(*variable) : builder(std::monostate{}); },
                      arg.ref());
  } else {
    code = std::visit(builder, arg.value());
  }
  if (code == kCallOk && out.vt == VT_EMPTY) SetMissing(out);
  return code;
}

// Hands a value to a by-reference parameter through its temporary (a DECIMAL through storage of
// its own); false when it goes by value.
bool PassByReference(const ParamType& param, VARIANT& value, VARIANT& temporary, DECIMAL& decimal,
                     VARIANT& argument) {
  if (IsMissing(value)) return false;
  if (param.isArray) {
    if (!(value.vt & VT_ARRAY) || (value.vt & VT_BYREF)) return false;
    MoveVariant(temporary, value);
    argument.vt = static_cast<VARTYPE>(VT_BYREF | temporary.vt);
    argument.pparray = &temporary.parray;
    return true;
  }
  if (param.type == VT_VARIANT) {
    MoveVariant(temporary, value);
    argument.vt = VT_BYREF | VT_VARIANT;
    argument.pvarVal = &temporary;
    return true;
  }
  if (FAILED(VariantChangeType(&temporary, &value, 0, param.type))) {
    VariantClear(&temporary);
    return false;
  }
  VariantClear(&value);
  argument.vt = static_cast<VARTYPE>(VT_BYREF | temporary.vt);
  if (temporary.vt == VT_DECIMAL) {
    // A DECIMAL fills the whole VARIANT, its reserved field lying over the type: a callee that
    // writes the DECIMAL back whole would change the temporary's type under the copy back.
    decimal = temporary.decVal;
    decimal.wReserved = 0;
    argument.pdecVal = &decimal;
  } else {
    argument.byref = &temporary.lVal;  // the value part of every other VARIANT type
  }
  return true;
}

}  // namespace

VariantList::VariantList(size_t count) : items_(count) {
  for (VARIANT& item : items_) VariantInit(&item);
}

VariantList::~VariantList() {
  for (VARIANT& item : items_) VariantClear(&item);
}

CallArguments::CallArguments(size_t count)
    : values(count), temporaries(count), decimals(count), byReference(count, false) {}

int BuildArguments(const Member& member, const Args& args, size_t count, CallArguments& built) {
  for (size_t i = 0; i < count; ++i) {
    const ParamType& param = member.ParamOf(i);
    VARIANT& argument = built.values[count - 1 - i];
    Variant value;  // cleared when it goes, whatever the step that fails
    if (const int code = BuildValue(args[i], param, *value.Get()); code != kCallOk) return code;
    if (param.byRef && PassByReference(param, *value.Get(), built.temporaries[i], built.decimals[i], argument)) {
      built.byReference[i] = true;
    } else {
      MoveVariant(argument, *value.Get());
    }
  }
  return kCallOk;
}

void CopyBack(const Member& member, const Args& args, size_t count, CallArguments& built) {
  if (!member.typed) return;  // nothing went by reference
  for (size_t i = 0; i < count; ++i) {
    if (!args[i].IsByRef() || !built.byReference[i] || !member.ParamOf(i).out) continue;
    VARIANT& temporary = built.temporaries[i];
    if (temporary.vt == VT_DECIMAL) {
      temporary.decVal = built.decimals[i];
      temporary.vt = VT_DECIMAL;  // after the DECIMAL, whose reserved field it shares
    }
    std::visit([&](auto* variable) { if (variable) StoreAs(temporary, *variable); }, args[i].ref());
  }
}

}  // namespace harvester::calls_internal
