#!/usr/bin/env bash
# Installs every Debian package that building, running and testing need.
# Does nothing when they are all there already.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format clang-14 libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-image-formats-plugins libpng-dev
  libjpeg62-turbo-dev libxxhash-dev libgl-dev libbenchmark-dev libxcb1-dev libxcb-xinerama0-dev
  fonts-ipafont-gothic fonts-dejavu-core
  xvfb xauth x11-utils x11-apps xdotool imagemagick libjpeg-turbo-progs libimage-exiftool-perl
  libgif-dev python3-pil
  librsvg2-dev librsvg2-bin libtiff-dev libtiff-tools zlib1g-dev
  libwebp-dev libjxl-dev libde265-dev libdav1d-dev webp libheif-examples libavif-bin libjxl-tools
  desktop-file-utils appstream dpkg-dev lintian man-db groff-base
  dbus at-spi2-core python3-gi gir1.2-atspi-2.0
  openbox xfwm4 metacity mutter kwin-x11 kwin-style-breeze fluxbox i3
  xserver-xephyr x11-xserver-utils
  sway xwayland grim qt6-wayland libwayland-dev
  orca speech-dispatcher speech-dispatcher-audio-plugins espeak-ng
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root (or: sudo $0)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"
