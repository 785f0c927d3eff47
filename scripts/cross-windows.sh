#!/usr/bin/env bash
# Builds the Windows (x86-64, MinGW-w64) version of the core, the simulator library, vorlix-cli
# and the tests in build/mingw, runs the tests under wine, then runs the Win32 serial test and
# vorlix-cli against the Linux simulator: a COM port of the wine prefix is linked to the
# pseudo-terminal it serves.
#
#   scripts/cross-windows.sh [--sim PATH] [--no-serial] [--jobs N]
#
#   --sim PATH   the Linux vorlix-sim to serve the port (default build/debug/bin/vorlix-sim,
#                built with the debug preset when missing)
#   --no-serial  only the unit tests
#   --jobs N     parallel build and test jobs (default 2)
#
# WINEPREFIX: a prefix to use and keep (its wine server is stopped at the end); by default a new
# one in a temporary folder, removed at the end. Exits 77 (skipped) when MinGW-w64, wine or the GoogleTest sources are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

sim=""
serial=1
jobs=2
while [ $# -gt 0 ]; do
  case "$1" in
    --sim) sim=$2; shift 2 ;;
    --no-serial) serial=0; shift ;;
    --jobs) jobs=$2; shift 2 ;;
    *) echo "cross-windows.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

skip() {
  echo "cross-windows.sh: skipped: $1 (scripts/install-deps.sh --test installs it)" >&2
  exit 77
}
command -v x86_64-w64-mingw32-g++-posix >/dev/null || skip "no MinGW-w64 compiler (g++-mingw-w64-x86-64-posix)"
command -v wine >/dev/null || skip "no wine"
[ -f /usr/src/googletest/CMakeLists.txt ] || skip "no GoogleTest sources in /usr/src/googletest"

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
timings=()

work=$(mktemp -d "${TMPDIR:-/tmp}/vorlix-cross.XXXXXX")
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="$work/wineprefix"
fi
export WINEDEBUG=-all WINEARCH=win64
# No desktop integration, no dialog asking for Mono or Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY

sim_pid=""
slow_pid=""
links=()
cleanup() {
  # The wine server first: it complains at length when a terminal it watches hangs up.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  for pid in $sim_pid $slow_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  for link in "${links[@]}"; do
    rm -f "$link"
  done
  rm -rf "$work"
}
trap cleanup EXIT

# 1. The wine prefix. Its first start writes the registry and system folders, and goes on in
# background processes after wineboot returns: the server ends once they all have, so waiting
# for it is waiting for a settled prefix. Then one server for the rest of the run, started here
# so that what it prints goes to a log (it lists its objects at length when a terminal it
# watches hangs up); it is stopped at the end.
start=$(now)
wineboot --init >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log" >&2; exit 1; }
timeout 120 wineserver -w || echo "cross-windows.sh: the new prefix is still busy after 120 s; going on" >&2
timings+=("wine prefix start: $(since "$start") s")
wineserver -p >"$work/wineserver.log" 2>&1 || true
# The first program on a new server starts wine's own services; two programs that both find
# them missing can hang (seen with two tests started at once), so one goes first alone.
wine cmd.exe /c exit

# 2. The cross build.
start=$(now)
cmake --preset mingw >"$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; exit 1; }
cmake --build --preset mingw -j "$jobs"
timings+=("cross build: $(since "$start") s")

# 3. The unit tests, each a Windows executable under wine.
start=$(now)
ctest --preset mingw -j "$jobs"
timings+=("unit tests under wine: $(since "$start") s")

# 4. The Win32 serial layer on a port linked to the Linux simulator.
if [ "$serial" = 1 ]; then
  if [ -z "$sim" ]; then
    sim="$root/build/debug/bin/vorlix-sim"
    if [ ! -x "$sim" ]; then
      cmake --preset debug >"$work/debug-configure.log" 2>&1 || { cat "$work/debug-configure.log" >&2; exit 1; }
      cmake --build --preset debug --target vorlix-sim -j "$jobs"
    fi
  fi
  com=7
  slow_com=8
  absent=200
  rate=19200
  mkdir -p "$work/ini"
  "$sim" --ready --ini-dir "$work/ini" --com "$com" --rate "$rate" --service-delay 300 \
    >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q '^READY ' "$work/sim.out" && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! grep -q '^READY ' "$work/sim.out"; then
    echo "cross-windows.sh: the simulator did not start:" >&2
    cat "$work/sim.out" >&2
    exit 1
  fi
  pty=$(readlink "$work/ini/ports/COM$com")

  # A second port whose far end drains slowly, for the partial-write test.
  python3 tests/windows/slow_reader.py 65536 >"$work/slow.out" 2>&1 &
  slow_pid=$!
  for _ in $(seq 50); do
    [ -s "$work/slow.out" ] && break
    sleep 0.1
  done
  slow_pty=$(head -n 1 "$work/slow.out")
  [ -c "$slow_pty" ] || { echo "cross-windows.sh: the slow reader did not start" >&2; cat "$work/slow.out" >&2; exit 1; }

  # What wine opens for \\.\COMn: the link comN in the prefix's devices folder.
  links=("$WINEPREFIX/dosdevices/com$com" "$WINEPREFIX/dosdevices/com$slow_com")
  ln -sfn "$pty" "${links[0]}"
  ln -sfn "$slow_pty" "${links[1]}"
  rm -f "$WINEPREFIX/dosdevices/com$absent"
  echo "COM$com -> $pty (simulated corrector at $rate bit/s), COM$slow_com -> $slow_pty (slow reader)"

  start=$(now)
  wine "$root/build/mingw/bin/win32_serial_test.exe" --com "$com" --absent-com "$absent" \
    --slow-com "$slow_com" --rate "$rate"
  timings+=("serial test under wine: $(since "$start") s")

  # 5. vorlix-cli.exe on the Win32 serial layer against a simulated corrector whose pressure
  # climbs 1 kPa a second, so that two calibration points differ.
  cli_com=9
  mkdir -p "$work/cli-ini" "$work/cli"
  printf '[CALIBRATION]\nSlopeMin=0.001\nSlopeMax=1000\nOffsetSpanShare=1000\n' \
    >"$work/cli/vorlix.ini"
  "$sim" --ready --ini-dir "$work/cli-ini" --com "$cli_com" --rate "$rate" --service-delay 300 \
    --drift 1 >"$work/cli-sim.out" 2>&1 &
  cli_sim_pid=$!
  sim_pid="$sim_pid $cli_sim_pid"
  for _ in $(seq 100); do
    grep -q '^READY ' "$work/cli-sim.out" && break
    sleep 0.1
  done
  links+=("$WINEPREFIX/dosdevices/com$cli_com")
  ln -sfn "$(readlink "$work/cli-ini/ports/COM$cli_com")" "$WINEPREFIX/dosdevices/com$cli_com"
  cli() {
    VORLIX_USER_CODE=1234 wine "$root/build/mingw/bin/vorlix-cli.exe" --ini "Z:$work/cli/vorlix.ini" \
      --port "$cli_com" "$@" </dev/null
  }
  expect_exit() {
    local want=$1
    shift
    local got=0
    # A Windows program ends its lines with CR LF.
    cli "$@" 2>"$work/cli.err" | tr -d '\r' >"$work/cli.out" || got=$?
    if [ "$got" != "$want" ]; then
      echo "cross-windows.sh: vorlix-cli $* ended with $got, not $want:" >&2
      cat "$work/cli.err" >&2
      exit 1
    fi
  }
  start=$(now)
  expect_exit 0 identify
  grep -q '^plate 26$' "$work/cli.out" || { echo "cross-windows.sh: identify: no plate" >&2; exit 1; }
  expect_exit 0 --json read --count 20 --interval 50
  [ "$(grep -c '"error":null' "$work/cli.out")" = 20 ] ||
    { echo "cross-windows.sh: read: not 20 readings" >&2; cat "$work/cli.out" >&2; exit 1; }
  expect_exit 0 --json --decimals 0 --interval 50 calibrate --applied1 0 --applied2 1 --yes
  grep -q '"read_back_matches":true' "$work/cli.out" ||
    { echo "cross-windows.sh: calibrate: no matching read-back" >&2; exit 1; }
  expect_exit 0 restore --record 1 --yes
  expect_exit 0 --json calibration
  grep -qx '{"offset":0,"slope":1}' "$work/cli.out" ||
    { echo "cross-windows.sh: restore: not restored" >&2; cat "$work/cli.out" >&2; exit 1; }
  expect_exit 5 write --slope 0
  expect_exit 2 restore --record 9
  expect_exit 3 --port "$absent" read
  expect_exit 2 read --no-such-option
  timings+=("vorlix-cli under wine: $(since "$start") s")
fi

echo
echo "Timings:"
printf '  %s\n' "${timings[@]}"
