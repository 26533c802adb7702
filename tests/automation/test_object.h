#pragma once
// A dispatch object made by the tests: it records every Invoke exactly as it arrived and counts
// its references, and it describes itself through a type library built in memory (or, when
// made untyped, through GetIDsOfNames only).
#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "automation/com_object.h"

namespace harvester::testing {

// Member ids of the test object's interface.
enum TestMember : DISPID {
  kEcho = 1,      // Echo(VARIANT a, [optional] VARIANT b, [optional] VARIANT c) -> VARIANT
  kTwice = 2,     // Twice([in, out] long* value)
  kFill = 3,      // Fill([out] BSTR* text, [in, out] VARIANT* any, [in] double* notOut)
  kSum = 4,       // Sum(long first, [vararg] SAFEARRAY(VARIANT) rest) -> double
  kTake = 5,      // Take(IUnknown* unknown, IDispatch* dispatch, ITestObject* typed)
  kChild = 6,     // variable IDispatch* Child
  kLevel = 7,     // variable long Level
  kFail = 8,      // Fail() -> returns the HRESULT set in failWith
  kName = 9,      // property BSTR Name (get and put)
  kMakeChild = 10,  // MakeChild() -> IDispatch*, a fresh test object
  kFlag = 11,     // property VARIANT_BOOL Flag (get only)
  kMode = 12,     // Mode([in, out] TestMode* mode), TestMode an enumeration
  kAlias = 13,    // Alias([in, out] Small* n), Small an alias of short
  kCount = 14,    // property double Count (get only): the field itemCount
  kFirstIndex = 15,  // property double FirstIndex (get only): the field firstIndex
  kItem = 16,     // property Item(VARIANT index) -> IDispatch* (get only): the object itself for
                  // an index in [0, itemCount), otherwise DISP_E_BADINDEX
  kValue = 17,    // property BSTR Value (get only): the field name
  kScale = 18,    // Scale([in, out] DECIMAL* value): doubles the value and writes it back whole,
                  // its reserved field set to VT_I4 as a careless callee might leave it
  kSubMatches = 19,  // property SubMatches -> IDispatch* (get only): the object itself
};

struct ReceivedCall {
  DISPID id = 0;
  WORD flags = 0;
  std::vector<VARTYPE> types;      // in declaration order (reverse of rgvarg)
  std::vector<Variant> values;     // copies with references followed
  std::vector<bool> nullStrings;   // a string (VT_BSTR, or by reference) that came as a null pointer
  std::vector<DISPID> named;
  bool hadResult = false;
};

class TestObject : public IDispatch {
 public:
  // typed: the object answers GetTypeInfo with the in-memory type information.
  static TestObject* Make(bool typed = true);  // one reference, owned by the caller

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO*, UINT*) override;

  ULONG References() const { return references_; }
  LONG AddRefCalls() const { return addRefs_; }

  std::vector<ReceivedCall> calls;
  HRESULT failWith = S_OK;
  bool idsOfNamesWorks = true;
  bool hideDispatch = false;  // answers QueryInterface for IDispatch with E_NOINTERFACE
  // Untyped objects answer Invoke with DISP_E_MEMBERNOTFOUND for every kind not listed here.
  std::map<DISPID, WORD> untypedKinds;
  std::wstring name;
  long level = 0;
  double itemCount = 0;
  double firstIndex = 0;
  ComObject child;
  std::vector<TestObject*> madeChildren;

 private:
  explicit TestObject(bool typed) : typed_(typed) {}
  virtual ~TestObject() = default;
  HRESULT Answer(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result);

  bool typed_;
  ULONG references_ = 1;
  LONG addRefs_ = 0;
};

// The object's own type information (built once per process).
ITypeInfo* TestTypeInfo();

}  // namespace harvester::testing
