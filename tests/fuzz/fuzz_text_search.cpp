// FindText, GetTextBetween and CutAfterLastClosings against the plain rule, on arbitrary bytes.
#include <cstdlib>

#include "harvest/text_search.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace harvester;
  fuzzing::Input input(data, size);
  const int start = input.Position();
  const std::string_view startMarker = input.ShortText();
  const std::string_view endMarker = input.ShortText();
  const std::string_view text = input.Rest();

  if (FindText(text, startMarker, start) != reference::FindText(text, startMarker, start)) std::abort();
  if (FindText(text, endMarker, start) != reference::FindText(text, endMarker, start)) std::abort();

  int position = start, expectedPosition = start;
  const std::string value = GetTextBetween(text, startMarker, endMarker, position);
  const std::string expected = reference::GetTextBetween(text, startMarker, endMarker, expectedPosition);
  if (value != expected || position != expectedPosition) std::abort();

  // Line ends: the one-byte characters of the end marker that the closing (the start marker) does not hold.
  std::string lineEnds;
  for (const char c : endMarker) {
    if (!IsLeadByte(c) && startMarker.find(c) == std::string_view::npos) lineEnds += c;
  }
  const std::string cut = CutAfterLastClosings(std::string(text), startMarker, lineEnds);
  if (cut != reference::CutAfterLastClosings(text, startMarker, lineEnds)) std::abort();
  return 0;
}
