#!/usr/bin/env bash
# Builds the release flavour and runs every benchmark; each reports its
# figures beside a baseline measured in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh release
for b in build/release/bench/*/bench_*; do
  [ -x "$b" ] || continue
  echo "== $b"
  scripts/netns-run "$b" --benchmark_min_time=0.2 "$@"
done
