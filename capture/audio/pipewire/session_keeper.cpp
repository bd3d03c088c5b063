#include "audio/pipewire/session_keeper.h"

#include <algorithm>
#include <utility>

namespace mivo::audio::pipewire {

SessionKeeper::SessionKeeper(ThreadLoop& loop, std::mutex& operations, ListenerList& listeners)
    : loop_(loop), operations_(operations), listeners_(listeners) {
  LoopLock lock(loop_);
  reconnectTimer_ = std::make_unique<LoopTimer>(loop_, [this] { reconnectTick(); });
}

SessionKeeper::~SessionKeeper() {
  LoopLock lock(loop_);
  reconnectTimer_.reset();
  // A binding of the default metadata must not go before its answer, or it
  // deafens the server's other listeners (see DefaultOutputFollower).
  loop_.waitFor(kReleaseTimeout, [&] { return discardable(session_) && discardable(opening_); });
  opening_.reset();
  session_.reset();
}

bool SessionKeeper::discardable(const std::unique_ptr<CoreSession>& session) {
  return !session || !session->isAlive() || !session->follower().hasPendingBind();
}

std::unique_ptr<CoreSession> SessionKeeper::openSession() {
  CoreSession::Events events;
  events.defaultOutputChanged = [this] { listeners_.notify(kDefaultOutputDeviceAddress); };
  events.captureNodeFailed = [this] {
    if (!reconnecting_) listeners_.notify(kDefaultOutputDeviceAddress);
  };
  events.lost = [this] {
    // Everything of the session is gone with the server: the listeners look
    // again (and find their devices gone), and the backend connects again
    // by itself for as long as someone listens.
    if (!listeners_.empty()) {
      lostOutput_ = lastLostOutput_ = outputOfLostSession();
      reconnecting_ = true;
      backoff_ = kFirstRetry;
      reconnectTimer_->arm(kFirstRetry);
    }
    listeners_.notify(kDefaultOutputDeviceAddress);
  };
  return CoreSession::open(loop_, std::move(events));
}

// While the server is away, the output that the lost capture devices were
// built on is reported as the default output once (and keeps its UID): a
// capture then finds its device gone under an unchanged UID and rebuilds,
// and that rebuild fails (there is no server) and tells the host that the
// capture went silent.
// Reporting no default output instead would leave a dead chain in place
// without a word, as a capture does when the default output merely vanishes.
std::optional<std::string> SessionKeeper::outputOfLostSession() const {
  if (!session_) return std::nullopt;
  if (!session_->aggregates.empty()) return session_->aggregates.begin()->second.outputName;
  return session_->defaultSinkName();
}

void SessionKeeper::putInUse() {
  lostOutput_.reset();
  lastLostOutput_.reset();
  session_ = std::move(opening_);
  session_->markInUse();
  session_->follower().setProbing(!listeners_.empty());
  reconnecting_ = false;
  reconnectTimer_->disarm();
  loop_.signal();
}

// On the loop thread, with the loop lock: one step of connecting again.
// Sessions change only while no operation runs, since an operation may be
// waiting (the loop lock released) with a session's objects in hand; so the
// step is put off while one does.
void SessionKeeper::reconnectTick() {
  std::unique_lock operation(operations_, std::try_to_lock);
  if (!operation.owns_lock()) {
    reconnectTimer_->arm(kSettlePoll);
    return;
  }
  if (!reconnecting_) return;
  if (session_ && session_->isAlive()) {
    reconnecting_ = false;
    return;
  }
  session_.reset();  // lost with its server: nothing of it can deafen anybody
  auto now = CoreSession::Clock::now();
  bool wanted = !listeners_.empty();
  if (opening_ && (!wanted || !opening_->isAlive() || opening_->hasTimedOut(now))) {
    if (!discardable(opening_)) {
      reconnectTimer_->arm(kSettlePoll);
      return;
    }
    opening_.reset();
  }
  if (!wanted) {
    reconnecting_ = false;  // nobody listens: the next operation connects
    return;
  }
  if (!opening_) {
    opening_ = openSession();
    if (!opening_) {
      reconnectTimer_->arm(backoff_);
      backoff_ = std::min(backoff_ * 2, kLongestRetry);
      return;
    }
  }
  if (opening_->isSettled(now)) {
    putInUse();
    listeners_.notify(kDefaultOutputDeviceAddress);
    return;
  }
  reconnectTimer_->arm(kSettlePoll);
}

CoreSession* SessionKeeper::connected() {
  if (CoreSession* session = live()) return session;
  // While the backend connects again by itself, operations do not wait for
  // it: they find no server until the new session is in use.
  if (reconnecting_) return nullptr;
  session_.reset();
  if (!opening_) opening_ = openSession();
  if (!opening_) return nullptr;
  auto settled = [&] {
    return !opening_->isAlive() || opening_->isSettled(CoreSession::Clock::now());
  };
  loop_.waitFor(CoreSession::kConnectTimeout + CoreSession::kDefaultOutputTimeout, settled);
  if (opening_->isAlive() && opening_->isSettled(CoreSession::Clock::now()))
    putInUse();
  else if (discardable(opening_))
    opening_.reset();
  return live();
}

CoreSession* SessionKeeper::live() {
  return session_ && session_->isAlive() ? session_.get() : nullptr;
}

std::optional<std::string> SessionKeeper::takeLostOutput() {
  if (!reconnecting_) return std::nullopt;
  return std::exchange(lostOutput_, std::nullopt);
}

bool SessionKeeper::isLostOutput(const std::string& name) const {
  return reconnecting_ && lastLostOutput_ == name;
}

}  // namespace mivo::audio::pipewire
