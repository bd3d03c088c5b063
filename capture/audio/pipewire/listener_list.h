// The property listeners registered on the system object. Each is only ever
// submitted asynchronously to its own queue, under the lock that remove()
// takes too: once remove() has returned, its queue is not touched again.
#pragma once

#include <mutex>
#include <vector>

#include "audio/audio_hardware.h"

namespace mivo::audio::pipewire {

class ListenerList {
 public:
  void add(const PropertyAddress& address, platform::SerialQueue& queue,
           const PropertyListenerBlock& listener);
  // Matches by address, queue and the identity of the listener object.
  bool remove(const PropertyAddress& address, platform::SerialQueue& queue,
              const PropertyListenerBlock& listener);
  bool empty();
  // Tells every listener on address that it changed.
  void notify(const PropertyAddress& address);

 private:
  struct Entry {
    PropertyAddress address;
    platform::SerialQueue* queue = nullptr;
    PropertyListenerBlock listener;
  };

  std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace mivo::audio::pipewire
