#!/usr/bin/env bash
# Builds the release preset and the Debian package (build/release/vorlix_<version>_<arch>.deb),
# then checks the package's contents.
#
#   scripts/package.sh [--gui-check CMD]   (CMD: see packaging/check-package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

check_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --gui-check) check_args+=(--gui-check "$2"); shift 2 ;;
    *) echo "package.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh --test
cmake --preset release
cmake --build --preset release
cpack --preset release

deb=$(ls -t build/release/vorlix_*.deb | head -n 1)
if [ -x build/release/bin/vorlix ]; then
  check_args+=(--expect-gui)
fi
packaging/check-package.sh --deb "$deb" "${check_args[@]}"
echo "$deb"
