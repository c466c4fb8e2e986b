#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer flavours and
# runs the whole test suite in the normal and the ASan build and the engine's
# suites in the ThreadSanitizer build, inside a private network namespace.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# The libraries include one another in one direction (fails fast, before any build).
python3 scripts/check-layers.py
scripts/build.sh release
scripts/build.sh asan
scripts/build.sh tsan

jobs=$(nproc)
# A PulseAudio server with a null sink for the virtual microphone's tests.
source scripts/start-audio.sh
echo "== tests: release build"
scripts/netns-run ctest --test-dir build/release --output-on-failure -j"$jobs"
echo "== tests: ASan+UBSan build"
scripts/netns-run ctest --test-dir build/asan --output-on-failure -j"$jobs"
echo "== tests: ThreadSanitizer build (the engine's suites)"
scripts/netns-run ctest --test-dir build/tsan --output-on-failure -j8

echo "== fuzz: each parser target for 60 s"
scripts/build.sh fuzz
scripts/fuzz.sh 60
