#!/usr/bin/env bash
# Fails when docs/performance.md gives the built-in session another count of expectations
# than the simulator plays.
# Usage: check_built_in_count.sh SORLINX_SIM PERFORMANCE_MD
set -euo pipefail
summary=$("$1" | tail -n 1)
count=${summary%% expectation*}
if ! grep -q "built-in session (.*, $count expectations)" "$2"; then
  echo "FAIL: the built-in session has $count expectations; $2 says otherwise"
  exit 1
fi
echo "OK: $2 counts the built-in session's $count expectations"
