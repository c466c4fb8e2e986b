#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer flavour and
# runs the whole test suite in both, inside a private network namespace.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# The libraries include one another in one direction (fails fast, before any build).
python3 scripts/check-layers.py
scripts/build.sh release
scripts/build.sh asan

jobs=$(nproc)
# A PulseAudio server with a null sink for the virtual microphone's tests.
source scripts/start-audio.sh
echo "== tests: release build"
scripts/netns-run ctest --test-dir build/release --output-on-failure -j"$jobs"
echo "== tests: ASan+UBSan build"
scripts/netns-run ctest --test-dir build/asan --output-on-failure -j"$jobs"

echo "== fuzz: each parser target for 60 s"
scripts/build.sh fuzz
scripts/fuzz.sh 60
