#!/usr/bin/env bash
# Installs what building and running needs, builds the application and the simulator (release
# preset, no tests) and starts the application.
#
#   bash scripts/run.sh            the application talking to the built-in device simulator
#   bash scripts/run.sh --real     the application alone, for a real adapter
#
# With the simulator: vorlix-sim serves the corrector (lines 1-3, a pressure and a temperature
# sensor with a little noise) on a pseudo-terminal linked as COM200 in the settings folder; a
# settings file that points at it is written if there is none. Closing the application stops
# the simulator and removes its link.
set -euo pipefail
cd "$(dirname "$0")/.."

real=0
case "${1:-}" in
  --real) real=1 ;;
  "") ;;
  *) echo "usage: $0 [--real]" >&2; exit 2 ;;
esac

# VORLIX_PRESET picks another build (the demo test runs the debug one it has just built).
preset=${VORLIX_PRESET:-release}
if [ -z "${VORLIX_SKIP_INSTALL:-}" ]; then
  bash scripts/install-deps.sh
fi
if [ -z "${VORLIX_SKIP_BUILD:-}" ]; then
  # The tests and their frameworks are scripts/test.sh's; here only the two programs are built.
  cmake --preset "$preset" -DVORLIX_BUILD_TESTS=OFF >/dev/null
  cmake --build --preset "$preset" --target vorlix vorlix-sim
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "vorlix needs a graphical display and none is set (DISPLAY is empty)." >&2
  echo "On a machine without one, run it under a virtual display: xvfb-run -a $0 $*" >&2
  exit 2
fi

bin=build/$preset/bin
if [ "$real" -eq 1 ]; then
  exec "$bin/vorlix"
fi

ini_dir="$bin/INI"
port=200
mkdir -p "$ini_dir"
if [ ! -e "$ini_dir/vorlix.ini" ]; then
  printf '[CURR_CONNECT_PAR]\r\nport=%d\r\nrate=19200\r\n' "$port" > "$ini_dir/vorlix.ini"
fi

fifo=$(mktemp -u)
mkfifo "$fifo"
"$bin/vorlix-sim" --ready --ini-dir "$ini_dir" --com "$port" --noise 0.02 >"$fifo" &
sim=$!
cleanup() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  rm -f "$fifo"
}
trap cleanup EXIT INT TERM

ready=""
while IFS= read -r line; do
  echo "vorlix-sim: $line"
  case "$line" in READY*) ready=1; break ;; esac
done <"$fifo"
if [ -z "$ready" ]; then
  echo "the simulator did not start" >&2
  exit 1
fi
# Keep draining the simulator's output so it never blocks on a full pipe.
cat "$fifo" >/dev/null &

# The simulator is started without --user-code and --write-password, so it checks neither.
echo "vorlix-sim accepts any user code (1-4 digits, e.g. 1) and any write password (e.g. 1);"
echo "the corrector does not ask for the constants password."

"$bin/vorlix"
