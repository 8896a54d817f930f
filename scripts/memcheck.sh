#!/usr/bin/env bash
# Runs the end-to-end suites and the fuzz replays (seed corpora and saved
# crashers) under valgrind's memcheck: any invalid access, use of an
# uninitialised value, or block lost at exit fails the run.
#
#   scripts/memcheck.sh [BUILD_DIR]     (default build; a build without sanitizers)
#
# The end-to-end suites are those that drive libtiko.so the way a host does
# and the command-line program (its child processes are checked too).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
command -v valgrind >/dev/null || { echo "valgrind is missing (scripts/deps.sh ci)" >&2; exit 1; }
if grep -q -- '-fsanitize' "$build/CMakeCache.txt"; then
  echo "$build is a sanitizer build; memcheck needs a plain one" >&2
  exit 2
fi

memcheck=(valgrind --tool=memcheck --quiet --error-exitcode=99 --leak-check=full
          --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect
          --trace-children=yes --child-silent-after-fork=yes)

failed=()
run() {
  echo "== memcheck: $*"
  "${memcheck[@]}" "$@" >"$build/memcheck.log" 2>&1 || { cat "$build/memcheck.log"; failed+=("$1"); }
}

for suite in player_api_test player_lifecycle_test tool_inspect_test tool_pack_test; do
  [[ -x $build/tests/$suite ]] && run "$build/tests/$suite" --gtest_brief=1
done
for source in fuzz/*_fuzz.cpp; do
  name=$(basename "$source" .cpp)
  dirs=(fuzz/corpus/"$name")
  [[ -d tests/crashers/$name ]] && dirs+=(tests/crashers/"$name")
  run "$build/fuzz/$name" "${dirs[@]}"
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "memcheck found problems in: ${failed[*]}" >&2
  exit 1
fi
echo "memcheck: no errors, no leaks"
