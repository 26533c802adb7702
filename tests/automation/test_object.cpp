#include "tests/automation/test_object.h"

#include <cwchar>

#include "base/owners.h"
#include "tests/support/ole_environment.h"

namespace harvester::testing {

namespace {

TYPEDESC Simple(VARTYPE type) {
  TYPEDESC desc = {};
  desc.vt = type;
  return desc;
}

TYPEDESC PointerTo(TYPEDESC* inner) {
  TYPEDESC desc = {};
  desc.vt = VT_PTR;
  desc.lptdesc = inner;
  return desc;
}

TYPEDESC UserDefined(HREFTYPE reference) {
  TYPEDESC desc = {};
  desc.vt = VT_USERDEFINED;
  desc.hreftype = reference;
  return desc;
}

ELEMDESC Param(TYPEDESC type, USHORT flags = PARAMFLAG_FIN) {
  ELEMDESC element = {};
  element.tdesc = type;
  element.paramdesc.wParamFlags = flags;
  return element;
}

struct FunctionShape {
  DISPID id;
  INVOKEKIND kind;
  VARTYPE returns;
  std::vector<ELEMDESC> params;
  SHORT optional;
  std::vector<const wchar_t*> names;  // the function's, then its parameters'
};

bool AddFunction(ICreateTypeInfo* info, UINT index, FunctionShape shape) {
  FUNCDESC function = {};
  function.memid = shape.id;
  function.funckind = FUNC_DISPATCH;
  function.invkind = shape.kind;
  function.callconv = CC_STDCALL;
  function.cParams = static_cast<SHORT>(shape.params.size());
  function.cParamsOpt = shape.optional;
  function.lprgelemdescParam = shape.params.empty() ? nullptr : shape.params.data();
  function.elemdescFunc.tdesc.vt = shape.returns;
  if (FAILED(info->AddFuncDesc(index, &function))) return false;
  std::vector<LPOLESTR> names;
  for (const wchar_t* name : shape.names) names.push_back(const_cast<LPOLESTR>(name));
  return SUCCEEDED(info->SetFuncAndParamNames(index, names.data(), static_cast<UINT>(names.size())));
}

bool AddVariable(ICreateTypeInfo* info, UINT index, DISPID id, VARTYPE type, const wchar_t* name) {
  VARDESC variable = {};
  variable.memid = id;
  variable.varkind = VAR_DISPATCH;
  variable.elemdescVar.tdesc.vt = type;
  if (FAILED(info->AddVarDesc(index, &variable))) return false;
  return SUCCEEDED(info->SetVarName(index, const_cast<LPOLESTR>(name)));
}

HREFTYPE Reference(ICreateTypeInfo* from, ICreateTypeInfo* to) {
  ComPtr<ITypeInfo> target;
  HREFTYPE reference = 0;
  if (SUCCEEDED(to->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(target.Put())))) {
    from->AddRefTypeInfo(target.Get(), &reference);
  }
  return reference;
}

// The enumeration TestMode and the alias Small, for parameters of user-defined types.
bool AddSideTypes(ICreateTypeLib2* library, ComPtr<ICreateTypeInfo>& mode, ComPtr<ICreateTypeInfo>& small) {
  if (FAILED(library->CreateTypeInfo(const_cast<LPOLESTR>(L"TestMode"), TKIND_ENUM, mode.Put()))) return false;
  VARDESC constant = {};
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = 1;
  constant.memid = 0x40000000;
  constant.varkind = VAR_CONST;
  constant.lpvarValue = &value;
  constant.elemdescVar.tdesc.vt = VT_I4;
  if (FAILED(mode->AddVarDesc(0, &constant))) return false;
  mode->SetVarName(0, const_cast<LPOLESTR>(L"ModeOne"));
  if (FAILED(library->CreateTypeInfo(const_cast<LPOLESTR>(L"Small"), TKIND_ALIAS, small.Put()))) return false;
  TYPEDESC aliased = Simple(VT_I2);
  if (FAILED(small->SetTypeDescAlias(&aliased))) return false;
  return SUCCEEDED(mode->LayOut()) && SUCCEEDED(small->LayOut());
}

ITypeInfo* BuildTypeInfo() {
  ComPtr<ICreateTypeLib2> library;
  if (FAILED(CreateTypeLib2(SYS_WIN64, const_cast<LPOLESTR>(L"harvester_test.tlb"), library.Put()))) return nullptr;
  ComPtr<ICreateTypeInfo> mode, small, info;
  if (!AddSideTypes(library.Get(), mode, small)) return nullptr;
  if (FAILED(library->CreateTypeInfo(const_cast<LPOLESTR>(L"ITestObject"), TKIND_DISPATCH, info.Put()))) {
    return nullptr;
  }
  const HREFTYPE modeRef = Reference(info.Get(), mode.Get());
  const HREFTYPE smallRef = Reference(info.Get(), small.Get());
  const HREFTYPE selfRef = Reference(info.Get(), info.Get());
  TYPEDESC i4 = Simple(VT_I4), bstr = Simple(VT_BSTR), variant = Simple(VT_VARIANT), r8 = Simple(VT_R8);
  TYPEDESC decimal = Simple(VT_DECIMAL);
  TYPEDESC modeType = UserDefined(modeRef), smallType = UserDefined(smallRef), selfType = UserDefined(selfRef);
  TYPEDESC variantArray = Simple(VT_SAFEARRAY);
  variantArray.lptdesc = &variant;
  constexpr USHORT kInOut = PARAMFLAG_FIN | PARAMFLAG_FOUT;
  const FunctionShape functions[] = {
      {kEcho, INVOKE_FUNC, VT_VARIANT,
       {Param(variant), Param(variant, PARAMFLAG_FIN | PARAMFLAG_FOPT), Param(variant, PARAMFLAG_FIN | PARAMFLAG_FOPT)},
       2, {L"Echo", L"a", L"b", L"c"}},
      {kTwice, INVOKE_FUNC, VT_VOID, {Param(PointerTo(&i4), kInOut)}, 0, {L"Twice", L"value"}},
      {kFill, INVOKE_FUNC, VT_VOID,
       {Param(PointerTo(&bstr), PARAMFLAG_FOUT), Param(PointerTo(&variant), kInOut), Param(PointerTo(&r8))},
       0, {L"Fill", L"text", L"any", L"notOut"}},
      {kSum, INVOKE_FUNC, VT_R8, {Param(i4), Param(variantArray)}, -1, {L"Sum", L"first", L"rest"}},
      {kTake, INVOKE_FUNC, VT_VOID,
       {Param(Simple(VT_UNKNOWN)), Param(Simple(VT_DISPATCH)), Param(PointerTo(&selfType))},
       0, {L"Take", L"unknown", L"dispatch", L"typed"}},
      {kFail, INVOKE_FUNC, VT_VOID, {}, 0, {L"Fail"}},
      {kName, INVOKE_PROPERTYGET, VT_BSTR, {}, 0, {L"Name"}},
      {kName, INVOKE_PROPERTYPUT, VT_VOID, {Param(bstr)}, 0, {L"Name"}},
      {kMakeChild, INVOKE_FUNC, VT_DISPATCH, {}, 0, {L"MakeChild"}},
      {kFlag, INVOKE_PROPERTYGET, VT_BOOL, {}, 0, {L"Flag"}},
      {kMode, INVOKE_FUNC, VT_VOID, {Param(PointerTo(&modeType), kInOut)}, 0, {L"Mode", L"mode"}},
      {kAlias, INVOKE_FUNC, VT_VOID, {Param(PointerTo(&smallType), kInOut)}, 0, {L"Alias", L"n"}},
      {kCount, INVOKE_PROPERTYGET, VT_R8, {}, 0, {L"Count"}},
      {kFirstIndex, INVOKE_PROPERTYGET, VT_R8, {}, 0, {L"FirstIndex"}},
      {kItem, INVOKE_PROPERTYGET, VT_DISPATCH, {Param(variant)}, 0, {L"Item", L"index"}},
      {kValue, INVOKE_PROPERTYGET, VT_BSTR, {}, 0, {L"Value"}},
      {kSubMatches, INVOKE_PROPERTYGET, VT_DISPATCH, {}, 0, {L"SubMatches"}},
      {kScale, INVOKE_FUNC, VT_VOID, {Param(PointerTo(&decimal), kInOut)}, 0, {L"Scale", L"value"}},
  };
  UINT index = 0;
  for (const FunctionShape& shape : functions) {
    if (!AddFunction(info.Get(), index++, shape)) return nullptr;
  }
  if (!AddVariable(info.Get(), 0, kChild, VT_DISPATCH, L"Child") || !AddVariable(info.Get(), 1, kLevel, VT_I4, L"Level")) {
    return nullptr;
  }
  if (FAILED(info->LayOut())) return nullptr;
  ITypeInfo* typeInfo = nullptr;
  info->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(&typeInfo));
  return typeInfo;  // kept for the whole test run, like a registered type library
}

struct NamedMember {
  const wchar_t* name;
  DISPID id;
};
constexpr NamedMember kNames[] = {
    {L"Echo", kEcho}, {L"Twice", kTwice}, {L"Fill", kFill}, {L"Sum", kSum}, {L"Take", kTake},
    {L"Child", kChild}, {L"Level", kLevel}, {L"Fail", kFail}, {L"Name", kName},
    {L"MakeChild", kMakeChild}, {L"Flag", kFlag}, {L"Mode", kMode}, {L"Alias", kAlias},
    {L"Count", kCount}, {L"FirstIndex", kFirstIndex}, {L"Item", kItem}, {L"Value", kValue},
    {L"Scale", kScale}, {L"SubMatches", kSubMatches},
};

}  // namespace

ITypeInfo* TestTypeInfo() {
  static ITypeInfo* const info = BuildTypeInfo();
  return info;
}

TestObject* TestObject::Make(bool typed) { return new TestObject(typed); }

STDMETHODIMP TestObject::QueryInterface(REFIID riid, void** object) {
  *object = nullptr;
  if (riid == IID_IUnknown || (riid == IID_IDispatch && !hideDispatch)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TestObject::AddRef() {
  ++addRefs_;
  return ++references_;
}

STDMETHODIMP_(ULONG) TestObject::Release() {
  const ULONG left = --references_;
  if (left == 0) {
    for (TestObject* made : madeChildren) made->Release();
    delete this;
  }
  return left;
}

STDMETHODIMP TestObject::GetTypeInfoCount(UINT* count) {
  *count = typed_ ? 1 : 0;
  return S_OK;
}

STDMETHODIMP TestObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  *info = nullptr;
  if (!typed_ || !TestTypeInfo()) return E_NOTIMPL;
  *info = TestTypeInfo();
  (*info)->AddRef();
  return S_OK;
}

STDMETHODIMP TestObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!idsOfNamesWorks) return E_NOTIMPL;
  if (count != 1) return E_INVALIDARG;
  for (const NamedMember& member : kNames) {
    if (_wcsicmp(member.name, names[0]) == 0) {
      ids[0] = member.id;
      return S_OK;
    }
  }
  ids[0] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP TestObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO*, UINT*) {
  ReceivedCall call;
  call.id = id;
  call.flags = flags;
  call.hadResult = result != nullptr;
  for (UINT i = 0; i < params->cArgs; ++i) {
    const VARIANT& argument = params->rgvarg[params->cArgs - 1 - i];
    call.types.push_back(argument.vt);
    call.values.emplace_back(argument);
    const bool nullString = (argument.vt == VT_BSTR && !argument.bstrVal) ||
                            (argument.vt == (VT_BYREF | VT_BSTR) && argument.pbstrVal && !*argument.pbstrVal);
    call.nullStrings.push_back(nullString);
  }
  for (UINT i = 0; i < params->cNamedArgs; ++i) call.named.push_back(params->rgdispidNamedArgs[i]);
  calls.push_back(std::move(call));
  if (!typed_) {
    const auto kinds = untypedKinds.find(id);
    if (kinds == untypedKinds.end() || !(kinds->second & flags)) return DISP_E_MEMBERNOTFOUND;
  }
  return Answer(id, flags, params, result);
}

HRESULT TestObject::Answer(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
  VARIANT* args = params->rgvarg;  // reverse order: args[cArgs - 1] is the first argument
  const UINT count = params->cArgs;
  const bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  switch (id) {
    case kEcho:
      if (count == 0) return DISP_E_BADPARAMCOUNT;
      return result ? VariantCopyInd(result, &args[count - 1]) : S_OK;
    case kTwice:
      if (count != 1 || args[0].vt != (VT_BYREF | VT_I4)) return DISP_E_TYPEMISMATCH;
      *args[0].plVal *= 2;
      return S_OK;
    case kFill:
      if (count != 3 || args[2].vt != (VT_BYREF | VT_BSTR) || args[1].vt != (VT_BYREF | VT_VARIANT) ||
          args[0].vt != (VT_BYREF | VT_R8)) {
        return DISP_E_TYPEMISMATCH;
      }
      SysFreeString(*args[2].pbstrVal);
      *args[2].pbstrVal = SysAllocString(L"filled");
      VariantClear(args[1].pvarVal);
      args[1].pvarVal->vt = VT_I4;
      args[1].pvarVal->lVal = 42;
      *args[0].pdblVal = 99;
      return S_OK;
    case kSum: {
      double sum = 0;
      for (UINT i = 0; i < count; ++i) {
        VARIANT number;
        VariantInit(&number);
        if (FAILED(VariantChangeType(&number, &args[i], 0, VT_R8))) return DISP_E_TYPEMISMATCH;
        sum += number.dblVal;
      }
      if (result) {
        result->vt = VT_R8;
        result->dblVal = sum;
      }
      return S_OK;
    }
    case kTake: return S_OK;
    case kChild:
      if (put) {
        if (count != 1) return DISP_E_BADPARAMCOUNT;
        const VARIANT& value = args[0];
        if (value.vt == VT_DISPATCH) child = ComObject::FromPointer(value.pdispVal);
        else if (value.vt == VT_UNKNOWN) child = ComObject::FromPointer(value.punkVal);
        else return DISP_E_TYPEMISMATCH;
        return S_OK;
      }
      if (result) {
        IDispatch* dispatch = nullptr;
        if (child.Get()) child.Get()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
        result->vt = VT_DISPATCH;
        result->pdispVal = dispatch;
      }
      return S_OK;
    case kLevel:
      if (put) {
        VARIANT number;
        VariantInit(&number);
        if (count != 1 || FAILED(VariantChangeType(&number, &args[0], 0, VT_I4))) return DISP_E_TYPEMISMATCH;
        level = number.lVal;
        return S_OK;
      }
      if (result) {
        result->vt = VT_I4;
        result->lVal = level;
      }
      return S_OK;
    case kFail: return failWith;
    case kName:
      if (put) {
        if (count != 1 || args[0].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
        name.assign(args[0].bstrVal ? args[0].bstrVal : L"", SysStringLen(args[0].bstrVal));
        return S_OK;
      }
      if (result) {
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
      }
      return S_OK;
    case kMakeChild: {
      TestObject* made = Make(typed_);
      made->AddRef();  // the maker's own reference, so the test can look at the child afterwards
      madeChildren.push_back(made);
      if (result) {
        result->vt = VT_DISPATCH;
        result->pdispVal = made;
      } else {
        made->Release();
      }
      return S_OK;
    }
    case kFlag:
      if (result) {
        result->vt = VT_BOOL;
        result->boolVal = level != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      }
      return S_OK;
    case kMode:
      if (count != 1 || args[0].vt != (VT_BYREF | VT_I4)) return DISP_E_TYPEMISMATCH;
      *args[0].plVal += 1;
      return S_OK;
    case kAlias:
      if (count != 1 || args[0].vt != (VT_BYREF | VT_I2)) return DISP_E_TYPEMISMATCH;
      *args[0].piVal += 1;
      return S_OK;
    case kCount:
    case kFirstIndex:
      if (result) {
        result->vt = VT_R8;
        result->dblVal = id == kCount ? itemCount : firstIndex;
      }
      return S_OK;
    case kItem: {
      VARIANT index;
      VariantInit(&index);
      if (count != 1 || FAILED(VariantChangeType(&index, &args[0], 0, VT_R8))) return DISP_E_TYPEMISMATCH;
      if (!(index.dblVal >= 0 && index.dblVal < itemCount)) return DISP_E_BADINDEX;
      if (result) {
        AddRef();
        result->vt = VT_DISPATCH;
        result->pdispVal = this;
      }
      return S_OK;
    }
    case kSubMatches:
      if (result) {
        AddRef();
        result->vt = VT_DISPATCH;
        result->pdispVal = this;
      }
      return S_OK;
    case kValue:
      if (result) {
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
      }
      return S_OK;
    case kScale: {
      if (count != 1 || args[0].vt != (VT_BYREF | VT_DECIMAL)) return DISP_E_TYPEMISMATCH;
      DECIMAL doubled = {};
      if (FAILED(VarDecAdd(args[0].pdecVal, args[0].pdecVal, &doubled))) return DISP_E_OVERFLOW;
      doubled.wReserved = VT_I4;
      *args[0].pdecVal = doubled;
      return S_OK;
    }
    default: return DISP_E_MEMBERNOTFOUND;
  }
}

}  // namespace harvester::testing

namespace {

// The program initialises OLE on its thread at start-up; the tests do the same once.
[[maybe_unused]] const auto* const oleEnvironment = harvester::testing::AddOleEnvironment();

}  // namespace
