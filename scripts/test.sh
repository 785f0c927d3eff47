#!/usr/bin/env bash
# Installs the dependencies, builds the debug preset (warnings as errors) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset debug
cmake --build --preset debug
QT_QPA_PLATFORM=offscreen ctest --preset debug -j2

# The unit tests once more under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake --preset asan -DVORLIX_BUILD_GUI=OFF
cmake --build --preset asan
ctest --preset asan -j2 -L unit
