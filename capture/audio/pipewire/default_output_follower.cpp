#include "audio/pipewire/default_output_follower.h"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/utils/json.h>

#include "audio/pipewire/thread_loop.h"

namespace mivo::audio::pipewire {

namespace {
constexpr const char* kDefaultMetadataName = "default";
constexpr const char* kDefaultSinkKey = "default.audio.sink";
constexpr std::string_view kSinkClass = "Audio/Sink";
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

// One binding of the "default" metadata and the default sink it told of.
struct DefaultOutputFollower::Binding {
  DefaultOutputFollower* owner = nullptr;
  bool isProbe = false;
  pw_proxy* proxy = nullptr;
  spa_hook listener{};
  std::optional<std::string> sinkName;

  Binding(DefaultOutputFollower* owner_, std::uint32_t id, bool probe)
      : owner(owner_), isProbe(probe) {
    static const pw_metadata_events events = [] {
      pw_metadata_events e{};
      e.version = PW_VERSION_METADATA_EVENTS;
      e.property = &Binding::onProperty;
      return e;
    }();
    proxy = static_cast<pw_proxy*>(pw_registry_bind(
        owner->connection_.registry(), id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
    if (proxy != nullptr)
      pw_metadata_add_listener(reinterpret_cast<pw_metadata*>(proxy), &listener, &events, this);
  }
  ~Binding() {
    if (proxy == nullptr) return;
    spa_hook_remove(&listener);
    pw_proxy_destroy(proxy);
  }
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding&) = delete;

  static int onProperty(void* data, std::uint32_t subject, const char* key, const char*,
                        const char* value) {
    auto* self = static_cast<Binding*>(data);
    // A null key clears every property of the subject.
    if (subject != PW_ID_CORE || (key != nullptr && std::strcmp(key, kDefaultSinkKey) != 0))
      return 0;
    self->sinkName = key == nullptr ? std::nullopt : sinkNameFromMetadataValue(value);
    if (!self->isProbe) self->owner->setSinkName(self->sinkName);
    return 0;
  }
};

std::unique_ptr<DefaultOutputFollower> DefaultOutputFollower::connect(ThreadLoop& loop,
                                                                      Events events) {
  std::unique_ptr<DefaultOutputFollower> follower(
      new DefaultOutputFollower(loop, std::move(events)));
  if (!follower->open()) return nullptr;
  return follower;
}

DefaultOutputFollower::DefaultOutputFollower(ThreadLoop& loop, Events events)
    : loop_(loop), events_(std::move(events)) {}

bool DefaultOutputFollower::open() {
  probeTimer_ = std::make_unique<LoopTimer>(loop_, [this] { probeNow(); });
  if (!connection_.open(loop_, *this)) return false;
  alive_ = true;
  readySeq_ = connection_.sync();
  return true;
}

DefaultOutputFollower::~DefaultOutputFollower() {
  if (probeTimer_) probeTimer_->disarm();
  probeTimer_.reset();
  probe_.reset();
  metadata_.reset();
}

void DefaultOutputFollower::onGlobal(std::uint32_t id, const char* type, const spa_dict* props) {
  if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
    // A sink came: the session manager may pick it as the default.
    const char* mediaClass =
        props != nullptr ? spa_dict_lookup(props, PW_KEY_MEDIA_CLASS) : nullptr;
    if (mediaClass != nullptr && mediaClass == kSinkClass) {
      sinks_.insert(id);
      probeSoon();
    }
    return;
  }
  if (metadata_ != nullptr || std::strcmp(type, PW_TYPE_INTERFACE_Metadata) != 0) return;
  const char* name = props != nullptr ? spa_dict_lookup(props, PW_KEY_METADATA_NAME) : nullptr;
  if (name == nullptr || std::strcmp(name, kDefaultMetadataName) != 0) return;
  metadataId_ = id;
  metadata_ = std::make_unique<Binding>(this, id, false);
  bindSeq_ = connection_.sync();
}

void DefaultOutputFollower::onGlobalRemoved(std::uint32_t id) {
  if (sinks_.erase(id) > 0) {
    probeSoon();
    return;
  }
  if (metadata_ == nullptr || id != metadataId_) return;
  // The object is gone with its session manager, and with it the count of
  // waiting bindings: dropping ours now deafens nobody.
  probe_.reset();
  probeSeq_ = -1;
  metadata_.reset();
  bindSeq_ = -1;
  metadataId_ = 0;
  setSinkName(std::nullopt);
  loop_.signal();
}

void DefaultOutputFollower::setProbing(bool probing) {
  if (probing == probing_) return;
  probing_ = probing;
  if (probing)
    probeTimer_->arm(kProbePeriod, kProbePeriod);
  else
    probeTimer_->disarm();
}

void DefaultOutputFollower::probeSoon() {
  if (probing_) probeNow();
}

bool DefaultOutputFollower::probeNow() {
  if (!alive_ || metadata_ == nullptr) return false;
  if (probe_ != nullptr) {
    probeAgain_ = true;
    return true;
  }
  probe_ = std::make_unique<Binding>(this, metadataId_, true);
  probeSeq_ = connection_.sync();
  return true;
}

void DefaultOutputFollower::onDone(std::uint32_t id, int seq) {
  if (id != PW_ID_CORE) return;
  if (seq == readySeq_) {
    ready_ = true;
    readySeq_ = -1;
  }
  if (seq == bindSeq_) bindSeq_ = -1;
  if (seq == probeSeq_ && probe_ != nullptr) {
    // The probe has seen every change since it was bound: it is the truth,
    // whatever the long-lived binding heard.
    std::optional<std::string> truth = probe_->sinkName;
    probe_.reset();
    probeSeq_ = -1;
    ++answeredProbes_;
    setSinkName(std::move(truth));
    if (std::exchange(probeAgain_, false)) probeNow();
  }
  loop_.signal();
}

void DefaultOutputFollower::onError(std::uint32_t id, int res) {
  if (id != PW_ID_CORE || res != -EPIPE) return;
  alive_ = false;
  loop_.signal();
  if (events_.lost) events_.lost();
}

void DefaultOutputFollower::setSinkName(std::optional<std::string> name) {
  if (name == sinkName_) return;
  sinkName_ = std::move(name);
  loop_.signal();
  if (events_.changed) events_.changed();
}

}  // namespace mivo::audio::pipewire
