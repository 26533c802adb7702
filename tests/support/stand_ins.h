#pragma once
// Stand-ins for platform automation objects inside the test process: an object that passes
// every call on to a real one (for doubles to change what they need), and the registration
// that makes the program's own Create of a ProgID get such objects.
#include <windows.h>
#include <oaidl.h>

#include <functional>

#include "base/owners.h"

namespace harvester::testing {

// An IDispatch that hands every call to the real object it wraps; its references are its own.
class ForwardingDispatch : public IDispatch {
 public:
  explicit ForwardingDispatch(ComPtr<IDispatch> real) : real_(std::move(real)) {}
  ForwardingDispatch(const ForwardingDispatch&) = delete;
  ForwardingDispatch& operator=(const ForwardingDispatch&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override { return real_->GetTypeInfoCount(count); }
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
    return real_->GetTypeInfo(index, lcid, info);
  }
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
    return real_->GetIDsOfNames(riid, names, count, lcid, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override {
    return real_->Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
  }

 protected:
  virtual ~ForwardingDispatch() = default;
  IDispatch* Real() const { return real_.Get(); }
  // The real object's id of a member name; DISPID_UNKNOWN when it has none.
  DISPID RealId(const wchar_t* name) const;

 private:
  ComPtr<IDispatch> real_;
  ULONG references_ = 1;
};

// While it lives, every object this process makes of the ProgID's class is the stand-in that
// makeStandIn makes around a real object of the class (made by the class's own factory, which
// is taken before the stand-in's is registered in its place). makeStandIn returns one reference,
// or nullptr: then the class cannot be created, as on a system without it.
class ClassStandIn {
 public:
  using MakeStandIn = std::function<IDispatch*(ComPtr<IDispatch> real)>;
  ClassStandIn(const wchar_t* progId, MakeStandIn makeStandIn);
  ClassStandIn(const ClassStandIn&) = delete;
  ClassStandIn& operator=(const ClassStandIn&) = delete;
  ~ClassStandIn();

  bool Registered() const { return cookie_ != 0; }

 private:
  DWORD cookie_ = 0;
};

}  // namespace harvester::testing
