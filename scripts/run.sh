#!/usr/bin/env bash
# Installs the dependencies, builds the release preset and starts the application.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release
cmake --build --preset release
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "vorlix needs a graphical display (DISPLAY is not set); try: xvfb-run -a $0" >&2
  exit 2
fi
exec build/release/bin/vorlix
