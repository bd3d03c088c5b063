#include "sample_array.h"

#include <algorithm>

namespace mivo::node {
namespace {

void freeSamples(napi_env /*env*/, void* samples, void* /*hint*/) {
  delete[] static_cast<float*>(samples);
}

Napi::ArrayBuffer adoptOrCopy(Napi::Env env, std::unique_ptr<float[]> samples, std::size_t bytes) {
  napi_value adopted = nullptr;
  napi_status status =
      napi_create_external_arraybuffer(env, samples.get(), bytes, freeSamples, nullptr, &adopted);
  if (status == napi_ok) {
    samples.release();
    return Napi::ArrayBuffer(env, adopted);
  }
  if (status != napi_no_external_buffers_allowed) NAPI_THROW_IF_FAILED(env, status, {});
  Napi::ArrayBuffer copy = Napi::ArrayBuffer::New(env, bytes);
  std::copy_n(reinterpret_cast<const char*>(samples.get()), bytes, static_cast<char*>(copy.Data()));
  return copy;
}

}  // namespace

Napi::Float32Array makeSampleArray(Napi::Env env, std::unique_ptr<float[]> samples,
                                   std::size_t count) {
  Napi::ArrayBuffer buffer = adoptOrCopy(env, std::move(samples), count * sizeof(float));
  return Napi::Float32Array::New(env, count, buffer, 0);
}

}  // namespace mivo::node
