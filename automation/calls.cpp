// The invoke core of the late-bound calls: the member bound by name, its arguments built, one
// Invoke (or, for objects without type information, one per invocation kind), the [out]
// arguments and the result converted back, and the code left for LastCallError.
#include "automation/calls.h"

#include <windows.h>
#include <ole2.h>

#include "automation/call_arguments.h"
#include "automation/call_binding.h"
#include "automation/call_results.h"
#include "base/owners.h"

namespace harvester {

namespace {

using calls_internal::BindingOrder;
using calls_internal::BuildArguments;
using calls_internal::CallArguments;
using calls_internal::CopyBack;
using calls_internal::FindMember;
using calls_internal::Member;
using calls_internal::Operation;
using calls_internal::ResultSlot;
using calls_internal::StoreResult;

thread_local int lastCallError = kCallOk;

bool IsPut(WORD flags) { return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0; }

int InvokeFailureCode(HRESULT hr) {
  switch (hr) {
    case DISP_E_BADPARAMCOUNT: return kBadParamCount;
    case DISP_E_BADVARTYPE: return kBadVarType;
    case DISP_E_EXCEPTION: return kException;
    case DISP_E_MEMBERNOTFOUND: return kMemberNotFound;
    case DISP_E_NONAMEDARGS: return kNoNamedArgs;
    case DISP_E_OVERFLOW: return kOverflow;
    case DISP_E_PARAMNOTFOUND: return kParamNotFound;
    case DISP_E_TYPEMISMATCH: return kTypeMismatch;
    case DISP_E_PARAMNOTOPTIONAL: return kParamNotOptional;
    default: return kInvokeFailed;
  }
}

HRESULT InvokeMember(IDispatch* dispatch, DISPID id, WORD flags, LCID lcid, CallArguments& built,
                     size_t count, VARIANT& result) {
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params = {};
  params.rgvarg = count ? built.values.Data() : nullptr;
  params.cArgs = static_cast<UINT>(count);
  if (IsPut(flags)) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  UINT argumentError = 0;
  VariantClear(&result);
  return dispatch->Invoke(id, IID_NULL, lcid, flags, &params, &result, nullptr, &argumentError);
}

int InvokeByName(const ComObject& object, std::string_view name, const Args& args, Operation operation,
                 const ResultSlot& resultSlot) {
  if (IsEmpty(object)) return kEmptyHandle;
  ComPtr<IDispatch> dispatch;
  if (FAILED(object.Get()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Put()))) || !dispatch) {
    return kNoDispatch;
  }
  const LCID lcid = GetUserDefaultLCID();
  Member member;
  if (const int code = FindMember(dispatch.Get(), name, operation, lcid, member); code != kCallOk) return code;

  size_t count = args.size();
  while (count > 0 && args[count - 1].IsOmitted()) --count;
  if (member.typed && count > member.params.size() && !(member.varArgs && !member.params.empty())) {
    return kTooManyArgs;
  }
  // A put names its new value as the one named argument; without a value there is nothing to name.
  if (count == 0 && (operation == Operation::Write || (member.typed && IsPut(member.flags)))) {
    return kBadParamCount;
  }
  CallArguments built(count);
  if (const int code = BuildArguments(member, args, count, built); code != kCallOk) return code;

  Variant result;
  HRESULT hr = DISP_E_MEMBERNOTFOUND;
  if (member.typed) {
    hr = InvokeMember(dispatch.Get(), member.id, member.flags, lcid, built, count, *result.Get());
  } else {
    for (INVOKEKIND kind : BindingOrder(operation)) {
      if (count == 0 && IsPut(static_cast<WORD>(kind))) continue;
      hr = InvokeMember(dispatch.Get(), member.id, static_cast<WORD>(kind), lcid, built, count, *result.Get());
      if (hr != DISP_E_MEMBERNOTFOUND) break;
    }
  }
  if (FAILED(hr)) return InvokeFailureCode(hr);
  CopyBack(member, args, count, built);
  return StoreResult(*result.Get(), resultSlot) ? kCallOk : kResultNotConvertible;
}

// Every property and method operation: the call, then its code left for LastCallError.
template <typename Result>
Result CallFor(const ComObject& object, std::string_view name, const Args& args, Operation operation) {
  Result result{};
  lastCallError = InvokeByName(object, name, args, operation, ResultSlot(&result));
  if (lastCallError != kCallOk) return Result{};  // the empty value of the kind, freshly made
  return result;
}

}  // namespace

int LastCallError() { return lastCallError; }

std::string ReadTextProperty(const ComObject& object, std::string_view name, const Args& args) {
  return CallFor<std::string>(object, name, args, Operation::Read);
}

double ReadNumberProperty(const ComObject& object, std::string_view name, const Args& args) {
  return CallFor<double>(object, name, args, Operation::Read);
}

ComObject ReadObjectProperty(const ComObject& object, std::string_view name, const Args& args) {
  return CallFor<ComObject>(object, name, args, Operation::Read);
}

Variant ReadProperty(const ComObject& object, std::string_view name, const Args& args) {
  return CallFor<Variant>(object, name, args, Operation::Read);
}

bool WriteProperty(const ComObject& object, std::string_view name, const Args& args) {
  lastCallError = InvokeByName(object, name, args, Operation::Write, ResultSlot());
  return lastCallError == kCallOk;
}

void CallMethod(const ComObject& object, std::string_view name, const Args& args) {
  lastCallError = InvokeByName(object, name, args, Operation::Call, ResultSlot());
}

std::string CallTextMethod(const ComObject& object, std::string_view name, const Args& args) {
  return CallFor<std::string>(object, name, args, Operation::Call);
}

bool CallBoolMethod(const ComObject& object, std::string_view name, const Args& args) {
  return CallFor<bool>(object, name, args, Operation::Call);
}

ComObject CallObjectMethod(const ComObject& object, std::string_view name, const Args& args) {
  return CallFor<ComObject>(object, name, args, Operation::Call);
}

}  // namespace harvester
