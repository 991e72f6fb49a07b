#!/usr/bin/env bash
# Builds the plugin binaries for Linux and Windows and runs every test suite,
# then the sanitizer builds, the concurrency stress, the short soak and a
# bounded fuzz run of each plugin entry.
#
#   scripts/test.sh            everything, as CI runs it
#   scripts/test.sh LABEL      only the tests whose ctest label matches LABEL (a
#                              regular expression): unit, format, tools, wine,
#                              ardour, browser, fuzz, slow; e.g. 'unit|format'
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
label="${1:-}"

build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
}

# How many tests of a configured preset carry a label matching every pattern given.
count() {
  local preset=$1
  shift
  local args=()
  for pattern in "$@"; do args+=(-L "$pattern"); done
  ctest --preset "$preset" -N "${args[@]}" | sed -n 's/^Total Tests: //p'
}

fuzz() {
  build fuzz
  ctest --preset fuzz "$@"
}

if [ -n "$label" ]; then
  build default
  if [ "$(count default "$label" wine)" != 0 ]; then
    build win32
    build win64
  fi
  [ "$(count default "$label")" = 0 ] || ctest --preset default -j "$jobs" -L "$label"
  if [[ fuzz =~ $label ]]; then fuzz -j "$jobs"; fi
  exit 0
fi

for preset in win32 win64 default; do build "$preset"; done
ctest --preset default -j "$jobs"

# Every suite again under AddressSanitizer + UndefinedBehaviorSanitizer (clang).
build asan
ctest --preset asan -j "$jobs"

# The concurrency stress under ThreadSanitizer; its threads need the cores to themselves.
build tsan
ctest --preset tsan

# The short soak once more, for its figures in the log.
build/default/tests/robust/robust_soak --gtest_brief=1

# Each entry fuzzed from the seed corpus (NIMBOHALL_FUZZ_SECONDS each, one per core).
fuzz -j "$jobs"
