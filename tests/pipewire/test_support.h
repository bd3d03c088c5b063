// Helpers for the tests against a private PipeWire session (pw-session.sh):
// players, tone detection, shell commands and waiting.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

struct tone_stream;
struct pa_simple;

namespace mivo::pwtest {

// Where a started process sits in the process tree: below this process,
// so part of the host's application whatever it runs, or outside it (its
// parent gone), as another application's process.
enum class Lineage { child, stranger };

// Another process, started with argv, stopped (stopSignal) on destruction.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv, int stopSignal = SIGTERM,
                        Lineage lineage = Lineage::child);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  pid_t pid() const { return pid_; }

 private:
  void startStranger(const std::vector<char*>& arguments);

  pid_t pid_ = -1;
  int stopSignal_;
  int exitDescriptor_ = -1;  // a stranger's pidfd, readable once it ended
};

// A tone played by another application's process (tone_player): amplitude 0.5 on every
// channel of a stereo stream, or on the channels toneChannels lists of a
// stream whose channels layout lists ("FL,FR,FC,LFE,RL,RR").
class ForeignPlayer : public ChildProcess {
 public:
  explicit ForeignPlayer(double frequency, const std::string& layout = "FL,FR",
                         const std::string& toneChannels = "");
};

// A tone like ForeignPlayer's, played by another application's pid 1 of a PID namespace of its
// own (unshare --pid --fork --mount-proc), the way a sandbox numbers an
// application's processes.
class SandboxedPlayer : public ChildProcess {
 public:
  explicit SandboxedPlayer(double frequency);
};

// An effects application's filter node (effects_filter) named name, which
// passes its input_FL/FR on to its output_FL/FR; the test links it.
class EffectsFilter : public ChildProcess {
 public:
  explicit EffectsFilter(const std::string& name);
};

// A JACK client under pw-jack, another application's unless told, playing a tone of amplitude 0.5
// into every input port whose JACK name matches pattern.
class JackPlayer : public ChildProcess {
 public:
  JackPlayer(double frequency, const std::string& pattern, Lineage lineage = Lineage::stranger);
};

// Another application's JACK effect under pw-jack (jack_tone --effect): its port
// NAME:in passed on to NAME:out, which plays into every input port whose
// JACK name matches pattern.
class JackEffect : public ChildProcess {
 public:
  JackEffect(const std::string& name, const std::string& pattern);
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

// A tone played by this process through the pulse server (as browsers and
// their kin play), from a thread of its own.
class OwnPulseTone {
 public:
  explicit OwnPulseTone(double frequency);
  ~OwnPulseTone();
  OwnPulseTone(const OwnPulseTone&) = delete;
  OwnPulseTone& operator=(const OwnPulseTone&) = delete;
  bool isPlaying() const { return stream_ != nullptr; }

 private:
  pa_simple* stream_ = nullptr;
  std::atomic<bool> stopping_ = false;
  std::thread writer_;
};

// A 16-bit stereo WAV file at 48 kHz of a tone at amplitude 0.5, 30 s long,
// for the players that read files; removed on destruction.
class ToneFile {
 public:
  explicit ToneFile(double frequency);
  ~ToneFile();
  ToneFile(const ToneFile&) = delete;
  ToneFile& operator=(const ToneFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Amplitude of the frequency's component (Goertzel): a sine of amplitude a
// at that frequency gives about a.
double toneAmplitude(std::span<const float> samples, double frequency, double sampleRate);

// The tone's steady amplitude: the median of toneAmplitude over 100 ms
// windows. One lost or repeated cycle (a player's underrun on a busy machine)
// shifts the phase, and over one long window the two halves cancel (a 5.3 ms
// jump leaves 0.47 of a 440 Hz tone); over short windows it costs only one.
double steadyToneAmplitude(std::span<const float> samples, double frequency, double sampleRate);

// Standard output of a shell command; empty when it could not run.
std::string commandOutput(const std::string& command);
// Runs a shell command; true when it exited with 0.
bool run(const std::string& command);

// Polls condition every 20 ms until it holds or the timeout passed.
bool eventually(std::chrono::milliseconds timeout, const std::function<bool()>& condition);

// Runs "pw-session.sh COMMAND <this session's folder> ARGS" (kill, revive);
// true when it exited with 0.
bool sessionCommand(const std::string& command, const std::string& arguments = "");
// The pid of one of the session's daemons; -1 when unknown.
pid_t daemonPid(const std::string& name);

// A binding of the "default" metadata on a connection of its own, kept for
// the object's life: the default sink it last heard of. Stands for any
// long-lived client of the metadata (pipewire-pulse, a settings panel).
class DefaultSinkObserver {
 public:
  DefaultSinkObserver();
  ~DefaultSinkObserver();
  DefaultSinkObserver(const DefaultSinkObserver&) = delete;
  DefaultSinkObserver& operator=(const DefaultSinkObserver&) = delete;
  // The JSON value of default.audio.sink it last heard, "" before any.
  std::string lastHeard();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Binds the "default" metadata and disconnects without waiting for the
// answer, the way a client that quits or times out at the wrong moment
// does. With the session manager stopped meanwhile, this leaves the
// metadata module's count of waiting bindings stuck for good.
void bindDefaultMetadataAndVanish();

// Counts of this process's threads and open file descriptors, and its
// resident memory in KiB.
int threadCount();
int realtimeThreadCount();  // scheduled SCHED_FIFO or SCHED_RR
int openDescriptorCount();
// Of this process, freed heap returned first; large blocks are unmapped when
// freed from the first reading on.
long residentKiB();

}  // namespace mivo::pwtest
