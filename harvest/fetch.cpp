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
constexpr DWORD kPollMs = 2;

// Waits for the complete response for at most kResponseWaitMs by the program's own clock.
// WaitForResponse with a time-out dispatches window messages while it waits and starts its
// time-out again on every message (so a steady stream of messages would hold a fetch for ever),
// and it costs tens of milliseconds even when the answer is already there; asked with 0 it
// only looks. Between looks the thread sleeps, so no message of the program is dispatched here.
bool WaitForCompleteResponse(const ComObject& request) {
  const ULONGLONG deadline = GetTickCount64() + kResponseWaitMs;
  for (;;) {
    if (CallBoolMethod(request, "WaitForResponse", {std::int32_t{0}})) return true;
    if (LastCallError() != kCallOk || GetTickCount64() >= deadline) return false;
    Sleep(kPollMs);
  }
}

}  // namespace

Bytes FetchPage(ComObject& requestObject, std::string_view url) {
  // A failed creation keeps the previous request object, which is then used again.
  Create(requestObject, kRequestProgId);
  CallMethod(requestObject, "Open", {"GET", url, true});
  if (LastCallError() != kCallOk) return {};  // nothing was sent, so there is nothing to wait for
  CallMethod(requestObject, "SetRequestHeader", {"Content-Type", "application/x-www-form-urlencoded"});
  CallMethod(requestObject, "SetRequestHeader", {"User-Agent", kMobileBrowser});
  CallMethod(requestObject, "Send");
  if (!WaitForCompleteResponse(requestObject)) {
    // Abandoned: the connection is given up now rather than when the object is released.
    CallMethod(requestObject, "Abort");
    return {};
  }
  Variant body = ReadProperty(requestObject, "ResponseBody");
  Bytes bytes = ToBytes(body);
  Clear(body);
  return bytes;
}

}  // namespace harvester
