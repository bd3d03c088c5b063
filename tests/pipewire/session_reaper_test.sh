#!/usr/bin/env bash
# A session whose runner is killed outright with its whole process tree, as
# a test runner does at a timeout, leaves none of its daemons running.
#   session_reaper_test.sh PW-SESSION-SCRIPT
set -euo pipefail
session="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$session" run bash -c 'cp "$MIVO_PW_SESSION_DIR/pids" "$1"; exec sleep 300' _ "$work/pids" &
runner=$!
for _ in $(seq 300); do [[ -s "$work/pids" ]] && break; sleep 0.1; done
[[ -s "$work/pids" ]] || { echo "the session did not start"; exit 1; }

# Depth first, the way the runner's kill walks the tree.
kill_tree() {
  local child
  for child in $(ps -o pid= --ppid "$1"); do kill_tree "$child"; done
  # A child may end by itself between the listing and the signal.
  kill -KILL "$1" 2>/dev/null || [[ ! -e /proc/$1 ]]
}
kill_tree "$runner"
# The runner must have ended by that signal (128 + 9), as at a ctest timeout.
status=0
wait "$runner" 2>/dev/null || status=$?
((status == 137)) || { echo "runner ended with $status, not by SIGKILL"; exit 1; }

running() {
  local name pid
  while read -r name pid; do
    kill -0 "$pid" 2>/dev/null && echo "$name $pid"
  done <"$work/pids"
  return 0
}
for _ in $(seq 200); do
  [[ -z "$(running)" ]] && exit 0
  sleep 0.1
done
echo "still running after 20 s:"; running
exit 1
