#!/usr/bin/env bash
# Checks that the rooms (folders) of src/ include each other in levels only: a file may
# include from its own room and from rooms of lower levels, never from a room of its own
# level or above, so no two rooms ever depend on each other, directly or around a circle.
# Names every include that breaks this, and every room the levels do not place.
#
#   scripts/check-levels.sh [SOURCE_FOLDER]    (default: the project's src/)
set -euo pipefail

# From the top: what the voice client calls or hands over; the plugin's start and stop,
# workers and command table; the request handlers; the clipboard channel; what all share.
declare -A level=(
  [interfaces]=4
  [plugin]=3
  [commands]=2 [positional]=2
  [clipboard]=1
  [shared]=0
)

src=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/src}
broken=0
for folder in "$src"/*/; do
  room=$(basename "$folder")
  if [ -z "${level[$room]+set}" ]; then
    echo "src/$room/: a room the levels do not place (add it to ${BASH_SOURCE[0]##*/})"
    broken=1
  fi
done

while IFS= read -r match; do
  file=${match%%:*}
  rest=${match#*:}
  line=${rest%%:*}
  target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*$/\1/' <<<"${rest#*:}")
  relative=${file#"$src"/}
  room=${relative%%/*}
  [ "$room" != "$target" ] || continue
  [ -n "${level[$room]+set}" ] || continue  # reported above
  if [ -z "${level[$target]+set}" ]; then
    echo "src/$relative:$line: includes from \"$target/\", which is no room of src/"
    broken=1
  elif [ "${level[$target]}" -ge "${level[$room]}" ]; then
    echo "src/$relative:$line: $room/ (level ${level[$room]}) includes from $target/" \
      "(level ${level[$target]}); a room includes only from the levels below its own"
    broken=1
  fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' "$src" || true)

if [ "$broken" -ne 0 ]; then
  echo "FAILED: the includes of src/ break its levels"
  exit 1
fi
echo "Levels: every include of src/ goes down."
