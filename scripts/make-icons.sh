#!/bin/sh
# Paints the main window's images again into app/resources/image/ (they
# are committed; run this after changing scripts/icons/make-icons.cpp).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/release}
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target zucam_make_icons
"$build/scripts/icons/zucam_make_icons" "$root/app/resources/image"
