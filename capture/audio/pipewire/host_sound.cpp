#include "audio/pipewire/host_sound.h"

namespace mivo::audio::pipewire {

namespace {

pid_t asTableNumbers(const ProcessTable& table, pid_t host, pid_t thisProcess) {
  return host == thisProcess ? table.self().value_or(0) : host;
}

}  // namespace

HostSound::HostSound(const ProcessTable& table, pid_t host, pid_t thisProcess)
    : host_(host),
      hostIsThisProcess_(host == thisProcess),
      tableSelf_(table.self()),
      tableNumbersAsThisProcess_(tableSelf_ == thisProcess),
      application_(table, asTableNumbers(table, host, thisProcess)) {}

// Processes of one sandboxed application share its id, whatever each runs;
// a process in another sandbox, or outside the host's, numbers its pids in
// a namespace of its own, so no pid it shows can be compared.
std::optional<bool> HostSound::owns(const std::optional<NodeOwner>& node,
                                    const std::optional<NodeOwner>& own) const {
  if (!node || !own) return std::nullopt;
  if (node->onOwnConnection) return hostIsThisProcess_;
  if (node->sandboxAppId != own->sandboxAppId) return false;
  if (!node->sandboxAppId.empty()) return true;
  if (!node->pid) return false;
  return node->throughPulseServer ? ownsThroughPulse(*node) : ownsNative(*node, *own);
}

// The server numbers the pid as it numbers this process's own connection;
// the application is looked up only when that is also how the table
// numbers processes.
bool HostSound::ownsNative(const NodeOwner& node, const NodeOwner& own) const {
  if (hostIsThisProcess_ && node.pid == own.pid) return true;
  const bool serverNumbersAsTable = own.pid && own.pid == tableSelf_;
  return serverNumbersAsTable && application_.contains(*node.pid);
}

// A reported pid is the client's own word, in its own PID namespace: a
// stranger elsewhere may carry the same number. It counts only where it
// runs the program the client names.
bool HostSound::ownsThroughPulse(const NodeOwner& node) const {
  if (!tableNumbersAsThisProcess_) {
    return hostIsThisProcess_ && node.pid == host_ && application_.memberRuns(node.programName);
  }
  return application_.containsRunning(*node.pid, node.programName);
}

}  // namespace mivo::audio::pipewire
