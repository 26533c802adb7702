#pragma once
// The built-in pattern engine: the pattern language and matching rules of the platform's
// "VBScript.RegExp" object over UTF-16 code units, for systems where that object cannot be
// created. It knows no platform: it builds natively too, for the tests and the fuzz targets.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harvester {

// A stretch of the subject, in UTF-16 code units from its start.
struct PatternSpan {
  std::size_t first = 0;
  std::size_t length = 0;
  bool operator==(const PatternSpan&) const = default;
};

struct PatternMatch {
  PatternSpan whole;
  // One entry per capture group, in pattern order; none for a group that took no part.
  std::vector<std::optional<PatternSpan>> groups;
};

// The object's three switches.
struct PatternOptions {
  bool ignoreCase = false;
  bool global = false;     // every match, or only the first
  bool multiline = false;  // "^" and "$" at every line break, or only at the ends of the subject
};

// A pattern compiled with its options. Nothing here throws: whatever the library throws while
// compiling makes the pattern invalid, and whatever it throws while matching (a match that
// grows too complex, memory running out) makes that search fail as a whole.
class CompiledPattern {
 public:
  // nullptr when the pattern is not one of the object's language or cannot be compiled.
  static std::unique_ptr<CompiledPattern> Compile(std::u16string_view pattern, const PatternOptions& options) noexcept;
  ~CompiledPattern();
  CompiledPattern(const CompiledPattern&) = delete;
  CompiledPattern& operator=(const CompiledPattern&) = delete;

  std::size_t GroupCount() const noexcept;
  // The first match, or with Global every match from left to right (after an empty match the
  // search goes on one code unit further); nullopt when the search failed.
  std::optional<std::vector<PatternMatch>> Execute(std::u16string_view subject) const noexcept;
  // The subject with those matches replaced by the replacement, in which "$$" stands for "$",
  // "$&" for the match, "$`" and "$'" for the subject before and after it, and "$1".."$99" for
  // a capture group (an unmatched one for nothing; a number beyond the groups stays as it is);
  // nullopt when the search failed.
  std::optional<std::u16string> Replace(std::u16string_view subject, std::u16string_view replacement) const noexcept;

 private:
  struct Impl;
  explicit CompiledPattern(std::unique_ptr<Impl> impl) noexcept;
  std::unique_ptr<Impl> impl_;
};

}  // namespace harvester
