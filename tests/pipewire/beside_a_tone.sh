#!/usr/bin/env bash
# Runs a command beside a tone that this shell plays, the way a desktop's
# shell starts a meeting application and a music player: the tone (520 Hz,
# amplitude 0.5, another program) is the command's sibling, not its
# descendant, so it is not the command's sound.
#   beside_a_tone.sh TONE_PLAYER COMMAND...
set -u
tone_player=$1
shift
"$tone_player" 520 0 0 0.5 &
tone=$!
status=0
"$@" || status=$?
kill "$tone"
wait "$tone" 2>/dev/null
exit "$status"
