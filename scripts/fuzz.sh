#!/usr/bin/env bash
# Builds the libFuzzer targets into build-fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS seconds, starting
# from its seed corpus in fuzz/corpus/<target>/ (every seed is run first, so
# an input that once failed is checked again on every run).
#
#   scripts/fuzz.sh                    every target, 30 s each
#   scripts/fuzz.sh score_reader 600   one target, 10 minutes
#   scripts/fuzz.sh all 120
#
# Targets: score_reader socket_record pitch_name gen_args. Fails on the first
# crash, sanitizer report, leak, uncaught exception, timeout or out-of-memory;
# the input that caused it is kept in build-fuzz/artifacts/<target>/ (add it
# to fuzz/corpus/<target>/ along with the fix). New inputs that reach new code
# gather in build-fuzz/corpus/<target>/, never in the committed seeds.
# JOBS sets the build's parallel jobs. SEED fixes libFuzzer's random seed, so
# that a run repeats the same inputs in the same order (as far as the time
# allows); without it each run explores afresh.
set -euo pipefail
cd "$(dirname "$0")/.."

all=(score_reader socket_record pitch_name gen_args)
which=${1:-all}
seconds=${2:-30}
if [ "$which" = all ]; then
  targets=("${all[@]}")
elif [[ " ${all[*]} " == *" $which "* ]]; then
  targets=("$which")
else
  echo "fuzz.sh: unknown target \"$which\" (known: ${all[*]}, all)" >&2
  exit 2
fi
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "fuzz.sh: SECONDS must be a whole number above 0" >&2; exit 2; }

# Longest input, per-input time limit (seconds) and output to silence: the
# score and socket targets print what the scores and records ask for, the
# others the parsers' refusals (libFuzzer's own report still shows).
declare -A options=(
  [score_reader]="-max_len=8192 -timeout=20 -rss_limit_mb=3072 -close_fd_mask=3 -dict=fuzz/score_reader.dict"
  [socket_record]="-max_len=41481 -timeout=20 -close_fd_mask=3 -dict=fuzz/socket_record.dict"
  [pitch_name]="-max_len=64 -timeout=5 -close_fd_mask=2"
  [gen_args]="-max_len=1024 -timeout=10 -close_fd_mask=2"
)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVEMORA_FUZZ=ON -DVEMORA_BUILD_TESTS=OFF \
  -DVEMORA_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! cmake --build build-fuzz -j "${JOBS:-$(nproc)}" >build-fuzz/build.log 2>&1; then
  tail -n 40 build-fuzz/build.log
  echo "fuzz.sh: the fuzz build failed (build-fuzz/build.log)" >&2
  exit 1
fi

# A smaller quarantine than AddressSanitizer's 256 MB keeps the score
# target's memory in bounds over long runs; freed memory is still checked.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=64}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for target in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$target" "build-fuzz/artifacts/$target"
  log="build-fuzz/artifacts/$target/last-run.log"
  echo "== $target: $seconds s"
  # shellcheck disable=SC2086  # the options are words
  if build-fuzz/fuzz/${target}_fuzzer ${options[$target]} ${SEED:+-seed=$SEED} -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="build-fuzz/artifacts/$target/" "build-fuzz/corpus/$target" "fuzz/corpus/$target" \
      >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    found=$(find "build-fuzz/corpus/$target" -type f | wc -l)
    seeds=$(find "fuzz/corpus/$target" -type f | wc -l)
    echo "   ok: ${runs:-?} inputs run in $seconds s; $seeds seeds, $found inputs found"
  else
    status=1
    echo "   FAILED; the end of its log ($log):"
    grep -E "^(==[0-9]+==|SUMMARY|.*runtime error|artifact_prefix|Test unit written)" "$log" | tail -n 20 || true
    tail -n 30 "$log"
  fi
done
exit $status
