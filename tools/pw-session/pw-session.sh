#!/usr/bin/env bash
# A private PipeWire session for the capture tests, the demo and the
# benchmark: pipewire, wireplumber and pipewire-pulse under a runtime folder of
# their own, with two virtual outputs A (the default) and B.
#
#   pw-session.sh start DIR   start the daemons; DIR/env holds the variables a
#                             client needs, DIR/pids their process ids
#   pw-session.sh stop DIR    stop the daemons by their recorded ids
#   pw-session.sh kill DIR [NAME...]
#                             kill -9 the named daemons (all when none named),
#                             as a crash would
#   pw-session.sh revive DIR  start again whichever daemons are not running,
#                             in the same runtime folder, and wait until the
#                             session answers with output A as the default
#   pw-session.sh run CMD...  start, run CMD inside the session, stop (also
#                             when CMD fails or the script is interrupted,
#                             and, by a reaper of its own, when the script is
#                             killed outright with its whole process tree)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
config_home="$here/config"

die() { echo "pw-session: $*" >&2; exit 1; }

# Polls CONDITION (a command) every 50 ms for up to SECONDS.
wait_for() {
  local seconds="$1"; shift
  local tries=$((seconds * 20))
  while ((tries-- > 0)); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.05
  done
  return 1
}

session_env() {
  local dir="$1"
  cat <<ENV
export XDG_RUNTIME_DIR="$dir/run"
export XDG_CONFIG_HOME="$config_home"
export XDG_STATE_HOME="$dir/run/state"
unset DBUS_SESSION_BUS_ADDRESS PIPEWIRE_REMOTE PULSE_SERVER
ENV
}

# The session manager's own word: pactl names the highest-priority sink
# before the session manager has named any default.
default_sink_is_a() {
  pw-metadata -n default 0 default.audio.sink 2>/dev/null | grep -q "value:'{\"name\":\"A\"}'"
}

# DIR/pids holds one "NAME PID" line per daemon started.
start_daemon() {
  local dir="$1" name="$2"
  "$name" >>"$dir/$name.log" 2>&1 &
  echo "$name $!" >>"$dir/pids"
}

daemon_running() {
  local dir="$1" name="$2" pid
  pid="$(awk -v n="$name" '$1 == n { print $2 }' "$dir/pids" 2>/dev/null | tail -n 1)"
  [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null
}

# Starts whichever daemons of the session are not running, then waits until
# the session answers with output A as the default.
start_missing() {
  local dir="$1"
  (
    # shellcheck disable=SC1091
    source "$dir/env"
    if ! daemon_running "$dir" pipewire; then
      start_daemon "$dir" pipewire
      wait_for 10 pw-cli info 0 || die "pipewire did not start (see $dir/pipewire.log)"
    fi
    daemon_running "$dir" wireplumber || start_daemon "$dir" wireplumber
    daemon_running "$dir" pipewire-pulse || start_daemon "$dir" pipewire-pulse
    wait_for 10 pactl info || die "pipewire-pulse did not answer (see $dir/pipewire-pulse.log)"
    if ! wait_for 10 default_sink_is_a; then
      pactl set-default-sink A
      wait_for 5 default_sink_is_a || die "no default output A (see $dir/wireplumber.log)"
    fi
  )
}

start_session() {
  local dir="$1"
  command -v pipewire >/dev/null || die "pipewire is not installed"
  mkdir -p "$dir"
  dir="$(cd "$dir" && pwd)"
  # The pulse server checks for its folder and then makes it, racing with
  # whoever else makes it first ("File exists", and it exits): made here.
  mkdir -p -m 700 "$dir/run" "$dir/run/pulse"
  : >"$dir/pids"
  session_env "$dir" >"$dir/env"
  start_missing "$dir" || { stop_session "$dir"; return 1; }
}

kill_daemons() {
  local dir="$1" name pid; shift
  while read -r name pid; do
    if (($# == 0)) || [[ " $* " == *" $name "* ]]; then
      kill -KILL "$pid" 2>/dev/null || true
      wait_for 5 bash -c "! kill -0 $pid" || true
    fi
  done < <(tac "$dir/pids")
}

stop_session() {
  local dir="$1" pid
  [[ -f "$dir/pids" ]] || return 0
  # Reverse order: the pulse server and the session manager before pipewire.
  for pid in $(tac "$dir/pids" | awk '{ print $2 }'); do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in $(tac "$dir/pids" | awk '{ print $2 }'); do
    wait_for 5 bash -c "! kill -0 $pid" || kill -KILL "$pid" 2>/dev/null || true
  done
  rm -f "$dir/pids"
  rm -rf "$dir/run"
}

# Stops the session once the process OWNER is gone, also when it was killed
# without a chance to clean up (a test runner's timeout).
reap_after() {
  local owner="$1" dir="$2"
  trap '' INT TERM HUP
  while kill -0 "$owner" 2>/dev/null; do sleep 0.5; done
  stop_session "$dir"
  rm -rf "$dir"
}

session_dir=""
end_session() {
  stop_session "$session_dir"
  rm -rf "$session_dir"
}

run_in_session() {
  local status=0
  session_dir="$(mktemp -d "${TMPDIR:-/tmp}/mivo-pw.XXXXXX")"
  trap end_session EXIT
  trap 'exit 130' INT TERM
  # The reaper is no child of this script, nor in its process group or
  # session: a test runner that kills the script's whole tree or group at
  # a timeout leaves it to stop the daemons (themselves orphans already).
  # It ends by itself once this script is gone.
  setsid -f "$here/$(basename "${BASH_SOURCE[0]}")" reap "$$" "$session_dir" </dev/null >/dev/null 2>&1
  start_session "$session_dir"
  # shellcheck disable=SC1091
  (source "$session_dir/env"; export MIVO_PW_SESSION_DIR="$session_dir"; "$@") || status=$?
  if ((status != 0)); then
    for log in "$session_dir"/*.log; do echo "--- $log (tail)"; tail -n 20 "$log"; done >&2
  fi
  return "$status"
}

case "${1:-}" in
  start) [[ $# -eq 2 ]] || die "usage: $0 start DIR"; start_session "$2"; cat "$2/env" ;;
  stop)  [[ $# -eq 2 ]] || die "usage: $0 stop DIR"; stop_session "$2" ;;
  kill)  [[ $# -ge 2 ]] || die "usage: $0 kill DIR [NAME...]"; kill_daemons "${@:2}" ;;
  revive) [[ $# -eq 2 ]] || die "usage: $0 revive DIR"; start_missing "$2" ;;
  run)   [[ $# -ge 2 ]] || die "usage: $0 run CMD..."; shift; run_in_session "$@" ;;
  reap)  [[ $# -eq 3 ]] || die "usage: $0 reap OWNER DIR"; reap_after "$2" "$3" ;;
  *) die "usage: $0 start DIR | stop DIR | kill DIR [NAME...] | revive DIR | run CMD..." ;;
esac
