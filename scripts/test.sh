#!/usr/bin/env bash
# Installs the dependencies, builds the debug preset (warnings as errors) and runs every test,
# then the Windows program under wine (Qt for MinGW-w64 built first when the cache has none).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --test
bash scripts/check-format.sh
cmake --preset debug
cmake --build --preset debug
QT_QPA_PLATFORM=offscreen ctest --preset debug -j2

# The whole program for Windows: the packages made, the portable and the installed program
# started, the window against the simulator through the Win32 serial layer.
bash scripts/windows-gui-tests.sh --sim build/debug/bin/vorlix-sim

# The unit, integration and GUI tests once more under AddressSanitizer and
# UndefinedBehaviorSanitizer; the GUI tests include the commands run against the simulator,
# where a link taken down under a running exchange would show as a use after free, and the
# integration tests the real serial layer on pseudo-terminals.
cmake --preset asan -DVORLIX_BUILD_GUI=ON
cmake --build --preset asan
QT_QPA_PLATFORM=offscreen ctest --preset asan -j2 -L 'unit|gui|integration'

# A short run of every fuzz target (clang's libFuzzer under both sanitizers); scripts/fuzz.sh
# runs them for longer.
cmake --preset fuzz
cmake --build --preset fuzz
ctest --preset fuzz -j2
