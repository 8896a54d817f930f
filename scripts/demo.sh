#!/usr/bin/env bash
# Builds libtiko.so and the tiko program, installs the library into a local
# prefix, builds the example host against it, and renders a sample package.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIKO_BUILD_TESTS=OFF -DTIKO_BUILD_BENCH=OFF >/dev/null
cmake --build build-release --target tiko tiko_shared
cmake --install build-release --prefix "$PWD/build-release/prefix" >/dev/null
cmake -S examples -B build-release/example -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$PWD/build-release/prefix" >/dev/null
cmake --build build-release/example
build-release/tools/tiko/tiko sample -o build-release/sample.tiko
build-release/tools/tiko/tiko inspect build-release/sample.tiko
build-release/example/tiko-host build-release/sample.tiko build-release/sample.png
echo "The example host's last frame is in build-release/sample.png"
