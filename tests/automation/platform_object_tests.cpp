// Calls and handles against the objects the platform provides, and the Variant conversions.
#include <gtest/gtest.h>

#include "automation/calls.h"
#include "tests/automation/test_object.h"

namespace harvester {
namespace {

TEST(RegExpObject, PropertiesCollectionsAndFailedWrite) {
  ComObject regExp;
  ASSERT_TRUE(Create(regExp, "VBScript.RegExp"));
  EXPECT_TRUE(WriteProperty(regExp, "IgnoreCase", {Arg(true)}));
  EXPECT_TRUE(WriteProperty(regExp, "Global", {Arg(false)}));
  EXPECT_FALSE(WriteProperty(regExp, "Singleline", {Arg(true)}));
  EXPECT_EQ(LastCallError(), kNameNotBound);
  EXPECT_TRUE(WriteProperty(regExp, "Global", {Arg(true)}));
  EXPECT_TRUE(WriteProperty(regExp, "Pattern", {Arg("a(b+)(x)?")}));
  EXPECT_EQ(ReadTextProperty(regExp, "IgnoreCase"), "-1");
  WriteProperty(regExp, "IgnoreCase", {Arg(false)});
  EXPECT_EQ(ReadTextProperty(regExp, "IgnoreCase"), "0");
  EXPECT_EQ(ReadTextProperty(regExp, "Global"), "-1");
  EXPECT_EQ(ReadTextProperty(regExp, "Pattern"), "a(b+)(x)?");

  ComObject matches = CallObjectMethod(regExp, "Execute", {Arg("zab abbbx Ab")});
  ASSERT_FALSE(IsEmpty(matches));
  EXPECT_EQ(ReadNumberProperty(matches, "Count"), 2.0);
  ComObject second = ReadObjectProperty(matches, "Item", {Arg(1.0)});
  ASSERT_FALSE(IsEmpty(second));
  EXPECT_EQ(ReadTextProperty(second, "Value"), "abbbx");
  EXPECT_EQ(ReadNumberProperty(second, "FirstIndex"), 4.0);
  ComObject groups = ReadObjectProperty(second, "SubMatches");
  EXPECT_EQ(ReadNumberProperty(groups, "Count"), 2.0);
  EXPECT_EQ(ToText(ReadProperty(groups, "Item", {Arg(0.0)})), "bbb");
  ComObject first = ReadObjectProperty(matches, "Item", {Arg(0.0)});
  ComObject firstGroups = ReadObjectProperty(first, "SubMatches");
  Variant unmatched = ReadProperty(firstGroups, "Item", {Arg(1.0)});
  EXPECT_EQ(LastCallError(), kCallOk);
  EXPECT_EQ(ToText(unmatched), "");
  EXPECT_TRUE(IsEmpty(ReadObjectProperty(matches, "Item", {Arg(2.0)})));
  EXPECT_LT(LastCallError(), 0);
  EXPECT_EQ(CallTextMethod(regExp, "Replace", {Arg("ab ab"), Arg("[$1]")}), "[b] [b]");

  WriteProperty(regExp, "Pattern", {Arg("(")});
  EXPECT_TRUE(IsEmpty(CallObjectMethod(regExp, "Execute", {Arg("x")})));
  EXPECT_LT(LastCallError(), 0);
}

TEST(RegExpObject, EmptyTextIsASubjectLikeAnyOther) {
  // Wine's object asserts on a null string and ends the process; the empty text must reach it
  // as an allocated empty string.
  ComObject regExp;
  ASSERT_TRUE(Create(regExp, "VBScript.RegExp"));
  ASSERT_TRUE(WriteProperty(regExp, "Pattern", {Arg("a")}));
  ComObject matches = CallObjectMethod(regExp, "Execute", {Arg("")});
  ASSERT_FALSE(IsEmpty(matches));
  EXPECT_EQ(ReadNumberProperty(matches, "Count"), 0.0);
  EXPECT_EQ(LastCallError(), kCallOk);
  EXPECT_EQ(CallTextMethod(regExp, "Replace", {Arg(""), Arg("x")}), "");
  EXPECT_EQ(LastCallError(), kCallOk);
  EXPECT_EQ(CallTextMethod(regExp, "Replace", {Arg("banana"), Arg("")}), "bnana") << "Global is off";
  EXPECT_FALSE(CallBoolMethod(regExp, "Test", {Arg("")}));
  EXPECT_EQ(LastCallError(), kCallOk);
}

TEST(HttpRequestObject, OpenWithThreeArgumentsAndSendWithItsArgumentOmitted) {
  ComObject request;
  ASSERT_TRUE(Create(request, "Winhttp.WinHttpRequest.5.1"));
  CallMethod(request, "Send", {Arg()});
  EXPECT_LT(LastCallError(), 0) << "Send before Open fails";
  CallMethod(request, "Open", {Arg("GET"), Arg("http://127.0.0.1:9/"), Arg(true)});
  EXPECT_EQ(LastCallError(), kCallOk);
  CallMethod(request, "SetRequestHeader", {Arg("User-Agent"), Arg("test")});
  EXPECT_EQ(LastCallError(), kCallOk);
  CallMethod(request, "Send", {Arg()});  // no arguments at all reach the object
  EXPECT_EQ(LastCallError(), kCallOk);
  CallBoolMethod(request, "WaitForResponse", {Arg(std::int32_t{2})});
  Variant body = ReadProperty(request, "ResponseBody");
  EXPECT_TRUE(ToBytes(body).empty());
}

TEST(ObjectHandle, CopyAddsAReferenceAndClearReleasesIt) {
  testing::TestObject* raw = testing::TestObject::Make();
  {
    ComObject first = ComObject::FromPointer(raw);
    EXPECT_EQ(raw->References(), 2u);
    ComObject copy = first;
    EXPECT_EQ(raw->References(), 3u);
    ComObject moved = std::move(copy);
    EXPECT_TRUE(IsEmpty(copy));
    EXPECT_EQ(raw->References(), 3u);
    Clear(first);
    EXPECT_TRUE(IsEmpty(first));
    EXPECT_EQ(raw->References(), 2u);
    moved = moved;
    EXPECT_EQ(raw->References(), 2u);
  }
  EXPECT_EQ(raw->References(), 1u);
  raw->Release();
}

TEST(ObjectHandle, CreateByClsidTextAndFailureKeepsTheOldObject) {
  ComObject object;
  CLSID clsid = {};
  ASSERT_TRUE(SUCCEEDED(CLSIDFromProgID(L"VBScript.RegExp", &clsid)));
  wchar_t text[64] = {};
  StringFromGUID2(clsid, text, 64);
  std::string clsidText;
  for (const wchar_t* c = text; *c; ++c) clsidText += static_cast<char>(*c);
  ASSERT_TRUE(Create(object, clsidText));
  EXPECT_TRUE(WriteProperty(object, "Pattern", {Arg("x")}));
  IUnknown* held = object.Get();
  EXPECT_FALSE(Create(object, "No.Such.ProgId"));
  EXPECT_FALSE(Create(object, "{00000000-0000-0000-0000-00000000abcd}"));
  EXPECT_FALSE(Create(object, "{not a clsid"));
  EXPECT_EQ(object.Get(), held);
  EXPECT_EQ(ReadTextProperty(object, "Pattern"), "x");
  EXPECT_TRUE(Create(object, "VBScript.RegExp"));
  EXPECT_NE(ReadTextProperty(object, "Pattern"), "x");
}

Variant ArrayOf(VARTYPE element, UINT dimensions, const SAFEARRAYBOUND* bounds, const void* data, size_t bytes) {
  Variant variant;
  SAFEARRAY* array = SafeArrayCreate(element, dimensions, const_cast<SAFEARRAYBOUND*>(bounds));
  void* target = nullptr;
  if (array && SUCCEEDED(SafeArrayAccessData(array, &target))) {
    if (bytes) memcpy(target, data, bytes);
    SafeArrayUnaccessData(array);
  }
  variant.Get()->vt = static_cast<VARTYPE>(VT_ARRAY | element);
  variant.Get()->parray = array;
  return variant;
}

TEST(VariantConversion, ToBytes) {
  const std::uint8_t data[] = {1, 2, 3, 4, 5, 6};
  const SAFEARRAYBOUND fromOne[] = {{6, 1}};
  EXPECT_EQ(ToBytes(ArrayOf(VT_UI1, 1, fromOne, data, 6)), (Bytes{1, 2, 3, 4, 5, 6}));
  const SAFEARRAYBOUND twoDimensions[] = {{3, 0}, {2, 5}};
  EXPECT_EQ(ToBytes(ArrayOf(VT_I1, 2, twoDimensions, data, 6)), (Bytes{1, 2, 3, 4, 5, 6}));
  Variant held = ArrayOf(VT_UI1, 1, fromOne, data, 6);
  Variant byReference;
  byReference.Get()->vt = VT_BYREF | VT_ARRAY | VT_UI1;
  byReference.Get()->pparray = &held.Get()->parray;
  EXPECT_EQ(ToBytes(byReference), (Bytes{1, 2, 3, 4, 5, 6}));
  const SAFEARRAYBOUND three[] = {{3, 0}};
  EXPECT_TRUE(ToBytes(ArrayOf(VT_I2, 1, three, data, 6)).empty());
  const SAFEARRAYBOUND none[] = {{0, 0}};
  EXPECT_TRUE(ToBytes(ArrayOf(VT_UI1, 1, none, data, 0)).empty());
  EXPECT_TRUE(ToBytes(Variant()).empty());
  Variant number;
  number.Get()->vt = VT_I4;
  number.Get()->lVal = 7;
  EXPECT_TRUE(ToBytes(number).empty());
}

TEST(VariantConversion, ToTextAndClear) {
  EXPECT_EQ(ToText(Variant()), "");
  Variant number;
  number.Get()->vt = VT_R8;
  number.Get()->dblVal = 2.5;
  EXPECT_EQ(ToText(number), "2.5");
  Variant text;
  text.Get()->vt = VT_BSTR;
  text.Get()->bstrVal = SysAllocString(L"\u7535\u8bdd");
  EXPECT_EQ(ToText(text), "电话");
  const std::uint8_t data[] = {65, 66};
  const SAFEARRAYBOUND two[] = {{2, 0}};
  EXPECT_EQ(ToText(ArrayOf(VT_UI1, 1, two, data, 2)), "");
  Clear(text);
  EXPECT_EQ(text.Type(), VT_EMPTY);
  EXPECT_EQ(text.Get()->bstrVal, nullptr);
}

}  // namespace
}  // namespace harvester
