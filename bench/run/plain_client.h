#pragma once
// The baseline of the run: the same GET requests made with the WinHTTP C API directly, one
// session per request as the run makes one request object per fetch, bodies read whole.
#include <string>
#include <vector>

namespace harvester::bench {

struct PlainTimes {
  double openMs = 0;     // session, connection and request handles
  double sendMs = 0;     // request sent and response head received
  double readMs = 0;     // body read whole
  double closeMs = 0;    // handles closed
  double TotalMs() const { return openMs + sendMs + readMs + closeMs; }
};

// Fetches every URL ("http://host:port/path?query") in order, each body read whole into memory
// and dropped, and returns the bodies' fingerprints (that of the empty body for a failed
// request); times adds up the time of each step.
std::vector<unsigned long long> PlainFetchAll(const std::vector<std::string>& urls, PlainTimes& times);

}  // namespace harvester::bench
