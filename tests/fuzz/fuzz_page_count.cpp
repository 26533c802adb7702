// The page count conversion against the plain rule.
#include <cmath>
#include <cstdlib>

#include "harvest/page_count.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 256) return 0;  // the reference's pattern engine recurses per character
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const double value = harvester::ReadPageCount(text);
  const double expected = harvester::reference::ReadPageCount(text);
  const bool same = value == expected || (std::isnan(value) && std::isnan(expected));
  if (!same || std::signbit(value) != std::signbit(expected)) std::abort();
  return 0;
}
