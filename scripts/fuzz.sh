#!/usr/bin/env bash
# Long fuzz runs with a kept corpus: builds the fuzz preset and runs each target (or the ones
# named) for the given seconds, adding what it finds to fuzz-corpus/<target>. A crash leaves
# its input as crash-* in fuzz-corpus/ and ends the script with an error.
#
#   bash scripts/fuzz.sh [seconds per target, default 600] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-600}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_corrector_reply fuzz_modbus_reply fuzz_settings_file fuzz_request_framer)

bash scripts/install-deps.sh
cmake --preset fuzz
cmake --build --preset fuzz

export ASAN_OPTIONS=detect_leaks=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  corpus="fuzz-corpus/$target"
  mkdir -p "$corpus"
  echo "== $target for ${seconds} s, corpus $corpus"
  log="fuzz-corpus/$target.log"
  status=0
  "build/fuzz/bin/$target" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="fuzz-corpus/" -print_final_stats=1 >"$log" 2>&1 || status=$?
  grep -E '^(#[0-9]+ +DONE|Done |==[0-9]+==ERROR|SUMMARY)' "$log" || true
  [ "$status" -eq 0 ] || { echo "$target found a fault (see $log)"; exit 1; }
done
