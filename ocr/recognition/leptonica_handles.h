#pragma once

#include <memory>

#include <leptonica/allheaders.h>

namespace mivo::ocr {

// Owners of Leptonica's boxes and histograms (images are `Image`).
template <typename T, void (*Destroy)(T**)>
struct LeptonicaDeleter {
  void operator()(T* object) const { Destroy(&object); }
};
using BoxHandle = std::unique_ptr<Box, LeptonicaDeleter<Box, boxDestroy>>;
using BoxaHandle = std::unique_ptr<Boxa, LeptonicaDeleter<Boxa, boxaDestroy>>;
using NumaHandle = std::unique_ptr<Numa, LeptonicaDeleter<Numa, numaDestroy>>;

}  // namespace mivo::ocr
