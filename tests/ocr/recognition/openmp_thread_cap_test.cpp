#include "recognition/openmp_thread_cap.h"

#include <omp.h>

#include <gtest/gtest.h>

namespace mivo::ocr {
namespace {

// The engine's loops ask for their thread count explicitly; after the cap
// such a loop must still run on the calling thread alone.
TEST(OpenMpThreadCap, ExplicitThreadCountsRunOnOneThread) {
  runParallelRegionsSingleThreaded();
  int threads = 0;
#pragma omp parallel num_threads(4)
  {
#pragma omp single
    threads = omp_get_num_threads();
  }
  EXPECT_EQ(threads, 1);
}

}  // namespace
}  // namespace mivo::ocr
