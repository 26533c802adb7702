#pragma once
// Splits a fuzzer's bytes into the arguments of one call: small numbers first, then texts.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace harvester::fuzzing {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

  // Eight switches from one byte.
  std::uint8_t Switches() { return Byte(); }
  // A position from one byte: -4..251, so starts below 1 and past the end both come up.
  int Position() { return static_cast<int>(Byte()) - 4; }
  // A text of at most 31 bytes, its length from one byte.
  std::string_view ShortText() { return Take(Byte() % 32); }
  std::string_view Rest() { return Take(rest_.size()); }

 private:
  std::uint8_t Byte() { return rest_.empty() ? 0 : static_cast<std::uint8_t>(Take(1)[0]); }
  std::string_view Take(std::size_t count) {
    const std::string_view taken = rest_.substr(0, count);
    rest_.remove_prefix(taken.size());
    return taken;
  }
  std::string_view rest_;
};

}  // namespace harvester::fuzzing
