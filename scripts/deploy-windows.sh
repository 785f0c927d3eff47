#!/usr/bin/env bash
# Makes the deployed folder of the Windows program from a mingw-gui build: the executables, the
# Qt plugins they load at run time, and every DLL that the PE import tables of those name,
# followed from DLL to DLL. A DLL found neither in Qt's folder nor beside the compiler must be
# one Windows itself supplies (wine's own copy of it is the check); anything else fails.
#
#   scripts/deploy-windows.sh BUILD_DIR QT_DIR DEST
#
# DEST is made afresh: vorlix.exe, vorlix-cli.exe, the DLLs, platforms/qwindows.dll, styles/,
# translations/qtbase_uk.qm, the licence and notices, the command line's manual as text.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

[ $# -eq 3 ] || { echo "usage: $0 BUILD_DIR QT_DIR DEST" >&2; exit 2; }
build=$1
qt=$2
dest=$3
triplet=x86_64-w64-mingw32
compiler=$triplet-g++-posix
# The DLLs wine supplies, as Windows does: the test of a system DLL.
system_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
[ -d "$system_dlls" ] || { echo "deploy-windows.sh: no $system_dlls (package wine64)" >&2; exit 1; }

rm -rf "$dest"
mkdir -p "$dest/platforms" "$dest/styles" "$dest/translations"
for exe in vorlix.exe vorlix-cli.exe; do
  install -m 755 "$build/bin/$exe" "$dest/$exe"
  $triplet-strip --strip-unneeded "$dest/$exe"
  # The window's title carries the executable's date: the build's, not the deployment's.
  touch -r "$build/bin/$exe" "$dest/$exe"
done
# Plugins are loaded by name at run time, so no import table leads to them: the window's
# platform and the Windows styles.
cp "$qt/plugins/platforms/qwindows.dll" "$dest/platforms/"
cp "$qt/plugins/styles/"*.dll "$dest/styles/"
# Qt's own texts in Ukrainian (standard buttons, the print dialog), as the program looks for
# them in translations/ beside itself.
cp /usr/share/qt6/translations/qtbase_uk.qm "$dest/translations/"

# Where a DLL the imports name comes from: Qt's folder, else the compiler's runtime.
locate_dll() {
  local name=$1 found
  if [ -f "$qt/bin/$name" ]; then
    echo "$qt/bin/$name"
    return
  fi
  found=$($compiler -print-file-name="$name")
  if [ "$found" != "$name" ] && [ -f "$found" ]; then
    readlink -f "$found"
  fi
}

imports() {
  $triplet-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r'
}

queue=("$dest"/*.exe "$dest"/platforms/*.dll "$dest"/styles/*.dll)
declare -A seen=()
missing=0
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  while IFS= read -r name; do
    key=${name,,}
    [ -n "${seen[$key]:-}" ] && continue
    seen[$key]=1
    source_file=$(locate_dll "$name")
    if [ -n "$source_file" ]; then
      cp "$source_file" "$dest/$name"
      queue+=("$dest/$name")
    elif [ -f "$system_dlls/$key" ] || [[ $key == api-ms-win-* ]]; then
      continue
    else
      echo "deploy-windows.sh: $name, imported by $(basename "$file"), is nowhere to be found" >&2
      missing=1
    fi
  done < <(imports "$file")
done
[ "$missing" = 0 ] || exit 1

# The licence, the notices of what is bundled, and the command line's manual, as Windows
# text files.
crlf() { sed 's/$/\r/' "$1" >"$2"; }
crlf "$root/LICENSE" "$dest/LICENSE.txt"
crlf "$root/packaging/third-party-notices.txt" "$dest/THIRD-PARTY-NOTICES.txt"
groff -man -Tutf8 -P-cbou "$root/cli/vorlix-cli.1" 2>/dev/null | sed 's/$/\r/' >"$dest/vorlix-cli.txt"
[ -s "$dest/vorlix-cli.txt" ] || { echo "deploy-windows.sh: the manual did not render" >&2; exit 1; }

echo "deploy-windows.sh: $(find "$dest" -name '*.dll' | wc -l) DLLs, $(du -sh "$dest" | cut -f1) in $dest" >&2
