#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <string>
#include <thread>

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <pulse/simple.h>

#include "tone_stream.h"

extern char** environ;

namespace mivo::pwtest {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, int stopSignal, Lineage lineage)
    : stopSignal_(stopSignal) {
  std::vector<char*> arguments;
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  if (lineage == Lineage::stranger) {
    startStranger(arguments);
  } else if (posix_spawnp(&pid_, arguments[0], nullptr, nullptr, arguments.data(), environ) != 0) {
    pid_ = -1;
  }
  if (pid_ <= 0) throw std::runtime_error("could not start " + argv.front());
}

// A shell starts the process in the background, tells its pid on
// descriptor 3 and exits, so that the process is left without its parent.
void ChildProcess::startStranger(const std::vector<char*>& arguments) {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return;
  std::vector<char*> shell{const_cast<char*>("sh"), const_cast<char*>("-c"),
                           const_cast<char*>("\"$@\" 3>&- & echo $! >&3"), const_cast<char*>("sh")};
  shell.insert(shell.end(), arguments.begin(), arguments.end());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe[1], 3);
  pid_t shellPid = -1;
  const int spawned = posix_spawnp(&shellPid, "sh", &actions, nullptr, shell.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe[1]);
  if (spawned == 0) {
    int status = 0;
    waitpid(shellPid, &status, 0);
    char text[32] = {};
    if (::read(pipe[0], text, sizeof text - 1) > 0) pid_ = std::atoi(text);
  }
  close(pipe[0]);
  if (pid_ > 0) exitDescriptor_ = int(syscall(SYS_pidfd_open, pid_, 0));
}

ChildProcess::~ChildProcess() {
  kill(pid_, stopSignal_);
  if (exitDescriptor_ < 0) {
    int status = 0;
    waitpid(pid_, &status, 0);
    return;
  }
  pollfd ended{exitDescriptor_, POLLIN, 0};
  poll(&ended, 1, 10000);
  close(exitDescriptor_);
}

ForeignPlayer::ForeignPlayer(double frequency, const std::string& layout,
                             const std::string& toneChannels)
    : ChildProcess({MIVO_TONE_PLAYER, std::to_string(frequency), "0", "0", "0.5", layout,
                    toneChannels.empty() ? layout : toneChannels},
                   SIGTERM, Lineage::stranger) {}

// unshare waits through SIGTERM; killed, it takes its child along.
SandboxedPlayer::SandboxedPlayer(double frequency)
    : ChildProcess({"unshare", "--pid", "--fork", "--mount-proc", "--kill-child", MIVO_TONE_PLAYER,
                    std::to_string(frequency), "0"},
                   SIGKILL, Lineage::stranger) {}

EffectsFilter::EffectsFilter(const std::string& name) : ChildProcess({MIVO_EFFECTS_FILTER, name}) {}

JackPlayer::JackPlayer(double frequency, const std::string& pattern, Lineage lineage)
    : ChildProcess({"pw-jack", MIVO_JACK_TONE, std::to_string(frequency), pattern}, SIGTERM,
                   lineage) {}

JackEffect::JackEffect(const std::string& name, const std::string& pattern)
    : ChildProcess({"pw-jack", MIVO_JACK_TONE, "--effect", name, pattern}, SIGTERM,
                   Lineage::stranger) {}

OwnTone::OwnTone(double frequency) : stream_(tone_stream_start(frequency, 0.5f)) {}

OwnTone::~OwnTone() { tone_stream_stop(stream_); }

// Stereo float at 48 kHz, amplitude 0.5, written 10 ms at a time (each
// write waits for room).
OwnPulseTone::OwnPulseTone(double frequency) {
  const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, 48000, 2};
  stream_ = pa_simple_new(nullptr, "mivo-test-host", PA_STREAM_PLAYBACK, nullptr, "own tone",
                          &format, nullptr, nullptr, nullptr);
  if (stream_ == nullptr) return;
  writer_ = std::thread([this, step = 2 * std::numbers::pi * frequency / 48000] {
    std::vector<float> chunk(2 * 480);
    double phase = 0;
    while (!stopping_) {
      for (std::size_t frame = 0; frame < chunk.size() / 2; ++frame, phase += step)
        chunk[2 * frame] = chunk[2 * frame + 1] = float(0.5 * std::sin(phase));
      if (pa_simple_write(stream_, chunk.data(), chunk.size() * sizeof(float), nullptr) < 0) return;
    }
  });
}

OwnPulseTone::~OwnPulseTone() {
  stopping_ = true;
  if (writer_.joinable()) writer_.join();
  if (stream_ != nullptr) pa_simple_free(stream_);
}

ToneFile::ToneFile(double frequency)
    : path_(std::filesystem::temp_directory_path() /
            ("mivo-tone-" + std::to_string(getpid()) + "-" + std::to_string(frequency) + ".wav")) {
  constexpr std::uint32_t kRate = 48000, kFrames = 30 * kRate, kBytes = kFrames * 4;
  std::ofstream file(path_, std::ios::binary);
  auto put = [&](auto value) { file.write(reinterpret_cast<const char*>(&value), sizeof value); };
  file.write("RIFF", 4);
  put(std::uint32_t(36 + kBytes));
  file.write("WAVEfmt ", 8);
  put(std::uint32_t(16));
  put(std::uint16_t(1));  // integer samples
  put(std::uint16_t(2));
  put(kRate);
  put(std::uint32_t(kRate * 4));
  put(std::uint16_t(4));
  put(std::uint16_t(16));
  file.write("data", 4);
  put(kBytes);
  const double step = 2 * std::numbers::pi * frequency / kRate;
  for (std::uint32_t frame = 0; frame < kFrames; ++frame) {
    const auto sample = std::int16_t(std::lround(16383 * std::sin(step * frame)));
    put(sample);
    put(sample);
  }
}

ToneFile::~ToneFile() { std::filesystem::remove(path_); }

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

double steadyToneAmplitude(std::span<const float> samples, double frequency, double sampleRate) {
  const auto window = std::size_t(sampleRate / 10);
  std::vector<double> amplitudes;
  for (std::size_t start = 0; start + window <= samples.size(); start += window)
    amplitudes.push_back(toneAmplitude(samples.subspan(start, window), frequency, sampleRate));
  if (amplitudes.empty()) return 0;
  auto middle = amplitudes.begin() + std::ptrdiff_t(amplitudes.size() / 2);
  std::nth_element(amplitudes.begin(), middle, amplitudes.end());
  return *middle;
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

// The entries of FOLDER that ACCEPT takes, by name.
int entriesIn(const char* folder, const std::function<bool(const char*)>& accept = nullptr) {
  int count = 0;
  DIR* directory = opendir(folder);
  if (directory == nullptr) return -1;
  while (dirent* entry = readdir(directory))
    if (entry->d_name[0] != '.' && (!accept || accept(entry->d_name))) ++count;
  closedir(directory);
  return count;
}

}  // namespace

int threadCount() { return entriesIn("/proc/self/task"); }

int realtimeThreadCount() {
  return entriesIn("/proc/self/task", [](const char* task) {
    int policy = sched_getscheduler(std::stoi(task)) & ~SCHED_RESET_ON_FORK;
    return policy == SCHED_FIFO || policy == SCHED_RR;
  });
}

// The descriptor of the listing itself is counted too; it is there every time.
int openDescriptorCount() { return entriesIn("/proc/self/fd"); }

long residentKiB() {
  // From the first reading on, large blocks go back to the system when
  // freed: by default glibc raises this bound after each large free and
  // keeps the converter's 17 MB blocks in heaps that trimming does not
  // always return.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  malloc_trim(0);  // freed memory the allocator still keeps is not held
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

namespace mivo::pwtest {

bool sessionCommand(const std::string& command, const std::string& arguments) {
  const char* folder = std::getenv("MIVO_PW_SESSION_DIR");
  if (folder == nullptr) return false;
  return run(std::string(MIVO_PW_SESSION_SCRIPT) + " " + command + " " + folder + " " + arguments +
             " >/dev/null");
}

pid_t daemonPid(const std::string& name) {
  const char* folder = std::getenv("MIVO_PW_SESSION_DIR");
  if (folder == nullptr) return -1;
  std::ifstream pids(std::string(folder) + "/pids");
  std::string daemon;
  pid_t pid = -1, found = -1;
  while (pids >> daemon >> pid)
    if (daemon == name) found = pid;
  return found;
}

namespace {

// A connection with its own loop thread; the registry names the "default"
// metadata's global id once the first round trip has answered.
struct Connection {
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_registry* registry = nullptr;
  spa_hook registryListener{};
  std::uint32_t metadataId = 0;

  Connection() {
    pw_init(nullptr, nullptr);
    loop = pw_thread_loop_new("test-metadata", nullptr);
    context = pw_context_new(pw_thread_loop_get_loop(loop), nullptr, 0);
    pw_thread_loop_start(loop);
    pw_thread_loop_lock(loop);
    core = pw_context_connect(context, nullptr, 0);
    if (core == nullptr) throw std::runtime_error("no server");
    static const pw_registry_events events = [] {
      pw_registry_events e{};
      e.version = PW_VERSION_REGISTRY_EVENTS;
      e.global = [](void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
                    const spa_dict* props) {
        const char* name =
            props != nullptr ? spa_dict_lookup(props, PW_KEY_METADATA_NAME) : nullptr;
        if (std::string(type) == PW_TYPE_INTERFACE_Metadata && name != nullptr &&
            std::string(name) == "default")
          static_cast<Connection*>(data)->metadataId = id;
      };
      return e;
    }();
    registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(registry, &registryListener, &events, this);
    pw_thread_loop_unlock(loop);
    eventually(std::chrono::seconds(5), [&] {
      pw_thread_loop_lock(loop);
      bool found = metadataId != 0;
      pw_thread_loop_unlock(loop);
      return found;
    });
  }
  ~Connection() {
    pw_thread_loop_lock(loop);
    spa_hook_remove(&registryListener);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
    pw_core_disconnect(core);
    pw_thread_loop_unlock(loop);
    pw_thread_loop_stop(loop);
    pw_context_destroy(context);
    pw_thread_loop_destroy(loop);
  }
  pw_proxy* bindMetadata() {
    return static_cast<pw_proxy*>(
        pw_registry_bind(registry, metadataId, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
  }
};

}  // namespace

struct DefaultSinkObserver::State {
  Connection connection;
  pw_proxy* metadata = nullptr;
  spa_hook listener{};
  std::mutex mutex;
  std::string heard;
};

DefaultSinkObserver::DefaultSinkObserver() : state_(std::make_unique<State>()) {
  static const pw_metadata_events events = [] {
    pw_metadata_events e{};
    e.version = PW_VERSION_METADATA_EVENTS;
    e.property = [](void* data, std::uint32_t subject, const char* key, const char*,
                    const char* value) {
      auto* state = static_cast<State*>(data);
      if (subject == PW_ID_CORE && key != nullptr && std::string(key) == "default.audio.sink") {
        std::lock_guard lock(state->mutex);
        state->heard = value != nullptr ? value : "";
      }
      return 0;
    };
    return e;
  }();
  pw_thread_loop_lock(state_->connection.loop);
  state_->metadata = state_->connection.bindMetadata();
  pw_metadata_add_listener(reinterpret_cast<pw_metadata*>(state_->metadata), &state_->listener,
                           &events, state_.get());
  pw_thread_loop_unlock(state_->connection.loop);
  eventually(std::chrono::seconds(5), [&] { return !lastHeard().empty(); });
}

DefaultSinkObserver::~DefaultSinkObserver() {
  pw_thread_loop_lock(state_->connection.loop);
  spa_hook_remove(&state_->listener);
  pw_proxy_destroy(state_->metadata);
  pw_thread_loop_unlock(state_->connection.loop);
}

std::string DefaultSinkObserver::lastHeard() {
  std::lock_guard lock(state_->mutex);
  return state_->heard;
}

void bindDefaultMetadataAndVanish() {
  Connection connection;
  pw_thread_loop_lock(connection.loop);
  connection.bindMetadata();
  pw_thread_loop_unlock(connection.loop);
  // Long enough for the server to take the bind and ask the session manager.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

}  // namespace mivo::pwtest
