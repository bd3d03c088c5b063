#!/usr/bin/env bash
# Installs the Debian packages of the named groups of scripts/packages.txt
# (needs root):  scripts/install-deps.sh GROUP...   e.g. demo, or demo test
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
(($# > 0)) || { echo "usage: $0 GROUP..." >&2; exit 2; }
mapfile -t packages < <(awk -v wanted=" $* " '
  /^\[.*\]$/ { group = substr($0, 2, length($0) - 2); next }
  /^[[:space:]]*(#|$)/ { next }
  index(wanted, " " group " ") { print $1 }' "$here/packages.txt")
[ "${#packages[@]}" -gt 0 ] || { echo "no packages in groups: $*" >&2; exit 2; }
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq "${packages[@]}"
