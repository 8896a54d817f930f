#!/usr/bin/env bash
# Line coverage of the player's sources by the test suites and the fuzz
# replays, printed per folder of src/ (gcovr).
#
#   scripts/coverage.sh [BUILD_DIR]     (default build-cov)
#
# Builds without optimisation and with --coverage, runs ctest, and prints a
# table of covered lines per folder; BUILD_DIR/coverage.json keeps the
# per-file figures. The aims: codec 100 %, package, image and anim 95 %.
#
# CC and CXX choose the compiler, GCOV the gcov that reads its data (gcc's
# gcov by default). A clang build serves twice in CI: its ctest run includes
# the recorded-frames tests, so it is also the -O0 clang build whose frames
# must match those of the gcc builds:
#
#   CC=clang-14 CXX=clang++-14 GCOV="llvm-cov-14 gcov" scripts/coverage.sh build-cov
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-cov}
command -v gcovr >/dev/null || { echo "gcovr is missing (scripts/deps.sh ci)" >&2; exit 1; }

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTIKO_BUILD_BENCH=OFF -DTIKO_BUILD_TOOLS=OFF \
  -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic" -DCMAKE_C_FLAGS="--coverage -fprofile-update=atomic" \
  -DCMAKE_EXE_LINKER_FLAGS="--coverage" -DCMAKE_SHARED_LINKER_FLAGS="--coverage" >/dev/null
cmake --build "$build"
find "$build" -name '*.gcda' -delete
# Coverage needs each failure path once, not every allocation and read of the
# reliability suites in turn: they step through their cases 7 at a time here.
status=0
TIKO_RELIABILITY_STRIDE=${TIKO_RELIABILITY_STRIDE:-7} ctest --test-dir "$build" --output-on-failure -j"$(nproc)" \
  >"$build/ctest.log" 2>&1 || status=$?
# The summary, or everything when a test failed.
if [[ $status -eq 0 ]]; then tail -n 3 "$build/ctest.log"; else cat "$build/ctest.log"; fi

gcovr --gcov-executable "${GCOV:-gcov}" --root . --filter 'src/' --json-summary "$build/coverage.json" --json-summary-pretty "$build" >/dev/null
python3 - "$build/coverage.json" <<'PY'
import json, sys
from collections import defaultdict
files = json.load(open(sys.argv[1]))["files"]
folders = defaultdict(lambda: [0, 0])
for f in files:
    parts = f["filename"].split("/")
    folder = "/".join(parts[:3]) if parts[1] == "platform" else "/".join(parts[:2])
    folders[folder][0] += f["line_covered"]
    folders[folder][1] += f["line_total"]
print(f"{'folder':<24}{'lines':>8}{'covered':>9}{'percent':>9}")
for folder in sorted(folders):
    covered, total = folders[folder]
    print(f"{folder:<24}{total:>8}{covered:>9}{100.0 * covered / max(total, 1):>8.1f}%")
PY
exit $status
