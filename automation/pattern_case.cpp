#include "automation/pattern_case.h"

#include <array>
#include <cstdint>

namespace harvester {

namespace {

struct CaseRun {
  char16_t first;
  char16_t last;
  int step;
  int delta;
};

constexpr CaseRun kRuns[] = {
#include "automation/pattern_case_runs.inc"
};

std::array<char16_t, 0x10000> MakeTable() {
  std::array<char16_t, 0x10000> table{};
  for (std::uint32_t unit = 0; unit < table.size(); ++unit) table[unit] = static_cast<char16_t>(unit);
  for (const CaseRun& run : kRuns) {
    for (std::uint32_t unit = run.first; unit <= run.last; unit += static_cast<std::uint32_t>(run.step))
      table[unit] = static_cast<char16_t>(static_cast<int>(unit) + run.delta);
  }
  return table;
}

}  // namespace

const char16_t* PatternUpperCaseTable() {
  static const std::array<char16_t, 0x10000> table = MakeTable();
  return table.data();
}

char16_t PatternUpperCase(char16_t unit) { return PatternUpperCaseTable()[unit]; }

}  // namespace harvester
