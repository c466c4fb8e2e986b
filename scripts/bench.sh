#!/usr/bin/env bash
# Builds the release flavour and runs every benchmark; each reports its
# figures beside a baseline measured in the same run. A PulseAudio server is
# started for the virtual microphone's benchmark when none runs. A failing
# benchmark is reported and the others still run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh release
source scripts/start-audio.sh
failed=()
for b in build/release/bench/*/bench_*; do
  # Only programs: the build leaves bench_*_autogen folders beside them.
  [ -f "$b" ] && [ -x "$b" ] || continue
  echo "== $b"
  scripts/netns-run "$b" --benchmark_min_time=0.2 "$@" || failed+=("$b")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "== failed: ${failed[*]}" >&2
  exit 1
fi
