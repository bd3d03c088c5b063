// Reading an aggregate-device description: which output device leads it,
// which tap it joins, and the uid it is to be known by.
#pragma once

#include <optional>
#include <string>

#include "audio/property_value.h"

namespace mivo::audio::pipewire {

struct AggregateRequest {
  std::string name;
  std::string uid;
  std::string outputUID;  // "master"; a sink's node name
  std::string tapUUID;    // the one entry of "taps"
};

// nullopt when a key is missing or has the wrong type, when "taps" does not
// hold exactly one tap, or when "subdevices" does not name the output.
std::optional<AggregateRequest> readAggregateDescription(const PropertyValue& description);

}  // namespace mivo::audio::pipewire
