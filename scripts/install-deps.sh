#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing ZuCam need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  # toolchain
  cmake ninja-build g++ pkg-config
  # fuzz targets (libFuzzer comes with clang's runtime)
  clang libclang-rt-14-dev
  # Qt 5.15
  qtbase5-dev qtbase5-dev-tools libqt5opengl5-dev
  # Qt's own texts in Chinese (qtbase_zh_CN.qm)
  qttranslations5-l10n
  # FFmpeg 5.1 (H.264 through libx264)
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  # iOS USB, audio clock, JSON
  libimobiledevice-dev libusbmuxd-dev libplist-dev librtaudio-dev libjsoncpp-dev
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth libgl1-mesa-dri pulseaudio pulseaudio-utils ffmpeg
  iproute2 util-linux procps
  # HTTPS download tests: the scripted server's TLS and its test certificate
  libssl-dev openssl
  # Android USB: the real adb for the tests that need one (the program finds it beside itself or on PATH)
  adb
  # the desktop's opener the program opens folders and links with (xdg-open)
  xdg-utils
  # fonts the forms ask for ("Microsoft YaHei" falls back to it)
  fonts-wqy-microhei
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
