#include "audio/pipewire/aggregate_description.h"

#include <algorithm>

namespace mivo::audio::pipewire {

namespace {

const std::string* stringAt(const PropertyValue& dictionary, const std::string& key) {
  const PropertyValue* value = dictionary.find(key);
  return value != nullptr && value->isString() ? &value->string() : nullptr;
}

const PropertyValue::List* listAt(const PropertyValue& dictionary, const std::string& key) {
  const PropertyValue* value = dictionary.find(key);
  return value != nullptr && value->isList() ? &value->list() : nullptr;
}

}  // namespace

std::optional<AggregateRequest> readAggregateDescription(const PropertyValue& description) {
  const std::string* name = stringAt(description, "name");
  const std::string* uid = stringAt(description, "uid");
  const std::string* master = stringAt(description, "master");
  const PropertyValue::List* subdevices = listAt(description, "subdevices");
  const PropertyValue::List* taps = listAt(description, "taps");
  if (name == nullptr || uid == nullptr || master == nullptr || subdevices == nullptr ||
      taps == nullptr || taps->size() != 1)
    return std::nullopt;
  const std::string* tapUUID = stringAt(taps->front(), "uid");
  bool outputListed = std::ranges::any_of(*subdevices, [&](const PropertyValue& device) {
    const std::string* deviceUID = stringAt(device, "uid");
    return deviceUID != nullptr && *deviceUID == *master;
  });
  if (tapUUID == nullptr || tapUUID->empty() || !outputListed) return std::nullopt;
  return AggregateRequest{*name, *uid, *master, *tapUUID};
}

}  // namespace mivo::audio::pipewire
