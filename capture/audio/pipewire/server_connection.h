#pragma once

#include <cstdint>
#include <memory>

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

// One connection of our own to the server: its core and registry, whose
// events go to the events given to open(). Closing it (destruction)
// removes our listeners and disconnects; the server then drops whatever was
// made through it. Loop thread, or with the loop locked.
class ServerConnection {
 public:
  ServerConnection();
  ~ServerConnection();
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  // False when the server cannot be reached or gives no registry; what was
  // made is still released by the destructor.
  bool open(ThreadLoop& loop, ServerEvents& events);
  pw_core* core() const { return core_; }
  pw_registry* registry() const { return registry_; }
  // Asks for a round trip through the server; its sequence number, which
  // onDone reports once everything sent before it has been answered.
  int sync();

 private:
  pw_core* core_ = nullptr;
  pw_registry* registry_ = nullptr;
  std::unique_ptr<spa_hook> coreListener_;
  std::unique_ptr<spa_hook> registryListener_;
};

}  // namespace mivo::audio::pipewire
