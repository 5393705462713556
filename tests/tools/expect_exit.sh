#!/usr/bin/env bash
# Runs a command and passes when it exits with the code given and its output (standard
# output and error together) holds the text given.
# Usage: expect_exit.sh CODE TEXT COMMAND [ARGUMENT...]
expected=$1
text=$2
shift 2
output=$("$@" 2>&1)
code=$?
if [ "$code" -ne "$expected" ] || ! grep -qF -- "$text" <<< "$output"; then
  printf '%s\n' "$output"
  echo "FAIL: exit code $code (expected $expected), looking for: $text"
  exit 1
fi
