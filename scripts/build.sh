#!/usr/bin/env bash
# Configures and builds one flavour of ZuCam.
#   scripts/build.sh release   -> build/release (optimised, with debug info)
#   scripts/build.sh asan      -> build/asan    (AddressSanitizer + UndefinedBehaviorSanitizer)
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-release}
case "$flavour" in
  release) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    flags=(-DCMAKE_BUILD_TYPE=Debug -DZUCAM_SANITIZE=ON -DZUCAM_BUILD_BENCHMARKS=OFF) ;;
  *) echo "unknown build flavour: $flavour (release or asan)" >&2; exit 2 ;;
esac
cmake -S . -B "build/$flavour" -G Ninja "${flags[@]}" >/dev/null
cmake --build "build/$flavour" -j"$(nproc)"
