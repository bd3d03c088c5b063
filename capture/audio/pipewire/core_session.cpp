#include "audio/pipewire/core_session.h"

#include <cerrno>

#include <pipewire/pipewire.h>

#include "audio/pipewire/thread_loop.h"

namespace mivo::audio::pipewire {

std::unique_ptr<CoreSession> CoreSession::open(ThreadLoop& loop, Events events) {
  std::unique_ptr<CoreSession> session(new CoreSession(loop, std::move(events)));
  if (!session->start()) return nullptr;
  return session;
}

CoreSession::CoreSession(ThreadLoop& loop, Events events)
    : loop_(loop), events_(std::move(events)) {}

bool CoreSession::start() {
  if (!connection_.open(loop_, *this)) return false;
  alive_ = true;
  graph_ = std::make_unique<GraphModel>(connection_.core(), connection_.registry(),
                                        [this] { scheduleReconcile(); });
  DefaultOutputFollower::Events followerEvents;
  followerEvents.changed = [this] {
    if (inUse_ && events_.defaultOutputChanged) events_.defaultOutputChanged();
  };
  followerEvents.lost = [this] { onLost(); };
  follower_ = DefaultOutputFollower::connect(loop_, std::move(followerEvents));
  if (follower_ == nullptr) return false;
  // The first round trip brings the globals (and binds what we follow); the
  // second the info of what was bound.
  openSeq_ = connection_.sync();
  return true;
}

bool CoreSession::isSettled(Clock::time_point now) const {
  if (!isAlive() || !graphReadAt_ || !follower_->isReady()) return false;
  // Just after the session manager started, it may not have made its
  // metadata or named a default output in it yet: it is given a moment to.
  return follower_->sinkName() || now - *graphReadAt_ >= kDefaultOutputTimeout;
}

bool CoreSession::hasTimedOut(Clock::time_point now) const {
  return !isSettled(now) && now - openedAt_ > kConnectTimeout + kDefaultOutputTimeout;
}

CoreSession::~CoreSession() {
  // Streams and links first: they belong to the core that goes last.
  aggregates.clear();
  taps.clear();
  follower_.reset();
  graph_.reset();
}

bool CoreSession::roundTrip(std::chrono::milliseconds timeout) {
  if (!alive_) return false;
  int seq = connection_.sync();
  return loop_.waitFor(timeout, [&] { return !alive_ || lastDoneSeq_ >= seq; }) && alive_;
}

void CoreSession::scheduleReconcile() {
  if (!alive_) return;
  if (reconcileSeq_ >= 0) {
    reconcileAgain_ = true;
    return;
  }
  reconcileSeq_ = connection_.sync();
}

void CoreSession::captureStreamChanged() {
  loop_.signal();
  if (!inUse_ || !isAlive() || !events_.captureNodeFailed) return;
  for (const auto& [id, aggregate] : aggregates)
    if (!aggregate.removing && aggregate.stream->hasFailed()) {
      events_.captureNodeFailed();
      return;
    }
}

void CoreSession::onGlobal(std::uint32_t id, const char* type, const spa_dict* props) {
  graph_->addGlobal(id, type, props);
}

void CoreSession::onGlobalRemoved(std::uint32_t id) { graph_->removeGlobal(id); }

void CoreSession::onDone(std::uint32_t id, int seq) {
  if (id != PW_ID_CORE) return;
  lastDoneSeq_ = seq;
  if (seq == openSeq_) {
    if (++openRoundTrips_ < 2) {
      openSeq_ = connection_.sync();
    } else {
      openSeq_ = -1;
      graphReadAt_ = Clock::now();
    }
  }
  if (seq == reconcileSeq_) {
    reconcileSeq_ = -1;
    reconcile();
    if (reconcileAgain_) {
      reconcileAgain_ = false;
      scheduleReconcile();
    }
  }
  loop_.signal();
}

void CoreSession::onError(std::uint32_t id, int res) {
  // Errors of single objects (a refused link) are seen by their proxies.
  if (id != PW_ID_CORE || res != -EPIPE) return;
  alive_ = false;
  onLost();
}

void CoreSession::onLost() {
  loop_.signal();
  if (lostReported_ || !inUse_) return;
  lostReported_ = true;
  if (events_.lost) events_.lost();
}

void CoreSession::reconcile() {
  for (auto& [id, tap] : taps) tap.links->reconcile(*graph_);
}

}  // namespace mivo::audio::pipewire
