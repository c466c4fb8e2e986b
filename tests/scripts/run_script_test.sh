#!/usr/bin/env bash
# Drives scripts/run.sh with the built program:
#   - without a display: one line on standard error and a non-zero exit;
#   - the default run listens on the machine's own network: run inside a
#     network namespace this test makes (a veth pair with test addresses),
#     ZuCam takes connections on the namespace's non-loopback address;
#   - --demo starts ZuCam and the phone stand-in itself and ends both.
#   run_script_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
[ "$(realpath "$build")" = "$(realpath "$src/build/release")" ] || {
  echo "SKIP: scripts/run.sh runs build/release; this build is $build"; exit 0; }
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root for ip netns"; exit 0; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
scratch=$(mktemp -d)
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data XDG_RUNTIME_DIR=$scratch/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
export ZUCAM_RUN_SKIP_BUILD=1
ns=zucamrun$$
cleanup() {
  ip netns pids "$ns" 2>/dev/null | xargs -r kill -KILL 2>/dev/null
  ip netns del "$ns" 2>/dev/null
  ip link del "zr$$a" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

# 1. No display: one line, non-zero exit, for the script and for the program.
for cmd in "$src/scripts/run.sh" "$build/app/zucam"; do
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$cmd" >"$scratch/out" 2>"$scratch/err"
  code=$?
  lines=$(wc -l <"$scratch/err")
  [ $code -ne 0 ] && [ $code -ne 124 ] || fail "$cmd without a display ended with $code"
  [ "$lines" -eq 1 ] || fail "$cmd without a display wrote $lines lines: $(head -c 500 "$scratch/err")"
  grep -q "no display" "$scratch/err" || fail "$cmd without a display did not say so"
done

# 2. The default run serves the namespace's own network: a veth pair with
# test addresses, the hub listening on 10.213.7.2 (not loopback).
ip netns add "$ns" || { fail "cannot create a network namespace"; exit 1; }
ip link add "zr$$a" type veth peer name "zr$$b"
ip link set "zr$$b" netns "$ns"
ip -n "$ns" addr add 10.213.7.2/24 dev "zr$$b"
ip -n "$ns" link set lo up
ip -n "$ns" link set "zr$$b" up
QT_QPA_PLATFORM=offscreen ip netns exec "$ns" "$src/scripts/run.sh" >"$scratch/default.log" 2>&1 &
runner=$!
listening=0
for _ in $(seq 300); do
  if ip netns exec "$ns" timeout 1 bash -c 'exec 3<>/dev/tcp/10.213.7.2/10080' 2>/dev/null; then listening=1; break; fi
  kill -0 $runner 2>/dev/null || break
  sleep 0.1
done
[ $listening -eq 1 ] || fail "the default run does not take phones on 10.213.7.2:10080: $(tail -5 "$scratch/default.log")"
kill -TERM $runner 2>/dev/null
for _ in $(seq 100); do kill -0 $runner 2>/dev/null || break; sleep 0.1; done
kill -0 $runner 2>/dev/null && { fail "the default run did not end on SIGTERM"; kill -KILL $runner; }
wait $runner 2>/dev/null

# 3. The demo: ZuCam and the stand-in, both ended; a video arrived.
env -u DISPLAY -u WAYLAND_DISPLAY timeout 120 "$src/scripts/run.sh" --demo >"$scratch/demo.log" 2>&1
code=$?
[ $code -eq 0 ] || fail "the demo ended with $code: $(tail -5 "$scratch/demo.log")"
grep -q "^video [1-9][0-9]* frames" "$scratch/demo.log" || fail "the demo showed no video: $(tail -5 "$scratch/demo.log")"
count=$(grep -c "makeCurrent() failed" "$scratch/demo.log")
[ "$count" -le 1 ] || fail "the demo's log repeats the backing-store warning $count times"
pgrep -f "$build/app/zucam" >/dev/null && fail "a ZuCam of the demo is still running"

[ $failures -eq 0 ] && echo "PASS" || exit 1
