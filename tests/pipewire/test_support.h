// Helpers for the tests against a private PipeWire session (pw-session.sh):
// players, tone detection, shell commands and waiting.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <span>
#include <string>

struct tone_stream;

namespace mivo::pwtest {

// A tone played by another process (tone_player), stopped on destruction.
class ForeignPlayer {
 public:
  explicit ForeignPlayer(double frequency);
  ~ForeignPlayer();
  ForeignPlayer(const ForeignPlayer&) = delete;
  ForeignPlayer& operator=(const ForeignPlayer&) = delete;
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// A tone played by this process on a PipeWire connection of its own.
class OwnTone {
 public:
  explicit OwnTone(double frequency);
  ~OwnTone();
  OwnTone(const OwnTone&) = delete;
  OwnTone& operator=(const OwnTone&) = delete;
  bool isPlaying() const { return stream_ != nullptr; }

 private:
  tone_stream* stream_ = nullptr;
};

// Amplitude of the frequency's component (Goertzel): a sine of amplitude a
// at that frequency gives about a.
double toneAmplitude(std::span<const float> samples, double frequency, double sampleRate);

// Standard output of a shell command; empty when it could not run.
std::string commandOutput(const std::string& command);
// Runs a shell command; true when it exited with 0.
bool run(const std::string& command);

// Polls condition every 20 ms until it holds or the timeout passed.
bool eventually(std::chrono::milliseconds timeout, const std::function<bool()>& condition);

// Counts of this process's threads and open file descriptors, and its
// resident memory in KiB.
int threadCount();
int openDescriptorCount();
long residentKiB();

}  // namespace mivo::pwtest
