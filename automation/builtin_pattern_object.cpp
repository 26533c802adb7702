#include "automation/builtin_pattern_object.h"

#include <windows.h>
#include <ole2.h>

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/pattern_engine.h"
#include "base/owners.h"

namespace harvester {

namespace {

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "automation text is UTF-16");

// What the platform's object raises, as the VBScript run-time errors it documents:
// 5017 "Syntax error in regular expression" and 28 "Out of stack space". Invoke hands them
// on as DISP_E_EXCEPTION with the code in the exception information.
constexpr HRESULT kSyntaxError = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 5017);
constexpr HRESULT kOutOfStack = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 28);

std::u16string_view View(BSTR text) {
  return {reinterpret_cast<const char16_t*>(text), text ? SysStringLen(text) : 0u};  // null is the empty text
}

// The text of an argument: a string read where it lies, anything else coerced into holder.
std::optional<std::u16string_view> TextArgument(const VARIANT& argument, Variant& holder) {
  if (argument.vt == VT_BSTR) return View(argument.bstrVal);
  if (argument.vt == (VT_BSTR | VT_BYREF)) return View(argument.pbstrVal ? *argument.pbstrVal : nullptr);
  const Variant direct(argument);  // references followed
  if (FAILED(VariantChangeType(holder.Get(), Source(direct.Get()), 0, VT_BSTR)) || holder.Type() != VT_BSTR)
    return std::nullopt;
  return View(holder.Get()->bstrVal);
}

// An argument coerced to type (a bool or a long); nothing when it cannot be.
std::optional<Variant> ArgumentAs(const VARIANT& argument, VARTYPE type) {
  const Variant direct(argument);
  Variant value;
  if (FAILED(VariantChangeType(value.Get(), Source(direct.Get()), 0, type)) || value.Type() != type)
    return std::nullopt;
  return value;
}

HRESULT SetBool(VARIANT* result, bool value) {
  if (result) {
    result->vt = VT_BOOL;
    result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  }
  return S_OK;
}

HRESULT SetLong(VARIANT* result, std::size_t value) {
  if (result) {
    result->vt = VT_I4;
    result->lVal = static_cast<LONG>(value);
  }
  return S_OK;
}

HRESULT SetText(VARIANT* result, std::u16string_view text) {
  if (!result) return S_OK;
  BSTR value = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
  if (!value) return E_OUTOFMEMORY;
  result->vt = VT_BSTR;
  result->bstrVal = value;
  return S_OK;
}

// An automation object of the program's own that answers by name only: a fixed table of
// members, GetIDsOfNames over it (letter case aside, as automation names go) and Invoke.
class NamedDispatch : public IDispatch {
 public:
  struct Member {
    const wchar_t* name;
    DISPID id;
    UINT arguments;  // of a read or call; a write takes its one value
    bool writable;
  };

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (const Member& member : members_) {
      if (names[0] && CompareStringOrdinal(names[0], -1, member.name, -1, TRUE) == CSTR_EQUAL) ids[0] = member.id;
    }
    // The members take no named arguments: a parameter name is never known.
    return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT*) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const Member* member = nullptr;
    for (const Member& candidate : members_) {
      if (candidate.id == id) member = &candidate;
    }
    if (!member) return DISP_E_MEMBERNOTFOUND;
    const bool write = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    if (write ? !(member->writable && (flags & DISPATCH_PROPERTYPUT)) : !(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)))
      return DISP_E_MEMBERNOTFOUND;
    if (!params || (params->cArgs && !params->rgvarg)) return E_INVALIDARG;
    const bool namedValue = params->cNamedArgs == 1 && params->rgdispidNamedArgs &&
                            params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
    if (write ? !namedValue : params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs != (write ? 1 : member->arguments)) return DISP_E_BADPARAMCOUNT;
    // The arguments in declaration order (DISPPARAMS holds them last first).
    std::array<const VARIANT*, 2> arguments = {};
    for (UINT i = 0; i < params->cArgs && i < arguments.size(); ++i) arguments[i] = &params->rgvarg[params->cArgs - 1 - i];
    if (result) VariantInit(result);
    HRESULT hr = E_OUTOFMEMORY;
    try {
      hr = Answer(id, write, std::span(arguments.data(), params->cArgs), result);
    } catch (...) {  // nothing crosses the automation boundary
    }
    if (HRESULT_FACILITY(hr) == FACILITY_CONTROL) {
      if (exception) {
        *exception = {};
        exception->scode = hr;
      }
      return DISP_E_EXCEPTION;
    }
    return hr;
  }

 protected:
  explicit NamedDispatch(std::span<const Member> members) : members_(members) {}
  virtual ~NamedDispatch() = default;
  // One member's read, write or call with its arguments checked in number.
  virtual HRESULT Answer(DISPID id, bool write, std::span<const VARIANT* const> arguments, VARIANT* result) = 0;

  // The object, with the one reference it was made with, as the result.
  static HRESULT SetObject(VARIANT* result, NamedDispatch* object) {
    if (!result) {
      object->Release();
      return S_OK;
    }
    result->vt = VT_DISPATCH;
    result->pdispVal = object;
    return S_OK;
  }

  // The 0-based index of an "Item" argument within count; DISP_E_BADINDEX outside.
  static HRESULT IndexWithin(const VARIANT& argument, std::size_t count, std::size_t& index) {
    const std::optional<Variant> value = ArgumentAs(argument, VT_I4);
    if (!value) return DISP_E_TYPEMISMATCH;
    const LONG number = value->Get()->lVal;
    if (number < 0 || static_cast<std::size_t>(number) >= count) return DISP_E_BADINDEX;
    index = static_cast<std::size_t>(number);
    return S_OK;
  }

 private:
  std::span<const Member> members_;
  LONG references_ = 1;
};

struct MatchRecord {
  std::u16string value;
  std::size_t first = 0;
  std::vector<std::optional<std::u16string>> groups;  // none: the group took no part
};
using MatchList = std::vector<MatchRecord>;

enum MemberId : DISPID {
  kValueId = DISPID_VALUE,  // "Value" of a match, "Item" of a collection
  kCountId = 1,
  kFirstIndexId,
  kLengthId,
  kSubMatchesId,
  kPatternId,
  kIgnoreCaseId,
  kGlobalId,
  kMultilineId,
  kExecuteId,
  kReplaceId,
  kTestId,
};

class SubMatchesObject final : public NamedDispatch {
 public:
  SubMatchesObject(std::shared_ptr<const MatchList> list, std::size_t match)
      : NamedDispatch(kMembers), list_(std::move(list)), match_(match) {}

 private:
  static constexpr Member kMembers[] = {{L"Count", kCountId, 0, false}, {L"Item", kValueId, 1, false}};

  HRESULT Answer(DISPID id, bool, std::span<const VARIANT* const> arguments, VARIANT* result) override {
    const auto& groups = (*list_)[match_].groups;
    if (id == kCountId) return SetLong(result, groups.size());
    std::size_t index = 0;
    if (const HRESULT hr = IndexWithin(*arguments[0], groups.size(), index); FAILED(hr)) return hr;
    return groups[index] ? SetText(result, *groups[index]) : S_OK;  // a group that took no part: empty
  }

  std::shared_ptr<const MatchList> list_;
  std::size_t match_;
};

class MatchObject final : public NamedDispatch {
 public:
  MatchObject(std::shared_ptr<const MatchList> list, std::size_t match)
      : NamedDispatch(kMembers), list_(std::move(list)), match_(match) {}

 private:
  static constexpr Member kMembers[] = {{L"Value", kValueId, 0, false},
                                        {L"FirstIndex", kFirstIndexId, 0, false},
                                        {L"Length", kLengthId, 0, false},
                                        {L"SubMatches", kSubMatchesId, 0, false}};

  HRESULT Answer(DISPID id, bool, std::span<const VARIANT* const>, VARIANT* result) override {
    const MatchRecord& match = (*list_)[match_];
    switch (id) {
      case kValueId: return SetText(result, match.value);
      case kFirstIndexId: return SetLong(result, match.first);
      case kLengthId: return SetLong(result, match.value.size());
      default: return SetObject(result, new SubMatchesObject(list_, match_));
    }
  }

  std::shared_ptr<const MatchList> list_;
  std::size_t match_;
};

class MatchCollectionObject final : public NamedDispatch {
 public:
  explicit MatchCollectionObject(std::shared_ptr<const MatchList> list) : NamedDispatch(kMembers), list_(std::move(list)) {}

 private:
  static constexpr Member kMembers[] = {{L"Count", kCountId, 0, false}, {L"Item", kValueId, 1, false}};

  HRESULT Answer(DISPID id, bool, std::span<const VARIANT* const> arguments, VARIANT* result) override {
    if (id == kCountId) return SetLong(result, list_->size());
    std::size_t index = 0;
    if (const HRESULT hr = IndexWithin(*arguments[0], list_->size(), index); FAILED(hr)) return hr;
    return SetObject(result, new MatchObject(list_, index));
  }

  std::shared_ptr<const MatchList> list_;
};

class PatternObject final : public NamedDispatch {
 public:
  PatternObject() : NamedDispatch(kMembers) {}

 private:
  static constexpr Member kMembers[] = {
      {L"Pattern", kPatternId, 0, true},   {L"IgnoreCase", kIgnoreCaseId, 0, true},
      {L"Global", kGlobalId, 0, true},     {L"Multiline", kMultilineId, 0, true},
      {L"Execute", kExecuteId, 1, false},  {L"Replace", kReplaceId, 2, false},
      {L"Test", kTestId, 1, false},
  };

  HRESULT Answer(DISPID id, bool write, std::span<const VARIANT* const> arguments, VARIANT* result) override {
    switch (id) {
      case kPatternId: return write ? WritePattern(*arguments[0]) : SetText(result, pattern_);
      case kIgnoreCaseId: return Switch(options_.ignoreCase, write, arguments, result);
      case kGlobalId: return Switch(options_.global, write, arguments, result);
      case kMultilineId: return Switch(options_.multiline, write, arguments, result);
      case kExecuteId: return Execute(*arguments[0], result);
      case kReplaceId: return Replace(*arguments[0], *arguments[1], result);
      default: return Test(*arguments[0], result);
    }
  }

  HRESULT WritePattern(const VARIANT& argument) {
    Variant holder;
    const std::optional<std::u16string_view> text = TextArgument(argument, holder);
    if (!text) return DISP_E_TYPEMISMATCH;
    pattern_.assign(*text);
    return S_OK;
  }

  static HRESULT Switch(bool& value, bool write, std::span<const VARIANT* const> arguments, VARIANT* result) {
    if (!write) return SetBool(result, value);
    const std::optional<Variant> flag = ArgumentAs(*arguments[0], VT_BOOL);
    if (!flag) return DISP_E_TYPEMISMATCH;
    value = flag->Get()->boolVal != VARIANT_FALSE;
    return S_OK;
  }

  // The matches of the subject, with the current switches; a failure code otherwise.
  HRESULT Matches(const VARIANT& argument, const PatternOptions& options, Variant& holder,
                  std::u16string_view& subject, std::optional<std::vector<PatternMatch>>& found) const {
    const std::optional<std::u16string_view> text = TextArgument(argument, holder);
    if (!text) return DISP_E_TYPEMISMATCH;
    subject = *text;
    const std::unique_ptr<CompiledPattern> compiled = CompiledPattern::Compile(pattern_, options);
    if (!compiled) return kSyntaxError;
    found = compiled->Execute(subject);
    return found ? S_OK : kOutOfStack;
  }

  HRESULT Execute(const VARIANT& argument, VARIANT* result) const {
    Variant holder;
    std::u16string_view subject;
    std::optional<std::vector<PatternMatch>> found;
    if (const HRESULT hr = Matches(argument, options_, holder, subject, found); FAILED(hr)) return hr;
    auto list = std::make_shared<MatchList>();
    list->reserve(found->size());
    for (const PatternMatch& match : *found) {
      MatchRecord& record = list->emplace_back();
      record.value = subject.substr(match.whole.first, match.whole.length);
      record.first = match.whole.first;
      for (const std::optional<PatternSpan>& group : match.groups) {
        if (group) record.groups.emplace_back(std::u16string(subject.substr(group->first, group->length)));
        else record.groups.emplace_back();
      }
    }
    return SetObject(result, new MatchCollectionObject(std::move(list)));
  }

  HRESULT Replace(const VARIANT& subjectArgument, const VARIANT& replacementArgument, VARIANT* result) const {
    Variant subjectHolder, replacementHolder;
    const std::optional<std::u16string_view> subject = TextArgument(subjectArgument, subjectHolder);
    const std::optional<std::u16string_view> replacement = TextArgument(replacementArgument, replacementHolder);
    if (!subject || !replacement) return DISP_E_TYPEMISMATCH;
    const std::unique_ptr<CompiledPattern> compiled = CompiledPattern::Compile(pattern_, options_);
    if (!compiled) return kSyntaxError;
    const std::optional<std::u16string> replaced = compiled->Replace(*subject, *replacement);
    return replaced ? SetText(result, *replaced) : kOutOfStack;
  }

  HRESULT Test(const VARIANT& argument, VARIANT* result) const {
    PatternOptions first = options_;
    first.global = false;
    Variant holder;
    std::u16string_view subject;
    std::optional<std::vector<PatternMatch>> found;
    if (const HRESULT hr = Matches(argument, first, holder, subject, found); FAILED(hr)) return hr;
    return SetBool(result, !found->empty());
  }

  std::u16string pattern_;
  PatternOptions options_;
};

}  // namespace

ComObject MakeBuiltInPatternObject() { return ComObject::Attach(new PatternObject); }

}  // namespace harvester
