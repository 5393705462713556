#!/usr/bin/env bash
# The main job: builds the shipped files into dist/ — both plugin DLLs (32- and 64-bit
# voice clients) and their data files.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages "${BUILD_PACKAGES[@]}"
cd "$top"

for preset in win32 win64; do
  build_preset "$preset" --target sorlinx
  cmake --install "build/$preset" --prefix "$top/dist" >/dev/null
done
echo
echo "Shipped files in dist/:"
(cd "$top/dist" && find . -type f | sort | sed 's|^\./|  |')
