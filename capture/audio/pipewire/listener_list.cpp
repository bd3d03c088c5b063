#include "audio/pipewire/listener_list.h"

#include "platform/serial_queue.h"

namespace mivo::audio::pipewire {

void ListenerList::add(const PropertyAddress& address, platform::SerialQueue& queue,
                       const PropertyListenerBlock& listener) {
  std::lock_guard lock(mutex_);
  entries_.push_back({address, &queue, listener});
}

bool ListenerList::remove(const PropertyAddress& address, platform::SerialQueue& queue,
                          const PropertyListenerBlock& listener) {
  std::lock_guard lock(mutex_);
  return std::erase_if(entries_, [&](const Entry& entry) {
           return entry.address == address && entry.queue == &queue &&
                  entry.listener.get() == listener.get();
         }) > 0;
}

bool ListenerList::empty() {
  std::lock_guard lock(mutex_);
  return entries_.empty();
}

void ListenerList::notify(const PropertyAddress& address) {
  std::lock_guard lock(mutex_);
  for (const Entry& entry : entries_) {
    if (!(entry.address == address)) continue;
    entry.queue->async([listener = entry.listener, address] { (*listener)(1, &address); });
  }
}

}  // namespace mivo::audio::pipewire
