// Late-bound calls against the test object, whose type information declares what the platform
// objects cannot show: by-reference and [out] parameters, argument lists, variables, failures.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <variant>

#include "automation/calls.h"
#include "base/owners.h"
#include "base/text_codec.h"
#include "tests/automation/test_object.h"

namespace harvester {
namespace {

using testing::TestObject;

class TypedCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(testing::TestTypeInfo(), nullptr);
    raw = TestObject::Make(true);
    object = ComObject::FromPointer(raw);
  }
  void TearDown() override {
    Clear(object);
    EXPECT_EQ(raw->References(), 1u) << "references left over by the calls";
    raw->Release();
  }
  const testing::ReceivedCall& Last() { return raw->calls.back(); }

  TestObject* raw = nullptr;
  ComObject object;
};

TEST_F(TypedCalls, OmittedInTheMiddleIsAMissingParameterAndTrailingOnesAreDropped) {
  Variant echoed = ReadProperty(object, "Echo", {Arg(std::int32_t{5}), Arg(), Arg(std::int32_t{7})});
  EXPECT_EQ(LastCallError(), kCallOk);
  ASSERT_EQ(raw->calls.size(), 1u);
  EXPECT_EQ(Last().flags, DISPATCH_METHOD);
  ASSERT_EQ(Last().types.size(), 3u);
  EXPECT_EQ(Last().types[1], VT_ERROR);
  EXPECT_EQ(Last().values[1].Get()->scode, DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(Last().types[2], VT_I4);
  EXPECT_EQ(echoed.Get()->lVal, 5);

  CallMethod(object, "Echo", {Arg("x"), Arg(), Arg()});
  EXPECT_EQ(Last().types.size(), 1u);
  EXPECT_EQ(Last().types[0], VT_BSTR);
  EXPECT_TRUE(Last().named.empty());
}

TEST_F(TypedCalls, ArgumentTableBuildsEachKind) {
  struct Row { Arg arg; VARTYPE type; double number; };
  const Row rows[] = {
      {Arg(true), VT_BOOL, -1}, {Arg(false), VT_BOOL, 0}, {Arg(std::uint8_t{200}), VT_UI1, 200},
      {Arg(std::int16_t{-3}), VT_I2, -3}, {Arg(std::int32_t{-70000}), VT_I4, -70000},
      {Arg(std::int64_t{0x100000005LL}), VT_I4, 5}, {Arg(1.5f), VT_R4, 1.5}, {Arg(2.25), VT_R8, 2.25},
      {Arg(DateTime{45000.5}), VT_DATE, 45000.5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.type);
    Variant echoed = ReadProperty(object, "Echo", {row.arg});
    ASSERT_EQ(LastCallError(), kCallOk);
    EXPECT_EQ(Last().types[0], row.type);
    Variant number;
    ASSERT_TRUE(SUCCEEDED(VariantChangeType(number.Get(), Source(Last().values[0].Get()), 0, VT_R8)));
    EXPECT_EQ(number.Get()->dblVal, row.number);
  }
  Variant empty;
  ReadProperty(object, "Echo", {Arg(std::int32_t{1}), Arg(empty), Arg(std::int32_t{1})});
  EXPECT_EQ(Last().types[1], VT_ERROR) << "a value that is VT_EMPTY goes as a missing parameter";
}

TEST_F(TypedCalls, BytesAreRefusedWithoutACall) {
  CallMethod(object, "Echo", {Arg(Bytes{1, 2, 3})});
  EXPECT_EQ(LastCallError(), kBadArgKind);
  EXPECT_TRUE(raw->calls.empty());
}

TEST_F(TypedCalls, MoreArgumentsThanDeclaredFail) {
  CallMethod(object, "Twice", {Arg(std::int32_t{1}), Arg(std::int32_t{2})});
  EXPECT_EQ(LastCallError(), kTooManyArgs);
  EXPECT_TRUE(raw->calls.empty());
}

TEST_F(TypedCalls, ByReferenceParameterIsCoercedAndCopiedBack) {
  double value = 21.0;  // a double for a declared long*: coerced, passed by reference, copied back
  CallMethod(object, "Twice", {Arg::ByRef(value)});
  ASSERT_EQ(LastCallError(), kCallOk);
  EXPECT_EQ(Last().types[0], VT_BYREF | VT_I4);
  EXPECT_EQ(value, 42.0);
  CallMethod(object, "Twice", {Arg(std::int32_t{4})});  // by value: goes by reference, nothing comes back
  EXPECT_EQ(LastCallError(), kCallOk);
  EXPECT_EQ(Last().types[0], VT_BYREF | VT_I4);
}

TEST_F(TypedCalls, OnlyOutParametersAreCopiedBack) {
  std::string text = "before";
  Variant any;  // an empty value would go as a missing parameter, so it holds one
  any.Get()->vt = VT_I4;
  any.Get()->lVal = 1;
  double notOut = 1.0;
  CallMethod(object, "Fill", {Arg::ByRef(text), Arg::ByRef(any), Arg::ByRef(notOut)});
  ASSERT_EQ(LastCallError(), kCallOk);
  EXPECT_EQ(text, "filled");
  EXPECT_EQ(any.Type(), VT_I4);
  EXPECT_EQ(any.Get()->lVal, 42);
  EXPECT_EQ(notOut, 1.0) << "a parameter not marked [out] is not copied back";
  EXPECT_EQ(Last().types, (std::vector<VARTYPE>{VT_BYREF | VT_BSTR, VT_BYREF | VT_VARIANT, VT_BYREF | VT_R8}));
}

TEST_F(TypedCalls, UserDefinedTypesFollowedToEnumerationAndAlias) {
  double mode = 3.0;
  CallMethod(object, "Mode", {Arg::ByRef(mode)});
  ASSERT_EQ(LastCallError(), kCallOk);
  EXPECT_EQ(Last().types[0], VT_BYREF | VT_I4);
  EXPECT_EQ(mode, 4.0);
  std::int32_t small = 9;
  CallMethod(object, "Alias", {Arg::ByRef(small)});
  ASSERT_EQ(LastCallError(), kCallOk);
  EXPECT_EQ(Last().types[0], VT_BYREF | VT_I2);
  EXPECT_EQ(small, 10);
}

TEST_F(TypedCalls, VariableArgumentList) {
  const double sum = ReadNumberProperty(object, "Sum", {Arg(std::int32_t{1}), Arg(2.5), Arg("3"), Arg(std::int16_t{4})});
  EXPECT_EQ(LastCallError(), kCallOk);
  EXPECT_EQ(sum, 10.5);
  EXPECT_EQ(Last().types.size(), 4u);
}

TEST_F(TypedCalls, ObjectArgumentsFollowTheDeclaredInterface) {
  TestObject* other = TestObject::Make(true);
  {
    ComObject handle = ComObject::Attach(other);
    other->AddRef();
    CallMethod(object, "Take", {Arg(handle), Arg(handle), Arg(handle)});
    ASSERT_EQ(LastCallError(), kCallOk);
    EXPECT_EQ(Last().types[0], VT_UNKNOWN);
    EXPECT_EQ(Last().types[1], VT_DISPATCH);
    EXPECT_EQ(Last().types[2], VT_DISPATCH) << "ITestObject* is a dispatch interface, so IDispatch";
    CallMethod(object, "Level", {Arg(handle)});  // a long variable read: no parameter to take it
    EXPECT_EQ(LastCallError(), kTooManyArgs);
    CallMethod(object, "Twice", {Arg(handle)});  // declared long*: not an interface
    EXPECT_EQ(Last().types[0], VT_UNKNOWN);
    EXPECT_EQ(Last().values[0].Get()->punkVal, nullptr);
    raw->calls.clear();  // the recorded copies hold references too
  }
  EXPECT_EQ(other->References(), 1u);
  other->Release();
}

TEST_F(TypedCalls, VariablesArePutByTheirType) {
  EXPECT_TRUE(WriteProperty(object, "Level", {Arg(std::int32_t{6})}));
  EXPECT_EQ(Last().flags, DISPATCH_PROPERTYPUT);
  ASSERT_EQ(Last().named.size(), 1u);
  EXPECT_EQ(Last().named[0], DISPID_PROPERTYPUT);
  EXPECT_EQ(ReadNumberProperty(object, "Level"), 6.0);
  EXPECT_EQ(Last().flags, DISPATCH_PROPERTYGET);

  TestObject* child = TestObject::Make(true);
  ComObject childHandle = ComObject::Attach(child);
  EXPECT_TRUE(WriteProperty(object, "Child", {Arg(childHandle)}));
  EXPECT_EQ(Last().flags, DISPATCH_PROPERTYPUTREF);
  EXPECT_EQ(Last().types[0], VT_DISPATCH);
  EXPECT_EQ(ReadObjectProperty(object, "Child").Get(), static_cast<IUnknown*>(child));
  raw->calls.clear();
  Clear(raw->child);
  child->AddRef();
  Clear(childHandle);
  EXPECT_EQ(child->References(), 1u);
  child->Release();
}

TEST_F(TypedCalls, ResultConversions) {
  WriteProperty(object, "Level", {Arg(std::int32_t{1})});
  EXPECT_EQ(ReadTextProperty(object, "Flag"), "-1");
  WriteProperty(object, "Level", {Arg(std::int32_t{0})});
  EXPECT_EQ(ReadTextProperty(object, "Flag"), "0");
  EXPECT_FALSE(CallBoolMethod(object, "Flag"));
  EXPECT_EQ(LastCallError(), kCallOk);

  ComObject made = CallObjectMethod(object, "MakeChild");
  ASSERT_FALSE(IsEmpty(made));
  Clear(made);
  EXPECT_EQ(raw->madeChildren.back()->References(), 1u) << "the result handle's reference is released";

  EXPECT_EQ(ReadNumberProperty(object, "Name"), 0.0);  // "" does not read as a number
  EXPECT_EQ(LastCallError(), kResultNotConvertible);
}

TEST_F(TypedCalls, InvokeFailuresMapToCodes) {
  const std::pair<HRESULT, int> rows[] = {
      {DISP_E_BADPARAMCOUNT, kBadParamCount}, {DISP_E_BADVARTYPE, kBadVarType}, {DISP_E_EXCEPTION, kException},
      {DISP_E_MEMBERNOTFOUND, kMemberNotFound}, {DISP_E_NONAMEDARGS, kNoNamedArgs}, {DISP_E_OVERFLOW, kOverflow},
      {DISP_E_PARAMNOTFOUND, kParamNotFound}, {DISP_E_TYPEMISMATCH, kTypeMismatch},
      {DISP_E_PARAMNOTOPTIONAL, kParamNotOptional}, {E_FAIL, kInvokeFailed}, {E_OUTOFMEMORY, kInvokeFailed},
  };
  for (const auto& [hr, code] : rows) {
    SCOPED_TRACE(code);
    raw->failWith = hr;
    EXPECT_EQ(CallTextMethod(object, "Fail"), "");
    EXPECT_EQ(LastCallError(), code);
  }
}

TEST_F(TypedCalls, UnknownNameAndNoDispatch) {
  EXPECT_FALSE(WriteProperty(object, "Singleline", {Arg(true)}));
  EXPECT_EQ(LastCallError(), kNameNotBound);
  EXPECT_TRUE(raw->calls.empty());
  raw->hideDispatch = true;
  EXPECT_EQ(ReadTextProperty(object, "Name"), "");
  EXPECT_EQ(LastCallError(), kNoDispatch);
  raw->hideDispatch = false;
}

TEST_F(TypedCalls, MegabyteTextRoundTrips) {
  std::string text;
  for (int i = 0; text.size() < (1u << 20); ++i) text += "页面文本 line " + std::to_string(i) + "\r\n";
  ASSERT_TRUE(WriteProperty(object, "Name", {Arg(text)}));
  EXPECT_EQ(Last().flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(ReadTextProperty(object, "Name"), text);
}

TEST_F(TypedCalls, EmptyTextGoesAsAnAllocatedEmptyString) {
  // Some objects take a null BSTR for a broken one (Wine's pattern object ends the process on it).
  CallMethod(object, "Echo", {Arg("")});
  ASSERT_EQ(LastCallError(), kCallOk);
  ASSERT_EQ(Last().types[0], VT_BSTR);
  EXPECT_FALSE(Last().nullStrings[0]);
  EXPECT_EQ(SysStringLen(Last().values[0].Get()->bstrVal), 0u);
  std::string empty;
  CallMethod(object, "Echo", {Arg::ByRef(empty)});
  EXPECT_FALSE(Last().nullStrings[0]) << "an empty text by reference as well";
  std::string filled = "x";
  CallMethod(object, "Fill", {Arg::ByRef(filled), Arg(std::int32_t{1}), Arg(1.0)});
  EXPECT_EQ(Last().types[0], VT_BYREF | VT_BSTR);
  EXPECT_FALSE(Last().nullStrings[0]);
  empty.clear();
  CallMethod(object, "Fill", {Arg::ByRef(empty), Arg(std::int32_t{1}), Arg(1.0)});
  EXPECT_EQ(Last().types[0], VT_BYREF | VT_BSTR);
  EXPECT_FALSE(Last().nullStrings[0]) << "an empty text passed by reference to a declared BSTR*";
  EXPECT_EQ(empty, "filled");
  raw->name = L"before";
  EXPECT_TRUE(WriteProperty(object, "Name", {Arg(std::string())}));
  EXPECT_EQ(raw->name, L"");
}

TEST_F(TypedCalls, PutWithoutAValueIsRefusedBeforeTheCall) {
  // A put names its value as the one named argument; with no value there is nothing to name.
  const Args noValues[] = {{}, {Arg()}, {Arg(), Arg()}};
  for (const char* name : {"Name", "Level", "Child"}) {
    for (const Args& args : noValues) {
      SCOPED_TRACE(std::string(name) + " with " + std::to_string(args.size()) + " omitted");
      EXPECT_FALSE(WriteProperty(object, name, args));
      EXPECT_EQ(LastCallError(), kBadParamCount);
    }
  }
  EXPECT_TRUE(raw->calls.empty()) << "nothing reaches the object";
  EXPECT_FALSE(WriteProperty(object, "NoSuchMember", {}));
  EXPECT_EQ(LastCallError(), kNameNotBound) << "an unknown name is still reported as such";
}

TEST_F(TypedCalls, DecimalByReferenceKeepsItsTypeWhateverTheCalleeWrites) {
  // The callee writes a whole DECIMAL, reserved field included; where that field shares its bytes
  // with the VARIANT's type, the copy back would read the value as another type.
  double number = 1234.5;
  CallMethod(object, "Scale", {Arg::ByRef(number)});
  ASSERT_EQ(LastCallError(), kCallOk);
  ASSERT_EQ(Last().types[0], VT_BYREF | VT_DECIMAL);
  Variant received;
  ASSERT_TRUE(SUCCEEDED(VariantChangeType(received.Get(), Source(Last().values[0].Get()), 0, VT_R8)));
  EXPECT_EQ(received.Get()->dblVal, 1234.5);
  EXPECT_EQ(number, 2469.0);

  Variant any;
  any.Get()->vt = VT_R8;
  any.Get()->dblVal = 0.125;
  CallMethod(object, "Scale", {Arg::ByRef(any)});
  ASSERT_EQ(LastCallError(), kCallOk);
  ASSERT_EQ(any.Type(), VT_DECIMAL);
  Variant doubled;
  ASSERT_TRUE(SUCCEEDED(VariantChangeType(doubled.Get(), any.Get(), 0, VT_R8)));
  EXPECT_EQ(doubled.Get()->dblVal, 0.25);

  std::string text = "12";
  CallMethod(object, "Scale", {Arg::ByRef(text)});
  ASSERT_EQ(LastCallError(), kCallOk);
  EXPECT_EQ(text, "24");
}

TEST_F(TypedCalls, TextArgumentsArriveAsTheirUtf16) {
  struct Row {
    const char* what;
    std::string text;
    std::wstring expected;  // empty: as the program's own conversion gives it
  };
  const Row rows[] = {
      {"empty", "", L""},
      {"ASCII", "Pattern", L"Pattern"},
      {"Chinese and a full-width colon", "电话：138", L"\u7535\u8bdd\uff1a138"},
      {"a zero byte inside", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
      {"a lone lead byte at the end", "a\xB0", L""},
      {"0x80 alone", "\x80", L""},
      {"a long text", std::string(100000, 'x') + "页", std::wstring(100000, L'x') + L"\u9875"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::wstring expected = row.expected.empty() ? TextToWide(row.text) : row.expected;
    ASSERT_TRUE(WriteProperty(object, "Name", {Arg(row.text)}));
    EXPECT_FALSE(Last().nullStrings[0]);
    const BSTR received = Last().values[0].Get()->bstrVal;
    EXPECT_EQ(std::wstring(received, SysStringLen(received)), expected);
    EXPECT_EQ(ReadTextProperty(object, "Name"), WideToText(expected)) << "and back from the string itself";
  }
}

TEST_F(TypedCalls, TextArgumentsOfEveryKindArriveAsTheirExactUtf16) {
  // Texts given as a view, a pointer or a kept string are referred to, a handed-over string is
  // owned; each reaches the object as the UTF-16 of exactly its own bytes.
  std::string longText;
  std::wstring longWide;
  for (int i = 0; longText.size() < (1u << 20); ++i) {
    longText += "电话：" + std::to_string(i) + ";";
    longWide += L"\u7535\u8bdd\uff1a" + std::to_wstring(i) + L";";
  }
  struct Row {
    const char* what;
    std::string text;
    std::wstring expected;
  };
  const Row rows[] = {
      {"empty", "", L""},
      {"zero bytes inside and at the end", std::string("\0a\0\xB5\xE7\0", 6), std::wstring(L"\0a\0\u7535\0", 5)},
      {"a megabyte", longText, longWide},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    // The text in the middle of a larger buffer: nothing after it may be read.
    const std::string buffer = "\xB5\xE7" + row.text + "\xB5\xE7tail";
    const std::string_view view = std::string_view(buffer).substr(2, row.text.size());
    const std::string kept = row.text;
    const Arg kinds[] = {Arg(view), Arg(kept), Arg(std::string(row.text))};
    for (const Arg& arg : kinds) {
      ASSERT_TRUE(WriteProperty(object, "Name", {arg}));
      EXPECT_FALSE(Last().nullStrings[0]);
      ASSERT_EQ(Last().types[0], VT_BSTR);
      const BSTR received = Last().values[0].Get()->bstrVal;
      EXPECT_EQ(std::wstring(received, SysStringLen(received)), row.expected);
    }
    const Args copied = {Arg(view)};  // copied from the list: still the caller's text
    ASSERT_TRUE(std::holds_alternative<std::string_view>(copied[0].value()));
    EXPECT_EQ(std::get<std::string_view>(copied[0].value()).data(), view.data());
    EXPECT_EQ(std::get<std::string_view>(Arg(kept).value()).data(), kept.data());
    EXPECT_TRUE(std::holds_alternative<std::string>(Arg(std::string(row.text)).value()));
  }
  const char* pointer = "\xB5\xE7\xBB\xB0";  // 电话 up to its terminator
  ASSERT_TRUE(WriteProperty(object, "Name", {Arg(pointer)}));
  EXPECT_EQ(raw->name, L"\u7535\u8bdd");
  EXPECT_EQ(std::get<std::string_view>(Arg(pointer).value()).data(), pointer);
  ASSERT_TRUE(WriteProperty(object, "Name", {Arg(static_cast<const char*>(nullptr))}));
  EXPECT_FALSE(Last().nullStrings[0]) << "a null pointer is the empty text";
  EXPECT_EQ(raw->name, L"");
}

TEST(EmptyHandleCalls, EveryKindGivesItsEmptyResult) {
  const ComObject empty;
  EXPECT_EQ(ReadTextProperty(empty, "Name"), "");
  EXPECT_EQ(LastCallError(), kEmptyHandle);
  EXPECT_EQ(ReadNumberProperty(empty, "Count"), 0.0);
  EXPECT_TRUE(IsEmpty(ReadObjectProperty(empty, "Item")));
  EXPECT_EQ(ReadProperty(empty, "Item").Type(), VT_EMPTY);
  EXPECT_FALSE(WriteProperty(empty, "Name", {Arg("x")}));
  EXPECT_FALSE(CallBoolMethod(empty, "Fail"));
  EXPECT_EQ(CallTextMethod(empty, "Fail"), "");
  EXPECT_TRUE(IsEmpty(CallObjectMethod(empty, "MakeChild")));
  EXPECT_EQ(LastCallError(), kEmptyHandle);
}

// Objects without type information: found by GetIDsOfNames, called kind after kind.
TEST(UntypedCalls, BindingOrderIsTriedWhileTheMemberIsNotFound) {
  TestObject* raw = TestObject::Make(false);
  ComObject object = ComObject::FromPointer(raw);
  raw->untypedKinds[testing::kLevel] = DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT;
  raw->untypedKinds[testing::kTwice] = DISPATCH_METHOD;
  raw->level = 3;
  EXPECT_EQ(ReadNumberProperty(object, "Level"), 3.0);
  EXPECT_EQ(raw->calls.size(), 1u);
  EXPECT_TRUE(WriteProperty(object, "Level", {Arg(std::int32_t{8})}));
  EXPECT_EQ(raw->calls.back().named, std::vector<DISPID>{DISPID_PROPERTYPUT});
  EXPECT_EQ(raw->level, 8);
  raw->calls.clear();
  CallMethod(object, "Level");  // method refused, then property-get
  ASSERT_EQ(raw->calls.size(), 2u);
  EXPECT_EQ(raw->calls[0].flags, DISPATCH_METHOD);
  EXPECT_EQ(raw->calls[1].flags, DISPATCH_PROPERTYGET);
  EXPECT_EQ(LastCallError(), kCallOk);

  std::int32_t value = 5;  // no declared types: by value, nothing copied back
  CallMethod(object, "Twice", {Arg::ByRef(value), Arg(), Arg()});
  EXPECT_EQ(raw->calls.back().types, std::vector<VARTYPE>{VT_I4});
  EXPECT_EQ(value, 5);
  EXPECT_EQ(LastCallError(), kTypeMismatch);

  EXPECT_EQ(ReadTextProperty(object, "NoSuchMember"), "");
  EXPECT_EQ(LastCallError(), kNameNotBound);
  raw->calls.clear();
  CallMethod(object, "Fail");  // known name, no kind accepted; the puts need a value to name
  ASSERT_EQ(raw->calls.size(), 2u);
  EXPECT_EQ(raw->calls[0].flags, DISPATCH_METHOD);
  EXPECT_EQ(raw->calls[1].flags, DISPATCH_PROPERTYGET);
  EXPECT_EQ(LastCallError(), kMemberNotFound);
  raw->calls.clear();
  CallMethod(object, "Fail", {Arg(std::int32_t{1})});
  EXPECT_EQ(raw->calls.size(), 4u) << "with a value every kind is tried";
  EXPECT_EQ(raw->calls.back().flags, DISPATCH_PROPERTYPUTREF);
  EXPECT_EQ(raw->calls.back().named, std::vector<DISPID>{DISPID_PROPERTYPUT});
  raw->calls.clear();
  EXPECT_FALSE(WriteProperty(object, "Level", {}));
  EXPECT_EQ(LastCallError(), kBadParamCount);
  EXPECT_TRUE(raw->calls.empty()) << "a put without a value is not tried kind after kind";
  raw->idsOfNamesWorks = false;
  EXPECT_EQ(ReadTextProperty(object, "Level"), "");
  EXPECT_EQ(LastCallError(), kNoTypeInfo);
  raw->calls.clear();
  Clear(object);
  EXPECT_EQ(raw->References(), 1u);
  raw->Release();
}

}  // namespace
}  // namespace harvester
