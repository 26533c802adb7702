// The quote marker replacement and the byte offset of found texts against the plain rules.
#include <cstdlib>

#include "automation/pattern_text.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace harvester;
  fuzzing::Input input(data, size);
  const int firstIndex = input.Position();
  const std::string_view text = input.ShortText();
  const std::string_view subject = input.Rest();

  if (ReplaceQuoteMarker(subject) != reference::ReplaceQuoteMarker(subject)) std::abort();
  if (FindTextOffset(subject, text, firstIndex) != reference::FindTextOffset(subject, text, firstIndex))
    std::abort();
  return 0;
}
