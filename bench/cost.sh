#!/usr/bin/env bash
# Instructions per stereo frame (callgrind, deterministic) of program 36 at
# 48 kHz, block 512, per format and case, for one or two builds side by side:
#   bench/cost.sh build/default [other-build-dir]
set -euo pipefail
cost=$(dirname "$0")/../build/default/bench/nimbohall_cost
[ -x "$cost" ] || cost=$1/bench/nimbohall_cost
count() {  # format case plugin
  local out frames
  out=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null --toggle-collect='*Measured*' "$cost" "$1" "$2" "$3" 2>&1 >/tmp/nimbohall_cost.$$)
  frames=$(cat /tmp/nimbohall_cost.$$)
  echo "$out" | sed -n 's/.*Collected : \([0-9]*\).*/\1/p' | awk -v f="$frames" '{printf "%.1f", $1 / f}'
}
printf '%-6s %-10s' format case
for build in "$@"; do printf " %14s" "$(basename "$(readlink -f "$build/../..")")"; done
echo
for format in vst2 clap; do
  for kind in static automated silence; do
    printf '%-6s %-10s' "$format" "$kind"
    for build in "$@"; do
      plugin=$build/fdnreverb/nimbohall.so
      [ "$format" = clap ] && plugin=$build/fdnreverb/clap/nimbohall.clap
      printf ' %14s' "$(count "$format" "$kind" "$plugin")"
    done
    echo
  done
done
rm -f /tmp/nimbohall_cost.$$
