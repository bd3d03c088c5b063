#include "audio/pipewire/object_ids.h"

namespace mivo::audio::pipewire {

AudioObjectID ObjectIds::processObject(pid_t pid) {
  auto [entry, added] = processes_.try_emplace(pid, 0);
  if (added) entry->second = fresh();
  return entry->second;
}

std::optional<pid_t> ObjectIds::processOf(AudioObjectID id) const {
  for (const auto& [pid, object] : processes_)
    if (object == id) return pid;
  return std::nullopt;
}

AudioObjectID ObjectIds::device(const std::string& sinkName) {
  auto [entry, added] = devices_.try_emplace(sinkName, 0);
  if (added) entry->second = fresh();
  return entry->second;
}

const std::string* ObjectIds::deviceName(AudioObjectID id) const {
  for (const auto& [name, object] : devices_)
    if (object == id) return &name;
  return nullptr;
}

}  // namespace mivo::audio::pipewire
