#!/usr/bin/env bash
# Runs each libFuzzer target of build/fuzz (scripts/build.sh fuzz) for a
# bounded time, on a scratch copy of its seed corpus (the checked-in files
# under tests/fuzz/corpus/<target>/ and the phone stand-in's real packets the
# fuzz build writes into build/fuzz/tests/fuzz/seeds/<target>/) so that the
# checked-in corpus never grows. libFuzzer's longest input is that of the
# largest seed (a 2160p IDR packet of about 26 kB for the packet parser). Prints one line per target; exits non-zero if any
# target crashed, leaking, timing out or tripping a sanitizer. Inputs that
# did are kept under build/fuzz/artifacts/<target>/.
#   scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
[[ $seconds =~ ^[0-9]+$ ]] || { echo "usage: $0 [seconds per target]" >&2; exit 2; }

targets=(fuzz_command_frames fuzz_stream_packets fuzz_command_json fuzz_h264_annexb)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=0
for target in "${targets[@]}"; do
  binary=build/fuzz/tests/fuzz/$target
  if [[ ! -x $binary ]]; then
    echo "$target: MISSING ($binary; run scripts/build.sh fuzz)"
    failed=1
    continue
  fi
  corpus=$scratch/$target/corpus
  artifacts=build/fuzz/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  cp tests/fuzz/corpus/"$target"/* "$corpus"/
  generated=build/fuzz/tests/fuzz/seeds/$target
  if [[ -d $generated ]]; then cp "$generated"/* "$corpus"/; fi
  log=$scratch/$target/log
  set +e
  "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1
  status=$?
  set -e
  runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  inputs=$(find "$corpus" -type f | wc -l)
  largest=$(find "$corpus" -type f -printf '%s\n' | sort -n | tail -n 1)
  if [[ $status -eq 0 ]]; then
    echo "$target: ok, ${runs:-?} runs in ${seconds}s, corpus ${inputs} inputs, largest ${largest:-0} bytes"
  else
    echo "$target: FAILED (exit $status) after ${runs:-?} runs; inputs kept in $artifacts/"
    tail -n 40 "$log"
    failed=1
  fi
done
exit $failed
