#!/usr/bin/env bash
# Installs what vorlix needs on Debian 12.
#
#   scripts/install-deps.sh          what building and running the application needs
#   scripts/install-deps.sh --test   that and what the tests, the benchmarks, the formatting
#                                    check, the package and the Windows build under wine need
set -euo pipefail

# Building and running the application and the device simulator; dpkg-dev unpacks the plot
# library's Debian source package, fetched by the first configure.
run_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  nlohmann-json3-dev libcli11-dev
  qt6-translations-l10n
  dpkg-dev patch
)

# Everything else: test frameworks and peers, the virtual display, the cross-compiler and wine,
# and what the Windows packages are made with (the installer, the zip, the manual as text,
# Qt's Ukrainian texts).
test_packages=(
  clang-format git
  libgtest-dev libgmock-dev
  libmodbus-dev python3 python3-pymodbus python3-serial python3-serial-asyncio
  xvfb xauth x11-apps x11-utils
  g++-mingw-w64-x86-64-posix googletest wine wine64
  nsis zip groff-base qt6-translations-l10n
  desktop-file-utils
  poppler-utils
  clang libclang-rt-14-dev
)

packages=("${run_packages[@]}")
case "${1:-}" in
  --test) packages+=("${test_packages[@]}") ;;
  "") ;;
  *) echo "usage: $0 [--test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
