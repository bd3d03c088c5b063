#include "child_process.h"

#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <stdexcept>

extern char** environ;

namespace mivo::ocr::testing {
namespace {

class Pipe {
 public:
  Pipe() {
    if (pipe(ends_.data()) != 0) {
      throw std::runtime_error("pipe failed");
    }
  }
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  [[nodiscard]] int readEnd() const { return ends_[0]; }
  [[nodiscard]] int writeEnd() const { return ends_[1]; }
  void closeRead() { closeEnd(0); }
  void closeWrite() { closeEnd(1); }

 private:
  void closeEnd(std::size_t index) {
    if (ends_[index] >= 0) {
      close(ends_[index]);
      ends_[index] = -1;
    }
  }
  std::array<int, 2> ends_{-1, -1};
};

// Drains both pipes together so that neither can fill up and stall the child.
void drain(Pipe& out, Pipe& err, ProcessResult& result) {
  std::array<pollfd, 2> fds{pollfd{out.readEnd(), POLLIN, 0}, pollfd{err.readEnd(), POLLIN, 0}};
  std::array<std::string*, 2> sinks{&result.standardOutput, &result.standardError};
  int open = 2;
  while (open > 0 && poll(fds.data(), fds.size(), -1) > 0) {
    for (std::size_t index = 0; index < fds.size(); ++index) {
      if (fds[index].fd < 0 || fds[index].revents == 0) {
        continue;
      }
      std::array<char, 4096> buffer{};
      const ssize_t count = read(fds[index].fd, buffer.data(), buffer.size());
      if (count <= 0) {
        fds[index].fd = -1;
        --open;
      } else {
        sinks[index]->append(buffer.data(), static_cast<std::size_t>(count));
      }
    }
  }
}

std::vector<char*> pointersTo(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& text : strings) {
    pointers.push_back(const_cast<char*>(text.c_str()));
  }
  pointers.push_back(nullptr);
  return pointers;
}

std::vector<std::string> environmentWith(const std::vector<std::string>& extra) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    environment.emplace_back(*entry);
  }
  environment.insert(environment.end(), extra.begin(), extra.end());
  return environment;
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& arguments,
                         const std::vector<std::string>& extraEnvironment) {
  Pipe out;
  Pipe err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out.writeEnd(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.writeEnd(), STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, out.readEnd());
  posix_spawn_file_actions_addclose(&actions, err.readEnd());
  std::vector<char*> argv = pointersTo(arguments);
  const std::vector<std::string> environment = environmentWith(extraEnvironment);
  std::vector<char*> envp = pointersTo(environment);
  pid_t child = 0;
  const int spawnError = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawnError != 0) {
    throw std::runtime_error("cannot start " + arguments.front());
  }
  out.closeWrite();
  err.closeWrite();
  ProcessResult result;
  drain(out, err, result);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.peakMemoryKiB = usage.ru_maxrss;
  return result;
}

}  // namespace mivo::ocr::testing
