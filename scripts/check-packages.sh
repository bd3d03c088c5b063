#!/usr/bin/env bash
# The Debian packages as a host developer meets them: builds them from a
# built folder (configured with the default preset, prefix /usr), unpacks
# them into a scratch root, checks the installed layout, and builds the
# example host against that installed copy twice, through pkg-config and
# through find_package(MivoCapture). Debian's lintian must find no error.
# With no sound server the host must get status 6 and a reason.
#   scripts/check-packages.sh BUILD_DIR
set -euo pipefail
root_dir="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Outputs are matched whole, never piped into grep -q: grep quitting early can
# kill the writer (SIGPIPE) and, with pipefail, fail a check that matched.

(cd "$build" && cpack -G DEB -B "$work/debs" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
arch="$(dpkg --print-architecture)"
root="$work/root"
for package in libmivo-capture1 libmivo-capture-dev mivo-recorder mivo-ocr; do
  deb="$work/debs/${package}_${version}_${arch}.deb"
  [[ -f "$deb" ]] || fail "no package $package: $(ls "$work/debs")"
  echo "$package: Depends: $(dpkg-deb -f "$deb" Depends)" | fold -s -w 120
  dpkg-deb -x "$deb" "$root"
done
# Debian's own checks: errors fail, warnings are shown.
lintian --fail-on error --tag-display-limit 0 "$work"/debs/*.deb || fail "lintian"
[[ "$(dpkg-deb -f "$work/debs/mivo-recorder_${version}_${arch}.deb" Depends)" == *"libmivo-capture1 (= "* ]] ||
  fail "mivo-recorder does not depend on libmivo-capture1"

multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
libdir="usr/lib/$multiarch"
for path in "$libdir/libmivo_capture.so.$version" "$libdir/libmivo_capture.so.1" \
            "$libdir/libmivo_capture.so" usr/include/mivo_capture.h \
            "$libdir/pkgconfig/mivo-capture.pc" "$libdir/cmake/MivoCapture/MivoCaptureConfig.cmake" \
            "$libdir/cmake/MivoCapture/MivoCaptureConfigVersion.cmake" \
            usr/bin/mivo-recorder usr/bin/mivo-ocr \
            usr/share/man/man1/mivo-recorder.1.gz usr/share/man/man1/mivo-ocr.1.gz; do
  [[ -e "$root/$path" ]] || fail "not installed: /$path"
done
"$root_dir/tests/capture/check_exports.sh" "$root/$libdir/libmivo_capture.so.1"

echo "--- the example host through pkg-config"
read -ra flags < <(PKG_CONFIG_LIBDIR="$root/$libdir/pkgconfig" pkg-config --cflags --libs mivo-capture)
cc -std=c11 -Wall -Wextra -Werror "$root_dir/examples/host/host.c" "${flags[@]}" -o "$work/host-pkg-config"

echo "--- the example host through find_package(MivoCapture)"
cmake -S "$root_dir/examples/host" -B "$work/host-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >"$work/host-cmake.log" || { cat "$work/host-cmake.log"; fail "host configure"; }
cmake --build "$work/host-cmake" >/dev/null

# Only the installed copy of the library can be found, and no sound server.
export LD_LIBRARY_PATH="$root/$libdir" PIPEWIRE_REMOTE=mivo-no-such-server MIVO_CAPTURE_LOG=stderr
for host in "$work/host-pkg-config" "$work/host-cmake/host"; do
  [[ "$(ldd "$host")" == *"$root/$libdir/libmivo_capture.so.1"* ]] || fail "$host does not load the installed library"
  status=0
  "$host" >"$work/out.txt" 2>"$work/err.txt" || status=$?
  cat "$work/out.txt"
  ((status == 1)) || fail "$host exited with $status"
  grep -qE '^mivo_tap_start: status 6: .+' "$work/out.txt" || fail "$host: no status 6 with a reason"
  grep -q '^\[mivo-tap\] ' "$work/err.txt" || fail "$host: no log line on stderr with MIVO_CAPTURE_LOG=stderr"
done

echo "--- the installed programs"
[[ "$("$root/usr/bin/mivo-recorder" --help)" == "usage: "* ]] || fail "mivo-recorder --help"
[[ "$("$root/usr/bin/mivo-ocr" "$root_dir/examples/ocr/sample.png")" == *'"line_count":'* ]] || fail "mivo-ocr"
echo "packages: ok"
