#pragma once
// Milliseconds by the performance counter.
#include <windows.h>

namespace harvester::bench {

inline double NowMs() {
  static const double perMs = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / perMs;
}

// Time since the last lap (or since it was made).
class Stopwatch {
 public:
  double Lap() {
    const double now = NowMs();
    const double lap = now - last_;
    last_ = now;
    return lap;
  }

 private:
  double last_ = NowMs();
};

}  // namespace harvester::bench
