// A log message assembled on the stack, for the IO path, which must not
// touch the heap. Text beyond the capacity is cut off.
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mivo::capture {

class LogLineBuffer {
 public:
  LogLineBuffer& operator<<(std::string_view text) {
    const std::size_t n = text.size() < room() ? text.size() : room();
    text.copy(chars_.data() + size_, n);
    size_ += n;
    return *this;
  }
  LogLineBuffer& operator<<(std::int64_t number) {
    const auto result = std::to_chars(chars_.data() + size_, chars_.data() + chars_.size(), number);
    if (result.ec == std::errc()) size_ = static_cast<std::size_t>(result.ptr - chars_.data());
    return *this;
  }
  std::string_view view() const { return {chars_.data(), size_}; }

 private:
  std::size_t room() const { return chars_.size() - size_; }
  std::array<char, 192> chars_{};
  std::size_t size_ = 0;
};

}  // namespace mivo::capture
