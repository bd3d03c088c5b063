#include "audio/pipewire/server_connection.h"

#include <pipewire/pipewire.h>

#include "audio/pipewire/thread_loop.h"

namespace mivo::audio::pipewire {
namespace {

ServerEvents& eventsOf(void* data) { return *static_cast<ServerEvents*>(data); }

const pw_core_events coreEvents = [] {
  pw_core_events e{};
  e.version = PW_VERSION_CORE_EVENTS;
  e.done = [](void* data, std::uint32_t id, int seq) { eventsOf(data).onDone(id, seq); };
  e.error = [](void* data, std::uint32_t id, int, int res, const char*) {
    eventsOf(data).onError(id, res);
  };
  return e;
}();

const pw_registry_events registryEvents = [] {
  pw_registry_events e{};
  e.version = PW_VERSION_REGISTRY_EVENTS;
  e.global = [](void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
                const spa_dict* props) { eventsOf(data).onGlobal(id, type, props); };
  e.global_remove = [](void* data, std::uint32_t id) { eventsOf(data).onGlobalRemoved(id); };
  return e;
}();

}  // namespace

ServerConnection::ServerConnection()
    : coreListener_(std::make_unique<spa_hook>()),
      registryListener_(std::make_unique<spa_hook>()) {}

ServerConnection::~ServerConnection() {
  if (registry_ != nullptr) {
    spa_hook_remove(registryListener_.get());
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
  }
  if (core_ != nullptr) {
    spa_hook_remove(coreListener_.get());
    pw_core_disconnect(core_);
  }
}

bool ServerConnection::open(ThreadLoop& loop, ServerEvents& events) {
  core_ = pw_context_connect(loop.context(), nullptr, 0);
  if (core_ == nullptr) return false;
  pw_core_add_listener(core_, coreListener_.get(), &coreEvents, &events);
  registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
  if (registry_ == nullptr) return false;
  pw_registry_add_listener(registry_, registryListener_.get(), &registryEvents, &events);
  return true;
}

int ServerConnection::sync() { return pw_core_sync(core_, PW_ID_CORE, 0); }

}  // namespace mivo::audio::pipewire
