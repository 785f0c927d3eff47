#!/usr/bin/env bash
# Installs the dependencies, builds the debug preset (warnings as errors) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset debug
cmake --build --preset debug
QT_QPA_PLATFORM=offscreen ctest --preset debug -j2
