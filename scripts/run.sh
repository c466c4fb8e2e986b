#!/usr/bin/env bash
# Installs what is missing, builds the program and starts ZuCam.
#   scripts/run.sh [ARGS...]         on this machine's own network, where a phone
#                                    on the same Wi-Fi finds and reaches it (needs a
#                                    display: a desktop session)
#   scripts/run.sh --demo [ARGS...]  without a phone: ZuCam inside a private network
#                                    namespace with only loopback (nothing it sends
#                                    can leave the machine), fed by the phone stand-in
#                                    (a colour-bar pattern and a tone), both ended
#                                    when the stand-in has finished
# Other arguments go to the program. ZUCAM_RUN_SKIP_BUILD=1 skips installing and
# building (the program must already be built).
set -euo pipefail
cd "$(dirname "$0")/.."

demo=0
if [ "${1:-}" = "--demo" ]; then
  demo=1
  shift
fi

has_display() { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }

# Checked before building: without a window system there is nothing to show.
if [ $demo -eq 0 ] && ! has_display && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "ZuCam: no display (DISPLAY and WAYLAND_DISPLAY are unset); start it from a desktop session, or try it without a phone: scripts/run.sh --demo" >&2
  exit 1
fi

program=build/release/app/zucam
standin=build/release/tests/support/phone/phone_standin
if [ "${ZUCAM_RUN_SKIP_BUILD:-0}" != 1 ]; then
  scripts/install-deps.sh
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  # Only what the program needs (and the stand-in for the demo); the tests
  # come with scripts/test.sh.
  targets=(zucam)
  [ $demo -eq 0 ] || targets+=(phone_standin)
  cmake --build build/release -j"$(nproc)" --target "${targets[@]}"
fi

if [ $demo -eq 0 ]; then
  exec "$program" "$@"
fi

# The demo may run without a display on purpose: then nothing is shown, and
# the log tells what arrived.
has_display || export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
exec scripts/netns-run bash -c '
  set -u
  program=$1 standin=$2
  shift 2
  "$program" "$@" &
  zucam=$!
  # Wait (at most 30 s) until ZuCam takes phones on its command port.
  ready=0
  for _ in $(seq 300); do
    if ! kill -0 "$zucam" 2>/dev/null; then break; fi
    if (exec 3<>/dev/tcp/127.0.0.1/10080) 2>/dev/null; then ready=1; break; fi
    sleep 0.1
  done
  if [ $ready -eq 0 ]; then
    if kill -0 "$zucam" 2>/dev/null; then
      kill -TERM "$zucam"; wait "$zucam"
      echo "ZuCam did not take phones on port 10080 within 30 s" >&2
      exit 1
    fi
    wait "$zucam"; code=$?
    if [ $code -eq 0 ]; then
      # A second start hands over to the first and ends.
      echo "another ZuCam is running (it was brought to the front); close it, then run scripts/run.sh --demo again" >&2
      exit 1
    fi
    echo "ZuCam ended with code $code before the phone stand-in could connect" >&2
    exit $code
  fi
  "$standin" --connect 127.0.0.1:10080 --name "Phone stand-in" --frames 300 --audio-blocks 300
  standin_code=$?
  kill -TERM "$zucam" 2>/dev/null
  wait "$zucam"; zucam_code=$?
  [ $standin_code -eq 0 ] || { echo "the phone stand-in ended with code $standin_code" >&2; exit $standin_code; }
  exit $zucam_code
' run-demo "$program" "$standin" "$@"
