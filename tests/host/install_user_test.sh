#!/bin/sh
# scripts/install-user.sh into a throw-away home: all four formats where
# Linux hosts look, the commands in ~/.local/bin (no Python module there),
# and they run from there: the renderer finds the plugin in ~/.vst, the
# gallery its plotting module in ~/.local/share/nimbohall. Then a fresh
# configuration's default prefix, which must put CLAP where hosts look.
#   install_user_test.sh SOURCE_DIR BUILD_DIR
set -eu
source_dir=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
HOME=$work/home "$source_dir/scripts/install-user.sh" "$build" >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
home=$work/home
for file in .vst/nimbohall.so .clap/nimbohall.clap .vst3/nimbohall.vst3/Contents/x86_64-linux/nimbohall.so \
    .lv2/nimbohall.lv2/manifest.ttl .local/bin/nimbohall-render .local/bin/nimbohall-gallery \
    .local/share/nimbohall/nimbohall_plots.py; do
  [ -f "$home/$file" ] || { echo "FAIL: no ~/$file"; exit 1; }
done
if ls "$home/.local/bin" | grep -q '\.py$'; then echo "FAIL: a Python module in ~/.local/bin"; exit 1; fi
HOME=$home "$home/.local/bin/nimbohall-render" --list | head -1 | grep -q "($home/.vst/nimbohall.so)" ||
  { echo "FAIL: the installed renderer does not use ~/.vst/nimbohall.so"; exit 1; }
HOME=$home /usr/bin/python3 "$home/.local/bin/nimbohall-gallery" --help >/dev/null ||
  { echo "FAIL: the installed gallery does not start"; exit 1; }
cmake -S "$source_dir" -B "$work/configured" -G Ninja -DNIMBOHALL_TESTS=OFF -DNIMBOHALL_TOOLS=OFF >/dev/null
grep -q '^CMAKE_INSTALL_PREFIX:PATH=/usr$' "$work/configured/CMakeCache.txt" ||
  { echo "FAIL: the default prefix is not /usr"; exit 1; }
echo "installed for the account and run from there; default prefix /usr"
