#include "harvest/fetch.h"

#include <windows.h>

#include "automation/calls.h"
#include "base/message_queue.h"

namespace harvester {
namespace {

constexpr char kRequestProgId[] = "Winhttp.WinHttpRequest.5.1";
constexpr char kMobileBrowser[] =
    "Mozilla/5.0 (iPhone; U; CPU iPhone OS 3_0 like Mac OS X; en-us) AppleWebKit/528.18 "
    "(KHTML, like Gecko) Version/4.0 Mobile/7A341 Safari/528.16";
// Between two looks at the object the thread's messages are dispatched and the stop flag and
// the deadline are checked, in the program's own code, whatever the object's wait does.
constexpr DWORD kSliceMs = 10;
constexpr UINT kWatchEveryMs = 100;
// A wait of 1 s that says no sooner than this did not wait: the object already held the
// complete response (Wine 8 answers such a wait at once without saying yes).
constexpr ULONGLONG kAnsweredWithoutWaitingMs = 500;
constexpr ULONGLONG kSecondEndSignalMs = 200;
constexpr std::int32_t kInvalidTimeout = -2;

// Which kind of request object the platform gives, asked once on a fresh object of its own.
enum class RequestKind {
  kUnknown,
  // "SetTimeouts" refuses values below -1, as documented. "WaitForResponse" says yes once the
  // response has been received, so a wait of 0 s tells at once whether it is complete, and
  // the object is never waited for longer than that.
  kDocumented,
  // "SetTimeouts" takes any value (Wine 8). Its "WaitForResponse" answers a complete response at
  // once without saying yes, so only a wait of 1 s that comes back at once tells; its wait
  // dispatches the thread's messages and restarts its time-out on every one, which the timer
  // below cuts short; and a wait in progress ends only on an end signal of its transfer.
  kAcceptsInvalidTimeouts,
};

RequestKind g_requestKind = RequestKind::kUnknown;
unsigned g_responseWaitMs = kResponseWaitMs;

RequestKind KindOfRequestObject() {
  if (g_requestKind != RequestKind::kUnknown) return g_requestKind;
  ComObject probe;
  Create(probe, kRequestProgId);
  if (IsEmpty(probe)) return RequestKind::kDocumented;  // asked again by the next fetch
  CallMethod(probe, "SetTimeouts", {kInvalidTimeout, kInvalidTimeout, kInvalidTimeout, kInvalidTimeout});
  g_requestKind = LastCallError() == kCallOk ? RequestKind::kAcceptsInvalidTimeouts : RequestKind::kDocumented;
  Clear(probe);
  return g_requestKind;
}

// One wait for a response. A timer of the thread watches it as a second line: its procedure
// runs wherever the thread's messages are dispatched, also inside an object's wait that
// dispatches them and restarts its own time-out on each (Wine 8), and there it gives the request
// up at the deadline or when the fetch is to stop. The waits of nested fetches form a chain,
// each found by its timer.
struct ResponseWait {
  const ComObject* request;
  std::string_view url;
  const StopQuery* shouldStop;
  RequestKind kind;
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

// Cancels the transfer. Nothing else is asked of an object that refuses invalid time-outs: its
// waits never outlast a look, so none is pending, and it is never opened or sent again.
// Wine 8: the end signals are taken as above; a WaitForResponse in progress (the timer fired
// inside it) ends only with an end signal of the object's transfer, which "Abort" may have
// taken, so it is given one more: the object is opened again and sent with time-outs that it
// accepts but its transfer cannot apply, so the transfer ends at once, before reaching the
// network, and signals its end.
void GiveUp(ResponseWait& wait) {
  if (wait.givenUp) return;
  wait.givenUp = true;
  // Its watch is over. Wine 8: every tick of the timer would also start the object's wait of
  // 1 s afresh, so that a wait whose end signal does not come would never end.
  if (wait.timer) KillTimer(nullptr, wait.timer);
  wait.timer = 0;
  const ComObject& request = *wait.request;
  CallMethod(request, "Abort");
  if (wait.kind != RequestKind::kAcceptsInvalidTimeouts) return;
  TakeSecondEndSignal(request);
  if (!wait.insideWait) return;
  CallMethod(request, "Open", {"GET", wait.url, true});
  if (LastCallError() != kCallOk) return;
  CallMethod(request, "SetTimeouts", {kInvalidTimeout, kInvalidTimeout, kInvalidTimeout, kInvalidTimeout});
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

// Waits for the complete response until the deadline or until the fetch is to stop, in slices:
// before each look at the object the messages are dispatched and the stop flag and the deadline
// checked. A documented object is asked with a time-out of 0 and the slice is waited out here,
// woken by any message. Wine 8's is asked with a time-out of 1 s, the shortest that tells a
// complete response from one not yet arrived (a "no" that came back without waiting).
bool WaitForCompleteResponse(const ComObject& request, std::string_view url, const StopQuery& shouldStop,
                             RequestKind kind) {
  ResponseWait wait{&request, url, &shouldStop, kind, GetTickCount64() + g_responseWaitMs};
  wait.outer = g_innermostWait;
  g_innermostWait = &wait;
  wait.timer = SetTimer(nullptr, 0, kWatchEveryMs, WatchResponseWait);
  const bool wine = kind == RequestKind::kAcceptsInvalidTimeouts;
  bool complete = false;
  for (;;) {
    DispatchQueuedMessages();
    if (wait.givenUp) break;  // by the timer, among the messages
    if (wait.Over()) {
      GiveUp(wait);
      break;
    }
    const ULONGLONG asked = GetTickCount64();
    wait.insideWait = true;
    complete = CallBoolMethod(request, "WaitForResponse", {std::int32_t{wine ? 1 : 0}});
    wait.insideWait = false;
    if (LastCallError() != kCallOk || wait.givenUp) break;  // the transfer failed, or was given up
    if (!complete && wine && GetTickCount64() - asked < kAnsweredWithoutWaitingMs) complete = true;
    if (complete) break;
    if (!wine) MsgWaitForMultipleObjectsEx(0, nullptr, kSliceMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  if (wait.timer) KillTimer(nullptr, wait.timer);
  g_innermostWait = wait.outer;
  return complete && !wait.givenUp;
}

}  // namespace

void ForgetRequestObjectKind() { g_requestKind = RequestKind::kUnknown; }

ResponseWaitBound::ResponseWaitBound(unsigned milliseconds) : previous_(g_responseWaitMs) {
  g_responseWaitMs = milliseconds;
}

ResponseWaitBound::~ResponseWaitBound() { g_responseWaitMs = previous_; }

VariantBytes FetchPageBody(ComObject& requestObject, std::string_view url, const StopQuery& shouldStop) {
  if (shouldStop && shouldStop()) return {};
  const RequestKind kind = KindOfRequestObject();
  // A failed creation keeps the previous request object, which is then used again.
  Create(requestObject, kRequestProgId);
  CallMethod(requestObject, "Open", {"GET", url, true});
  if (LastCallError() != kCallOk) return {};  // nothing was sent, so there is nothing to wait for
  CallMethod(requestObject, "SetRequestHeader", {"Content-Type", "application/x-www-form-urlencoded"});
  CallMethod(requestObject, "SetRequestHeader", {"User-Agent", kMobileBrowser});
  CallMethod(requestObject, "Send");
  // A response that did not complete is not read: "ResponseBody" is read only after a wait that
  // said it was complete (reading it after a failed wait can fault inside Wine 8's object).
  if (!WaitForCompleteResponse(requestObject, url, shouldStop, kind)) return {};
  Variant body = ReadProperty(requestObject, "ResponseBody");
  return VariantBytes(std::move(body));
}

Bytes FetchPage(ComObject& requestObject, std::string_view url, const StopQuery& shouldStop) {
  const VariantBytes body = FetchPageBody(requestObject, url, shouldStop);
  return Bytes(body.Get().begin(), body.Get().end());
}

}  // namespace harvester
