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
// A wait of 1 s that says no sooner than this did not wait: the object already held the
// complete response (Wine 8 answers such a wait at once without saying yes).
constexpr ULONGLONG kAnsweredWithoutWaitingMs = 500;
constexpr ULONGLONG kSecondEndSignalMs = 200;

// One wait for a response, watched by a timer of the thread. The object's WaitForResponse
// dispatches window messages while it waits and starts its own time-out again on every
// message, the timer's too, so the wait itself may never end while messages arrive (Wine 8).
// The timer's procedure runs inside that wait: at the deadline, or when the fetch is to stop,
// it gives the request up, which ends the wait at once. The waits of nested fetches form a
// chain, each found by its timer.
struct ResponseWait {
  const ComObject* request;
  std::string_view url;
  const StopQuery* shouldStop;
  ULONGLONG deadline;
  UINT_PTR timer = 0;
  bool insideWait = false;  // in the object's WaitForResponse
  bool givenUp = false;
  ResponseWait* outer = nullptr;

  bool Over() const { return GetTickCount64() >= deadline || (*shouldStop && (*shouldStop)()); }
};

ResponseWait* g_innermostWait = nullptr;

// After "Abort" Wine 8's object signals the end of the cancelled transfer twice, a moment
// apart, and "Abort" itself waits for one of them; a wait of 0 s takes the other one, and fails
// once it has. When the two signals came together, "Abort" took both and there is none left.
void TakeSecondEndSignal(const ComObject& request) {
  const ULONGLONG end = GetTickCount64() + kSecondEndSignalMs;
  do {
    CallBoolMethod(request, "WaitForResponse", {std::int32_t{0}});
    if (LastCallError() != kCallOk) return;
    Sleep(5);
  } while (GetTickCount64() < end);
}

// Cancels the transfer. A WaitForResponse in progress ends with the end signal of the object's
// transfer, which "Abort" may have taken itself (see above) or which was just taken here, so
// it is given one more: the object is opened again and sent with time-outs that it accepts but
// its transfer cannot apply, so the transfer ends at once, before reaching the network, and
// signals its end. Where time-outs below -1 are refused at once, nothing is sent.
void GiveUp(ResponseWait& wait) {
  if (wait.givenUp) return;
  wait.givenUp = true;
  const ComObject& request = *wait.request;
  CallMethod(request, "Abort");
  TakeSecondEndSignal(request);
  if (!wait.insideWait) return;
  CallMethod(request, "Open", {"GET", wait.url, true});
  if (LastCallError() != kCallOk) return;
  constexpr std::int32_t kInvalid = -2;
  CallMethod(request, "SetTimeouts", {kInvalid, kInvalid, kInvalid, kInvalid});
  if (LastCallError() == kCallOk) CallMethod(request, "Send");
}

void CALLBACK WatchResponseWait(HWND, UINT, UINT_PTR timer, DWORD) {
  // A tick that was queued before its wait ended finds no wait and does nothing.
  for (ResponseWait* wait = g_innermostWait; wait; wait = wait->outer) {
    if (wait->timer != timer) continue;
    if (wait->Over()) GiveUp(*wait);
    return;
  }
}

// Waits for the complete response until the deadline or until the fetch is to stop.
// WaitForResponse is asked with a time-out of 1 second again and again: where messages do not
// restart its time-out, this loop alone keeps the deadline within a second. Once the object
// holds the complete response, Wine 8 answers every wait at once without saying yes (so a
// time-out of 0 would never tell), and a "no" that came back without waiting means complete.
bool WaitForCompleteResponse(const ComObject& request, std::string_view url, const StopQuery& shouldStop) {
  ResponseWait wait{&request, url, &shouldStop, GetTickCount64() + kResponseWaitMs};
  wait.outer = g_innermostWait;
  g_innermostWait = &wait;
  wait.timer = SetTimer(nullptr, 0, kWatchEveryMs, WatchResponseWait);
  bool complete = false;
  while (!wait.givenUp) {
    if (wait.Over()) {
      GiveUp(wait);
      break;
    }
    const ULONGLONG asked = GetTickCount64();
    wait.insideWait = true;
    complete = CallBoolMethod(request, "WaitForResponse", {std::int32_t{1}});
    wait.insideWait = false;
    if (LastCallError() != kCallOk) break;  // the transfer failed and is over
    if (!complete && GetTickCount64() - asked < kAnsweredWithoutWaitingMs) complete = true;
    if (complete) break;
  }
  if (wait.timer) KillTimer(nullptr, wait.timer);
  g_innermostWait = wait.outer;
  return complete && !wait.givenUp;
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
  if (!WaitForCompleteResponse(requestObject, url, shouldStop)) return {};
  Variant body = ReadProperty(requestObject, "ResponseBody");
  return VariantBytes(std::move(body));
}

Bytes FetchPage(ComObject& requestObject, std::string_view url, const StopQuery& shouldStop) {
  const VariantBytes body = FetchPageBody(requestObject, url, shouldStop);
  return Bytes(body.Get().begin(), body.Get().end());
}

}  // namespace harvester
