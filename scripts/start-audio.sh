#!/usr/bin/env bash
# Makes sure a PulseAudio server is reachable for the tests, starting one
# with a null sink when none runs (CI machines, containers, root shells).
# Source it, so that its exports reach ctest:
#   source scripts/start-audio.sh
# Exports XDG_RUNTIME_DIR and PULSE_SERVER. The server listens on a UNIX
# socket only (-n: no default.pa, so no network modules), which also works
# inside scripts/netns-run because the file system is shared. Never fails the
# calling script: without a server the audio tests skip.

zucam_start_audio() {
  if ! command -v pulseaudio >/dev/null 2>&1 || ! command -v pactl >/dev/null 2>&1; then
    echo "start-audio: pulseaudio or pactl not installed; audio tests will skip" >&2
    return 0
  fi
  # A server that already answers (the desktop's, or one started earlier).
  if pactl info >/dev/null 2>&1; then
    echo "start-audio: using the running server: $(pactl info 2>/dev/null | sed -n 's/^Server String: //p')"
    return 0
  fi

  local runtime="${XDG_RUNTIME_DIR:-}"
  if [ -z "$runtime" ] || [ ! -d "$runtime" ] || [ ! -w "$runtime" ]; then
    runtime="/tmp/zucam-audio-$(id -u)"
  fi
  mkdir -p "$runtime" && chmod 700 "$runtime" || return 0
  export XDG_RUNTIME_DIR="$runtime"
  export PULSE_SERVER="unix:$runtime/pulse/native"
  if pactl info >/dev/null 2>&1; then
    echo "start-audio: using the server at $PULSE_SERVER"
    return 0
  fi

  # As root PulseAudio refuses the per-user mode unless --system=no is said
  # explicitly and warns only; the state (cookie, pid file) goes under the
  # runtime directory. Without D-Bus or X11 it carries on after a warning.
  rm -f "$runtime/pulse/pid"
  HOME="${HOME:-$runtime}" pulseaudio --daemonize=yes --system=no --exit-idle-time=-1 -n \
    --use-pid-file=yes --disable-shm=no --log-target="file:$runtime/pulseaudio.log" \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=zucam_null sink_properties=device.description=ZuCamNull" \
    --load=module-always-sink || {
      echo "start-audio: pulseaudio did not start; see $runtime/pulseaudio.log" >&2
      return 0
    }

  local tries=0
  while ! pactl info >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ "$tries" -gt 50 ]; then
      echo "start-audio: no answer from $PULSE_SERVER after 5 s; audio tests will skip" >&2
      return 0
    fi
    sleep 0.1
  done
  pactl set-default-sink zucam_null >/dev/null 2>&1 || true
  echo "start-audio: pulseaudio on $PULSE_SERVER (null sink zucam_null)"
}

zucam_start_audio
unset -f zucam_start_audio
# Sourced with set -e in force: end with success whatever happened above.
true
