#!/usr/bin/env bash
# Fails when a source file of ours is not formatted as .clang-format says.
set -euo pipefail
cd "$(dirname "$0")/../.."
mapfile -t files < <(git ls-files '*.h' '*.cpp' | grep -v '^build/')
if ((${#files[@]})); then
    clang-format --dry-run --Werror "${files[@]}"
fi
echo "check-format: ${#files[@]} files formatted"
