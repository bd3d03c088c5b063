#include "allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool counting = false;
thread_local long allocations = 0;
}  // namespace

// This operator new allocates with malloc, so free is the matching release;
// GCC cannot see that pairing across the replacement.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  if (counting) ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace mivo::testing {

void AllocationCounter::begin() {
  allocations = 0;
  counting = true;
}

long AllocationCounter::end() {
  counting = false;
  return allocations;
}

}  // namespace mivo::testing
