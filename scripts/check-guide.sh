#!/usr/bin/env bash
# Runs every session of the game authors' guide through the simulator: each fenced block
# marked "session" must run with all its expectations met, so the guide cannot drift
# from what the plugin does.
# Usage: check-guide.sh SORLINX_SIM GUIDE.md
set -euo pipefail
sim=$1
guide=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

awk -v dir="$work" '
  /^```session[ \t]*$/ { inside = 1; count++; file = sprintf("%s/%02d.session", dir, count); start[count] = NR; next }
  /^```/ && inside { inside = 0; close(file); next }
  inside { print > file }
  END { for (i = 1; i <= count; i++) print start[i] > (dir "/lines") }
' "$guide"

[ -f "$work/lines" ] || { echo "FAIL: $guide holds no session block"; exit 1; }
mapfile -t lines < "$work/lines"
status=0
index=0
for session in "$work"/*.session; do
  line=${lines[$index]}
  index=$((index + 1))
  if ! output=$("$sim" "$session" 2>&1); then
    printf '%s\n' "$output" | grep -E "FAILED|line [0-9]+, column" || printf '%s\n' "$output" | tail -5
    echo "FAIL: the session at $guide:$line"
    status=1
  fi
done
[ $status -eq 0 ] && echo "OK: all ${#lines[@]} sessions of $guide ran with every expectation met"
exit $status
