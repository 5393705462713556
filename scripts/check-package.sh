#!/usr/bin/env bash
# Checks the plugin package: a zip archive whose entries are exactly package.ini and the
# plugin's files, every one deflated and named in plain ASCII, and whose package.ini has
# every key the voice client's installer reads.
# Usage: check-package.sh PACKAGE
set -euo pipefail
package=$1
status=0
fail() { echo "FAIL: $*"; status=1; }

[ -f "$package" ] || { echo "FAIL: no package at $package"; exit 1; }

expected="package.ini
plugins/sorlinx/bruit.wav
plugins/sorlinx/rc.wav
plugins/sorlinx/rl.wav
plugins/sorlinx_win32.dll
plugins/sorlinx_win64.dll"
entries=$(unzip -Z1 "$package" | sort)
[ "$entries" = "$expected" ] || fail "the entries are:"$'\n'"$entries"$'\n'"expected:"$'\n'"$expected"

# unzip -v: one line per entry, the method in the second column.
methods=$(unzip -v "$package" | awk 'NR > 3 && $2 ~ /^[A-Za-z]/ && NF >= 8 { print $2 }' | sort -u)
[ "$methods" = "Defl:N" ] || fail "entries are not all deflated: $methods"
if unzip -Z1 "$package" | LC_ALL=C grep -q '[^ -~]'; then
  fail "an entry's name is not plain ASCII"
fi

ini=$(unzip -p "$package" package.ini | tr -d '\r')
for key in Name Type Author Version Platforms Description; do
  grep -Eq "^$key = .+" <<< "$ini" || fail "package.ini has no \"$key = ...\" line"
done
grep -qx 'Type = Plugin' <<< "$ini" || fail "package.ini: Type is not Plugin"
grep -qx 'Platforms = win32, win64' <<< "$ini" || fail "package.ini: Platforms is not win32, win64"
grep -Eqx 'Description = ".+"' <<< "$ini" || fail "package.ini: the Description is not in double quotes"
grep -Eqx 'Version = [0-9]+\.[0-9]+' <<< "$ini" || fail "package.ini: no version number"

[ $status -eq 0 ] && echo "OK: $package holds the six files, deflated, and a complete package.ini"
exit $status
