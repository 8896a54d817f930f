#!/usr/bin/env bash
# The main job: builds the tiko program and libtiko.so, then runs the demo:
# an animated package drawn in code, rendered with eye tracking over a clip of
# a real face, to build-release/demo/demo.mp4 with sound and a contact sheet.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIKO_BUILD_TESTS=OFF -DTIKO_BUILD_BENCH=OFF >/dev/null
cmake --build build-release --target tiko tiko_shared
build-release/tools/tiko/tiko demo -o build-release/demo
