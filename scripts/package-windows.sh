#!/usr/bin/env bash
# Builds the Windows program and makes its two packages from one deployed folder:
#   build/mingw-gui/vorlix-<version>-win64.zip        portable: settings in INI beside the exe
#   build/mingw-gui/vorlix-<version>-win64-setup.exe  per-user installer (NSIS), no admin rights
# Qt for MinGW-w64 comes from the cache (scripts/build-qt-mingw.sh builds it when missing).
#
#   scripts/package-windows.sh [--jobs N]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

jobs=$(nproc)
while [ $# -gt 0 ]; do
  case "$1" in
    --jobs) jobs=$2; shift 2 ;;
    *) echo "package-windows.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
for tool in x86_64-w64-mingw32-g++-posix makensis zip groff; do
  command -v "$tool" >/dev/null ||
    { echo "package-windows.sh: $tool is missing (scripts/install-deps.sh --test)" >&2; exit 1; }
done

VORLIX_QT_MINGW=$(bash scripts/build-qt-mingw.sh --jobs "$jobs" | tail -n 1)
export VORLIX_QT_MINGW
build="$root/build/mingw-gui"
cmake --preset mingw-gui >/dev/null
cmake --build --preset mingw-gui -j "$jobs" --target vorlix vorlix-cli

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name="vorlix-$version-win64"
staging="$build/package"
folder="$staging/$name"
rm -rf "$staging"
mkdir -p "$staging"
bash scripts/deploy-windows.sh "$build" "$VORLIX_QT_MINGW" "$folder"

# The portable zip: one folder, unpacked anywhere the user may write.
rm -f "$build/$name.zip"
(cd "$staging" && zip -qr9 -X "$build/$name.zip" "$name")

# The installer, with an uninstaller that removes exactly what was deployed.
list="$staging/installed-files.nsh"
(
  cd "$folder"
  find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|^|  Delete "$INSTDIR\\|; s|$|"|'
  find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|^|  RMDir "$INSTDIR\\|; s|$|"|'
) >"$list"
makensis -V2 -DVERSION="$version" -DSOURCE="$folder" -DOUTFILE="$build/$name-setup.exe" \
  -DFILE_LIST="$list" packaging/windows/vorlix.nsi

ls -l "$build/$name.zip" "$build/$name-setup.exe" | awk '{ print $5, $9 }'
