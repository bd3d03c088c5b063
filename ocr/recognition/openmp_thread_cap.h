#pragma once

namespace mivo::ocr {

// The engine asks OpenMP for four threads per parallel loop; on a two-core
// machine that is several times slower than one. Parallel regions entered
// after this call run on the calling thread alone.
void runParallelRegionsSingleThreaded();

}  // namespace mivo::ocr
