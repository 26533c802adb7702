#pragma once
// A small fixed generator for made-up pages: the same seed gives the same bytes on every run,
// so a test or a benchmark always works on the same input.
#include <cstdint>

namespace harvester::testing {

class SeededRandom {
 public:
  explicit SeededRandom(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  // A number from 0 to bound - 1.
  std::uint32_t Next(std::uint32_t bound) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state_ >> 33) % bound;
  }

 private:
  std::uint64_t state_;
};

}  // namespace harvester::testing
