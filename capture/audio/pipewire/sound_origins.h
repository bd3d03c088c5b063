// Which nodes of the graph are where a sound enters what the machine plays,
// so that each sound is captured once, where it starts.
//
// A node plays when it is a playback stream or its outputs feed a sink.
// Many desktops put relays between the applications and the device: a
// loopback, remap, combine, echo-cancel or filter-chain sink, or an effects
// application that reads a sink's monitor and plays the result. A relay's
// playback stream carries again what was played into the relay, so the
// streams that feed it are captured instead, and the relay's output only
// when something that is not played anywhere else feeds it (a microphone
// looped into the speakers).
//
// The host's sound is captured nowhere. A relay that the host's nodes feed
// other than through a sink (a JACK client or a filter of the host linked
// straight into an effect) carries the host's sound in what it plays, so it
// is not captured; the sounds that start behind it are captured where they
// start instead, and its other players at themselves as always.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace mivo::audio::pipewire {

class GraphModel;

class SoundOrigins {
 public:
  // captureNode is the library's own capture node, left out. isHosts tells
  // the host's nodes (and those not known yet); none when not given.
  SoundOrigins(const GraphModel& graph, std::uint32_t captureNode,
               std::function<bool(std::uint32_t)> isHosts = {});

  // The node plays, and what it plays is captured nowhere upstream of it.
  bool isOrigin(std::uint32_t node) const;
  // The channels of the sink ports that an output port feeds.
  const std::map<std::uint32_t, std::vector<std::string>>& sinkChannelsFed() const {
    return sinkChannelsFed_;
  }

 private:
  bool plays(std::uint32_t node) const;
  bool isRelay(std::uint32_t node) const;
  std::vector<std::uint32_t> feeders(std::uint32_t node) const;
  std::vector<std::uint32_t> groupHalvesFeeding(std::uint32_t node) const;
  // What reaches a relay through its feeders: the nodes where a sound
  // starts that no node that plays takes in on its own, and whether the
  // host's sound is among it.
  struct Upstream {
    std::set<std::uint32_t> uncapturedStarts;
    bool hostSound = false;
  };
  Upstream upstreamOf(std::uint32_t relay) const;
  void walkUpstream(std::uint32_t node, std::set<std::uint32_t>& visited, Upstream& found) const;
  void findOrigins();

  const GraphModel& graph_;
  std::uint32_t captureNode_;
  std::function<bool(std::uint32_t)> isHosts_;
  std::set<std::uint32_t> origins_;
  std::map<std::uint32_t, std::vector<std::string>> sinkChannelsFed_;  // output port -> channels
  std::set<std::uint32_t> feedsSink_;
  std::map<std::uint32_t, std::set<std::uint32_t>> linkedFrom_;  // node -> nodes linked into it
  std::map<std::string, std::vector<std::uint32_t>> groups_;     // link group -> its nodes
};

}  // namespace mivo::audio::pipewire
