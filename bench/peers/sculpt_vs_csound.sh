#!/usr/bin/env bash
# SCULPT's 64-voice oscillator bank against Csound's, timed in one run.
#
#   bench/peers/sculpt_vs_csound.sh BUILD_DIR [RUNS]
#
# BUILD_DIR is a build of this project with vemora_program, SCULPT and
# oscillator_bench built. Each case renders 60 s of 44100 Hz stereo to a
# 32-bit float WAV in OUTDIR (default /tmp/sculpt_vs_csound), once untimed
# and then RUNS times (default 5); the figure is the median wall time, and
# the multiple of real time is 60 s / that time. The Google Benchmark of the
# same bank, rendering to memory with no file, runs last.
# Needs csound (apt-get install -y csound).
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$(cd "${1:?give the build folder}" && pwd)
RUNS=${2:-5}
OUT=${OUTDIR:-/tmp/sculpt_vs_csound}
mkdir -p "$OUT"

median() { sort -g | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

# timed NAME COMMAND...: prints NAME, median wall s, multiple of real time,
# median CPU s (user + sys).
timed() {
  local name=$1 t0 t1 walls=() cpus=() u s
  shift
  "$@" > "$OUT/$name.log" 2>&1 || { echo "FAILED: $name"; tail "$OUT/$name.log"; exit 1; }
  for _ in $(seq "$RUNS"); do
    t0=$(date +%s%N)
    /usr/bin/time -f "%U %S" -o "$OUT/$name.time" "$@" > "$OUT/$name.log" 2>&1
    t1=$(date +%s%N)
    walls+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.4f", (b-a)/1e9}')")
    read -r u s < "$OUT/$name.time"
    cpus+=("$(awk -v u="$u" -v s="$s" 'BEGIN{printf "%.2f", u+s}')")
  done
  local wall cpu
  wall=$(printf "%s\n" "${walls[@]}" | median)
  cpu=$(printf "%s\n" "${cpus[@]}" | median)
  printf "%-22s wall %7.3f s  %6.1fx real time  cpu %6.2f s\n" "$name" "$wall" \
    "$(awk -v w="$wall" 'BEGIN{print 60/w}')" "$cpu"
}

CS=(csound -d -m0 --nodisplays -W -f)
timed csound_ksmps1 "${CS[@]}" --ksmps=1 -o "$OUT/csound_k1.wav" "$HERE/sculpt_bank.csd"
timed csound_ksmps32 "${CS[@]}" --ksmps=32 -o "$OUT/csound_k32.wav" "$HERE/sculpt_bank.csd"
timed vemora_sculpt "$BUILD/bin/vemora" --quiet --plugin-path "$BUILD/plugins" \
  -o "$OUT/vemora.wav" "$HERE/sculpt_bank.lua"
"$BUILD/bench/oscillator_bench" --benchmark_filter=Sculpt --benchmark_repetitions="$RUNS" \
  --benchmark_report_aggregates_only=true
