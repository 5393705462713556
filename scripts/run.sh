#!/usr/bin/env bash
# The main job: builds everything that ships into dist/ (the plugin's two DLLs for each
# plugin library, interface 26's (which speaks 19 to 26) and interface 4's, with their cue
# sounds, unpacked in interface26/ and interface4/, and interface 26's Linux library beside
# them; the two plugin packages players install; sorlinx-sim.exe and sorlinx-send.exe, and
# their Linux builds sorlinx-sim-linux-amd64 and sorlinx-send-linux-amd64), then runs the
# simulator's built-in session natively: the plugin's own code against a simulated voice
# client, showing what it does with every request a game can make. Last it writes
# dist/SHA256SUMS, the checksum of every file shipped.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages "${BUILD_PACKAGES[@]}"
cd "$top"

# The 32-bit builds give their DLL only; each 64-bit build packs both DLLs of its interface,
# and interface 4's also gives the two programs.
build_preset dist-win32 --target sorlinx
build_preset dist-win64 --target all sorlinx_package
build_preset dist-win32-interface26 --target sorlinx
# Interface 26's package also carries the Linux library; the native Linux programs come
# with it.
build_preset dist-linux --target sorlinx sorlinx-send sorlinx-sim
build_preset dist-win64-interface26 --target sorlinx_package
rm -rf "$top/dist"
for interface in 4 26; do
  suffix=""
  [ $interface = 4 ] || suffix=-interface$interface
  # The DLLs and sounds as the package holds them under plugins/, and the package itself.
  presets="dist-win32$suffix dist-win64$suffix"
  [ $interface = 4 ] || presets+=" dist-linux"
  for preset in $presets; do
    cmake --install "build/$preset" --prefix "$top/dist/interface$interface" --component plugin \
      >/dev/null
  done
  cmake --install "build/dist-win64$suffix" --prefix "$top/dist" --component package >/dev/null
done
cmake --install build/dist-win64 --prefix "$top/dist" --component Unspecified >/dev/null
cmake --install build/dist-linux --prefix "$top/dist" --component linux_tools >/dev/null
build_preset sim --target sorlinx-sim

echo
echo "=== sorlinx-sim: the built-in session ==="
map="$top/dist/sorlinx-sim-map.svg"
"$top/build/sim/bin/sorlinx-sim" --map "$map"
# The checksum of every shipped file. Two runs of this script on the same commit, anywhere,
# give the same files and so the same list: players check a download against it, and anyone
# can build the commit again and compare.
(cd "$top/dist" && find . -type f ! -name SHA256SUMS | LC_ALL=C sort | sed 's|^\./||' |
  xargs -d '\n' sha256sum >SHA256SUMS)
echo
echo "Shipped files in dist/ (the map of the session above is sorlinx-sim-map.svg; the"
echo "checksums of all of them are in SHA256SUMS):"
(cd "$top/dist" && find . -type f | LC_ALL=C sort | sed 's|^\./|  |')
