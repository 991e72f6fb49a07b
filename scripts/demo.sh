#!/usr/bin/env bash
# Builds the plugin and the renderer, then renders the demo to nimbohall-demo.wav.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target nimbohall nimbohall-render
build/default/tools/render/nimbohall-render "$@"
