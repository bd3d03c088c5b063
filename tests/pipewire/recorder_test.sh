#!/usr/bin/env bash
# The recorder example against the private session (run inside it by
# pw-session.sh): a foreign tone is recorded; losing and regaining the output
# is told on stderr; Ctrl-C stops cleanly and still writes the file; a host
# killed while capturing leaves nothing on the server; a failed start leaves
# an existing file as it was; a recording that ends silent fails; a switch
# to an output of another rate keeps the file's rate and the tone's pitch; a
# failed write names no file and fails.
#   recorder_test.sh RECORDER TONE_PLAYER
set -euo pipefail
recorder="$1"
player="$2"
work="$(mktemp -d)"
player_pid=""
cleanup() {
  [[ -n "$player_pid" ]] && kill "$player_pid" 2>/dev/null && wait "$player_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; for f in "$work"/*.txt; do echo "--- $f"; cat "$f"; done >&2; exit 1; }
# Whether the output of a command names our capture. Read whole first: with
# pipefail, grep -q quitting early could fail the writer (SIGPIPE) and so the
# whole pipeline, although it matched.
names_capture() {
  local listing
  listing="$("$@" 2>/dev/null)"
  [[ "$listing" == *mivo-capture* ]]
}
capture_linked() { names_capture pw-link -l; }
server_shows_capture() { capture_linked || names_capture pw-cli ls Node; }
field() { sed -n "s/^$1: \([0-9.]*\).*/\1/p" "$2"; }
# sox reads FILE without a word and finds FRAMES samples in it.
check_wav() {
  sox "$1" -n 2>"$work/sox.txt" || fail "sox cannot read $1"
  [[ ! -s "$work/sox.txt" ]] || fail "sox warns about $1: $(cat "$work/sox.txt")"
  [[ "$(soxi -s "$1")" == "$2" ]] || fail "$1 holds $(soxi -s "$1") samples, not $2"
}

# A start that fails (no server) leaves an existing file and no other behind.
echo "keep me" >"$work/existing.wav"
if PIPEWIRE_REMOTE=mivo-no-such-server "$recorder" 1 "$work/existing.wav" 2>"$work/start-err.txt"; then
  fail "the recorder started without a server"
fi
[[ "$(cat "$work/existing.wav")" == "keep me" ]] || fail "a failed start changed the existing file"
[[ "$(ls -A "$work")" == $'existing.wav\nstart-err.txt' ]] || fail "a failed start left files: $(ls -A "$work")"

"$player" 440 0 &
player_pid=$!

# A plain recording of the tone.
"$recorder" 2 "$work/tone.wav" >"$work/out.txt" 2>"$work/err.txt" || fail "recorder exited with $?"
grep -qx "sample rate: 48000 Hz" "$work/out.txt" || fail "sample rate line"
frames="$(field "frames received" "$work/out.txt")"
((frames > 48000)) || fail "only $frames frames in 2 s"
awk -v p="$(field peak "$work/out.txt")" 'BEGIN { exit !(p > 0.4 && p < 0.6) }' || fail "peak is not the tone's 0.5"
check_wav "$work/tone.wav" "$frames"

# The output disappears (a default naming no sink), then B becomes the default.
# A second recorder, stopped while still silent, says so and fails.
"$recorder" 30 "$work/lost.wav" >"$work/lost-out.txt" 2>"$work/lost-err.txt" &
recorder_pid=$!
"$recorder" 30 "$work/silent.wav" >"$work/silent-out.txt" 2>"$work/silent-err.txt" &
silent_pid=$!
sleep 1
pw-metadata -n default 0 default.audio.sink '{"name":"gone"}' Spa:String:JSON >/dev/null
for _ in $(seq 400); do
  grep -q "went silent" "$work/lost-err.txt" && grep -q "went silent" "$work/silent-err.txt" && break
  sleep 0.05
done
grep -q "went silent" "$work/lost-err.txt" || fail "no notice of the lost output"
grep -q "went silent" "$work/silent-err.txt" || fail "no notice of the lost output (second recorder)"
kill -INT "$silent_pid"
if wait "$silent_pid"; then fail "a recorder that ended silent exited with 0"; fi
grep -q "did not resume" "$work/silent-err.txt" || fail "no word of the capture that did not resume"
check_wav "$work/silent.wav" "$(field "frames received" "$work/silent-out.txt")"
pactl set-default-sink B
for _ in $(seq 400); do grep -q "frames resumed" "$work/lost-err.txt" && break; sleep 0.05; done
grep -q "frames resumed" "$work/lost-err.txt" || fail "no notice of resumed frames"

# Ctrl-C: the recording ends early, cleanly, with its file.
kill -INT "$recorder_pid"
wait "$recorder_pid" || fail "interrupted recorder exited with $?"
grep -q "interrupted, stopped cleanly" "$work/lost-err.txt" || fail "no clean stop on Ctrl-C"
frames="$(field "frames received" "$work/lost-out.txt")"
check_wav "$work/lost.wav" "$frames"
pactl set-default-sink A

# Across a switch from 48 to 96 kHz the file keeps 48 kHz, its length and
# the tone's pitch (sox's zero-crossing estimate: an octave off is 220 or 880).
# A sink that has not run yet has no format, so its rate is unknown and the
# capture would stay at 48 kHz: a silent stream keeps C96 running first.
module="$(pactl load-module module-null-sink sink_name=C96 rate=96000 channels=2)"
sox -n -r 96000 -c 2 "$work/silence96.wav" synth 12 sine 440 vol 0
pw-play --target C96 "$work/silence96.wav" &
silence_pid=$!
for _ in $(seq 200); do pactl list short sinks | grep -q "C96.*RUNNING" && break; sleep 0.05; done
"$recorder" 6 "$work/switch.wav" >"$work/switch-out.txt" 2>"$work/switch-err.txt" &
recorder_pid=$!
sleep 2
pactl set-default-sink C96
wait "$recorder_pid" || fail "the recorder across a rate switch exited with $?"
# The 12 s player must still be running: it ends by this TERM and nothing else.
kill "$silence_pid" || fail "the player keeping C96 running ended early"
status=0; wait "$silence_pid" || status=$?
# pw-play catches TERM and exits with 1; the shell reports 143 when it
# is killed before its handler is set.
((status == 1 || status == 143)) || fail "the player keeping C96 running exited with $status"
pactl set-default-sink A
pactl unload-module "$module"
grep -q "now runs at 96000 Hz" "$work/switch-err.txt" || fail "the output's rate never changed"
grep -qx "sample rate: 48000 Hz" "$work/switch-out.txt" || fail "the file left its first rate"
awk -v d="$(soxi -D "$work/switch.wav")" 'BEGIN { exit !(d > 5.5 && d < 6.5) }' ||
  fail "6 s recorded as $(soxi -D "$work/switch.wav") s"
for stretch in "0.5 1" "3.5 2"; do
  pitch="$(sox "$work/switch.wav" -n trim $stretch stat 2>&1 | awk '/Rough.*frequency/ {print $NF}')"
  awk -v f="$pitch" 'BEGIN { exit !(f > 400 && f < 480) }' || fail "440 Hz at $stretch s reads as $pitch Hz"
done

# A write that fails (a file size limit stands in for a full disk) names no
# file, leaves none, and fails.
if (trap '' XFSZ; ulimit -f 64; exec "$recorder" 2 "$work/full.wav") >"$work/full-out.txt" \
    2>"$work/full-err.txt"; then
  fail "a recording whose writes failed exited with 0"
fi
if grep -q "^file:" "$work/full-out.txt"; then fail "a failed write printed its file line"; fi
[[ ! -e "$work/full.wav" ]] || fail "a failed write left $work/full.wav"
[[ -z "$(ls -A "$work" | grep '^\.\?full\.wav.')" ]] || fail "a failed write left its temporary file"

# A host killed while capturing leaves no node or link of ours behind.
"$recorder" 30 "$work/killed.wav" >/dev/null 2>&1 &
recorder_pid=$!
for _ in $(seq 400); do capture_linked && break; sleep 0.05; done
capture_linked || fail "the capture node was never linked"
kill -KILL "$recorder_pid"
wait "$recorder_pid" 2>/dev/null || true
for _ in $(seq 400); do server_shows_capture || break; sleep 0.05; done
if server_shows_capture; then fail "a killed host left its capture behind"; fi
echo "recorder: ok"
