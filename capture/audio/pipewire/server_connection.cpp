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

bool connectWithRegistry(ThreadLoop& loop, ServerEvents& events, pw_core*& core,
                         pw_registry*& registry, spa_hook& coreListener,
                         spa_hook& registryListener) {
  core = pw_context_connect(loop.context(), nullptr, 0);
  if (core == nullptr) return false;
  pw_core_add_listener(core, &coreListener, &coreEvents, &events);
  registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
  if (registry == nullptr) return false;
  pw_registry_add_listener(registry, &registryListener, &registryEvents, &events);
  return true;
}

}  // namespace mivo::audio::pipewire
