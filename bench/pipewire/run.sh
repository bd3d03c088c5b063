#!/usr/bin/env bash
# Runs the PipeWire latency/CPU benchmark in a private PipeWire session and
# prints its figures. Builds nothing.
#   bench/pipewire/run.sh BUILD_DIR [SECONDS]   (default 20 s per capture)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:?usage: $0 BUILD_DIR [SECONDS]}" && pwd)"
exec "$root/tools/pw-session/pw-session.sh" run \
  "$build/bench/pipewire/mivo_pipewire_bench" "$build/tools/tone/mivo_tone_player" "${2:-20}"
