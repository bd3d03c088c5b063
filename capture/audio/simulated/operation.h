// The operations of the simulated audio system that tests can fail, hold
// and find in the journal: one per property read and one per call.
#pragma once

#include <cstddef>
#include <string_view>

namespace mivo::audio::sim {

enum class Operation {
  ReadProcessObject,  // 'id2p'
  ReadDefaultOutput,  // 'dOut'
  ReadDeviceUID,      // 'uid '
  ReadStreamFormat,   // 'sfmt' in scope 'inpt'
  ReadNominalRate,    // 'nsrt'
  CreateProcessTap,
  CreateAggregateDevice,
  CreateIOProcIDWithBlock,
  DeviceStart,
  DeviceStop,
  DestroyIOProcID,
  DestroyAggregateDevice,
  DestroyProcessTap,
  AddPropertyListener,
  RemovePropertyListener,
};

constexpr std::size_t kOperationCount = std::size_t(Operation::RemovePropertyListener) + 1;

// The name the journal uses: "readProcessObject", "createProcessTap", ...
std::string_view operationName(Operation operation);

}  // namespace mivo::audio::sim
