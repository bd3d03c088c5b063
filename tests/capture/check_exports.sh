#!/usr/bin/env bash
# The shared library exports exactly its three C functions, and stays mapped
# after a host's dlclose (its threads outlive the last stop).
set -euo pipefail
library=$1
expected=$'mivo_capture_last_error\nmivo_tap_start\nmivo_tap_stop'
actual=$(nm -D --defined-only "$library" | awk '{print $NF}' | sort)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the expected three:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
soname=$(objdump -p "$library" | awk '/SONAME/ {print $2}')
[[ "$soname" == libmivo_capture.so.* ]] || { echo "unexpected SONAME: $soname"; exit 1; }
readelf -d "$library" | grep -q 'Flags:.*NODELETE' ||
  { echo "not linked with -z nodelete"; exit 1; }
echo "exports OK: $(echo "$actual" | tr '\n' ' ')(SONAME $soname)"
