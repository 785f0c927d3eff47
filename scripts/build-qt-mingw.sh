#!/usr/bin/env bash
# Cross-builds Qt for 64-bit Windows (MinGW-w64) from Debian's qt6-base source package: only
# the modules and plugins the program and its GUI tests need. Installs it into a cache folder
# outside the checkout, keyed by the Qt version, the flags and the compiler set-up, and reuses
# it on every later run. Prints the folder on the last line of its output.
#
#   scripts/build-qt-mingw.sh [--jobs N]
#
# VORLIX_CACHE_DIR: the cache folder (default ${XDG_CACHE_HOME:-~/.cache}/vorlix).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

jobs=$(nproc)
while [ $# -gt 0 ]; do
  case "$1" in
    --jobs) jobs=$2; shift 2 ;;
    *) echo "build-qt-mingw.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

qt_version=6.4.2
# The Debian revision the build was tried with; its patches are applied by the fetch.
qt_debian_version=6.4.2+dfsg-10
# Debian's own Qt of the same version supplies moc, rcc and uic.
host_qt=(-DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)
# Core, Gui, Widgets, PrintSupport and Test with the windows, offscreen and minimal platform
# plugins and the Windows styles. Direct2D goes with DirectWrite: 6.4 compiles its DirectWrite
# font engine only beside Direct2D, and PrintSupport fails to link without it.
flags=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF
  -DFEATURE_direct2d=OFF -DFEATURE_directwrite=OFF -DFEATURE_directwrite3=OFF
  -DFEATURE_tabletevent=OFF
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF
  -DFEATURE_concurrent=OFF
  -DFEATURE_icu=OFF -DFEATURE_zstd=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
  -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_doubleconversion=OFF
  -DFEATURE_freetype=ON -DFEATURE_harfbuzz=ON
  -DFEATURE_testlib=ON -DFEATURE_printsupport=ON
)

cache=${VORLIX_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/vorlix}
key=$({
  echo "$qt_debian_version"
  printf '%s\n' "${host_qt[@]}" "${flags[@]}"
  cat cmake/mingw64-compilers.cmake
  x86_64-w64-mingw32-g++-posix --version | head -n 1
} | sha256sum | cut -c1-12)
prefix="$cache/qt-$qt_version-mingw-$key"

if [ -f "$prefix/.complete" ]; then
  echo "build-qt-mingw.sh: Qt $qt_version for MinGW-w64 is in the cache" >&2
  echo "$prefix"
  exit 0
fi

start=$(date +%s)
src=$(bash scripts/fetch-debian-source.sh "qt6-base=$qt_debian_version" "$cache/src" | tail -n 1)

build="$cache/build-qt-$qt_version-mingw-$key"
rm -rf "$build" "$prefix.partial"
mkdir -p "$build"
echo "build-qt-mingw.sh: building Qt $qt_version for MinGW-w64 in $build ($jobs jobs)" >&2
cmake -S "$src" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw64-compilers.cmake" \
  -DCMAKE_INSTALL_PREFIX="$prefix.partial" \
  "${host_qt[@]}" "${flags[@]}" >"$build/configure.log" 2>&1 ||
  { tail -n 60 "$build/configure.log" >&2; exit 1; }
configured=$(date +%s)
cmake --build "$build" -j "$jobs" >"$build/build.log" 2>&1 ||
  { grep -B2 -A20 -m3 'FAILED\|error:' "$build/build.log" >&2; exit 1; }
cmake --install "$build" >"$build/install.log" 2>&1 || { tail -n 30 "$build/install.log" >&2; exit 1; }
touch "$prefix.partial/.complete"
mv "$prefix.partial" "$prefix"
rm -rf "$build"
end=$(date +%s)
echo "build-qt-mingw.sh: Qt built in $((end - start)) s (configure $((configured - start)) s)" >&2
echo "$prefix"
