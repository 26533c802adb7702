#include "automation/call_binding.h"

#include <windows.h>
#include <ole2.h>

#include <string>

#include "automation/calls.h"
#include "automation/type_info_owners.h"
#include "base/owners.h"
#include "base/text_codec.h"

namespace harvester::calls_internal {

namespace {

constexpr INVOKEKIND kReadOrder[] = {INVOKE_PROPERTYGET, INVOKE_FUNC};
constexpr INVOKEKIND kWriteOrder[] = {INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF, INVOKE_FUNC};
constexpr INVOKEKIND kCallOrder[] = {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT,
                                     INVOKE_PROPERTYPUTREF};

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

}  // namespace

std::span<const INVOKEKIND> BindingOrder(Operation operation) {
  switch (operation) {
    case Operation::Read: return kReadOrder;
    case Operation::Write: return kWriteOrder;
    case Operation::Call: break;
  }
  return kCallOrder;
}

const ParamType& Member::ParamOf(size_t index) const {
  static const ParamType undeclared;
  if (!typed) return undeclared;
  return index < params.size() ? params[index] : params.back();
}

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

}  // namespace harvester::calls_internal
