#!/usr/bin/env bash
# The recorder's WAV files as sox reads them, below and beyond 4 GiB (RF64):
# no warning, and every frame counted.
#   float_wav_test.sh FLOAT_WAV_PROBE
set -euo pipefail
probe="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# 1 s; the largest plain RIFF; the first RF64.
for frames in 48000 1073741802 1073741803; do
  "$probe" "$work/probe.wav" "$frames"
  sox "$work/probe.wav" -n trim 0 0.01 2>"$work/sox.txt"
  [[ ! -s "$work/sox.txt" ]] || { echo "FAIL: $frames frames: $(cat "$work/sox.txt")"; exit 1; }
  counted="$(soxi -s "$work/probe.wav")"
  [[ "$counted" == "$frames" ]] || { echo "FAIL: $frames frames read as $counted"; exit 1; }
  echo "$frames frames: $(head -c 4 "$work/probe.wav"), ok"
done
