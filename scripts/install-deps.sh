#!/usr/bin/env bash
# Installs what building, running and testing vorlix needs on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format git
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev
  nlohmann-json3-dev libcli11-dev
  libmodbus-dev python3 python3-pymodbus python3-serial python3-serial-asyncio
  xvfb xauth x11-apps x11-utils
  g++-mingw-w64-x86-64-posix googletest wine wine64
  dpkg-dev desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
