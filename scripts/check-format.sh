#!/usr/bin/env bash
# Every C++ file git tracks is as the project's .clang-format lays it out; prints the places
# that are not and exits 1. `clang-format -i FILE` mends one.
# Usage: bash scripts/check-format.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
format=$(command -v clang-format-14 || command -v clang-format)
git ls-files -z '*.cpp' '*.h' | xargs -0 "$format" --dry-run --Werror
echo "every C++ file is formatted"
