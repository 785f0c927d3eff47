#!/usr/bin/env bash
# Starts the application installed under $VORLIX_INSTALLED_ROOT on a virtual display, as a user
# who cannot write beside the executable, and checks that the settings folder falls back to
# the per-user one and that the program closes cleanly when asked to.
set -euo pipefail
root=${VORLIX_INSTALLED_ROOT:?}
exe="$root/usr/bin/vorlix"
[ -x "$exe" ] || { echo "FAIL: $exe is missing"; exit 1; }

home=$(mktemp -d "${TMPDIR:-/tmp}/vorlix-home.XXXXXX")
trap 'chmod u+w "$root/usr/bin"; rm -rf "$home"' EXIT
run_as=()
if [ "$(id -u)" -eq 0 ]; then
  # Root may write anywhere; an ordinary user may not write to the installed bin folder.
  chown 65534:65534 "$home"
  chmod 755 "$(dirname "$root")" "$root" "$root/usr" "$root/usr/bin"
  run_as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
  # The unpacked tree is ours: take the write permission away, as an installed /usr/bin has.
  chmod a-w "$root/usr/bin"
fi

env -u QT_QPA_PLATFORM -u XDG_CONFIG_HOME HOME="$home" TMPDIR="$home" \
  "${run_as[@]}" xvfb-run -a "$exe" >"$home/out.log" 2>&1 &
runner=$!
folder="$home/.config/vorlix/INI"
for _ in $(seq 1 100); do
  [ -d "$folder" ] && break
  sleep 0.1
done
pid=$(pgrep -f "^$exe\$" || true)
status=0
if [ ! -d "$folder" ]; then
  echo "FAIL: the settings folder $folder was not created"; status=1
fi
if [ -e "$root/usr/bin/INI" ]; then
  echo "FAIL: a settings folder appeared beside the installed executable"; status=1
fi
if [ -z "$pid" ]; then
  echo "FAIL: the installed application is not running"; status=1
else
  kill -TERM "$pid"
fi
wait "$runner" || { echo "FAIL: the installed application did not end cleanly"; status=1; }
[ "$status" -eq 0 ] && echo "installed application started, used $folder and closed cleanly"
[ "$status" -eq 0 ] || cat "$home/out.log"
exit "$status"
