#include "audio/simulated/aggregate_description.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>

namespace mivo::audio::sim {
namespace {

enum class Kind { String, Bool, List };

struct KeySpec {
  std::string_view key;
  Kind kind;
};

bool hasKind(const PropertyValue& value, Kind kind) {
  switch (kind) {
    case Kind::String:
      return value.isString();
    case Kind::Bool:
      return value.isBool();
    case Kind::List:
      return value.isList();
  }
  return false;
}

// A dictionary with exactly these keys, once each, of these kinds.
bool hasExactly(const PropertyValue& value, std::initializer_list<KeySpec> keys) {
  if (!value.isDictionary() || value.dictionary().size() != keys.size()) return false;
  return std::all_of(keys.begin(), keys.end(), [&](const KeySpec& wanted) {
    const auto& entries = value.dictionary();
    const auto count = std::count_if(entries.begin(), entries.end(),
                                     [&](const auto& entry) { return entry.first == wanted.key; });
    const auto* found = value.find(std::string(wanted.key));
    return count == 1 && hasKind(*found, wanted.kind);
  });
}

// The one dictionary of a one-entry list, with exactly these keys.
const PropertyValue* onlyEntry(const PropertyValue& list, std::initializer_list<KeySpec> keys) {
  if (list.list().size() != 1) return nullptr;
  const auto& entry = list.list().front();
  return hasExactly(entry, keys) ? &entry : nullptr;
}

}  // namespace

std::optional<AggregatePlan> parseAggregateDescription(const PropertyValue& description) {
  const bool shaped = hasExactly(description, {{"name", Kind::String},
                                               {"uid", Kind::String},
                                               {"master", Kind::String},
                                               {"private", Kind::Bool},
                                               {"stacked", Kind::Bool},
                                               {"tapautostart", Kind::Bool},
                                               {"subdevices", Kind::List},
                                               {"taps", Kind::List}});
  if (!shaped) return std::nullopt;
  const auto* subdevice = onlyEntry(*description.find("subdevices"), {{"uid", Kind::String}});
  const auto* tap =
      onlyEntry(*description.find("taps"), {{"drift", Kind::Bool}, {"uid", Kind::String}});
  if (subdevice == nullptr || tap == nullptr) return std::nullopt;

  AggregatePlan plan{description.find("uid")->string(), description.find("master")->string(),
                     subdevice->find("uid")->string(), tap->find("uid")->string()};
  if (plan.uid.empty() || plan.masterUID.empty() || plan.subdeviceUID.empty() ||
      plan.tapUUID.empty())
    return std::nullopt;
  return plan;
}

}  // namespace mivo::audio::sim
