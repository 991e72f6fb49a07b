#!/usr/bin/env bash
# Builds the three plugin binaries and runs every test suite, then the
# sanitizer builds, the concurrency stress, the short soak and a bounded fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests

jobs=$(nproc)
for preset in win32 win64 default; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
ctest --preset default -j "$jobs"

# Every suite again under AddressSanitizer + UndefinedBehaviorSanitizer (clang).
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

# The concurrency stress under ThreadSanitizer; its threads need the cores to themselves.
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan

# The short soak once more, for its figures in the log.
build/default/tests/robust/robust_soak --gtest_brief=1

# About a minute of fuzzing from the seed corpus. New inputs, and the input of
# any failure, land in fuzz-corpus-work/; the corpus in the tree is not touched.
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
rm -rf fuzz-corpus-work && mkdir fuzz-corpus-work
build/fuzz/tests/fuzz/nimbohall_fuzz -max_total_time=60 -max_len=4096 -timeout=20 -print_final_stats=1 \
  -artifact_prefix=fuzz-corpus-work/ fuzz-corpus-work tests/fuzz/corpus
