// The kernel's table of processes, as much of it as deciding which
// processes make up an application needs: each process's parent and the
// program it runs. A seam, so that the rules built on it run against a
// table of our own making too.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace mivo::audio::pipewire {

// A program file by its identity on disk, not its path: the same file
// reached through another path or a link is the same program.
struct ProgramFile {
  unsigned long long device = 0;
  unsigned long long inode = 0;
  bool operator==(const ProgramFile&) const = default;
};

struct ProcessEntry {
  pid_t parent = 0;
  // Unknown when the program cannot be read (another user's process).
  std::optional<ProgramFile> program;
  std::string programName;  // the file name of the program's path, "" when unknown
};

class ProcessTable {
 public:
  virtual ~ProcessTable() = default;
  // Nullopt when the process is gone or cannot be read.
  virtual std::optional<ProcessEntry> read(pid_t pid) const = 0;
  // This process's pid as the table numbers processes (it differs from
  // getpid() when the table was made for another PID namespace).
  virtual std::optional<pid_t> self() const = 0;
};

// The parent pid in the text of /proc/<pid>/stat: the fourth field,
// counted after the last ')', since the command name before it may hold
// spaces and parentheses itself.
std::optional<pid_t> parentInStat(std::string_view stat);

// The file name of a program's path as the kernel shows it, without the
// " (deleted)" it appends once the file was replaced (by an upgrade).
std::string programNameOf(std::string_view path);

}  // namespace mivo::audio::pipewire
