#include "tests/automation/typed_matches.h"

#include <ole2.h>

#include <span>

namespace harvester::testing {
namespace {

enum class Shape { kMatches, kMatch, kSubMatches, kNone };

// One member as the library's type library declares it: a property get, with a long index or
// none, whose result is of the given type or (wraps) an object of the given shape.
struct MemberShape {
  const wchar_t* name;
  DISPID id;
  VARTYPE result;
  bool indexed;
  Shape wraps;
};

constexpr DISPID kFirstIndexId = 10001, kLengthId = 10002, kSubMatchesId = 10003;
constexpr MemberShape kMatchesMembers[] = {
    {L"Item", DISPID_VALUE, VT_DISPATCH, true, Shape::kMatch},
    {L"Count", 1, VT_I4, false, Shape::kNone},
};
constexpr MemberShape kMatchMembers[] = {
    {L"Value", DISPID_VALUE, VT_BSTR, false, Shape::kNone},
    {L"FirstIndex", kFirstIndexId, VT_I4, false, Shape::kNone},
    {L"Length", kLengthId, VT_I4, false, Shape::kNone},
    {L"SubMatches", kSubMatchesId, VT_DISPATCH, false, Shape::kSubMatches},
};
constexpr MemberShape kSubMatchesMembers[] = {
    {L"Item", DISPID_VALUE, VT_VARIANT, true, Shape::kNone},
    {L"Count", 1, VT_I4, false, Shape::kNone},
};

std::span<const MemberShape> MembersOf(Shape shape) {
  switch (shape) {
    case Shape::kMatches: return kMatchesMembers;
    case Shape::kMatch: return kMatchMembers;
    case Shape::kSubMatches: return kSubMatchesMembers;
    case Shape::kNone: break;
  }
  return {};
}

// The shape's type information, built once: every member a property get after IDispatch's own
// seven entries.
ITypeInfo* TypeInfoOf(Shape shape) {
  static PARAMDATA index[] = {{const_cast<OLECHAR*>(L"index"), VT_I4}};
  const auto build = [](Shape of) -> ITypeInfo* {
    static METHODDATA methods[3][4];
    static INTERFACEDATA interfaces[3];
    const std::span<const MemberShape> members = MembersOf(of);
    METHODDATA* own = methods[static_cast<int>(of)];
    for (size_t i = 0; i < members.size(); ++i) {
      own[i] = {const_cast<OLECHAR*>(members[i].name), members[i].indexed ? index : nullptr, members[i].id,
                static_cast<UINT>(7 + i), CC_STDCALL, members[i].indexed ? 1u : 0u, DISPATCH_PROPERTYGET,
                members[i].result};
    }
    interfaces[static_cast<int>(of)] = {own, static_cast<UINT>(members.size())};
    ITypeInfo* info = nullptr;
    if (FAILED(CreateDispTypeInfo(&interfaces[static_cast<int>(of)], LOCALE_SYSTEM_DEFAULT, &info))) return nullptr;
    return info;
  };
  static ITypeInfo* const infos[] = {build(Shape::kMatches), build(Shape::kMatch), build(Shape::kSubMatches)};
  return shape == Shape::kNone ? nullptr : infos[static_cast<int>(shape)];
}

// A match collection, match or sub-match collection of the real object, described by its type
// information and called as a typed callee is: by the declared ids and kinds, its index coerced
// to long as ITypeInfo::Invoke would (failing as it does on a value long cannot hold).
class TypedObject : public ForwardingDispatch {
 public:
  TypedObject(ComPtr<IDispatch> real, Shape shape, std::shared_ptr<TypedMatchCalls> calls)
      : ForwardingDispatch(std::move(real)), shape_(shape), calls_(std::move(calls)) {}

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    *info = nullptr;
    if (index != 0 || !TypeInfoOf(shape_)) return DISP_E_BADINDEX;
    ++calls_->typeInfos;
    *info = TypeInfoOf(shape_);
    (*info)->AddRef();
    return S_OK;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    ++calls_->namesAsked;
    return DispGetIDsOfNames(TypeInfoOf(shape_), names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override;

 private:
  Shape shape_;
  std::shared_ptr<TypedMatchCalls> calls_;
};

STDMETHODIMP TypedObject::Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* exception, UINT* argumentError) {
  const MemberShape* member = nullptr;
  for (const MemberShape& candidate : MembersOf(shape_))
    if (candidate.id == id) member = &candidate;
  if (!member || !(flags & DISPATCH_PROPERTYGET)) {
    ++calls_->undeclared;
    return DISP_E_MEMBERNOTFOUND;
  }
  if (params->cNamedArgs) return DISP_E_NONAMEDARGS;
  if (params->cArgs != (member->indexed ? 1u : 0u)) {
    ++calls_->undeclared;
    return DISP_E_BADPARAMCOUNT;
  }
  ++calls_->invokes;
  VARIANT index;
  VariantInit(&index);
  if (member->indexed) {
    if (params->rgvarg[0].vt != VT_I4) ++calls_->itemIndexNotLong;
    if (const HRESULT hr = VariantChangeType(&index, &params->rgvarg[0], 0, VT_I4); FAILED(hr)) {
      if (argumentError) *argumentError = 0;
      return hr;
    }
  }
  DISPPARAMS passed = {member->indexed ? &index : nullptr, nullptr, member->indexed ? 1u : 0u, 0};
  VARIANT got;
  VariantInit(&got);
  const HRESULT hr = Real()->Invoke(RealId(member->name), IID_NULL, lcid, DISPATCH_PROPERTYGET | DISPATCH_METHOD,
                                    &passed, &got, exception, argumentError);
  if (FAILED(hr)) return hr;
  HRESULT converted = S_OK;
  if (member->wraps != Shape::kNone) {
    if (got.vt != VT_DISPATCH || !got.pdispVal) {
      VariantClear(&got);
      return DISP_E_TYPEMISMATCH;
    }
    ComPtr<IDispatch> real;
    *real.Put() = got.pdispVal;  // taken over from got
    got.vt = VT_DISPATCH;
    got.pdispVal = new TypedObject(std::move(real), member->wraps, calls_);
  } else if (member->result != VT_VARIANT) {
    converted = VariantChangeType(&got, &got, 0, member->result);
  }
  if (SUCCEEDED(converted) && result) {
    VariantClear(result);
    *result = got;  // handed over
    VariantInit(&got);
  }
  VariantClear(&got);
  return converted;
}

// The pattern object as it is, but for the match collection its "Execute" gives.
class TypedRegExp : public ForwardingDispatch {
 public:
  TypedRegExp(ComPtr<IDispatch> real, std::shared_ptr<TypedMatchCalls> calls)
      : ForwardingDispatch(std::move(real)), calls_(std::move(calls)), execute_(RealId(L"Execute")) {}

  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override {
    const HRESULT hr = ForwardingDispatch::Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
    if (SUCCEEDED(hr) && id == execute_ && result && result->vt == VT_DISPATCH && result->pdispVal) {
      ComPtr<IDispatch> real;
      *real.Put() = result->pdispVal;
      result->pdispVal = new TypedObject(std::move(real), Shape::kMatches, calls_);
    }
    return hr;
  }

 private:
  std::shared_ptr<TypedMatchCalls> calls_;
  DISPID execute_;
};

}  // namespace

TypedMatches::TypedMatches() {
  if (!TypeInfoOf(Shape::kMatches) || !TypeInfoOf(Shape::kMatch) || !TypeInfoOf(Shape::kSubMatches)) return;
  standIn_ = std::make_unique<ClassStandIn>(L"VBScript.RegExp", [calls = calls_](ComPtr<IDispatch> real) {
    return static_cast<IDispatch*>(new TypedRegExp(std::move(real), calls));
  });
}

}  // namespace harvester::testing
