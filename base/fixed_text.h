#pragma once
// Text built in place, for the reports that must not allocate: the fatal-error box and the
// report of a failed allocation.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/lead_byte.h"

namespace harvester {

// The decimal digits of a number, held in place.
class Decimal {
 public:
  explicit Decimal(std::uint64_t value) { Fill(value, false); }
  explicit Decimal(int value) {
    const bool negative = value < 0;
    // Through unsigned arithmetic: the magnitude of INT_MIN does not fit an int.
    const std::uint64_t magnitude = negative ? std::uint64_t{0} - static_cast<std::uint64_t>(value)
                                             : static_cast<std::uint64_t>(value);
    Fill(magnitude, negative);
  }
  std::string_view View() const { return {digits_ + start_, sizeof digits_ - start_}; }

 private:
  void Fill(std::uint64_t value, bool negative) {
    do {
      digits_[--start_] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    if (negative) digits_[--start_] = '-';
  }
  char digits_[21] = {};  // 20 digits of 2^64 - 1 and a sign
  std::size_t start_ = sizeof digits_;
};

// Program text in a fixed buffer, always NUL-terminated: whole characters that do not fit are
// left off (a two-byte character is never cut in half).
class FixedText {
 public:
  FixedText(char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) { buffer_[0] = '\0'; }
  void Append(std::string_view text) {
    for (std::size_t i = 0; i < text.size() && !full_;) {
      const std::size_t width = IsLeadByte(text[i]) && i + 1 < text.size() ? 2 : 1;
      if (length_ + width >= capacity_) {
        full_ = true;  // nothing after a character left off
        break;
      }
      for (std::size_t k = 0; k < width; ++k) buffer_[length_++] = text[i++];
    }
    buffer_[length_] = '\0';
  }
  std::size_t Length() const { return length_; }

 private:
  char* buffer_;
  std::size_t capacity_;
  std::size_t length_ = 0;
  bool full_ = false;
};

}  // namespace harvester
