// The built-in pattern engine on arbitrary patterns and subjects: nothing it does throws or
// crashes, and its matches keep the rules every search result keeps.
#include <cstdlib>
#include <string>

#include "automation/pattern_engine.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

using namespace harvester;

// UTF-16 units from bytes: a byte is the unit of its value, and 0xFF takes the next two bytes
// as any unit at all (surrogates and beyond Latin-1 included).
std::u16string Units(std::string_view bytes) {
  std::u16string units;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte == 0xFF && i + 2 < bytes.size()) {
      units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i + 1]) << 8 | static_cast<unsigned char>(bytes[i + 2]));
      i += 2;
    } else {
      units += static_cast<char16_t>(byte);
    }
  }
  return units;
}

void Check(bool rule) {
  if (!rule) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::Input input(data, size);
  const std::uint8_t switches = input.Switches();
  const PatternOptions options{(switches & 1) != 0, (switches & 2) != 0, (switches & 4) != 0};
  const std::u16string pattern = Units(input.ShortText());
  const std::u16string replacement = Units(input.ShortText());
  const std::u16string subject = Units(input.Rest());

  const auto compiled = CompiledPattern::Compile(pattern, options);
  if (!compiled) return 0;
  const auto matches = compiled->Execute(subject);
  if (!matches) return 0;  // the library gave up: a failed search, not a crash
  Check(options.global || matches->size() <= 1);
  std::size_t next = 0, removed = 0;
  for (const PatternMatch& match : *matches) {
    // Left to right, apart, inside the subject; after an empty match the next starts further on.
    Check(match.whole.first >= next && match.whole.first + match.whole.length <= subject.size());
    next = match.whole.first + match.whole.length + (match.whole.length == 0 ? 1 : 0);
    removed += match.whole.length;
    Check(match.groups.size() == compiled->GroupCount());
    for (const auto& group : match.groups) Check(!group || group->first + group->length <= subject.size());
  }
  // Every match put back for itself gives the subject; removed, the subject less their units.
  const auto same = compiled->Replace(subject, u"$&");
  const auto without = compiled->Replace(subject, u"");
  Check(!same || *same == subject);
  Check(!without || without->size() == subject.size() - removed);
  compiled->Replace(subject, replacement);
  // An empty group first leaves the pattern's sense alone but takes away its fixed start, which
  // the engine looks for on its own: the same matches either way.
  const auto unstarted = CompiledPattern::Compile(u"(?:)" + pattern, options);
  const auto plain = unstarted ? unstarted->Execute(subject) : std::nullopt;
  if (plain) {
    Check(plain->size() == matches->size());
    for (std::size_t i = 0; i < plain->size() && i < matches->size(); ++i)
      Check((*plain)[i].whole == (*matches)[i].whole && (*plain)[i].groups == (*matches)[i].groups);
  }
  // The first of all matches is the one match.
  if (options.global && !matches->empty()) {
    PatternOptions once = options;
    once.global = false;
    const auto single = CompiledPattern::Compile(pattern, once);
    const auto first = single ? single->Execute(subject) : std::nullopt;
    Check(!first || (first->size() == 1 && (*first)[0].whole == (*matches)[0].whole));
  }
  return 0;
}
