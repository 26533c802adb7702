#pragma once
// Counts the large buffers that this thread allocates while a census runs: the program's own,
// which all come through its operator new, and those of the OLE task allocator (BSTRs and
// safe-array data, the program's and the platform objects' alike). A whole page copied once
// more shows as one more buffer of about the page's size.
#include <cstddef>

namespace harvester::testing {

struct AllocationCount {
  int program = 0;        // operator new requests of at least the threshold
  int taskAllocator = 0;  // task allocator requests (and growths) of at least the threshold
};

// One census at a time, on the thread that makes it.
class AllocationCensus {
 public:
  // Starts counting requests of at least threshold bytes. Started() is false when the task
  // allocator cannot be watched (then nothing is counted at all).
  explicit AllocationCensus(std::size_t threshold);
  AllocationCensus(const AllocationCensus&) = delete;
  AllocationCensus& operator=(const AllocationCensus&) = delete;
  ~AllocationCensus();

  bool Started() const { return started_; }
  // What was counted so far.
  AllocationCount Count() const;

 private:
  bool started_ = false;
};

}  // namespace harvester::testing
