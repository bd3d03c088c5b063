#!/usr/bin/env bash
# The main job on its built-in default: installs the packages, builds, records
# what the machine plays through libmivo_capture (starting a private PipeWire
# session with a sample sound when no sound server runs), then reads the text
# of a sample image with mivo-ocr.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${MIVO_SKIP_INSTALL:-0}" = 1 ] || scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
echo
echo "=== libmivo_capture: recording system audio ==="
scripts/demo-capture.sh build
echo
echo "=== mivo-ocr examples/ocr/sample.png ==="
build/ocr/mivo-ocr examples/ocr/sample.png
