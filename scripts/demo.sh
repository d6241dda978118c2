#!/usr/bin/env bash
# Sets up, builds and renders the demo score to demo.wav in the current folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" build
"$root/build/bin/vemora" --output "$PWD/demo.wav" "$root/examples/demo.lua"
