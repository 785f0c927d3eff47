#!/usr/bin/env bash
# Pictures of the application's windows for the user's guide: builds the debug preset and walks
# the application through connection, values and calibration against the built-in simulator
# under a virtual display, writing the pictures into docs/images (or the folder given).
#
#   bash scripts/screenshots.sh [folder]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/images}

cmake --preset debug >/dev/null
cmake --build --preset debug --target vorlix_screenshots

if ! command -v xvfb-run >/dev/null; then
  echo "xvfb-run is missing (apt-get install xvfb)" >&2
  exit 2
fi
mkdir -p "$out"
# The platform of the virtual display, whatever the calling session uses.
QT_QPA_PLATFORM=xcb xvfb-run -a -s '-screen 0 1280x800x24' build/debug/bin/vorlix_screenshots "$out"
