// Reads the eight-key dictionary that describes an aggregate device.
#pragma once

#include <optional>
#include <string>

#include "audio/property_value.h"

namespace mivo::audio::sim {

// What the simulated system needs from a valid description; the UIDs are
// checked against the world by the caller.
struct AggregatePlan {
  std::string uid;
  std::string masterUID;
  std::string subdeviceUID;
  std::string tapUUID;
};

// nullopt unless the description is a dictionary with exactly the keys
// "name", "uid", "master" (strings), "private", "stacked", "tapautostart"
// (booleans), "subdevices" (a list of one dictionary holding only a string
// "uid") and "taps" (a list of one dictionary holding only a boolean
// "drift" and a string "uid"), each once, with non-empty UIDs.
std::optional<AggregatePlan> parseAggregateDescription(const PropertyValue& description);

}  // namespace mivo::audio::sim
