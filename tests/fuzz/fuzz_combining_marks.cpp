// The scan for combining marks, eight and thirty-two units at a time, against the plain loop.
#include <cstdlib>
#include <string>

#include "harvest/combining_marks.h"
#include "tests/fuzz/reference.h"

namespace {

// An odd first byte makes every further byte one unit near the edges of the commonest marks, so
// that marks and their neighbours come up often; an even one takes the bytes as little-endian units.
std::u16string Units(const std::uint8_t* data, std::size_t size) {
  std::u16string units;
  if (size == 0) return units;
  if (data[0] % 2 == 1) {
    for (std::size_t i = 1; i < size; ++i) {
      const unsigned byte = data[i];
      if (byte < 128) units += static_cast<char16_t>(0x4E00 + byte);               // Chinese
      else if (byte < 192) units += static_cast<char16_t>(0x02E0 + (byte - 128));  // U+02E0..U+031F
      else if (byte < 224) units += static_cast<char16_t>(0x3090 + (byte - 192));  // U+3090..U+30AF
      else units += static_cast<char16_t>(0xFE00 + 2 * (byte - 224));              // U+FE00..U+FE3E
    }
  } else {
    for (std::size_t i = 1; i + 1 < size; i += 2) units += static_cast<char16_t>(data[i] | data[i + 1] << 8);
  }
  return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string units = Units(data, size);
  const std::u16string_view text(units);
  // Every start up to a block, and every end up to a block before the last unit.
  for (std::size_t start = 0; start <= 8 && start <= text.size(); ++start) {
    for (std::size_t cut = 0; cut <= 8 && start + cut <= text.size(); ++cut) {
      const std::u16string_view part = text.substr(start, text.size() - start - cut);
      if (harvester::HasCombiningMark(part) != harvester::reference::HasCombiningMark(part)) std::abort();
    }
  }
  return 0;
}
