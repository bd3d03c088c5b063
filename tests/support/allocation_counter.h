// Counts the operator-new calls the current thread makes between begin() and
// end(). Linking allocation_counter.cpp replaces the global operator new, so
// a test binary that counts must link it and nothing else that replaces it.
#pragma once

namespace mivo::testing {

class AllocationCounter {
 public:
  void begin();
  // The allocations made on this thread since begin().
  long end();
};

}  // namespace mivo::testing
