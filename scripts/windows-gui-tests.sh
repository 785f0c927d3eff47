#!/usr/bin/env bash
# The whole Windows program under wine on a virtual display: builds it against the cached Qt
# (building Qt first when the cache has none), makes the zip and the installer, then
#  1. unpacks the zip and starts the portable vorlix.exe: its main window must appear with its
#     title, and its settings folder INI beside it;
#  2. the same with one DLL taken out of a copy of the folder: the start must fail;
#  3. installs the installer silently (/S) and starts the installed vorlix.exe: its settings go
#     to %APPDATA%\vorlix\INI; the silent uninstaller then removes it;
#  4. runs the GUI test against the Linux vorlix-sim on a COM port of the wine prefix linked to
#     its pseudo-terminal: a connection through the corrector, the values monitor, a two-point
#     calibration with read-back, over the Win32 serial layer;
#  5. prints what a silent 2 s wait for a reply costs under wine beside the Linux figure.
#
#   scripts/windows-gui-tests.sh [--sim PATH] [--linux-bench PATH] [--screenshot PNG] [--jobs N]
#
#   --sim PATH          the Linux vorlix-sim (default build/debug/bin/vorlix-sim, built when
#                       missing)
#   --linux-bench PATH  the Linux bench_exchange_wait_cpu to print beside (default
#                       build/debug/bin/bench_exchange_wait_cpu, skipped when missing)
#   --screenshot PNG    also saves the portable program's window as a PNG
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

sim=""
linux_bench="$root/build/debug/bin/bench_exchange_wait_cpu"
screenshot=""
jobs=$(nproc)
while [ $# -gt 0 ]; do
  case "$1" in
    --sim) sim=$2; shift 2 ;;
    --linux-bench) linux_bench=$2; shift 2 ;;
    --screenshot) screenshot=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    *) echo "windows-gui-tests.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
timings=()
fail() {
  echo "windows-gui-tests.sh: $*" >&2
  exit 1
}

# 0. Qt, the program, the packages, the test and the benchmark.
start=$(now)
bash scripts/package-windows.sh --jobs "$jobs"
VORLIX_QT_MINGW=$(bash scripts/build-qt-mingw.sh | tail -n 1)
export VORLIX_QT_MINGW
build="$root/build/mingw-gui"
cmake --build --preset mingw-gui -j "$jobs" --target test_windows_gui_sim bench_exchange_wait_cpu
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name="vorlix-$version-win64"
timings+=("Qt, build and packages: $(since "$start") s")

if [ -z "$sim" ]; then
  sim="$root/build/debug/bin/vorlix-sim"
  if [ ! -x "$sim" ]; then
    cmake --preset debug >/dev/null
    cmake --build --preset debug --target vorlix-sim -j "$jobs"
  fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vorlix-wingui.XXXXXX")
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
pids=()
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# A virtual display of our own for the windows platform plugin.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
display_number=$(head -n 1 "$work/display")
[ -n "$display_number" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$display_number"

start=$(now)
wineboot --init >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log" >&2; exit 1; }
timeout 120 wineserver -w || true
wineserver -p >"$work/wineserver.log" 2>&1 || true
wine cmd.exe /c exit
timings+=("wine prefix: $(since "$start") s")
user_dir=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n 1)

# The X window of a wine program whose title holds the program's own name, as "id".
title_window() {
  xwininfo -root -tree 2>/dev/null | grep -F 'vorlix_modbus.exe' | awk '{ print $1 }' | head -n 1
}

# Starts vorlix.exe at the Windows path $1 and waits up to $2 s for its main window; prints the
# title. Fails when the program ends or no window comes.
expect_window() {
  local exe=$1 limit=$2 id="" pid title
  wine "$exe" >"$work/launch.log" 2>&1 &
  pid=$!
  for _ in $(seq $((limit * 5))); do
    id=$(title_window)
    [ -n "$id" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  if [ -z "$id" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    return 1
  fi
  title=$(xprop -id "$id" _NET_WM_NAME | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p')
  echo "$title"
  if [ -n "$screenshot" ] && [ "$exe" = "$portable_exe" ]; then
    sleep 2  # the first paint
    xwd -silent -id "$id" -frame >"$work/window.xwd" || xwd -silent -root >"$work/window.xwd"
    python3 "$root/tests/windows/xwd_to_png.py" "$work/window.xwd" "$screenshot"
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # The wine process of the window may outlive its loader: wait for the window to go.
  for _ in $(seq 50); do
    [ -z "$(title_window)" ] && break
    sleep 0.2
  done
  return 0
}
expected_title_start="Прграма обслуговування Р_Т-давачів  (vorlix_modbus.exe від "

# 1. The portable zip.
start=$(now)
mkdir -p "$work/portable"
# As an unpacking program does it: the files keep the dates the zip holds.
python3 - "$build/$name.zip" "$work/portable" <<'PY'
import os, sys, time, zipfile
with zipfile.ZipFile(sys.argv[1]) as archive:
    for info in archive.infolist():
        path = archive.extract(info, sys.argv[2])
        stamp = time.mktime(info.date_time + (0, 0, -1))
        os.utime(path, (stamp, stamp))
PY
portable="$work/portable/$name"
portable_exe="Z:${portable//\//\\}\\vorlix.exe"
title=$(expect_window "$portable_exe" 60) || fail "the portable vorlix.exe showed no main window: $(cat "$work/launch.log")"
[[ "$title" == "$expected_title_start"* ]] || fail "the portable window's title: '$title'"
[ -d "$portable/INI" ] || fail "the portable program made no INI folder beside itself"
echo "portable: main window '$title', settings in INI beside the exe"
timings+=("portable start: $(since "$start") s")

# 2. A DLL missing: the same start must fail.
cp -r "$portable" "$work/broken"
rm "$work/broken/Qt6Widgets.dll"
if expect_window "Z:${work//\//\\}\\broken\\vorlix.exe" 20 >/dev/null; then
  fail "vorlix.exe came up without Qt6Widgets.dll: the launch test would not notice a missing DLL"
fi
echo "without Qt6Widgets.dll: no window, as it should be"

# 3. The installer, silently, then the installed program and its uninstaller.
start=$(now)
# wine returns once the installer has ended.
wine "$build/$name-setup.exe" /S
installed="$user_dir/AppData/Local/Programs/vorlix"
[ -f "$installed/vorlix.exe" ] || fail "the installer put no vorlix.exe in $installed"
[ -f "$installed/vorlix.installed" ] || fail "the installed copy has no vorlix.installed"
find "$user_dir" -path '*Start Menu*' -name 'vorlix.lnk' | grep -q . ||
  fail "the installer made no Start-menu entry"
title=$(expect_window 'C:\users\'"$(basename "$user_dir")"'\AppData\Local\Programs\vorlix\vorlix.exe' 60) ||
  fail "the installed vorlix.exe showed no main window: $(cat "$work/launch.log")"
[[ "$title" == "$expected_title_start"* ]] || fail "the installed window's title: '$title'"
[ -d "$user_dir/AppData/Roaming/vorlix/INI" ] || fail "the installed program made no %APPDATA%\\vorlix\\INI"
[ ! -e "$installed/INI" ] || fail "the installed program made an INI folder beside itself"
echo "installed: main window, settings in %APPDATA%\\vorlix\\INI"
# The uninstaller runs a copy of itself from the temporary folder and returns at once.
wine "$installed/uninstall.exe" /S
for _ in $(seq 150); do
  [ -e "$installed/vorlix.exe" ] || break
  sleep 0.2
done
[ ! -e "$installed/vorlix.exe" ] || fail "the uninstaller left vorlix.exe"
[ -d "$user_dir/AppData/Roaming/vorlix/INI" ] || fail "the uninstaller took the settings"
timings+=("installer, start, uninstaller: $(since "$start") s")

# 4. The window against the simulator through the Win32 serial layer. The test runs from the
# deployed folder, with Qt's test library beside it, on the windows platform.
start=$(now)
com=11
rate=115200
mkdir -p "$work/sim-ini"
"$sim" --ready --ini-dir "$work/sim-ini" --com "$com" --rate "$rate" --turnaround 1 \
  --service-delay 150 --pressure 100 --slope 1.25 --offset -2 --noise 0 \
  >"$work/sim.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  grep -q '^READY ' "$work/sim.out" && break
  sleep 0.1
done
grep -q '^READY ' "$work/sim.out" || fail "the simulator did not start: $(cat "$work/sim.out")"
ln -sfn "$(readlink "$work/sim-ini/ports/COM$com")" "$WINEPREFIX/dosdevices/com$com"
cp "$build/bin/test_windows_gui_sim.exe" "$build/bin/bench_exchange_wait_cpu.exe" \
  "$VORLIX_QT_MINGW/bin/Qt6Test.dll" "$portable/"
# Qt Test's report goes to a file: wine hands a console program's output to no pipe here.
VORLIX_TEST_COM=$com VORLIX_TEST_RATE=$rate QT_QPA_PLATFORM=windows \
  wine "$portable/test_windows_gui_sim.exe" -o "Z:${work//\//\\}\\gui-test.log,txt" || true
tr -d '\r' <"$work/gui-test.log" | grep -v 'EnableNonClientDpiScaling' || true
grep -q '^Totals: .* 0 failed, 0 skipped' "$work/gui-test.log" || fail "the GUI test under wine failed"
timings+=("GUI test against the simulator: $(since "$start") s")

# 5. A silent 2 s wait: the port's far end is a pseudo-terminal nobody answers on.
python3 tests/windows/slow_reader.py 1000000000 >"$work/silent.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  [ -s "$work/silent.out" ] && break
  sleep 0.1
done
silent_com=12
ln -sfn "$(head -n 1 "$work/silent.out")" "$WINEPREFIX/dosdevices/com$silent_com"
echo
echo "Under wine (Win32 serial layer):"
wine "$portable/bench_exchange_wait_cpu.exe" --com "$silent_com" --repeat 5 20 | tr -d '\r'
if [ -x "$linux_bench" ]; then
  echo "On Linux (POSIX serial layer):"
  "$linux_bench" --repeat 5 20
fi

echo
echo "Timings:"
printf '  %s\n' "${timings[@]}"
