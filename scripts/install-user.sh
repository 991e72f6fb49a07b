#!/usr/bin/env bash
# Installs all four plugin formats for the current account, where Linux hosts
# look without any setting: ~/.vst (VST 2.x), ~/.clap, ~/.vst3 and ~/.lv2;
# the renderer and the gallery command in ~/.local/bin, the gallery's
# plotting module in ~/.local/share/nimbohall.
#
#   scripts/install-user.sh [BUILD_DIR]      (default build/default)
#
# Builds what it installs first (configuring BUILD_DIR with the default
# preset if it is not configured yet), then stages CMake's own install and
# copies from there, so the files are exactly those `cmake --install` puts in
# place. Existing copies are replaced.
set -euo pipefail
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$source_dir/build/default}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$source_dir" && cmake --preset default >/dev/null)
  build="$source_dir/build/default"
fi
cmake --build "$build" --target nimbohall nimbohall_clap nimbohall_vst3 nimbohall_lv2_bundle nimbohall-render \
  nimbohall-gallery

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage" >/dev/null

place() {  # place FROM TO: FROM's entries into the folder TO, replacing what is there
  mkdir -p "$2"
  for entry in "$1"/*; do
    rm -rf "$2/$(basename "$entry")"
    cp -R "$entry" "$2/"
    echo "$2/$(basename "$entry")"
  done
}
place "$stage/lib/vst" "$HOME/.vst"
place "$stage/lib/clap" "$HOME/.clap"
place "$stage/lib/vst3" "$HOME/.vst3"
place "$stage/lib/lv2" "$HOME/.lv2"
place "$stage/bin" "$HOME/.local/bin"
place "$stage/share/nimbohall" "$HOME/.local/share/nimbohall"
