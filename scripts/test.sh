#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer flavour and
# runs the whole test suite in both, inside a private network namespace.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release
scripts/build.sh asan

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen QT_FONT_DPI=96
echo "== tests: release build"
scripts/netns-run ctest --test-dir build/release --output-on-failure -j"$jobs"
echo "== tests: ASan+UBSan build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  scripts/netns-run ctest --test-dir build/asan --output-on-failure -j"$jobs"
