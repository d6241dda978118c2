#!/usr/bin/env bash
# Builds and plays an instrument the way an outsider would: installs an
# existing build (default build/) into a temporary prefix, builds
# examples/plugin-template from a copy outside the tree against that prefix
# alone, renders its score with the installed vemora and checks the sound.
#
#   scripts/check-sdk.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=${1:-build}
work=$(mktemp -d "${TMPDIR:-/tmp}/vemora-sdk.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "check-sdk: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
pc=$(find "$prefix" -name vemora.pc -print -quit)
[ -n "$pc" ] || fail "no vemora.pc installed"
export PKG_CONFIG_PATH=$(dirname "$pc")
plugins=$(pkg-config --variable=plugindir vemora)
[ -e "$plugins/libPAN.so" ] || fail "the instruments are not in $plugins"
for probe in FRAMEPROBE legacyprobe NEXTIFACE NEXTNAMES DECLPROBE; do
  [ ! -e "$plugins/lib$probe.so" ] || fail "the test plug-in $probe was installed"
done

# Each installed header compiles on its own, with nothing but the prefix.
for header in "$prefix"/include/vemora/*.h; do
  echo "#include \"$(basename "$header")\"" |
    c++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I"$prefix/include/vemora" -x c++ - ||
    fail "$(basename "$header") does not compile alone"
done

# The template, copied out of the tree with the sound its score reads.
mkdir -p "$work/sounds"
cp -r examples/plugin-template "$work/plugin-template"
cp examples/sounds/voice.wav "$work/sounds/"
rm -rf "$work/plugin-template/build"
cmake -S "$work/plugin-template" -B "$work/template-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$work/template-build" >/dev/null
! grep -q "$source_dir" "$work/template-build/compile_commands.json" ||
  fail "the template was built with the source tree on its command line"

score=$work/plugin-template/tremolo.lua
VEMORA_PLUGIN_PATH=$work/template-build "$prefix/bin/vemora" --quiet "$score"
mv "$work/plugin-template/tremolo.wav" "$work/cmake.wav"

# The same instrument built from the pkg-config file, installed beside the
# others and found there: the same sound, bit for bit.
c++ -std=c++20 -O3 -DNDEBUG $(pkg-config --variable=plugin_cflags vemora) $(pkg-config --cflags vemora) -shared \
  -o "$plugins/libTREMOLO.so" "$work/plugin-template/TREMOLO.cpp"
"$prefix/bin/vemora" --quiet "$score"
cmp -s "$work/cmake.wav" "$work/plugin-template/tremolo.wav" ||
  fail "the TREMOLO of vemora.pc sounds other than the TREMOLO of find_package(Vemora)"

# What the sound must be, read through the installed engine library by a
# program that embeds it, built through Vemora::engine and through vemora.pc.
cp -r scripts/check-sdk "$work/check-src"
cmake -S "$work/check-src" -B "$work/check-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/check-build" >/dev/null
"$work/check-build/tremolo_check" "$work/sounds/voice.wav" "$work/cmake.wav" 3.2 0.8 4 0.75
c++ -std=c++20 -O2 "$work/check-src/tremolo_check.cpp" $(pkg-config --cflags --libs vemora) -o "$work/pc_check"
"$work/pc_check" "$work/sounds/voice.wav" "$work/cmake.wav" 3.2 0.8 4 0.75 >/dev/null
echo "check-sdk: the SDK of $build builds, loads and plays an outside instrument"
