#!/usr/bin/env bash
# Fails when a C++ file of the project differs from what the project's .clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
list() {
  # Outside a work tree git could use (a copy, another owner), the source folders themselves.
  git ls-files -z '*.cpp' '*.h' 2>/dev/null ||
    find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0
}
list | xargs -0 clang-format --dry-run --Werror
echo "format: every C++ file as .clang-format has it"
