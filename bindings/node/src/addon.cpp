// The module's functions: the capture library's three, in JavaScript's
// terms, plus loading the library and reading the dropped-frame count.
#include <napi.h>

#include <atomic>
#include <memory>
#include <stdexcept>

#include "capture_library.h"
#include "capture_session.h"

namespace mivo::node {
namespace {

// Per JavaScript environment (the main thread, or a worker).
struct Binding {
  const CaptureLibrary* library = nullptr;
  CaptureSession* running = nullptr;
  std::shared_ptr<std::atomic<uint64_t>> droppedFrames = std::make_shared<std::atomic<uint64_t>>(0);
};

Binding& binding(Napi::Env env) { return *env.GetInstanceData<Binding>(); }

const CaptureLibrary& loadedLibrary(Napi::Env env) {
  const CaptureLibrary* library = binding(env).library;
  if (library == nullptr) throw Napi::Error::New(env, "the capture library is not loaded");
  return *library;
}

Napi::Value load(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  try {
    binding(env).library = &loadCaptureLibrary(info[0].As<Napi::String>().Utf8Value());
  } catch (const std::runtime_error& failure) {
    throw Napi::Error::New(env, failure.what());
  }
  return env.Undefined();
}

Napi::Value start(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  Binding& state = binding(env);
  const CaptureLibrary& library = loadedLibrary(env);
  auto droppedFrames = std::make_shared<std::atomic<uint64_t>>(0);
  state.running =
      CaptureSession::start(env, library, {info[0].As<Napi::Function>(), info[1]}, droppedFrames);
  state.droppedFrames = droppedFrames;
  return env.Undefined();
}

Napi::Value stop(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  Binding& state = binding(env);
  CaptureSession* session = state.running;
  state.running = nullptr;
  if (session != nullptr) return session->stop(env);
  // Nothing of ours runs; a capture another part of the process started is
  // not ours to stop.
  Napi::Promise::Deferred done = Napi::Promise::Deferred::New(env);
  done.Resolve(env.Undefined());
  return done.Promise();
}

Napi::Value lastError(const Napi::CallbackInfo& info) {
  const char* text = loadedLibrary(info.Env()).lastError();
  if (text == nullptr) return info.Env().Null();
  return Napi::String::New(info.Env(), text);
}

Napi::Value droppedFrames(const Napi::CallbackInfo& info) {
  return Napi::Number::New(info.Env(),
                           static_cast<double>(binding(info.Env()).droppedFrames->load()));
}

Napi::Object initialize(Napi::Env env, Napi::Object exports) {
  env.SetInstanceData(new Binding());
  exports.Set("load", Napi::Function::New(env, load));
  exports.Set("start", Napi::Function::New(env, start));
  exports.Set("stop", Napi::Function::New(env, stop));
  exports.Set("lastError", Napi::Function::New(env, lastError));
  exports.Set("droppedFrames", Napi::Function::New(env, droppedFrames));
  return exports;
}

}  // namespace
}  // namespace mivo::node

using mivo::node::initialize;
NODE_API_MODULE(mivo_node, initialize)
