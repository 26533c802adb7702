#include "automation/calls.h"

#include <windows.h>
#include <ole2.h>

#include <cstring>
#include <span>
#include <utility>

#include "automation/com_ptr.h"
#include "automation/text_codec.h"

namespace harvester {

namespace {

thread_local int lastCallError = kCallOk;

// The invocation kinds a call tries, in order, until the name binds.
constexpr INVOKEKIND kReadOrder[] = {INVOKE_PROPERTYGET, INVOKE_FUNC};
constexpr INVOKEKIND kWriteOrder[] = {INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF, INVOKE_FUNC};
constexpr INVOKEKIND kCallOrder[] = {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT,
                                     INVOKE_PROPERTYPUTREF};

enum class Operation { Read, Write, Call };

std::span<const INVOKEKIND> BindingOrder(Operation operation) {
  switch (operation) {
    case Operation::Read: return kReadOrder;
    case Operation::Write: return kWriteOrder;
    case Operation::Call: break;
  }
  return kCallOrder;
}

// Where a call's result goes; monostate for calls without a result.
using ResultSlot = std::variant<std::monostate, std::string*, double*, bool*, ComObject*, Variant*>;

// A parameter's type as read from the object's type information.
struct ParamType {
  bool declared = false;  // false: the object told nothing about this parameter
  VARTYPE type = VT_VARIANT;
  bool byRef = false;
  bool isArray = false;
  bool out = false;
  bool interfaceRef = false;  // a user-defined interface, where a pointer is the reference itself
};

// What the bound name gives the call.
struct Member {
  DISPID id = DISPID_UNKNOWN;
  WORD flags = DISPATCH_METHOD;
  bool typed = false;  // false for objects without type information: no declared parameters
  std::vector<ParamType> params;
  bool varArgs = false;
};

// VARIANTs that are cleared when the owner goes.
class VariantList {
 public:
  explicit VariantList(size_t count) : items_(count) {
    for (VARIANT& item : items_) VariantInit(&item);
  }
  ~VariantList() {
    for (VARIANT& item : items_) VariantClear(&item);
  }
  VariantList(const VariantList&) = delete;
  VariantList& operator=(const VariantList&) = delete;
  VARIANT& operator[](size_t index) { return items_[index]; }
  VARIANT* Data() { return items_.data(); }

 private:
  std::vector<VARIANT> items_;
};

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

std::string BstrToText(BSTR value) { return WideToText(std::wstring_view(value, SysStringLen(value))); }

// ---- type information

void ResolveType(ITypeInfo* info, const TYPEDESC& desc, ParamType& param, int depth);

void ResolveUserDefined(ITypeInfo* info, HREFTYPE reference, ParamType& param, int depth) {
  param.type = VT_UNKNOWN;
  ComPtr<ITypeInfo> target;
  if (FAILED(info->GetRefTypeInfo(reference, target.Put())) || !target) return;
  TYPEATTR* rawAttr = nullptr;
  if (FAILED(target->GetTypeAttr(&rawAttr)) || !rawAttr) return;
  TypeAttrOwner attr(target.Get(), rawAttr);
  switch (attr->typekind) {
    case TKIND_ENUM: param.type = VT_I4; break;
    case TKIND_DISPATCH: param.type = VT_DISPATCH; param.interfaceRef = true; break;
    case TKIND_ALIAS: ResolveType(target.Get(), attr->tdescAlias, param, depth + 1); break;
    case TKIND_INTERFACE:
    case TKIND_COCLASS: param.interfaceRef = true; break;
    default: break;
  }
}

void ResolveType(ITypeInfo* info, const TYPEDESC& desc, ParamType& param, int depth) {
  if (depth > 16) return;  // a malformed chain of aliases or pointers
  switch (desc.vt) {
    case VT_PTR: {
      ParamType pointee;
      if (desc.lptdesc) ResolveType(info, *desc.lptdesc, pointee, depth + 1);
      // "IFoo*" is how a type library writes a plain interface argument; only a pointer to
      // anything else (a value, or "IFoo**") makes a by-reference parameter.
      const bool plainInterface = pointee.interfaceRef && !pointee.byRef;
      param = pointee;
      param.interfaceRef = false;
      if (!plainInterface) param.byRef = true;
      return;
    }
    case VT_SAFEARRAY:
    case VT_CARRAY: param.isArray = true; param.type = VT_ARRAY; return;
    case VT_INT: param.type = VT_I4; return;
    case VT_UINT: param.type = VT_UI4; return;
    case VT_USERDEFINED: ResolveUserDefined(info, desc.hreftype, param, depth); return;
    default: param.type = desc.vt; return;
  }
}

ParamType ReadParam(ITypeInfo* info, const ELEMDESC& element) {
  ParamType param;
  ResolveType(info, element.tdesc, param, 0);
  param.declared = true;
  param.interfaceRef = false;
  param.out = (element.paramdesc.wParamFlags & PARAMFLAG_FOUT) != 0;
  return param;
}

void ReadFunction(ITypeInfo* info, const FUNCDESC& function, Member& member) {
  member.id = function.memid;
  member.flags = static_cast<WORD>(function.invkind);
  member.varArgs = function.cParamsOpt == -1;
  for (SHORT index = 0; index < function.cParams; ++index) {
    const ELEMDESC& element = function.lprgelemdescParam[index];
    // A vtable description ends with the [retval] slot, which is the call's result, not an argument.
    if (index == function.cParams - 1 && (element.paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) break;
    member.params.push_back(ReadParam(info, element));
  }
}

void ReadVariable(ITypeInfo* info, const VARDESC& variable, Operation operation, Member& member) {
  member.id = variable.memid;
  if (operation != Operation::Write) {
    member.flags = DISPATCH_PROPERTYGET;
    return;
  }
  ParamType param = ReadParam(info, variable.elemdescVar);
  param.out = false;
  const bool byReference = param.isArray || param.type == VT_UNKNOWN || param.type == VT_DISPATCH;
  member.flags = byReference ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
  member.params.push_back(param);
}

// Binds the name under the operation's invocation kinds through the type information's
// ITypeComp and reads the member it names.
int BindMember(ITypeComp* typeComp, const std::wstring& name, ULONG hash, Operation operation, Member& member) {
  std::wstring buffer = name;  // Bind takes a writable string
  for (INVOKEKIND kind : BindingOrder(operation)) {
    ComPtr<ITypeInfo> owner;
    DESCKIND descKind = DESCKIND_NONE;
    BINDPTR bound = {};
    if (FAILED(typeComp->Bind(buffer.data(), hash, static_cast<WORD>(kind), owner.Put(), &descKind, &bound))) {
      continue;
    }
    switch (descKind) {
      case DESCKIND_FUNCDESC: {
        FuncDescOwner function(owner.Get(), bound.lpfuncdesc);
        ReadFunction(owner.Get(), *function, member);
        member.typed = true;
        return kCallOk;
      }
      case DESCKIND_VARDESC:
      case DESCKIND_IMPLICITAPPOBJ: {
        VarDescOwner variable(owner.Get(), bound.lpvardesc);
        ReadVariable(owner.Get(), *variable, operation, member);
        member.typed = true;
        return kCallOk;
      }
      case DESCKIND_TYPECOMP:
        if (bound.lptcomp) bound.lptcomp->Release();
        return kNameNotBound;
      default: break;  // not under this kind
    }
  }
  return kNameNotBound;
}

// ---- arguments

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
  int operator()(const std::string& v) const {
    // The empty text goes as an allocated empty string, never as a null one: to automation both
    // are the same value, but Wine's pattern object ends the process on a null subject.
    const std::wstring wide = TextToWide(v);
    out.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    out.vt = out.bstrVal ? VT_BSTR : VT_EMPTY;
    return kCallOk;
  }
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

// ---- results

bool Coerce(const VARIANT& source, VARTYPE type, Variant& target) {
  if ((source.vt & VT_TYPEMASK) == VT_RECORD) return false;
  return SUCCEEDED(VariantChangeType(target.Get(), Source(&source), 0, type)) && target.Type() == type;
}

bool StoreAs(const VARIANT& source, std::string& out) {
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
template <typename T, VARTYPE Type, typename Field>
bool StoreNumber(const VARIANT& source, T& out, Field field) {
  Variant value;
  if (!Coerce(source, Type, value)) return false;
  out = static_cast<T>(value.Get()->*field);
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
bool StoreAs(const VARIANT&, Bytes&) { return false; }  // bytes are not a result kind of a call

bool StoreResult(const VARIANT& source, const ResultSlot& slot) {
  return std::visit(
      [&](auto& target) {
        if constexpr (std::is_same_v<std::decay_t<decltype(target)>, std::monostate>) {
          return true;
        } else {
          return StoreAs(source, *target);
        }
      },
      slot);
}

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

}  // namespace

namespace {

// The arguments of one call, built for the object in reverse order, with the temporaries that
// by-reference parameters point into.
struct CallArguments {
  explicit CallArguments(size_t count)
      : values(count), temporaries(count), decimals(count), byReference(count, false) {}
  VariantList values;       // values[count - 1 - i] is argument i
  VariantList temporaries;  // temporaries[i] belongs to argument i
  std::vector<DECIMAL> decimals;  // what a DECIMAL temporary passes by reference
  std::vector<bool> byReference;
};

// Counts the arguments (trailing omitted ones dropped), checks them against the declared
// parameters and builds each one.
int BuildArguments(const Member& member, const Args& args, size_t count, CallArguments& built) {
  const ParamType undeclared;
  for (size_t i = 0; i < count; ++i) {
    const ParamType* param = &undeclared;
    if (member.typed) param = i < member.params.size() ? &member.params[i] : &member.params.back();
    VARIANT& argument = built.values[count - 1 - i];
    VariantList value(1);
    if (const int code = BuildValue(args[i], *param, value[0]); code != kCallOk) return code;
    if (param->byRef && PassByReference(*param, value[0], built.temporaries[i], built.decimals[i], argument)) {
      built.byReference[i] = true;
    } else {
      MoveVariant(argument, value[0]);
    }
  }
  return kCallOk;
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

// Binds the name through the object's type information; objects without it (or without an
// ITypeComp) are asked for the member's id by name instead and get no declared parameters.
int FindMember(IDispatch* dispatch, std::string_view name, Operation operation, LCID lcid, Member& member) {
  const std::wstring wide = TextToWide(name);
  ComPtr<ITypeInfo> typeInfo;
  ComPtr<ITypeComp> typeComp;
  if (SUCCEEDED(dispatch->GetTypeInfo(0, lcid, typeInfo.Put())) && typeInfo &&
      SUCCEEDED(typeInfo->GetTypeComp(typeComp.Put())) && typeComp) {
    const ULONG hash = LHashValOfNameSys(SYS_WIN32, lcid, wide.c_str());
    return BindMember(typeComp.Get(), wide, hash, operation, member);
  }
  // Wine's match collections, matches and sub-match collections answer GetTypeInfo with
  // E_NOTIMPL; without this path none of their members could be called.
  std::wstring buffer = wide;
  LPOLESTR names[] = {buffer.data()};
  const HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, lcid, &member.id);
  if (hr == DISP_E_UNKNOWNNAME) return kNameNotBound;
  if (FAILED(hr)) return kNoTypeInfo;
  member.typed = false;
  return kCallOk;
}

int CopyBack(const Args& args, size_t count, const Member& member, CallArguments& built) {
  for (size_t i = 0; i < count && member.typed; ++i) {
    const ParamType& param = i < member.params.size() ? member.params[i] : member.params.back();
    if (!args[i].IsByRef() || !built.byReference[i] || !param.out) continue;
    VARIANT& temporary = built.temporaries[i];
    if (temporary.vt == VT_DECIMAL) {
      temporary.decVal = built.decimals[i];
      temporary.vt = VT_DECIMAL;  // after the DECIMAL, whose reserved field it shares
    }
    std::visit([&](auto* variable) { if (variable) StoreAs(temporary, *variable); }, args[i].ref());
  }
  return kCallOk;
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

  VariantList result(1);
  HRESULT hr = DISP_E_MEMBERNOTFOUND;
  if (member.typed) {
    hr = InvokeMember(dispatch.Get(), member.id, member.flags, lcid, built, count, result[0]);
  } else {
    for (INVOKEKIND kind : BindingOrder(operation)) {
      if (count == 0 && IsPut(static_cast<WORD>(kind))) continue;
      hr = InvokeMember(dispatch.Get(), member.id, static_cast<WORD>(kind), lcid, built, count, result[0]);
      if (hr != DISP_E_MEMBERNOTFOUND) break;
    }
  }
  if (FAILED(hr)) return InvokeFailureCode(hr);
  CopyBack(args, count, member, built);
  return StoreResult(result[0], resultSlot) ? kCallOk : kResultNotConvertible;
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
