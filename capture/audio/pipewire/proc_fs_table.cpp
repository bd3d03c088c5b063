#include "audio/pipewire/proc_fs_table.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

namespace mivo::audio::pipewire {

namespace {

// The whole file, or nothing when it cannot be read: a process that ends
// while its files are read fails the read (ESRCH), and the library's streams
// would throw that on the server's thread.
std::optional<std::string> fileText(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return std::nullopt;
  std::string text;
  char chunk[4096];
  ssize_t length = 0;
  while ((length = ::read(descriptor, chunk, sizeof chunk)) != 0) {
    if (length > 0)
      text.append(chunk, std::size_t(length));
    else if (errno != EINTR)
      break;
  }
  ::close(descriptor);
  if (length < 0) return std::nullopt;
  return text;
}

std::optional<std::string> linkTarget(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t length = readlink(path.c_str(), target, sizeof target);
  if (length <= 0 || std::size_t(length) >= sizeof target) return std::nullopt;
  return std::string(target, std::size_t(length));
}

}  // namespace

ProcFsTable::ProcFsTable(std::string root) : root_(std::move(root)) {}

std::optional<ProcessEntry> ProcFsTable::read(pid_t pid) const {
  const std::string folder = root_ + "/" + std::to_string(pid);
  const std::optional<std::string> stat = fileText(folder + "/stat");
  if (!stat) return std::nullopt;
  auto parent = parentInStat(*stat);
  if (!parent) return std::nullopt;
  ProcessEntry entry;
  entry.parent = *parent;
  // stat() follows the link to the program file itself.
  struct stat program {};
  if (::stat((folder + "/exe").c_str(), &program) == 0)
    entry.program = ProgramFile{program.st_dev, program.st_ino};
  if (auto path = linkTarget(folder + "/exe")) entry.programName = programNameOf(*path);
  return entry;
}

std::optional<pid_t> ProcFsTable::self() const {
  auto target = linkTarget(root_ + "/self");
  if (!target) return std::nullopt;
  pid_t pid = 0;
  auto [end, error] = std::from_chars(target->data(), target->data() + target->size(), pid);
  if (error != std::errc() || end != target->data() + target->size()) return std::nullopt;
  return pid;
}

}  // namespace mivo::audio::pipewire
