#!/usr/bin/env bash
# Builds the three plugin binaries and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
for preset in win32 win64 default; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
ctest --preset default -j "$jobs"
