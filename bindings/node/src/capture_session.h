#pragma once

#include <napi.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "capture_library.h"

namespace mivo::node {

// One capture, from its start until its last delivery has been handled on
// JavaScript's thread. The library's threads only copy and queue; all
// JavaScript runs on the thread that started the capture. Frees itself when
// its channel to JavaScript closes.
class CaptureSession {
 public:
  struct Callbacks {
    Napi::Function onFrame;
    Napi::Value onStopped;  // a function, or undefined
  };

  // Starts capturing. Throws a JavaScript Error carrying the library's status
  // in `code` and its last-error text in the message when the start fails.
  static CaptureSession* start(Napi::Env env, const CaptureLibrary& library,
                               const Callbacks& callbacks,
                               std::shared_ptr<std::atomic<uint64_t>> droppedFrames);

  // Ends the capture: no callback reaches JavaScript after this call. The
  // promise resolves once every delivery already queued has been discarded.
  Napi::Promise stop(Napi::Env env);

 private:
  struct Delivery;
  static void deliver(Napi::Env env, Napi::Function unused, CaptureSession* session,
                      Delivery* delivery);
  using Channel = Napi::TypedThreadSafeFunction<CaptureSession, Delivery, &CaptureSession::deliver>;

  CaptureSession(const CaptureLibrary& library, const Callbacks& callbacks,
                 std::shared_ptr<std::atomic<uint64_t>> droppedFrames);
  static void onLibraryFrame(void* context, uint8_t source, const float* samples,
                             int32_t frameCount, int32_t sampleRate);
  static void onLibraryStopped(void* context);
  static void onEnvironmentTeardown(void* context);
  static void onChannelClosed(Napi::Env env, void* unused, CaptureSession* session);
  void queueFrame(const float* samples, int32_t frameCount, int32_t sampleRate);
  void handle(Napi::Env env, Delivery& delivery);
  // Stops the library's capture, then closes the channel.
  void end();
  // Closes the channel: what is still queued is discarded, then the session
  // frees itself.
  void close();

  const CaptureLibrary& library_;
  Napi::FunctionReference onFrame_;
  Napi::FunctionReference onStopped_;
  std::shared_ptr<std::atomic<uint64_t>> droppedFrames_;
  Channel channel_;
  // Samples handed to the channel and not yet handled by JavaScript.
  std::atomic<int64_t> queuedSamples_{0};
  // JavaScript's thread only.
  bool ended_ = false;
  bool teardownHookRegistered_ = false;
  std::optional<Napi::Promise::Deferred> stopped_;
};

}  // namespace mivo::node
