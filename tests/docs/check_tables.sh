#!/usr/bin/env bash
# Fails when a Markdown table of the given files would not render: every run of lines that
# start with "|", outside code blocks, must begin with a header row and its "|---|" row. (A
# paragraph dropped into a table leaves its last rows headless, shown as plain text.)
# Usage: check_tables.sh FILE...
set -euo pipefail
status=0
for file in "$@"; do
  awk -v file="$file" '
    /^```/ { fenced = !fenced; previous = ""; next }
    fenced { next }
    /^\|/ {
      if (previous !~ /^\|/) { start = FNR; header = 1 }
      else if (header == 1) {
        if ($0 !~ /^\|[ :|-]+\|?[ ]*$/) { printf "%s:%d: a table without its |---| row\n", file, start; bad = 1 }
        header = 0
      }
    }
    { previous = $0 }
    END { exit bad }
  ' "$file" || status=1
done
[ $status -eq 0 ] && echo "Tables: every table of $# files has its header."
exit $status
