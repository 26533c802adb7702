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
constexpr UINT kWatchEveryMs = 100;

// One wait for a response, watched by a timer of the thread. The object's WaitForResponse
// dispatches window messages while it waits and starts its own time-out again on every
// message, the timer's too, so the wait itself may never end while messages arrive (Wine 8).
// The timer's procedure runs inside that wait: at the deadline, or when the fetch is to stop,
// it calls "Abort", which ends the wait at once with a failure. The waits of nested fetches
// form a chain, each found by its timer.
struct ResponseWait {
  const ComObject* request;
  ULONGLONG deadline;
  const StopQuery* shouldStop;
  UINT_PTR timer = 0;
  bool aborted = false;
  ResponseWait* outer = nullptr;

  bool Over() const { return GetTickCount64() >= deadline || (*shouldStop && (*shouldStop)()); }
  void Abort() {
    if (aborted) return;
    aborted = true;
    CallMethod(*request, "Abort");
  }
};

ResponseWait* g_innermostWait = nullptr;

void CALLBACK WatchResponseWait(HWND, UINT, UINT_PTR timer, DWORD) {
  // A tick that was queued before its wait ended finds no wait and does nothing.
  for (ResponseWait* wait = g_innermostWait; wait; wait = wait->outer) {
    if (wait->timer != timer) continue;
    if (wait->Over()) wait->Abort();
    return;
  }
}

// Waits for the complete response until the deadline or until the fetch is to stop. With a
// time-out of 0 WaitForResponse never reports a response as complete (Wine 8), so it is asked
// with the shortest time-out that works, 1 second, again and again: where messages do not
// restart its time-out, this loop alone keeps the deadline within a second. A response that
// answers at once ends the first wait at once. After "Abort" the object is not waited on
// again: its wait would not end while messages arrive.
bool WaitForCompleteResponse(const ComObject& request, const StopQuery& shouldStop) {
  ResponseWait wait{&request, GetTickCount64() + kResponseWaitMs, &shouldStop};
  wait.outer = g_innermostWait;
  g_innermostWait = &wait;
  wait.timer = SetTimer(nullptr, 0, kWatchEveryMs, WatchResponseWait);
  bool complete = false;
  while (!wait.aborted) {
    if (wait.Over()) {
      wait.Abort();
      break;
    }
    complete = CallBoolMethod(request, "WaitForResponse", {std::int32_t{1}});
    if (complete || LastCallError() != kCallOk) break;
  }
  if (wait.timer) KillTimer(nullptr, wait.timer);
  g_innermostWait = wait.outer;
  if (!complete && !wait.aborted) CallMethod(request, "Abort");  // the connection goes now, not on release
  return complete && !wait.aborted;
}

}  // namespace

VariantBytes FetchPageBody(ComObject& requestObject, std::string_view url, const StopQuery& shouldStop) {
  if (shouldStop && shouldStop()) return {};
  // A failed creation keeps the previous request object, which is then used again.
  Create(requestObject, kRequestProgId);
  CallMethod(requestObject, "Open", {"GET", url, true});
  if (LastCallError() != kCallOk) return {};  // nothing was sent, so there is nothing to wait for
  CallMethod(requestObject, "SetRequestHeader", {"Content-Type", "application/x-www-form-urlencoded"});
  CallMethod(requestObject, "SetRequestHeader", {"User-Agent", kMobileBrowser});
  CallMethod(requestObject, "Send");
  // A response that did not complete is not read: reading "ResponseBody" of a request whose
  // wait failed can fault inside the object (Wine 8).
  if (!WaitForCompleteResponse(requestObject, shouldStop)) return {};
  Variant body = ReadProperty(requestObject, "ResponseBody");
  return VariantBytes(std::move(body));
}

Bytes FetchPage(ComObject& requestObject, std::string_view url, const StopQuery& shouldStop) {
  const VariantBytes body = FetchPageBody(requestObject, url, shouldStop);
  return Bytes(body.Get().begin(), body.Get().end());
}

}  // namespace harvester
