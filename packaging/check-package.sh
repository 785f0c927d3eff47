#!/usr/bin/env bash
# Checks the Debian package: its control fields, and the files it installs, unpacked with
# dpkg -x into a scratch root (nothing is installed on the machine).
#
#   packaging/check-package.sh (--deb FILE | --build-dir DIR) [--expect-gui] [--gui-check CMD]
#
#   --deb FILE       the package to check
#   --build-dir DIR  make the package from this configured and built tree first (cpack)
#   --expect-gui     the package must hold the application, and depend on Qt 6
#   --gui-check CMD  the hook for starting the installed application: CMD runs after the
#                    checks with VORLIX_INSTALLED_ROOT set to the scratch root (the program is
#                    $VORLIX_INSTALLED_ROOT/usr/bin/vorlix) and must exit 0
set -euo pipefail

deb=""
build_dir=""
expect_gui=0
gui_check=""
while [ $# -gt 0 ]; do
  case "$1" in
    --deb) deb=$2; shift 2 ;;
    --build-dir) build_dir=$2; shift 2 ;;
    --expect-gui) expect_gui=1; shift ;;
    --gui-check) gui_check=$2; shift 2 ;;
    *) echo "check-package.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vorlix-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

failures=0
fail() {
  echo "FAIL: $1" >&2
  failures=$((failures + 1))
}

if [ -n "$build_dir" ]; then
  cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$scratch/cpack" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; exit 1; }
  deb=$(find "$scratch/cpack" -maxdepth 1 -name 'vorlix_*.deb' | head -n 1)
fi
[ -n "$deb" ] && [ -f "$deb" ] || { echo "check-package.sh: no package (give --deb or --build-dir)" >&2; exit 2; }
echo "package: $(basename "$deb")"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vorlix ] || fail "Package is '$(field Package)', not vorlix"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Version)" ] || fail "no Version"
depends=$(field Depends)
echo "Depends: $depends"
case "$depends" in *libc6*) ;; *) fail "Depends does not name libc6" ;; esac
case "$depends" in *libstdc++6*) ;; *) fail "Depends does not name libstdc++6" ;; esac
if [ "$expect_gui" = 1 ]; then
  case "$depends" in *libqt6widgets6*) ;; *) fail "Depends does not name the Qt 6 widgets library" ;; esac
  case "$depends" in *libqt6printsupport6*) ;; *) fail "Depends does not name the Qt 6 print support library" ;; esac
  # The plot library is linked in statically; nothing else draws charts.
  case "$depends" in *libqt6charts6*) fail "Depends names the Qt 6 charts library" ;; esac
  case "$depends" in *qt6-translations-l10n*) ;; *) fail "Depends does not name Qt's translations" ;; esac
fi

# Files.
root="$scratch/root"
dpkg -x "$deb" "$root"
expect_file() {
  [ -f "$root/$1" ] || fail "missing $1"
}
expect_executable() {
  [ -f "$root/$1" ] && [ -x "$root/$1" ] || fail "missing or not executable: $1"
}
expect_executable usr/bin/vorlix-sim
expect_executable usr/bin/vorlix-cli
expect_file usr/share/man/man1/vorlix-cli.1
expect_file usr/share/doc/vorlix/copyright
grep -q '^License: GPL-3.0-or-later' "$root/usr/share/doc/vorlix/copyright" ||
  fail "the copyright file does not declare GPL-3.0-or-later"
if [ "$expect_gui" = 1 ]; then
  expect_executable usr/bin/vorlix
fi
expect_file usr/share/applications/vorlix.desktop
expect_file usr/share/icons/hicolor/scalable/apps/vorlix.svg
expect_file usr/share/icons/hicolor/48x48/apps/vorlix.png
expect_file usr/share/icons/hicolor/256x256/apps/vorlix.png

# Nothing of the build (tests, benchmarks, static libraries, headers) comes along.
unexpected=$(cd "$root" && find . -type f ! -path ./usr/bin/vorlix ! -path ./usr/bin/vorlix-sim \
  ! -path ./usr/bin/vorlix-cli ! -path ./usr/share/man/man1/vorlix-cli.1 \
  ! -path ./usr/share/doc/vorlix/copyright \
  ! -path './usr/share/applications/*' ! -path './usr/share/icons/*' | sort)
[ -z "$unexpected" ] || fail "unexpected files: $unexpected"

# The menu entry starts the installed program by name, with the icon installed beside it.
desktop="$root/usr/share/applications/vorlix.desktop"
if [ -f "$desktop" ]; then
  grep -qx 'Exec=vorlix' "$desktop" || fail "the menu entry does not run vorlix"
  grep -qx 'Icon=vorlix' "$desktop" || fail "the menu entry does not use the vorlix icon"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the menu entry"
  fi
fi

# The installed simulator runs from where it was put, with the system's libraries.
if [ -x "$root/usr/bin/vorlix-sim" ]; then
  "$root/usr/bin/vorlix-sim" --help >"$scratch/sim-help.txt" 2>&1 ||
    fail "the installed vorlix-sim --help failed: $(cat "$scratch/sim-help.txt")"
fi

# The installed command line runs too, with no settings of its own yet.
if [ -x "$root/usr/bin/vorlix-cli" ]; then
  "$root/usr/bin/vorlix-cli" --help >"$scratch/cli-help.txt" 2>&1 ||
    fail "the installed vorlix-cli --help failed: $(cat "$scratch/cli-help.txt")"
fi

# Hook: starting the installed application (under Xvfb) is the caller's command.
if [ -n "$gui_check" ]; then
  VORLIX_INSTALLED_ROOT="$root" bash -c "$gui_check" || fail "the GUI check failed: $gui_check"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package checks passed"
