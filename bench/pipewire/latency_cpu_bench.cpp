// Latency from a foreign player's write to the frame callback, and CPU time
// of the capturing process per second of audio, with three streams playing:
// one of short bursts (whose onsets are timed) and two quiet tones. Each
// figure is set against a baseline measured in the same run: a bare
// PipeWire capture of the output's monitor, made in this process without
// the library. Then the audio lost per default-output switch: a player
// plays a ramp that rises one step per frame, so every frame the capture
// misses shows as a jump, while the default output moves between A and B.
//   mivo_pipewire_bench TONE_PLAYER [SECONDS]   (default 20 s per phase)
// Run inside a PipeWire session (bench/pipewire/run.sh starts one).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include "mivo_capture.h"

namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC, as the player's stamps

constexpr double kBurstThreshold = 0.3;  // the bursts reach 0.5, the quiet tones 0.1 together
constexpr std::int64_t kQuietFramesBeforeOnset = 4800;
constexpr int kBurstPeriodMs = 500;

std::int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Finds burst onsets in the captured mono signal and stamps each with the
// time its block reached us.
class OnsetDetector {
 public:
  void feed(const float* samples, std::size_t count, std::int64_t arrivalNs) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < count; ++i) {
      if (std::abs(samples[i]) > kBurstThreshold) {
        if (quietFrames_ >= kQuietFramesBeforeOnset) arrivals_.push_back(arrivalNs);
        quietFrames_ = 0;
      } else {
        ++quietFrames_;
      }
    }
    frames_ += std::int64_t(count);
  }
  std::vector<std::int64_t> arrivals() {
    std::lock_guard lock(mutex_);
    return arrivals_;
  }
  std::int64_t frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }
  void reset() {
    std::lock_guard lock(mutex_);
    arrivals_.clear();
    frames_ = 0;
  }

 private:
  std::mutex mutex_;
  std::vector<std::int64_t> arrivals_;
  std::int64_t quietFrames_ = 0;
  std::int64_t frames_ = 0;
};

// A tone_player of another application: a child of ours would be this
// host's own sound, which the capture leaves out. A shell starts it in the
// background, tells its pid on descriptor 3 and exits. In burst mode its
// "onset <ns>" lines are collected.
class Player {
 public:
  Player(const std::string& program, double frequency, int burstPeriodMs, double amplitude) {
    std::string command = program + " " + std::to_string(frequency) + " 0 " +
                          std::to_string(burstPeriodMs) + " " + std::to_string(amplitude);
    int output[2];
    int told[2];
    if (pipe(output) != 0 || pipe(told) != 0) std::abort();
    const pid_t shell = fork();
    if (shell == 0) {
      dup2(output[1], STDOUT_FILENO);
      dup2(told[1], 3);
      // One of the pipe's ends may have been descriptor 3 itself.
      for (int fd : {output[0], output[1], told[0], told[1]})
        if (fd != STDOUT_FILENO && fd != 3) close(fd);
      execl("/bin/sh", "sh", "-c", (command + " 3>&- & echo $! >&3").c_str(), nullptr);
      _exit(127);
    }
    close(output[1]);
    close(told[1]);
    waitpid(shell, nullptr, 0);
    char text[32] = {};
    if (read(told[0], text, sizeof text - 1) <= 0) std::abort();
    close(told[0]);
    pid_ = std::atoi(text);
    reader_ = std::thread([this, input = fdopen(output[0], "r")] {
      unsigned long long stamp = 0;
      while (std::fscanf(input, "onset %llu\n", &stamp) == 1) {
        std::lock_guard lock(mutex_);
        onsets_.push_back(std::int64_t(stamp));
      }
      std::fclose(input);
    });
  }
  // The reader ends when the player's output closes, that is when it ended.
  ~Player() {
    kill(pid_, SIGTERM);
    reader_.join();
  }
  std::vector<std::int64_t> onsets() {
    std::lock_guard lock(mutex_);
    return onsets_;
  }

 private:
  pid_t pid_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::vector<std::int64_t> onsets_;
};

// The baseline: a plain capture stream on output A's monitor.
class BareCapture {
 public:
  explicit BareCapture(OnsetDetector& detector) : detector_(detector) {
    loop_ = pw_thread_loop_new("bare-capture", nullptr);
    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_TARGET_OBJECT, "A",
        PW_KEY_STREAM_CAPTURE_SINK, "true", PW_KEY_NODE_LATENCY, "256/48000", nullptr);
    static const pw_stream_events events = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.process = [](void* data) { static_cast<BareCapture*>(data)->process(); };
      return e;
    }();
    stream_ = pw_stream_new_simple(pw_thread_loop_get_loop(loop_), "bench-bare-capture", props,
                                   &events, this);
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.rate = 48000;
    info.channels = 2;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    std::uint8_t buffer[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, buffer, sizeof buffer);
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    pw_stream_connect(stream_, PW_DIRECTION_INPUT, PW_ID_ANY,
                      pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                      PW_STREAM_FLAG_RT_PROCESS),
                      params, 1);
    pw_thread_loop_start(loop_);
  }
  ~BareCapture() {
    pw_thread_loop_stop(loop_);
    pw_stream_destroy(stream_);
    pw_thread_loop_destroy(loop_);
  }

 private:
  void process() {
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
    if (buffer == nullptr) return;
    std::int64_t arrival = nowNs();
    const spa_data& data = buffer->buffer->datas[0];
    if (data.data != nullptr) {
      const auto* samples = static_cast<const float*>(data.data);
      std::size_t frames = data.chunk->size / 8;
      mono_.resize(frames);
      for (std::size_t i = 0; i < frames; ++i) mono_[i] = (samples[2 * i] + samples[2 * i + 1]) / 2;
      detector_.feed(mono_.data(), frames, arrival);
    }
    pw_stream_queue_buffer(stream_, buffer);
  }

  OnsetDetector& detector_;
  pw_thread_loop* loop_ = nullptr;
  pw_stream* stream_ = nullptr;
  std::vector<float> mono_;
};

void onStopped(void*) { std::fprintf(stderr, "capture went silent during the run\n"); }

// Counts the frames missing from a captured ramp (see tone_stream.h): each
// sample is the ramp's position in steps of 0.5/48000, rising by one per
// frame and wrapping every 48000. Over a stretch shorter than a second, the
// ramp's advance between the last samples before and after it, less the
// frames that arrived with sound in them, is the audio lost. (A frame that
// arrives at the wrong level, as when one channel's link is made a cycle
// before the other's, is not lost; one of silence is.)
class RampGapDetector {
 public:
  static constexpr long kPeriod = 48000;
  static constexpr double kStep = 0.5 / double(kPeriod);

  struct Mark {
    long soundFrames = 0;
    long position = 0;
  };

  void feed(const float* samples, std::size_t count) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < count; ++i) {
      if (samples[i] == 0.0f) continue;
      ++mark_.soundFrames;
      mark_.position = std::lround(double(samples[i]) / kStep);
    }
  }
  Mark mark() {
    std::lock_guard lock(mutex_);
    return mark_;
  }
  static long lostBetween(const Mark& before, const Mark& after) {
    long advance = (after.position - before.position + kPeriod) % kPeriod;
    return advance - (after.soundFrames - before.soundFrames);
  }

 private:
  std::mutex mutex_;
  Mark mark_;
};

void onRampFrame(void* ctx, std::uint8_t, const float* samples, std::int32_t count, std::int32_t) {
  static_cast<RampGapDetector*>(ctx)->feed(samples, std::size_t(count));
}

// Audio lost (ms) by each of switches default-output switches, 500 ms apart.
std::vector<double> rebuildGaps(const std::string& tonePlayer, int switches) {
  Player ramp(tonePlayer, 0, 0, 0.5);
  RampGapDetector detector;
  std::vector<double> gaps;
  if (mivo_tap_start(&detector, onRampFrame, onStopped) != MIVO_TAP_OK) return gaps;
  std::this_thread::sleep_for(std::chrono::seconds(1));
  for (int i = 0; i < switches; ++i) {
    RampGapDetector::Mark before = detector.mark();
    std::string command = std::string("pactl set-default-sink ") + (i % 2 == 0 ? "B" : "A");
    if (std::system(command.c_str()) != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    gaps.push_back(double(RampGapDetector::lostBetween(before, detector.mark())) * 1000.0 /
                   48000.0);
  }
  mivo_tap_stop();
  return gaps;
}

double median(std::vector<double> values, double p = 0.5) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

void onFrame(void* ctx, std::uint8_t, const float* samples, std::int32_t count, std::int32_t) {
  static_cast<OnsetDetector*>(ctx)->feed(samples, std::size_t(count), nowNs());
}

struct Figures {
  std::vector<double> latenciesMs;
  double cpuPercent = 0;
  std::int64_t frames = 0;

  double percentile(double p) const {
    if (latenciesMs.empty()) return 0;
    auto sorted = latenciesMs;
    std::sort(sorted.begin(), sorted.end());
    return sorted[std::min(sorted.size() - 1, std::size_t(p * double(sorted.size())))];
  }
};

// Pairs each written onset with the first detected arrival after it.
std::vector<double> latencies(const std::vector<std::int64_t>& written,
                              const std::vector<std::int64_t>& arrived) {
  std::vector<double> result;
  for (std::int64_t write : written) {
    auto arrival = std::upper_bound(arrived.begin(), arrived.end(), write);
    if (arrival != arrived.end() && *arrival - write < 250'000'000)
      result.push_back(double(*arrival - write) / 1e6);
  }
  return result;
}

Figures measure(Player& bursts, OnsetDetector& detector, int seconds) {
  std::this_thread::sleep_for(std::chrono::seconds(1));  // links settle
  detector.reset();
  std::int64_t start = nowNs();
  double cpuStart = cpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  Figures figures;
  figures.frames = detector.frames();
  double audioSeconds = double(figures.frames) / 48000.0;
  figures.cpuPercent = audioSeconds > 0 ? 100 * (cpuSeconds() - cpuStart) / audioSeconds : 0;
  std::vector<std::int64_t> written;
  for (std::int64_t onset : bursts.onsets())
    if (onset >= start) written.push_back(onset);
  figures.latenciesMs = latencies(written, detector.arrivals());
  return figures;
}

void print(const char* what, const Figures& f) {
  std::printf("%-18s %8.2f %8.2f %8.2f %7zu %10.2f %9.1f\n", what, f.percentile(0.5),
              f.percentile(0.95), f.percentile(1.0), f.latenciesMs.size(), f.cpuPercent,
              double(f.frames) / 48000.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s TONE_PLAYER [SECONDS]\n", argv[0]);
    return 2;
  }
  int seconds = argc > 2 ? std::atoi(argv[2]) : 20;
  pw_init(nullptr, nullptr);
  Figures bare;
  Figures library;
  {
    Player bursts(argv[1], 1000, kBurstPeriodMs, 0.5);
    Player quietLow(argv[1], 220, 0, 0.05);
    Player quietHigh(argv[1], 330, 0, 0.05);
    OnsetDetector detector;
    {
      BareCapture capture(detector);
      bare = measure(bursts, detector, seconds);
    }
    if (std::int32_t status = mivo_tap_start(&detector, onFrame, onStopped);
        status != MIVO_TAP_OK) {
      std::fprintf(stderr, "mivo_tap_start: %d %s\n", status, mivo_capture_last_error());
      return 1;
    }
    library = measure(bursts, detector, seconds);
    mivo_tap_stop();
  }
  constexpr int kSwitches = 20;
  std::vector<double> gaps = rebuildGaps(argv[1], kSwitches);

  std::printf("three streams playing (bursts every %d ms + two tones), %d s per capture\n",
              kBurstPeriodMs, seconds);
  std::printf("%-18s %8s %8s %8s %7s %10s %9s\n", "capture", "p50 ms", "p95 ms", "max ms", "onsets",
              "CPU %/s", "audio s");
  print("bare PipeWire", bare);
  print("libmivo_capture", library);
  std::printf("ratio library/bare: latency p50 %.2f, CPU %.2f\n",
              library.percentile(0.5) / std::max(bare.percentile(0.5), 1e-9),
              library.cpuPercent / std::max(bare.cpuPercent, 1e-9));
  std::printf(
      "audio lost per default-output switch (%zu switches): median %.1f ms, p95 %.1f ms, "
      "max %.1f ms\n",
      gaps.size(), median(gaps), median(gaps, 0.95), median(gaps, 1.0));
  return library.latenciesMs.empty() || bare.latenciesMs.empty() || gaps.size() != kSwitches ? 1
                                                                                             : 0;
}
