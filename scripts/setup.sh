#!/usr/bin/env bash
# Installs the Debian packages that Vemora builds with (needs root or sudo).
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libsndfile1-dev libsamplerate0-dev liblua5.4-dev libcli11-dev
          libgtest-dev libgmock-dev libbenchmark-dev)
# clang and its libFuzzer runtime, for scripts/fuzz.sh alone; clang-format
# for scripts/check-format.sh.
packages+=(clang libclang-rt-14-dev clang-format)
# Live audio: PortAudio (ALSA and JACK back ends) to build with; for the
# tests, which need no sound card, a JACK server with its dummy back end and
# ALSA's jack PCM (libasound2-plugins). Without their recommendations
# (jackd2's would bring a desktop's worth of Qt).
audio_packages=(portaudio19-dev jackd2 libasound2-plugins)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=() missing_audio=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
for p in "${audio_packages[@]}"; do installed "$p" || missing_audio+=("$p"); done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_audio[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
# jackd2 asks whether to give the audio group realtime priority: no (the
# tests run the server as the user they run as).
echo "jackd2 jackd/tweak_rt_limits boolean false" | $sudo debconf-set-selections
[ ${#missing[@]} -eq 0 ] || DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
[ ${#missing_audio[@]} -eq 0 ] ||
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing_audio[@]}"
