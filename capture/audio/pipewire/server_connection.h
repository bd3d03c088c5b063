#pragma once

#include <cstdint>

struct pw_core;
struct pw_registry;
struct spa_dict;
struct spa_hook;

namespace mivo::audio::pipewire {

class ThreadLoop;

// What one connection to the server reports: its core's round trips and
// errors, and the globals its registry announces and removes. Loop thread.
class ServerEvents {
 public:
  virtual void onDone(std::uint32_t id, int seq) = 0;
  virtual void onError(std::uint32_t id, int res) = 0;
  virtual void onGlobal(std::uint32_t id, const char* type, const spa_dict* props) = 0;
  virtual void onGlobalRemoved(std::uint32_t id) = 0;

 protected:
  ~ServerEvents() = default;
};

// Opens a connection of its own on loop, gets its registry and routes both
// objects' events to events. False when the server cannot be reached or
// gives no registry; core and registry then hold what was made, for the
// caller to release as usual. Loop thread, or with the loop locked.
bool connectWithRegistry(ThreadLoop& loop, ServerEvents& events, pw_core*& core,
                         pw_registry*& registry, spa_hook& coreListener,
                         spa_hook& registryListener);

}  // namespace mivo::audio::pipewire
