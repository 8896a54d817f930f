#!/usr/bin/env bash
# Checks that a build gives the recorded frames of the show, byte for byte:
# the recorded-frames test (tests/golden/show_320x240.bin) and the same show
# under every kernel set the processor runs.
#
#   scripts/determinism.sh BUILD_DIR [CMAKE_ARGS...]
#
# BUILD_DIR is configured with CMAKE_ARGS (CC and CXX choose the compiler)
# and only the two test programs are built. Every build that passes gives the
# same frames as every other; CI runs it for a build that differs from the
# main one in compiler and optimisation, e.g.
#
#   CC=clang-14 CXX=clang++-14 scripts/determinism.sh build-clang-o0 -DCMAKE_BUILD_TYPE=Debug
set -euo pipefail
if [[ $# -lt 1 ]]; then
  echo "usage: $0 BUILD_DIR [CMAKE_ARGS...]" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
build=$1
shift
cmake -S . -B "$build" -G Ninja -DTIKO_WERROR=ON -DTIKO_BUILD_BENCH=OFF -DTIKO_BUILD_TOOLS=OFF "$@" >/dev/null
cmake --build "$build" --target anim_scene_test reliability_determinism_test
"$build/tests/anim_scene_test" --gtest_filter='SceneTest.ShowMatchesRecordedFrames' --gtest_brief=1
"$build/tests/reliability_determinism_test" --gtest_brief=1
echo "determinism: $build gives the recorded frames"
