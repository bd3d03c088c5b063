#include "audio/pipewire/core_session.h"

#include <pipewire/pipewire.h>

#include <cerrno>

#include "audio/pipewire/thread_loop.h"

namespace mivo::audio::pipewire {

namespace {
constexpr std::chrono::milliseconds kConnectTimeout{3000};
// The session manager, not the server, answers for its metadata, so its
// properties may come after our round trips.
constexpr std::chrono::milliseconds kDefaultOutputTimeout{1000};
}  // namespace

std::unique_ptr<CoreSession> CoreSession::connect(ThreadLoop& loop,
                                                  std::function<void()> defaultOutputChanged) {
  std::unique_ptr<CoreSession> session(new CoreSession(loop, std::move(defaultOutputChanged)));
  if (!session->open()) return nullptr;
  return session;
}

CoreSession::CoreSession(ThreadLoop& loop, std::function<void()> defaultOutputChanged)
    : loop_(loop),
      defaultOutputChanged_(std::move(defaultOutputChanged)),
      coreListener_(std::make_unique<spa_hook>()),
      registryListener_(std::make_unique<spa_hook>()) {}

bool CoreSession::open() {
  core_ = pw_context_connect(loop_.context(), nullptr, 0);
  if (core_ == nullptr) return false;
  alive_ = true;
  static const pw_core_events coreEvents = [] {
    pw_core_events e{};
    e.version = PW_VERSION_CORE_EVENTS;
    e.done = [](void* data, std::uint32_t id, int seq) {
      static_cast<CoreSession*>(data)->onDone(id, seq);
    };
    e.error = [](void* data, std::uint32_t id, int, int res, const char*) {
      static_cast<CoreSession*>(data)->onError(id, res);
    };
    return e;
  }();
  static const pw_registry_events registryEvents = [] {
    pw_registry_events e{};
    e.version = PW_VERSION_REGISTRY_EVENTS;
    e.global = [](void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
                  const spa_dict* props) {
      static_cast<CoreSession*>(data)->onGlobal(id, type, props);
    };
    e.global_remove = [](void* data, std::uint32_t id) {
      static_cast<CoreSession*>(data)->onGlobalRemoved(id);
    };
    return e;
  }();
  pw_core_add_listener(core_, coreListener_.get(), &coreEvents, this);
  registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
  if (registry_ == nullptr) return false;
  graph_ = std::make_unique<GraphModel>(registry_, [this] { scheduleReconcile(); });
  follower_ = std::make_unique<DefaultOutputFollower>(registry_, [this] {
    if (defaultOutputChanged_) defaultOutputChanged_();
  });
  pw_registry_add_listener(registry_, registryListener_.get(), &registryEvents, this);
  // The first round trip brings the globals (and binds what we follow); the
  // second the info of what was bound.
  if (!roundTrip(kConnectTimeout) || !roundTrip(kConnectTimeout)) return false;
  if (follower_->hasMetadata())
    loop_.waitFor(kDefaultOutputTimeout, [&] { return !alive_ || follower_->sinkName(); });
  return alive_;
}

CoreSession::~CoreSession() {
  // Streams and links first: they belong to the core that goes last.
  aggregates.clear();
  taps.clear();
  follower_.reset();
  graph_.reset();
  if (registry_ != nullptr) {
    spa_hook_remove(registryListener_.get());
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
  }
  if (core_ != nullptr) {
    spa_hook_remove(coreListener_.get());
    pw_core_disconnect(core_);
  }
}

bool CoreSession::roundTrip(std::chrono::milliseconds timeout) {
  if (!alive_) return false;
  int seq = pw_core_sync(core_, PW_ID_CORE, 0);
  return loop_.waitFor(timeout, [&] { return !alive_ || lastDoneSeq_ >= seq; }) && alive_;
}

void CoreSession::scheduleReconcile() {
  if (!alive_) return;
  if (reconcileSeq_ >= 0) {
    reconcileAgain_ = true;
    return;
  }
  reconcileSeq_ = pw_core_sync(core_, PW_ID_CORE, 0);
}

void CoreSession::onGlobal(std::uint32_t id, const char* type, const spa_dict* props) {
  graph_->addGlobal(id, type, props);
  follower_->addGlobal(id, type, props);
}

void CoreSession::onGlobalRemoved(std::uint32_t id) {
  graph_->removeGlobal(id);
  follower_->removeGlobal(id);
}

void CoreSession::onDone(std::uint32_t id, int seq) {
  if (id != PW_ID_CORE) return;
  lastDoneSeq_ = seq;
  if (seq == reconcileSeq_) {
    reconcileSeq_ = -1;
    reconcile();
    if (reconcileAgain_) {
      reconcileAgain_ = false;
      scheduleReconcile();
    }
  }
  loop_.signal();
}

void CoreSession::onError(std::uint32_t id, int res) {
  // Errors of single objects (a refused link) are seen by their proxies.
  if (id != PW_ID_CORE || res != -EPIPE) return;
  alive_ = false;
  loop_.signal();
  if (defaultOutputChanged_) defaultOutputChanged_();
}

void CoreSession::reconcile() {
  for (auto& [id, tap] : taps) tap.links->reconcile(*graph_);
}

}  // namespace mivo::audio::pipewire
