#include "audio/pipewire/process_table.h"

#include <charconv>

namespace mivo::audio::pipewire {

std::optional<pid_t> parentInStat(std::string_view stat) {
  const auto close = stat.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  // ") S 1234 ...": the state, then the parent.
  std::string_view rest = stat.substr(close + 1);
  const auto state = rest.find_first_not_of(' ');
  if (state == std::string_view::npos) return std::nullopt;
  rest = rest.substr(state + 1);
  const auto start = rest.find_first_not_of(' ');
  if (start == std::string_view::npos) return std::nullopt;
  rest = rest.substr(start);
  pid_t parent = 0;
  auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), parent);
  if (error != std::errc() || (end != rest.data() + rest.size() && *end != ' ') || parent < 0)
    return std::nullopt;
  return parent;
}

std::string programNameOf(std::string_view path) {
  constexpr std::string_view kReplaced = " (deleted)";
  if (path.ends_with(kReplaced)) path.remove_suffix(kReplaced.size());
  return std::string(path.substr(path.rfind('/') + 1));
}

}  // namespace mivo::audio::pipewire
