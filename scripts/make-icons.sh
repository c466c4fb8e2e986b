#!/bin/sh
# Paints the main window's and the dialogs' images again into
# app/resources/image/ and the help page's pictures into app/resources/help/
# (they are committed; run this after changing scripts/icons/*.cpp). The USB
# help animation's frames are joined into a GIF with the ffmpeg command.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/release}
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target zucam_make_icons
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT
"$build/scripts/icons/zucam_make_icons" "$root/app/resources/image" "$root/app/resources/help" "$frames"
# 1.2 s a step, played in a loop.
ffmpeg -v error -y -framerate 0.833 -i "$frames/frame_%02d.png" \
  -vf "split[a][b];[a]palettegen=reserve_transparent=0[p];[b][p]paletteuse=dither=none" \
  -loop 0 "$root/app/resources/image/home_android_usb.gif"
