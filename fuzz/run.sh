#!/usr/bin/env bash
# Runs every fuzz target (fuzz/*_fuzz.cpp) for a bounded time each.
#
#   fuzz/run.sh SECONDS [BUILD_DIR]
#
# BUILD_DIR (default: build-fuzz under the source tree, or $TIKO_FUZZ_BUILD_DIR)
# is configured with clang-14 and -DTIKO_FUZZ=ON if it is not yet, and built.
# Each target starts from its seed corpus fuzz/corpus/<name> plus the corpus it
# grew in earlier runs (BUILD_DIR/fuzz-corpus/<name>). A finding leaves its
# input in BUILD_DIR/fuzz-findings/ and makes the script fail; once fixed, the
# input belongs in tests/crashers/<name>/, which ctest replays in every build.
set -euo pipefail

if [[ $# -lt 1 || ! $1 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [BUILD_DIR]" >&2
  exit 2
fi
seconds=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${2:-${TIKO_FUZZ_BUILD_DIR:-$root/build-fuzz}}

if [[ ! -f $build/CMakeCache.txt ]]; then
  CC=${CC:-clang-14} CXX=${CXX:-clang++-14} cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIKO_FUZZ=ON \
    -DTIKO_BUILD_TESTS=OFF -DTIKO_BUILD_BENCH=OFF -DTIKO_BUILD_TOOLS=OFF
fi

targets=()
for source in "$root"/fuzz/*_fuzz.cpp; do
  targets+=("$(basename "$source" .cpp)")
done
cmake --build "$build" --target "${targets[@]}"

findings=$build/fuzz-findings
mkdir -p "$findings"
failed=()
for name in "${targets[@]}"; do
  corpus=$build/fuzz-corpus/$name
  mkdir -p "$corpus"
  seeds=()
  [[ -d $root/fuzz/corpus/$name ]] && seeds+=("$root/fuzz/corpus/$name")
  [[ -d $root/tests/crashers/$name ]] && seeds+=("$root/tests/crashers/$name")
  echo "== $name: ${seconds}s"
  # -malloc_limit_mb keeps every single allocation honest (a decoder that
  # trusted a size field would trip it); -timeout catches endless loops.
  if ! "$build/fuzz/$name" -max_total_time="$seconds" -malloc_limit_mb=64 -rss_limit_mb=2048 -timeout=10 \
       -print_final_stats=1 -artifact_prefix="$findings/$name-" "$corpus" "${seeds[@]}"; then
    failed+=("$name")
  fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzzing found problems in: ${failed[*]} (inputs in $findings)" >&2
  exit 1
fi
echo "fuzzing: no findings in ${targets[*]}"
