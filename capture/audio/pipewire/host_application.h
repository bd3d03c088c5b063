// The processes of one application, as the kernel's process tree shows
// them at one moment: every process below the oldest ancestor of a member
// that runs the same program. A browser engine's browser, zygote, renderers
// and audio service run one program file, so the application is rooted at
// the first of them; what its descendants run does not matter (a ringtone
// played by a child player is the application's sound too). Made once per
// graph change and asked for many pids: each process is read once.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>

#include "audio/pipewire/process_table.h"

namespace mivo::audio::pipewire {

class HostApplication {
 public:
  // member is a process of the application, as the table numbers it.
  HostApplication(const ProcessTable& table, pid_t member);

  // The process is the root or a descendant of it. A pid that is gone or
  // cannot be read is not: the process it stood for has ended.
  bool contains(pid_t pid) const;
  // The process is in the application and runs the program named so (the
  // file name of its path).
  bool containsRunning(pid_t pid, const std::string& programName) const;
  // The member the application was found from runs that program.
  bool memberRuns(const std::string& programName) const;

 private:
  const std::optional<ProcessEntry>& entry(pid_t pid) const;
  bool runs(pid_t pid, const std::string& programName) const;

  const ProcessTable& table_;
  pid_t member_;
  pid_t root_ = 0;  // 0 when the member itself could not be read
  mutable std::map<pid_t, std::optional<ProcessEntry>> read_;
  mutable std::map<pid_t, bool> contained_;
};

}  // namespace mivo::audio::pipewire
