#include "bench/run/fetch_wait.h"

#include <cstdint>

#include "automation/calls.h"
#include "bench/run/clock.h"
#include "harvest/fetch.h"

namespace harvester::bench {
namespace {

// The object's own wait: one WaitForResponse(8) after the GET, without the program's headers
// and time-outs, which do not change how long an immediate answer takes.
Bytes FetchWithTheObjectsOwnWait(ComObject& request, const std::string& url) {
  Create(request, "Winhttp.WinHttpRequest.5.1");
  CallMethod(request, "Open", {"GET", url, true});
  CallMethod(request, "Send");
  if (!CallBoolMethod(request, "WaitForResponse", {std::int32_t{8}})) return {};
  Variant body = ReadProperty(request, "ResponseBody");
  return ToBytes(body);
}

}  // namespace

FetchWaitTimes MeasureFetchWait(const std::string& url, int fetches) {
  FetchWaitTimes times;
  ComObject request;
  const Bytes first = FetchPage(request, url);
  times.sameBytes = !first.empty();
  for (int i = 0; i < fetches; ++i) {
    Stopwatch watch;
    times.sameBytes &= FetchPage(request, url) == first;
    times.fetchPageMs += watch.Lap();
    times.sameBytes &= FetchWithTheObjectsOwnWait(request, url) == first;
    times.ownWaitMs += watch.Lap();
  }
  times.fetchPageMs /= fetches;
  times.ownWaitMs /= fetches;
  return times;
}

}  // namespace harvester::bench
