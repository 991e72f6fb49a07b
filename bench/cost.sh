#!/usr/bin/env bash
# The cost table in one run, for one or two builds side by side:
#   bench/cost.sh build/default [other-build-dir]
# 1. Instructions per stereo frame (callgrind, deterministic) of program 36 at
#    48 kHz, block 512, per format and case; "auto/st32" (the automated case
#    against the same sound in 32-frame blocks without changes: the cost of the
#    changes alone) and "silence/static" are the ratios the goals are stated in.
# 2. Time per frame per instance with 1, 16, 64 and 256 instances at block 64
#    (Google Benchmark, the first build only).
# 3. Reported tail against the measured time to -100 dBFS, per program and rate
#    (the first build only).
set -euo pipefail
cost=$1/bench/nimbohall_cost
count() {  # format case plugin
  local out frames
  [ -e "$3" ] || { echo -; return; }
  out=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null --toggle-collect='*Measured*' "$cost" "$1" "$2" "$3" 2>&1 >/tmp/nimbohall_cost.$$)
  frames=$(cat /tmp/nimbohall_cost.$$)
  echo "$out" | sed -n 's/.*Collected : \([0-9]*\).*/\1/p' | awk -v f="$frames" '{printf "%.1f", $1 / f}'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-") print "-"; else printf "%.3f", a / b }'; }
plugin() {  # build format
  case $2 in
    vst2) echo "$1/fdnreverb/nimbohall.so" ;;
    clap) echo "$1/fdnreverb/clap/nimbohall.clap" ;;
    vst3) echo "$1/fdnreverb/vst3/nimbohall.vst3" ;;
    lv2) echo "$1/lv2/nimbohall.lv2/nimbohall.so" ;;
  esac
}
echo "Instructions per frame, program 36, 48 kHz, block 512 (static32: in 32-frame blocks; automated: \"Halflife\" every 32 frames)"
printf '%-6s' format
for build in "$@"; do
  printf ' %9s %9s %9s %9s %9s %9s %9s' "static" "static32" "automated" "silence" "auto/stat" "auto/st32" "sil/stat"
done
echo
declare -A automated
for format in vst2 clap vst3 lv2; do
  printf '%-6s' "$format"
  for build in "$@"; do
    p=$(plugin "$build" "$format")
    s=$(count "$format" static "$p"); c=$(count "$format" static32 "$p")
    a=$(count "$format" automated "$p"); q=$(count "$format" silence "$p")
    automated[$format.$build]=$a
    printf ' %9s %9s %9s %9s %9s %9s %9s' "$s" "$c" "$a" "$q" "$(ratio "$a" "$s")" "$(ratio "$a" "$c")" "$(ratio "$q" "$s")"
  done
  echo
done
for build in "$@"; do
  printf 'in %s, automated against VST 2.x cut into 32-frame blocks: CLAP %s, VST3 %s\n' "$build" \
    "$(ratio "${automated[clap.$build]}" "${automated[vst2.$build]}")" "$(ratio "${automated[vst3.$build]}" "${automated[vst2.$build]}")"
done
rm -f /tmp/nimbohall_cost.$$
echo
echo "Time per frame per instance, program 36, block 64 ($1)"
"$1/bench/nimbohall_bench" --benchmark_filter=BM_Instances --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true 2>/dev/null | awk '/_median/ { sub(/.*per_frame=/, ""); print $0 }' \
  | paste -d' ' <(printf '%s\n' 1 16 64 256) - | awk '{ if (NR == 1) one = $2 + 0; printf "%4s instances: %s (x%.2f)\n", $1, $2, ($2 + 0) / one }'
echo
echo "Reported tail / measured time to -100 dBFS ($1)"
"$1/bench/nimbohall_tail_ratio"
