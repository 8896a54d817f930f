#!/usr/bin/env bash
# Installs the Debian packages tiko needs, only those that are missing.
# Usage: scripts/deps.sh [build|test|ci]
set -euo pipefail

build=(g++ cmake ninja-build pkg-config libcli11-dev nlohmann-json3-dev libspng-dev libjpeg-dev)
test=(libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev liblz4-dev libyuv-dev libpixman-1-dev)
ci=(clang-14 libclang-rt-14-dev libfuzzer-14-dev)

case "${1:-test}" in
  build) wanted=("${build[@]}") ;;
  test) wanted=("${build[@]}" "${test[@]}") ;;
  ci) wanted=("${build[@]}" "${test[@]}" "${ci[@]}") ;;
  *) echo "usage: $0 [build|test|ci]" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}" >&2
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
