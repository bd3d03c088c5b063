#include "test_support.h"

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <stdexcept>
#include <string>
#include <thread>

#include "tone_stream.h"

extern char** environ;

namespace mivo::pwtest {

ForeignPlayer::ForeignPlayer(double frequency) {
  std::string frequencyText = std::to_string(frequency);
  const char* argv[] = {MIVO_TONE_PLAYER, frequencyText.c_str(), "0", nullptr};
  if (posix_spawn(&pid_, MIVO_TONE_PLAYER, nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
    throw std::runtime_error("could not start the tone player");
}

ForeignPlayer::~ForeignPlayer() {
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
}

OwnTone::OwnTone(double frequency) : stream_(tone_stream_start(frequency, 0.5f)) {}

OwnTone::~OwnTone() { tone_stream_stop(stream_); }

double toneAmplitude(std::span<const float> samples, double frequency, double sampleRate) {
  if (samples.empty()) return 0;
  double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / sampleRate);
  double previous = 0, beforePrevious = 0;
  for (float sample : samples) {
    double current = sample + coefficient * previous - beforePrevious;
    beforePrevious = previous;
    previous = current;
  }
  double power = previous * previous + beforePrevious * beforePrevious -
                 coefficient * previous * beforePrevious;
  return 2 * std::sqrt(std::max(power, 0.0)) / double(samples.size());
}

std::string commandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char chunk[4096];
  while (std::size_t read = std::fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, read);
  pclose(pipe);
  return output;
}

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

bool eventually(std::chrono::milliseconds timeout, const std::function<bool()>& condition) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

namespace {

int entriesIn(const char* folder) {
  int count = 0;
  DIR* directory = opendir(folder);
  if (directory == nullptr) return -1;
  while (dirent* entry = readdir(directory))
    if (entry->d_name[0] != '.') ++count;
  closedir(directory);
  return count;
}

}  // namespace

int threadCount() { return entriesIn("/proc/self/task"); }

// The descriptor of the listing itself is counted too; it is there every time.
int openDescriptorCount() { return entriesIn("/proc/self/fd"); }

long residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kib = 0;
      status >> kib;
      return kib;
    }
    status.ignore(1 << 16, '\n');
  }
  return -1;
}

}  // namespace mivo::pwtest
