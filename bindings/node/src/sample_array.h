#pragma once

#include <napi.h>

#include <cstddef>
#include <memory>

namespace mivo::node {

// A Float32Array that JavaScript owns, over `samples`: the array takes the
// memory over where the runtime allows outside memory, and copies it where
// it does not (runtimes whose heap is sandboxed).
Napi::Float32Array makeSampleArray(Napi::Env env, std::unique_ptr<float[]> samples,
                                   std::size_t count);

}  // namespace mivo::node
