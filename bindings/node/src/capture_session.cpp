#include "capture_session.h"

#include <algorithm>
#include <string>

#include "sample_array.h"

namespace mivo::node {
namespace {

// How far JavaScript may fall behind before incoming frames are dropped:
// longer than a garbage collection or a busy tick, short enough that a live
// host never receives audio older than this, and it bounds the memory held.
constexpr int64_t kMaxLagMilliseconds = 500;

Napi::Error startError(Napi::Env env, int32_t status, const char* reason) {
  std::string message = "the capture did not start (status " + std::to_string(status) + ")";
  if (reason != nullptr) message += ": " + std::string(reason);
  Napi::Error error = Napi::Error::New(env, message);
  error.Set("code", Napi::Number::New(env, status));
  return error;
}

}  // namespace

struct CaptureSession::Delivery {
  std::unique_ptr<float[]> samples;  // null: the capture went silent
  int32_t frameCount = 0;
  int32_t sampleRate = 0;
};

CaptureSession::CaptureSession(const CaptureLibrary& library, const Callbacks& callbacks,
                               std::shared_ptr<std::atomic<uint64_t>> droppedFrames)
    : library_(library),
      onFrame_(Napi::Persistent(callbacks.onFrame)),
      droppedFrames_(std::move(droppedFrames)) {
  if (callbacks.onStopped.IsFunction())
    onStopped_ = Napi::Persistent(callbacks.onStopped.As<Napi::Function>());
}

CaptureSession* CaptureSession::start(Napi::Env env, const CaptureLibrary& library,
                                      const Callbacks& callbacks,
                                      std::shared_ptr<std::atomic<uint64_t>> droppedFrames) {
  auto* session = new CaptureSession(library, callbacks, std::move(droppedFrames));
  // Unbounded in count: queueFrame bounds it by audio time, before copying.
  session->channel_ = Channel::New(env, "mivo capture", 0, 1, session, &onChannelClosed,
                                   static_cast<void*>(nullptr));
  // Registered after the channel, so it runs before the runtime closes the
  // channel at teardown: the library's threads must be done with it first.
  session->teardownHookRegistered_ =
      napi_add_env_cleanup_hook(env, &onEnvironmentTeardown, session) == napi_ok;
  int32_t status = library.start(session, &onLibraryFrame, &onLibraryStopped);
  if (status != MIVO_TAP_OK) {
    const char* reason = library.lastError();
    Napi::Error error = startError(env, status, reason);
    // Nothing of this start runs; a capture registered before is not ours.
    session->close();
    throw error;
  }
  return session;
}

Napi::Promise CaptureSession::stop(Napi::Env env) {
  if (!stopped_) stopped_ = Napi::Promise::Deferred::New(env);
  end();
  return stopped_->Promise();
}

void CaptureSession::end() {
  if (ended_) return;
  // When it returns no library callback runs any more, so the channel can go.
  library_.stop();
  close();
}

void CaptureSession::close() {
  ended_ = true;
  channel_.Release();
}

void CaptureSession::onLibraryFrame(void* context, uint8_t /*source*/, const float* samples,
                                    int32_t frameCount, int32_t sampleRate) {
  static_cast<CaptureSession*>(context)->queueFrame(samples, frameCount, sampleRate);
}

void CaptureSession::queueFrame(const float* samples, int32_t frameCount, int32_t sampleRate) {
  // Frames come one at a time, so only JavaScript's thread lowers the count
  // meanwhile: the check errs on the side of room. An empty queue always
  // takes a frame, however long.
  const int64_t limit = int64_t{sampleRate} * kMaxLagMilliseconds / 1000;
  const int64_t queued = queuedSamples_.load(std::memory_order_acquire);
  if (queued > 0 && queued + frameCount > limit) {
    droppedFrames_->fetch_add(1, std::memory_order_relaxed);
    return;
  }
  auto delivery = std::make_unique<Delivery>();
  delivery->samples = std::make_unique_for_overwrite<float[]>(static_cast<std::size_t>(frameCount));
  std::copy_n(samples, frameCount, delivery->samples.get());
  delivery->frameCount = frameCount;
  delivery->sampleRate = sampleRate;
  queuedSamples_.fetch_add(frameCount, std::memory_order_acq_rel);
  if (channel_.NonBlockingCall(delivery.get()) == napi_ok)
    delivery.release();
  else
    queuedSamples_.fetch_sub(frameCount, std::memory_order_acq_rel);
}

void CaptureSession::onLibraryStopped(void* context) {
  auto delivery = std::make_unique<Delivery>();
  if (static_cast<CaptureSession*>(context)->channel_.NonBlockingCall(delivery.get()) == napi_ok)
    delivery.release();
}

void CaptureSession::deliver(Napi::Env env, Napi::Function /*unused*/, CaptureSession* session,
                             Delivery* raw) {
  std::unique_ptr<Delivery> delivery(raw);
  session->queuedSamples_.fetch_sub(delivery->frameCount, std::memory_order_acq_rel);
  // A null environment: the runtime is discarding the queue at teardown.
  if (env == nullptr || session->ended_) return;
  try {
    session->handle(env, *delivery);
  } catch (const Napi::Error&) {
    // Only the runtime throws here: a worker or process on its way out runs
    // no more JavaScript, and the delivery goes with it. The host's own
    // exceptions are caught by the package's callback wrappers.
  }
}

void CaptureSession::handle(Napi::Env env, Delivery& delivery) {
  if (!delivery.samples) {
    if (!onStopped_.IsEmpty()) onStopped_.Call({});
    return;
  }
  Napi::Float32Array samples = makeSampleArray(env, std::move(delivery.samples),
                                               static_cast<std::size_t>(delivery.frameCount));
  onFrame_.Call({samples, Napi::Number::New(env, delivery.sampleRate)});
}

void CaptureSession::onEnvironmentTeardown(void* context) {
  auto* session = static_cast<CaptureSession*>(context);
  session->teardownHookRegistered_ = false;
  session->end();
}

void CaptureSession::onChannelClosed(Napi::Env env, void* /*unused*/, CaptureSession* session) {
  if (session->teardownHookRegistered_)
    napi_remove_env_cleanup_hook(env, &onEnvironmentTeardown, session);
  if (session->stopped_) {
    try {
      session->stopped_->Resolve(env.Undefined());
    } catch (const Napi::Error&) {
      // The worker or process is on its way out: no one is left to await it.
    }
  }
  delete session;
}

}  // namespace mivo::node
