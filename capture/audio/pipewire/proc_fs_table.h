// The process table as the proc file system shows it: /proc/<pid>/stat for
// the parent, /proc/<pid>/exe for the program. Every read asks the kernel
// afresh; whoever needs a consistent view keeps what it read.
#pragma once

#include <string>

#include "audio/pipewire/process_table.h"

namespace mivo::audio::pipewire {

class ProcFsTable final : public ProcessTable {
 public:
  // root is where the proc file system is mounted.
  explicit ProcFsTable(std::string root = "/proc");
  std::optional<ProcessEntry> read(pid_t pid) const override;
  std::optional<pid_t> self() const override;

 private:
  std::string root_;
};

}  // namespace mivo::audio::pipewire
