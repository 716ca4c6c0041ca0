#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test Lorvane (needs root or sudo).
set -euo pipefail

packages=(
  # build
  build-essential cmake pkg-config googletest libgtest-dev liburiparser-dev nlohmann-json3-dev
  libgtk-4-dev libwebkitgtk-6.0-dev libsoup-3.0-dev
  # the sample services' runtime
  nodejs
  # the desktop under a virtual display, and reading it from outside
  xvfb xauth dbus-x11 xdotool xclip imagemagick x11-utils openbox fonts-dejavu-core
  at-spi2-core libglib2.0-bin iproute2
  # test certificates for the update check
  openssl ca-certificates
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
