#include "tests/harvest/request_doubles.h"

#include <ole2.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <thread>

#include "base/message_queue.h"
#include "base/owners.h"
#include "harvest/fetch.h"
#include "tests/support/stand_ins.h"

namespace harvester::testing {

// The object's own interface (its type library's IWinHttpRequest), as far as the wait; mingw-w64
// does not declare it. Through it a double sees whether the object's wait set its answer at all.
// (Declared outside the unnamed namespace: there the compiler, seeing no class that implements
// it, would take its calls for calls of pure virtual functions.)
struct RequestInterface : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE SetProxy(LONG, VARIANT, VARIANT) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCredentials(BSTR, BSTR, LONG) = 0;
  virtual HRESULT STDMETHODCALLTYPE Open(BSTR, BSTR, VARIANT) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetRequestHeader(BSTR, BSTR) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetResponseHeader(BSTR, BSTR*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAllResponseHeaders(BSTR*) = 0;
  virtual HRESULT STDMETHODCALLTYPE Send(VARIANT) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Status(LONG*) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_StatusText(BSTR*) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ResponseText(BSTR*) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ResponseBody(VARIANT*) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ResponseStream(VARIANT*) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Option(LONG, VARIANT*) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Option(LONG, VARIANT) = 0;
  virtual HRESULT STDMETHODCALLTYPE WaitForResponse(VARIANT, VARIANT_BOOL*) = 0;
};

namespace {

constexpr wchar_t kRequestProgId[] = L"WinHttp.WinHttpRequest.5.1";
// A wait with time-out -1 waits without end; a double's stays bounded.
constexpr ULONGLONG kLongestWaitMs = 60000;
constexpr DWORD kPollEveryMs = 10;
constexpr VARIANT_BOOL kNotAnswered = 0x5A5A;
constexpr IID kRequestInterfaceId = {0x016fe2ec, 0xb2c8, 0x45f8, {0xb2, 0x3b, 0x39, 0xe5, 0x3a, 0x75, 0x39, 0x6b}};

std::string Narrow(const wchar_t* wide) {
  std::string text;
  for (; wide && *wide; ++wide) text += static_cast<char>(*wide);  // addresses are ASCII
  return text;
}

class RequestDouble : public ForwardingDispatch {
 public:
  RequestDouble(ComPtr<IDispatch> real, RequestMode mode, RequestFault fault, std::shared_ptr<RequestLog> log)
      : ForwardingDispatch(std::move(real)), mode_(mode),
        sendFails_(fault == RequestFault::kSendFails && Documented()),
        openAfterAbortFails_(fault == RequestFault::kOpenAfterAbortFails && mode == RequestMode::kWine),
        log_(std::move(log)) {
    Real()->QueryInterface(kRequestInterfaceId, reinterpret_cast<void**>(request_.Put()));
  }

  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override;

 private:
  struct Poll {
    HRESULT result = S_OK;
    bool complete = false;
  };

  std::string MemberName(DISPID id);
  bool Documented() const { return mode_ == RequestMode::kDocumented || mode_ == RequestMode::kDocumentedPumping; }
  HRESULT Answer(const std::string& member, DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* argumentError);
  HRESULT DocumentedWait(const DISPPARAMS& params, VARIANT* result);
  Poll PollRealObject();

  ComPtr<RequestInterface> request_;
  RequestMode mode_;
  bool sendFails_, openAfterAbortFails_;
  std::shared_ptr<RequestLog> log_;
  std::map<DISPID, std::string> names_;
  bool sent_ = false, aborted_ = false, failedWait_ = false, complete_ = false;
  HRESULT failure_ = S_OK;
};

std::string RequestDouble::MemberName(DISPID id) {
  if (const auto known = names_.find(id); known != names_.end()) return known->second;
  ComPtr<ITypeInfo> info;
  BSTR name = nullptr;
  if (SUCCEEDED(Real()->GetTypeInfo(0, 0, info.Put())) && info) info->GetDocumentation(id, &name, nullptr, nullptr, nullptr);
  const UniqueBstr owned(name);
  return names_[id] = Narrow(name);
}

STDMETHODIMP RequestDouble::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  RequestCall call{.member = MemberName(id), .afterAbort = aborted_, .afterFailedWait = failedWait_};
  if (call.member == "Open" && params->cArgs >= 2 && params->rgvarg[params->cArgs - 2].vt == VT_BSTR)
    call.url = Narrow(params->rgvarg[params->cArgs - 2].bstrVal);
  if (call.member == "ResponseBody") call.responseComplete = PollRealObject().complete;
  log_->push_back(call);  // before the call: calls made inside a wait come after it
  const HRESULT hr = Answer(call.member, id, riid, lcid, flags, params, result, exception, argumentError);
  if (call.member == "Send" && SUCCEEDED(hr)) sent_ = true;
  if (call.member == "Abort") aborted_ = true;
  if (call.member == "WaitForResponse" && FAILED(hr)) failedWait_ = true;
  return hr;
}

HRESULT RequestDouble::Answer(const std::string& member, DISPID id, REFIID riid, LCID lcid, WORD flags,
                              DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  if (Documented() && member == "WaitForResponse") return DocumentedWait(*params, result);
  if (sendFails_ && member == "Send") return HRESULT_FROM_WIN32(ERROR_WINHTTP_CANNOT_CONNECT);
  if (openAfterAbortFails_ && aborted_ && member == "Open") return HRESULT_FROM_WIN32(ERROR_WINHTTP_OPERATION_CANCELLED);
  if (Documented() && member == "SetTimeouts") {
    for (UINT i = 0; i < params->cArgs; ++i) {
      VARIANT value;
      VariantInit(&value);
      if (FAILED(VariantChangeType(&value, &params->rgvarg[i], 0, VT_I4)) || value.lVal < -1) return E_INVALIDARG;
    }
  }
  return ForwardingDispatch::Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
}

// True once the response has been received, false only when the whole time-out has passed;
// failed when the transfer failed. Once aborted, or after a "Send" that failed, the wait runs
// out its time-out.
HRESULT RequestDouble::DocumentedWait(const DISPPARAMS& params, VARIANT* result) {
  if (!sent_ && !sendFails_) return HRESULT_FROM_WIN32(ERROR_WINHTTP_CANNOT_CALL_BEFORE_SEND);
  VARIANT seconds;
  VariantInit(&seconds);
  if (params.cArgs != 1 || FAILED(VariantChangeType(&seconds, &params.rgvarg[0], 0, VT_I4))) return E_INVALIDARG;
  const ULONGLONG waitMs = seconds.lVal < 0 ? kLongestWaitMs : static_cast<ULONGLONG>(seconds.lVal) * 1000;
  const ULONGLONG end = GetTickCount64() + waitMs;
  Poll poll;
  for (;;) {
    if (mode_ == RequestMode::kDocumentedPumping) DispatchQueuedMessages();
    if (!aborted_ && sent_) poll = PollRealObject();
    if (FAILED(poll.result) || poll.complete) break;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) break;
    const DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(kPollEveryMs, end - now));
    if (mode_ == RequestMode::kDocumentedPumping) {
      MsgWaitForMultipleObjectsEx(0, nullptr, slice, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    } else {
      Sleep(slice);
    }
  }
  if (FAILED(poll.result)) return poll.result;
  if (result) {
    VariantClear(result);
    result->vt = VT_BOOL;
    result->boolVal = poll.complete ? VARIANT_TRUE : VARIANT_FALSE;
  }
  return S_OK;
}

// Asks the real object's wait with a time-out of 0 from a thread of its own, where it finds no
// message to dispatch. Wine's object answers a complete response without setting the answer.
RequestDouble::Poll RequestDouble::PollRealObject() {
  if (!complete_ && SUCCEEDED(failure_) && request_) {
    VARIANT_BOOL answer = kNotAnswered;
    HRESULT hr = S_OK;
    std::thread([&] {
      VARIANT none;
      VariantInit(&none);
      none.vt = VT_I4;
      none.lVal = 0;
      hr = request_->WaitForResponse(none, &answer);
    }).join();
    if (FAILED(hr)) failure_ = hr;
    complete_ = SUCCEEDED(hr) && answer != VARIANT_FALSE;
  }
  return {failure_, complete_};
}

}  // namespace

std::string ModeName(const ::testing::TestParamInfo<RequestMode>& mode) {
  switch (mode.param) {
    case RequestMode::kPlatform: return "Platform";
    case RequestMode::kWine: return "Wine8";
    case RequestMode::kDocumented: return "Documented";
    case RequestMode::kDocumentedPumping: return "DocumentedPumping";
  }
  return "?";
}

RequestDoubles::RequestDoubles(RequestMode mode, RequestFault fault) : mode_(mode) {
  ForgetRequestObjectKind();
  if (mode == RequestMode::kPlatform) return;
  standIn_ = std::make_unique<ClassStandIn>(kRequestProgId, [mode, fault, logs = logs_](ComPtr<IDispatch> real) {
    return new RequestDouble(std::move(real), mode, fault, logs->emplace_back(std::make_shared<RequestLog>()));
  });
}

RequestDoubles::~RequestDoubles() {
  standIn_.reset();
  ForgetRequestObjectKind();
}

RequestLog RequestDoubles::CallsFor(const std::string& url) const {
  for (auto log = logs_->rbegin(); log != logs_->rend(); ++log)
    if (!(*log)->empty() && (*log)->front().member == "Open" && (*log)->front().url == url) return **log;
  return {};
}

std::string RequestDoubles::BrokenRules() const {
  std::string broken;
  const bool documented = mode_ == RequestMode::kDocumented || mode_ == RequestMode::kDocumentedPumping;
  for (const auto& log : *logs_) {
    int opened = 0, sent = 0, afterAbort = 0;
    const std::string url = log->empty() ? "" : log->front().url;
    for (const RequestCall& call : *log) {
      opened += call.member == "Open";
      sent += call.member == "Send";
      if (documented && call.afterAbort && afterAbort++ == 0)
        broken += "asked for " + call.member + " after Abort: " + url + "\n";
      if (call.member != "ResponseBody") continue;
      if (!call.responseComplete) broken += "body read before the response was complete: " + url + "\n";
      if (call.afterFailedWait) broken += "body read after a failed wait: " + url + "\n";
      if (call.afterAbort) broken += "body read after Abort: " + url + "\n";
    }
    if (documented && (opened > 1 || sent > 1)) broken += "opened or sent again: " + url + "\n";
  }
  return broken;
}

void RequestDoubles::ExpectGivenUp(const std::string& url) const {
  if (!Recording()) return;
  const RequestLog calls = CallsFor(url);
  const auto called = [&calls](const char* member) {
    return std::any_of(calls.begin(), calls.end(), [member](const RequestCall& call) { return call.member == member; });
  };
  EXPECT_TRUE(called("Abort")) << url;
  EXPECT_FALSE(called("ResponseBody")) << url;
}

}  // namespace harvester::testing
