#include "audio/pipewire/host_application.h"

#include <vector>

namespace mivo::audio::pipewire {

namespace {

// Deeper than any real process tree; ends the walk on a table that loops.
constexpr std::size_t kMaxDepth = 4096;

}  // namespace

HostApplication::HostApplication(const ProcessTable& table, pid_t member)
    : table_(table), member_(member) {
  const auto& own = entry(member);
  if (!own) return;
  root_ = member;
  // A program that cannot be read is compared with none.
  for (std::size_t depth = 0; own->program && depth < kMaxDepth; ++depth) {
    const auto& current = entry(root_);
    const auto& parent = entry(current->parent);
    if (current->parent <= 1 || !parent || parent->program != own->program) break;
    root_ = current->parent;
  }
}

const std::optional<ProcessEntry>& HostApplication::entry(pid_t pid) const {
  auto found = read_.find(pid);
  if (found == read_.end())
    found = read_.emplace(pid, pid > 0 ? table_.read(pid) : std::nullopt).first;
  return found->second;
}

// Walks up from the pid until the root, a known answer, or the top.
bool HostApplication::contains(pid_t pid) const {
  if (root_ == 0) return false;
  std::vector<pid_t> path;
  bool inside = false;
  for (pid_t current = pid; path.size() < kMaxDepth; current = entry(current)->parent) {
    if (current == root_) {
      inside = entry(current).has_value();
      break;
    }
    if (auto known = contained_.find(current); known != contained_.end()) {
      inside = known->second;
      break;
    }
    if (current <= 1 || !entry(current)) break;
    path.push_back(current);
  }
  for (pid_t walked : path) contained_[walked] = inside;
  return inside;
}

bool HostApplication::runs(pid_t pid, const std::string& programName) const {
  const auto& found = entry(pid);
  return found && !found->programName.empty() && found->programName == programName;
}

bool HostApplication::containsRunning(pid_t pid, const std::string& programName) const {
  return contains(pid) && runs(pid, programName);
}

bool HostApplication::memberRuns(const std::string& programName) const {
  return runs(member_, programName);
}

}  // namespace mivo::audio::pipewire
