#!/usr/bin/env bash
# Installs the dependencies, builds the debug preset (warnings as errors) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --test
bash scripts/check-format.sh
cmake --preset debug
cmake --build --preset debug
QT_QPA_PLATFORM=offscreen ctest --preset debug -j2

# The unit and GUI tests once more under AddressSanitizer and UndefinedBehaviorSanitizer; the
# GUI tests include the commands run against the simulator, where a link taken down under a
# running exchange would show as a use after free.
cmake --preset asan -DVORLIX_BUILD_GUI=ON
cmake --build --preset asan
QT_QPA_PLATFORM=offscreen ctest --preset asan -j2 -L 'unit|gui'
