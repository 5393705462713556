#!/usr/bin/env bash
# The main job: builds everything that ships into dist/ (both plugin DLLs with their cue
# sounds, the plugin package players install, sorlinx-sim.exe and sorlinx-send.exe), then
# runs the simulator's built-in session natively: the plugin's own code against a simulated
# voice client, showing what it does with every request a game can make.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages "${BUILD_PACKAGES[@]}"
cd "$top"

build_preset dist-win32
build_preset dist-win64 --target all sorlinx_package
rm -rf "$top/dist"
for preset in dist-win32 dist-win64; do
  cmake --install "build/$preset" --prefix "$top/dist" >/dev/null
done
build_preset sim --target sorlinx-sim

echo
echo "=== sorlinx-sim: the built-in session ==="
map="$top/dist/sorlinx-sim-map.svg"
"$top/build/sim/bin/sorlinx-sim" --map "$map"
echo
echo "Shipped files in dist/ (the map of the session above is sorlinx-sim-map.svg):"
(cd "$top/dist" && find . -type f | sort | sed 's|^\./|  |')
