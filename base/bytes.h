#pragma once
// A counted byte buffer, possibly empty, possibly holding zero bytes: fetched bodies are bytes.
#include <cstdint>
#include <vector>

namespace harvester {

using Bytes = std::vector<std::uint8_t>;

}  // namespace harvester
