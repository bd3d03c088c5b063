#include "recognition/openmp_thread_cap.h"

// The engine's own OpenMP runtime (libgomp) provides this; declared here so
// that the build does not depend on the compiler's OpenMP headers.
extern "C" void omp_set_max_active_levels(int levels);

namespace mivo::ocr {

void runParallelRegionsSingleThreaded() {
  // With no active levels allowed, every parallel region is inactive and
  // executes on one thread, whatever num_threads clause it carries. (Setting
  // the thread count does not help: the clause overrides it.)
  omp_set_max_active_levels(0);
}

}  // namespace mivo::ocr
