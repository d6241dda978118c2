#!/usr/bin/env bash
# Installs the Debian packages that Vemora builds with (needs root or sudo).
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libsndfile1-dev libsamplerate0-dev liblua5.4-dev libcli11-dev
          libgtest-dev libgmock-dev libbenchmark-dev)
# clang and its libFuzzer runtime, for scripts/fuzz.sh alone; clang-format
# for scripts/check-format.sh.
packages+=(clang libclang-rt-14-dev clang-format)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
