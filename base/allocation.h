#pragma once
// The program's operator new and delete take every block from the process heap; a request that
// cannot be met ends the program through the fatal-error box with the size it asked for.
#include <cstddef>

namespace harvester {

// Tests stand in for the heap behind operator new: the function receives every request
// (never 0 bytes) and returns the block or nullptr. Its blocks are given back with HeapFree on
// the process heap, so it must take them from there. Pass nullptr to restore HeapAlloc.
using HeapRequestFunction = void* (*)(std::size_t size);
void SetHeapRequestFunction(HeapRequestFunction function);

}  // namespace harvester
