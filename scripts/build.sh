#!/usr/bin/env bash
# Configures and builds one flavour of ZuCam.
#   scripts/build.sh release   -> build/release (optimised, with debug info)
#   scripts/build.sh asan      -> build/asan    (AddressSanitizer + UndefinedBehaviorSanitizer)
#   scripts/build.sh tsan      -> build/tsan    (ThreadSanitizer, the engine's test suites only)
#   scripts/build.sh fuzz      -> build/fuzz    (clang, the libFuzzer targets only)
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-release}
case "$flavour" in
  release) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    flags=(-DCMAKE_BUILD_TYPE=Debug -DZUCAM_SANITIZE=ON -DZUCAM_BUILD_BENCHMARKS=OFF) ;;
  tsan)    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUCAM_TSAN=ON -DZUCAM_BUILD_BENCHMARKS=OFF) ;;
  fuzz)    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZUCAM_FUZZ=ON) ;;
  *) echo "unknown build flavour: $flavour (release, asan, tsan or fuzz)" >&2; exit 2 ;;
esac
if [[ $flavour == fuzz ]]; then
  # Only the fuzz targets and what they link (the parsers, zucam_core, the
  # Tether stand-in) are built with clang.
  cmake -S . -B build/fuzz -G Ninja "${flags[@]}" >/dev/null
  cmake --build build/fuzz -j"$(nproc)" --target zucam_fuzz
  exit 0
fi
if [[ $flavour == tsan ]]; then
  # The engine's suites (sockets, parser, servers, hub, decoder, sinks,
  # render, camera queue, audio) and what they link.
  cmake -S . -B build/tsan -G Ninja "${flags[@]}" >/dev/null
  cmake --build build/tsan -j"$(nproc)" --target zucam_tsan_tests
  exit 0
fi
cmake -S . -B "build/$flavour" -G Ninja "${flags[@]}" >/dev/null
cmake --build "build/$flavour" -j"$(nproc)"
