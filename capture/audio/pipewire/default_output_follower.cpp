#include "audio/pipewire/default_output_follower.h"

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/utils/json.h>

#include <cstring>

namespace mivo::audio::pipewire {

namespace {
constexpr const char* kDefaultMetadataName = "default";
constexpr const char* kDefaultSinkKey = "default.audio.sink";
}  // namespace

std::optional<std::string> sinkNameFromMetadataValue(const char* json) {
  if (json == nullptr) return std::nullopt;
  spa_json document{};
  spa_json object{};
  spa_json_init(&document, json, std::strlen(json));
  if (spa_json_enter_object(&document, &object) <= 0) return std::nullopt;
  char key[64];
  while (spa_json_get_string(&object, key, sizeof key) > 0) {
    const char* value = nullptr;
    int length = spa_json_next(&object, &value);
    if (length <= 0) return std::nullopt;
    if (std::strcmp(key, "name") == 0) {
      if (!spa_json_is_string(value, length)) return std::nullopt;
      std::string name(std::size_t(length) + 1, '\0');
      if (spa_json_parse_stringn(value, length, name.data(), int(name.size())) <= 0)
        return std::nullopt;
      name.resize(std::strlen(name.c_str()));
      if (name.empty()) return std::nullopt;
      return name;
    }
    if (spa_json_is_container(value, length)) spa_json_container_len(&object, value, length);
  }
  return std::nullopt;
}

DefaultOutputFollower::DefaultOutputFollower(pw_registry* registry, std::function<void()> changed)
    : registry_(registry), changed_(std::move(changed)) {}

DefaultOutputFollower::~DefaultOutputFollower() { unbind(); }

void DefaultOutputFollower::addGlobal(std::uint32_t id, const char* type, const spa_dict* props) {
  if (metadata_ != nullptr || std::strcmp(type, PW_TYPE_INTERFACE_Metadata) != 0) return;
  const char* name = props != nullptr ? spa_dict_lookup(props, PW_KEY_METADATA_NAME) : nullptr;
  if (name == nullptr || std::strcmp(name, kDefaultMetadataName) != 0) return;
  static const pw_metadata_events events = [] {
    pw_metadata_events e{};
    e.version = PW_VERSION_METADATA_EVENTS;
    e.property = &DefaultOutputFollower::onProperty;
    return e;
  }();
  metadata_ = static_cast<pw_proxy*>(
      pw_registry_bind(registry_, id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
  if (metadata_ == nullptr) return;
  metadataId_ = id;
  listener_ = std::make_unique<spa_hook>();
  pw_metadata_add_listener(reinterpret_cast<pw_metadata*>(metadata_), listener_.get(), &events,
                           this);
}

void DefaultOutputFollower::removeGlobal(std::uint32_t id) {
  if (metadata_ == nullptr || id != metadataId_) return;
  unbind();
  setSinkName(std::nullopt);
}

int DefaultOutputFollower::onProperty(void* data, std::uint32_t subject, const char* key,
                                      const char*, const char* value) {
  auto* self = static_cast<DefaultOutputFollower*>(data);
  // A null key clears every property of the subject.
  if (subject == PW_ID_CORE && (key == nullptr || std::strcmp(key, kDefaultSinkKey) == 0))
    self->setSinkName(key == nullptr ? std::nullopt : sinkNameFromMetadataValue(value));
  return 0;
}

void DefaultOutputFollower::setSinkName(std::optional<std::string> name) {
  if (name == sinkName_) return;
  sinkName_ = std::move(name);
  changed_();
}

void DefaultOutputFollower::unbind() {
  if (metadata_ == nullptr) return;
  spa_hook_remove(listener_.get());
  listener_.reset();
  pw_proxy_destroy(metadata_);
  metadata_ = nullptr;
  metadataId_ = 0;
}

}  // namespace mivo::audio::pipewire
