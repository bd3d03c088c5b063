#include "audio/simulated/operation.h"

#include <array>

namespace mivo::audio::sim {

std::string_view operationName(Operation operation) {
  static constexpr std::array<std::string_view, kOperationCount> names{
      "readProcessObject",     "readDefaultOutput",
      "readDeviceUID",         "readStreamFormat",
      "readNominalRate",       "createProcessTap",
      "createAggregateDevice", "createIOProcIDWithBlock",
      "deviceStart",           "deviceStop",
      "destroyIOProcID",       "destroyAggregateDevice",
      "destroyProcessTap",     "addPropertyListener",
      "removePropertyListener"};
  return names[std::size_t(operation)];
}

}  // namespace mivo::audio::sim
