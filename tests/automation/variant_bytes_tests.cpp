// The bytes of a Variant's array read where they lie, and call results taken over rather than
// copied.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "automation/call_results.h"
#include "automation/calls.h"

namespace harvester {
namespace {

// A Variant holding a fresh array of element type element with the given bounds, its data
// filled from data.
Variant ArrayVariant(VARTYPE element, const std::vector<SAFEARRAYBOUND>& bounds, const std::vector<std::uint8_t>& data) {
  Variant variant;
  SAFEARRAY* array =
      SafeArrayCreate(element, static_cast<UINT>(bounds.size()), const_cast<SAFEARRAYBOUND*>(bounds.data()));
  void* target = nullptr;
  if (array && !data.empty() && SUCCEEDED(SafeArrayAccessData(array, &target))) {
    std::memcpy(target, data.data(), data.size());
    SafeArrayUnaccessData(array);
  }
  variant.Get()->vt = static_cast<VARTYPE>(VT_ARRAY | element);
  variant.Get()->parray = array;
  return variant;
}

Variant TextVariant(const char* bytes) {
  Variant text;
  text.Get()->vt = VT_BSTR;
  text.Get()->bstrVal = SysAllocStringByteLen(bytes, static_cast<UINT>(std::strlen(bytes)));
  return text;
}

Variant NumberVariant(LONG value) {
  Variant number;
  number.Get()->vt = VT_I4;
  number.Get()->lVal = value;
  return number;
}

Bytes BytesOf(const VariantBytes& view) { return Bytes(view.Get().begin(), view.Get().end()); }

const std::vector<std::uint8_t> kSix = {1, 2, 3, 4, 5, 6};

TEST(VariantBytes, SameRulesAsToBytes) {
  struct Row {
    const char* what;
    Variant variant;
    Bytes expected;
  };
  Row rows[] = {
      {"bytes from 0", ArrayVariant(VT_UI1, {{6, 0}}, kSix), kSix},
      {"lower bound 1", ArrayVariant(VT_UI1, {{6, 1}}, kSix), kSix},
      {"lower bound -5", ArrayVariant(VT_UI1, {{6, -5}}, kSix), kSix},
      {"signed bytes in two dimensions", ArrayVariant(VT_I1, {{3, 0}, {2, 5}}, kSix), kSix},
      {"three dimensions", ArrayVariant(VT_UI1, {{1, 0}, {3, 2}, {2, -1}}, kSix), kSix},
      {"16-bit elements", ArrayVariant(VT_I2, {{3, 0}}, kSix), {}},
      {"32-bit elements", ArrayVariant(VT_I4, {{1, 0}}, {1, 2, 3, 4}), {}},
      {"no elements", ArrayVariant(VT_UI1, {{0, 0}}, {}), {}},
      {"a second dimension of none", ArrayVariant(VT_UI1, {{6, 0}, {0, 0}}, {}), {}},
      {"empty", Variant(), {}},
      {"a string, coerced", TextVariant("abc"), {'a', 'b', 'c'}},
      {"a number, not coercible", NumberVariant(7), {}},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.what);
    const VariantBytes borrowed(row.variant);
    EXPECT_EQ(BytesOf(borrowed), row.expected);
    EXPECT_EQ(borrowed.Empty(), row.expected.empty());
    EXPECT_EQ(ToBytes(row.variant), row.expected);
    EXPECT_EQ(BytesOf(VariantBytes(std::move(row.variant))), row.expected) << "taken over";
  }
}

TEST(VariantBytes, ArrayByReference) {
  Variant held = ArrayVariant(VT_UI1, {{6, 1}}, kSix);
  Variant byReference;
  byReference.Get()->vt = VT_BYREF | VT_ARRAY | VT_UI1;
  byReference.Get()->pparray = &held.Get()->parray;
  EXPECT_EQ(BytesOf(VariantBytes(byReference)), kSix);
  EXPECT_EQ(BytesOf(VariantBytes(std::move(byReference))), kSix);
  EXPECT_EQ(ToBytes(held), kSix) << "the referred array belongs to its own holder";
  Variant nowhere;
  nowhere.Get()->vt = VT_BYREF | VT_ARRAY | VT_UI1;
  nowhere.Get()->pparray = nullptr;
  EXPECT_TRUE(VariantBytes(nowhere).Empty());
}

TEST(VariantBytes, ReadsTheArrayInPlaceAndKeepsItLockedWhileItLives) {
  Variant variant = ArrayVariant(VT_UI1, {{6, 0}}, kSix);
  SAFEARRAY* array = variant.Get()->parray;
  {
    const VariantBytes view(variant);
    EXPECT_EQ(view.Get().data(), static_cast<const std::uint8_t*>(array->pvData)) << "not a copy";
    EXPECT_EQ(array->cLocks, 1u);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  }
  EXPECT_EQ(array->cLocks, 0u);
  EXPECT_EQ(ToBytes(variant), kSix);
}

TEST(VariantBytes, TakesAVariantOverMovesAndGivesItBack) {
  Variant variant = ArrayVariant(VT_UI1, {{6, 0}}, kSix);
  SAFEARRAY* array = variant.Get()->parray;
  VariantBytes taken(std::move(variant));
  EXPECT_EQ(variant.Type(), VT_EMPTY);
  EXPECT_EQ(array->cLocks, 1u);
  VariantBytes moved(std::move(taken));
  EXPECT_TRUE(taken.Empty());
  EXPECT_EQ(taken.Get().data(), nullptr);
  EXPECT_EQ(moved.Get().data(), static_cast<const std::uint8_t*>(array->pvData));
  VariantBytes assigned;
  assigned = std::move(moved);
  EXPECT_EQ(BytesOf(assigned), kSix);
  EXPECT_EQ(array->cLocks, 1u);
  assigned.Reset();
  EXPECT_TRUE(assigned.Empty());
}

TEST(CallResults, AVariantResultIsTakenOverAndAReferenceCopied) {
  using calls_internal::ResultSlot;
  using calls_internal::StoreResult;
  Variant result = ArrayVariant(VT_UI1, {{6, 0}}, kSix);
  SAFEARRAY* array = result.Get()->parray;
  Variant out;
  ASSERT_TRUE(StoreResult(*result.Get(), ResultSlot(&out)));
  EXPECT_EQ(out.Get()->parray, array) << "the same array, not a copy";
  EXPECT_EQ(result.Type(), VT_EMPTY);

  Variant byReference;
  byReference.Get()->vt = VT_BYREF | VT_ARRAY | VT_UI1;
  byReference.Get()->pparray = &out.Get()->parray;
  Variant copy;
  ASSERT_TRUE(StoreResult(*byReference.Get(), ResultSlot(&copy)));
  EXPECT_EQ(copy.Type(), VT_ARRAY | VT_UI1);
  EXPECT_NE(copy.Get()->parray, array);
  EXPECT_EQ(ToBytes(copy), kSix);
  EXPECT_EQ(out.Get()->parray, array) << "what the reference points at stays";

  Variant record;
  record.Get()->vt = VT_RECORD;
  Variant untouched;
  EXPECT_FALSE(StoreResult(*record.Get(), ResultSlot(&untouched)));
  EXPECT_EQ(untouched.Type(), VT_EMPTY);
  record.Get()->vt = VT_EMPTY;  // nothing to clear
}

}  // namespace
}  // namespace harvester
