#include "harvest/fetch.h"

#include <windows.h>

#include "automation/calls.h"

namespace harvester {
namespace {

constexpr char kRequestProgId[] = "Winhttp.WinHttpRequest.5.1";
constexpr char kMobileBrowser[] =
    "Mozilla/5.0 (iPhone; U; CPU iPhone OS 3_0 like Mac OS X; en-us) AppleWebKit/528.18 "
    "(KHTML, like Gecko) Version/4.0 Mobile/7A341 Safari/528.16";
constexpr ULONGLONG kResponseWaitMs = 8000;
// Receive time-out of the connection: a server that stops sending in the middle of a response
// ends the object's own wait after this long even while messages keep restarting it. The
// other time-outs are the object's defaults (resolve unlimited, connect 60 s, send 30 s).
constexpr std::int32_t kResolveTimeoutMs = 0;
constexpr std::int32_t kConnectTimeoutMs = 60000;
constexpr std::int32_t kSendTimeoutMs = 30000;
constexpr std::int32_t kReceiveTimeoutMs = 8000;

// Waits for the complete response for at most kResponseWaitMs by the program's own clock.
// The object's WaitForResponse dispatches window messages while it waits and starts its
// time-out again on every message, so one long wait could hold a fetch for ever; and with a
// time-out of 0 it never reports a response as complete (Wine 8). So it is asked with the
// shortest time-out that works, 1 second, again and again until the deadline. A response that
// answers at once ends the first wait at once.
bool WaitForCompleteResponse(const ComObject& request) {
  const ULONGLONG deadline = GetTickCount64() + kResponseWaitMs;
  do {
    if (CallBoolMethod(request, "WaitForResponse", {std::int32_t{1}})) return true;
    if (LastCallError() != kCallOk) return false;
  } while (GetTickCount64() < deadline);
  return false;
}

}  // namespace

VariantBytes FetchPageBody(ComObject& requestObject, std::string_view url) {
  // A failed creation keeps the previous request object, which is then used again.
  Create(requestObject, kRequestProgId);
  CallMethod(requestObject, "Open", {"GET", url, true});
  if (LastCallError() != kCallOk) return {};  // nothing was sent, so there is nothing to wait for
  CallMethod(requestObject, "SetRequestHeader", {"Content-Type", "application/x-www-form-urlencoded"});
  CallMethod(requestObject, "SetRequestHeader", {"User-Agent", kMobileBrowser});
  CallMethod(requestObject, "SetTimeouts",
             {kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs});
  CallMethod(requestObject, "Send");
  if (!WaitForCompleteResponse(requestObject)) {
    // Abandoned: the connection is given up now rather than when the object is released.
    CallMethod(requestObject, "Abort");
    return {};
  }
  Variant body = ReadProperty(requestObject, "ResponseBody");
  return VariantBytes(std::move(body));
}

Bytes FetchPage(ComObject& requestObject, std::string_view url) {
  const VariantBytes body = FetchPageBody(requestObject, url);
  return Bytes(body.Get().begin(), body.Get().end());
}

}  // namespace harvester
