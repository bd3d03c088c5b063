// The session in use, and connecting again after a loss. When the server of
// the session in use goes away, the listeners are told at once and, for as
// long as someone listens, a timer on the loop thread connects again with
// growing pauses (no thread of its own, no busy loop); once the new session
// has read the graph and the default output it is put in use and the
// listeners are told again. Objects of the lost session stay gone; until
// then operations find no server.
//
// Everything here runs with the loop locked: the timer on the loop thread,
// the rest from operations, which also hold the operations lock.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "audio/pipewire/core_session.h"
#include "audio/pipewire/listener_list.h"
#include "audio/pipewire/thread_loop.h"

namespace mivo::audio::pipewire {

// The pauses between attempts to connect again after a loss.
constexpr std::chrono::milliseconds kFirstRetry{50};
constexpr std::chrono::milliseconds kLongestRetry{1000};
// How often an opening session is looked at until it has settled.
constexpr std::chrono::milliseconds kSettlePoll{20};
// How long destruction waits for a binding's answer.
constexpr std::chrono::milliseconds kReleaseTimeout{1000};

class SessionKeeper {
 public:
  // operations is the lock every operation holds; the timer defers to it.
  SessionKeeper(ThreadLoop& loop, std::mutex& operations, ListenerList& listeners);
  ~SessionKeeper();
  SessionKeeper(const SessionKeeper&) = delete;
  SessionKeeper& operator=(const SessionKeeper&) = delete;

  // The live session, connecting first if there is none (or the old one was
  // lost) and the timer is not connecting already; nullptr when no server
  // answers.
  CoreSession* connected();
  // The live session, or nullptr.
  CoreSession* live();
  // The session in use, live or lost; nullptr when there is none.
  CoreSession* current() { return session_.get(); }

  // While reconnecting: the output of the lost capture devices, handed out
  // once as the default output (see the .cpp), and whether name is that
  // output, whose UID still answers until the new session is in use.
  std::optional<std::string> takeLostOutput();
  bool isLostOutput(const std::string& name) const;

 private:
  std::unique_ptr<CoreSession> openSession();
  void putInUse();
  void reconnectTick();
  // Whether dropping the session now deafens nobody: it is lost, or none of
  // its bindings of the default metadata still waits for its answer.
  static bool discardable(const std::unique_ptr<CoreSession>& session);
  std::optional<std::string> outputOfLostSession() const;

  ThreadLoop& loop_;
  std::mutex& operations_;
  ListenerList& listeners_;
  // The session in use; may be lost until the timer replaces it.
  std::unique_ptr<CoreSession> session_;
  // A session opening, by an operation or the timer, to replace a missing one.
  std::unique_ptr<CoreSession> opening_;
  std::unique_ptr<LoopTimer> reconnectTimer_;
  bool reconnecting_ = false;  // the timer connects again; operations do not
  // While reconnecting: the output of the lost capture devices, until it has
  // been reported as the default once; and the same, for its UID.
  std::optional<std::string> lostOutput_;
  std::optional<std::string> lastLostOutput_;
  std::chrono::milliseconds backoff_{0};
};

}  // namespace mivo::audio::pipewire
