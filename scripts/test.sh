#!/usr/bin/env bash
# Sets up, builds and runs every test: once in a normal build and once with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/check-format.sh
jobs=$(nproc)
# In CI a warning fails the build; by hand, a newer compiler's new warning
# should not stop anyone from running the tests.
werror=()
[ "${CI:-}" = true ] && werror=(-DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
scripts/build.sh build "${werror[@]}"
ctest --test-dir build --output-on-failure -j "$jobs"
scripts/check-sdk.sh build
scripts/build.sh build-asan -DVEMORA_SANITIZE=ON -DVEMORA_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug "${werror[@]}"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
# Every fuzz target for 30 s from its seeds (scripts/fuzz.sh builds
# build-fuzz/). The fixed seed makes the verdict follow the change rather than
# the draw; longer runs by hand explore with fresh seeds.
SEED=1 scripts/fuzz.sh all 30
