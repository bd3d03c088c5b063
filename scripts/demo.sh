#!/usr/bin/env bash
# The main job on its built-in default: installs the packages the demo needs,
# builds the three programs it runs, records what the machine plays through
# libmivo_capture (starting a private PipeWire session with a sample sound
# when no sound server runs), then reads the text of a sample image with
# mivo-ocr. It shares build/ with scripts/test.sh, which turns the tests on
# there, so either reuses what the other built.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${MIVO_SKIP_INSTALL:-0}" = 1 ] || scripts/install-deps.sh demo
cmake --preset default -DBUILD_TESTING=OFF
cmake --build build --target mivo_recorder mivo_tone_player mivo-ocr
echo
echo "=== libmivo_capture: recording system audio ==="
scripts/demo-capture.sh build
echo
echo "=== mivo-ocr examples/ocr/sample.png ==="
build/ocr/mivo-ocr examples/ocr/sample.png
