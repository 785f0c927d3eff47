#!/usr/bin/env bash
# Runs the README's demo command under a virtual display, waits for the main window, asks the
# application to close and checks that nothing is left behind: no simulator, no port link.
#   demo_test.sh <source dir> <preset>
set -euo pipefail

# The real window on the virtual display, whatever platform the test run chose for Qt.
unset QT_QPA_PLATFORM
if [ "$1" != "--inner" ]; then
  exec xvfb-run -a -s '-screen 0 1280x800x24' bash "$0" --inner "$@"
fi
source_dir=$2
preset=$3
bin="$source_dir/build/$preset/bin"
link="$bin/INI/ports/COM200"
log=$(mktemp)

VORLIX_PRESET=$preset VORLIX_SKIP_INSTALL=1 VORLIX_SKIP_BUILD=1 bash "$source_dir/scripts/run.sh" >"$log" 2>&1 &
demo=$!

fail() {
  echo "FAIL: $*" >&2
  echo "--- demo output:" >&2
  cat "$log" >&2
  pkill -TERM -f "^build/$preset/bin/vorlix\$" 2>/dev/null || true
  kill "$demo" 2>/dev/null || true
  wait "$demo" 2>/dev/null || true
  exit 1
}

for _ in $(seq 1 300); do
  if xwininfo -root -tree 2>/dev/null | grep -q 'Прграма обслуговування'; then
    break
  fi
  kill -0 "$demo" 2>/dev/null || fail "the demo ended before its window appeared"
  sleep 0.2
done
xwininfo -root -tree | grep -q 'Прграма обслуговування' || fail "no main window within 60 s"
[ -L "$link" ] || fail "the simulator's link $link is missing while the demo runs"
pgrep -f "^build/$preset/bin/vorlix-sim " >/dev/null || fail "no simulator runs beside the application"

# Close the application as a logout would; the demo script then stops the simulator.
pkill -TERM -f "^build/$preset/bin/vorlix\$" || fail "the application is not running"
for _ in $(seq 1 100); do
  kill -0 "$demo" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$demo" 2>/dev/null && fail "the demo did not end after its window closed"
wait "$demo" || fail "the demo ended with an error"
pgrep -f "^build/$preset/bin/vorlix-sim " >/dev/null && fail "a simulator was left running"
[ -e "$link" ] || [ -L "$link" ] && fail "the link $link was left behind"
echo "demo started, showed its window and ended cleanly"
rm -f "$log"
