#!/usr/bin/env bash
# Installs what is missing, builds ZuCam and starts it inside a private
# network namespace (only loopback: the discovery beacon and the version
# check cannot reach any network from there). Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
fi
exec scripts/netns-run build/release/app/zucam "$@"
