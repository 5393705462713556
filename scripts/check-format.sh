#!/usr/bin/env bash
# Fails when a C++ file of the project is not formatted as .clang-format says.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$top"
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h')
clang-format --dry-run --Werror "${files[@]}"
echo "Formatting: ${#files[@]} files checked."
