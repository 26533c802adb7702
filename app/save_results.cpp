#include "app/layout.h"

namespace harvester {

void SaveResults(std::int32_t, std::int32_t, std::int32_t) {}

}  // namespace harvester
