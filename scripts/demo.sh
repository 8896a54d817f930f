#!/usr/bin/env bash
# Builds the tiko program, writes the sample package and shows what it holds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIKO_BUILD_TESTS=OFF -DTIKO_BUILD_BENCH=OFF >/dev/null
cmake --build build-release --target tiko
build-release/tools/tiko/tiko sample -o build-release/sample.tiko
build-release/tools/tiko/tiko inspect build-release/sample.tiko
