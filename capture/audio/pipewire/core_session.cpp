#include "audio/pipewire/core_session.h"

#include <algorithm>
#include <cerrno>
#include <utility>

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
  sweepTimer_ = std::make_unique<LoopTimer>(loop_, [this] { sweepRetired(); });
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
  std::exchange(retired_, {}).clear();
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
  askRetiredNodesToGo();
  if (!inUse_ || !isAlive() || !events_.captureNodeFailed) return;
  for (const auto& [id, aggregate] : aggregates)
    if (aggregate.stream->hasFailed()) {
      events_.captureNodeFailed();
      return;
    }
}

const CaptureStream* CoreSession::dropAggregate(AudioObjectID device) {
  auto aggregate = aggregates.find(device);
  if (aggregate == aggregates.end()) return nullptr;
  std::unique_ptr<CaptureStream> stream = std::move(aggregate->second.stream);
  aggregates.erase(aggregate);
  // A node the server has dropped, or a lost server, leaves nothing to wait for.
  if (!alive_ || stream->hasFailed()) return nullptr;
  retired_.push_back({std::move(stream)});
  askRetiredNodesToGo();
  if (!sweepTimer_->isArmed()) sweepTimer_->arm(kSweepPeriod, kSweepPeriod);
  return retired_.back().stream.get();
}

bool CoreSession::awaitsRemoval(const CaptureStream* stream) const {
  return std::ranges::any_of(retired_, [stream](const RetiredStream& r) {
    return r.stream.get() == stream && !r.stream->hasFailed();
  });
}

// Every node of ours has a media class.
bool CoreSession::isInRegistry(std::uint32_t node) const {
  return node != 0 && !graph_->mediaClass(node).empty();
}

// Removal is asked as soon as the node's id is known. A stream knows that id
// before the node's global reaches our registry, and the server ignores a
// removal asked that early (seen: such nodes stayed for good), so a node
// asked for before it was in the registry is asked for again once it is.
void CoreSession::askRetiredNodesToGo() {
  if (!alive_) return;
  for (RetiredStream& retired : retired_) {
    const std::uint32_t node = retired.stream->nodeId();
    if (!retired.removalAsked) {
      retired.askedBeforeRegistry = !isInRegistry(node);
      retired.removalAsked = retired.stream->requestRemoval(registry());
    } else if (retired.askedBeforeRegistry && isInRegistry(node)) {
      retired.askedBeforeRegistry = false;
      retired.stream->requestRemoval(registry());
    }
  }
}

// A stream learns its node's id with no event of its own to tell us (its
// state may have settled before), so the retired ones are looked at on a
// timer until none is left.
void CoreSession::sweepRetired() {
  askRetiredNodesToGo();
  destroyRemovedStreams();
  if (retired_.empty()) sweepTimer_->disarm();
}

void CoreSession::destroyRemovedStreams() {
  // Destroyed once retired_ is whole again: a stream's last events call in.
  std::vector<RetiredStream> removed;
  for (auto retired = retired_.begin(); retired != retired_.end();) {
    if (retired->stream->hasFailed()) {
      removed.push_back(std::move(*retired));
      retired = retired_.erase(retired);
    } else {
      ++retired;
    }
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
