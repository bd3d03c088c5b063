#!/usr/bin/env bash
# The capture half of the demo: records what this machine plays with the
# recorder example for a few seconds and prints what it got.
#   scripts/demo-capture.sh BUILD_DIR [SECONDS]
# Builds nothing. Without a reachable sound server it starts the private
# PipeWire session the tests use (virtual outputs A and B), plays a sample
# tone from another process while recording, and stops the session again.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: $0 BUILD_DIR [SECONDS]}" && pwd)"
seconds="${2:-4}"
recorder="$build/examples/recorder/mivo-recorder"
player="$build/tools/tone/mivo_tone_player"
output="$build/demo-capture.wav"
for program in "$recorder" "$player"; do
  [[ -x "$program" ]] || { echo "demo-capture: $program is missing; build first" >&2; exit 1; }
done

server_reachable() {
  [[ -n "${XDG_RUNTIME_DIR:-}" && -S "${XDG_RUNTIME_DIR}/${PIPEWIRE_REMOTE:-pipewire-0}" ]] &&
    timeout 5 pw-cli info 0 >/dev/null 2>&1
}

if server_reachable; then
  echo "Recording ${seconds} s of what this machine plays into $output ..."
  "$recorder" "$seconds" "$output"
  exit
fi

echo "No sound server running: starting a private PipeWire session with a sample tone."
export recorder player output seconds
"$root/tools/pw-session/pw-session.sh" run bash -c '
  set -euo pipefail
  "$player" 440 $((seconds + 1)) &
  player_pid=$!
  sleep 0.3
  echo "A 440 Hz tone plays from process $player_pid; recording ${seconds} s into $output ..."
  "$recorder" "$seconds" "$output"
  wait "$player_pid"
'
echo "Session stopped."
