#!/usr/bin/env bash
# Builds the plugin and the renderer, then renders the demo to nimbohall-demo.wav.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh demo
cmake --preset demo >/dev/null
cmake --build --preset demo -j "$(nproc)" --target nimbohall nimbohall-render
build/demo/tools/render/nimbohall-render "$@"
