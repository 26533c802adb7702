#pragma once
// An answer that comes at once, fetched two ways: by FetchPage, whose wait asks the request
// object again and again with a time-out of 1 second until its own 8-second deadline, and by
// the object's own wait of 8 seconds in one call. For an immediate answer both end as soon as
// it is complete.
#include <string>

namespace harvester::bench {

struct FetchWaitTimes {
  double fetchPageMs = 0;  // average of the fetches
  double ownWaitMs = 0;    // average of the fetches
  bool sameBytes = false;  // every fetch of both ways gave the bytes of the first
};

FetchWaitTimes MeasureFetchWait(const std::string& url, int fetches);

}  // namespace harvester::bench
