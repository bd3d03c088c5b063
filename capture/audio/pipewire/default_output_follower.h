// Follows the session manager's choice of default output: the "default"
// metadata object, key default.audio.sink, whose value names the sink node
// as JSON ({"name":"A"}).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct pw_registry;
struct pw_proxy;
struct spa_dict;
struct spa_hook;

namespace mivo::audio::pipewire {

// The node name in a default.audio.sink value; nullopt when there is none.
std::optional<std::string> sinkNameFromMetadataValue(const char* json);

class DefaultOutputFollower {
 public:
  // changed runs on the loop thread whenever the default sink's name changes.
  DefaultOutputFollower(pw_registry* registry, std::function<void()> changed);
  ~DefaultOutputFollower();
  DefaultOutputFollower(const DefaultOutputFollower&) = delete;
  DefaultOutputFollower& operator=(const DefaultOutputFollower&) = delete;

  // Registry events, passed on by the session.
  void addGlobal(std::uint32_t id, const char* type, const spa_dict* props);
  void removeGlobal(std::uint32_t id);

  const std::optional<std::string>& sinkName() const { return sinkName_; }
  bool hasMetadata() const { return metadata_ != nullptr; }

 private:
  static int onProperty(void* data, std::uint32_t subject, const char* key, const char* type,
                        const char* value);
  void setSinkName(std::optional<std::string> name);
  void unbind();

  pw_registry* registry_;
  std::function<void()> changed_;
  std::uint32_t metadataId_ = 0;
  pw_proxy* metadata_ = nullptr;
  std::unique_ptr<spa_hook> listener_;
  std::optional<std::string> sinkName_;
};

}  // namespace mivo::audio::pipewire
