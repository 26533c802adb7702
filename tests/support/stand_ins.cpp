#include "tests/support/stand_ins.h"

#include <ole2.h>

#include <utility>

namespace harvester::testing {
namespace {

class StandInFactory : public IClassFactory {
 public:
  StandInFactory(ComPtr<IClassFactory> real, ClassStandIn::MakeStandIn makeStandIn)
      : real_(std::move(real)), makeStandIn_(std::move(makeStandIn)) {}
  StandInFactory(const StandInFactory&) = delete;
  StandInFactory& operator=(const StandInFactory&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    ComPtr<IDispatch> real;
    const HRESULT hr = real_->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(real.Put()));
    if (FAILED(hr)) return hr;
    IDispatch* standIn = makeStandIn_(std::move(real));
    if (!standIn) return CLASS_E_CLASSNOTAVAILABLE;
    const HRESULT asked = standIn->QueryInterface(riid, object);
    standIn->Release();
    return asked;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  virtual ~StandInFactory() = default;

  ComPtr<IClassFactory> real_;
  ClassStandIn::MakeStandIn makeStandIn_;
  ULONG references_ = 1;
};

}  // namespace

STDMETHODIMP ForwardingDispatch::QueryInterface(REFIID riid, void** object) {
  *object = nullptr;
  if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
  *object = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) ForwardingDispatch::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

DISPID ForwardingDispatch::RealId(const wchar_t* name) const {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  if (FAILED(real_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return DISPID_UNKNOWN;
  return id;
}

ClassStandIn::ClassStandIn(const wchar_t* progId, MakeStandIn makeStandIn) {
  CLSID clsid;
  ComPtr<IClassFactory> real;
  if (FAILED(CLSIDFromProgID(progId, &clsid)) ||
      FAILED(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                              reinterpret_cast<void**>(real.Put())))) {
    return;
  }
  auto* factory = new StandInFactory(std::move(real), std::move(makeStandIn));
  if (FAILED(CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_))) cookie_ = 0;
  factory->Release();  // the registration holds its own reference
}

ClassStandIn::~ClassStandIn() {
  if (cookie_) CoRevokeClassObject(cookie_);
}

}  // namespace harvester::testing
