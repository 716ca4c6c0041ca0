#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for Lorvane (needs root or sudo).
#   install-deps.sh run   what building and running the app needs (scripts/run.sh)
#   install-deps.sh       that and everything the tests need (scripts/test.sh, CI)
set -euo pipefail

run_packages=(
  # build
  build-essential cmake pkg-config liburiparser-dev nlohmann-json3-dev
  libgtk-4-dev libwebkitgtk-6.0-dev libsoup-3.0-dev
  # the sample services' runtime, and Cyrillic glyphs for the app's Russian texts
  nodejs fonts-dejavu-core
  # a virtual screen with its own session bus, for machines without a display
  xvfb xauth dbus-x11
)
test_packages=(
  googletest libgtest-dev
  # the desktop under a virtual display, and reading it from outside
  xclip imagemagick x11-utils x11-xkb-utils openbox wmctrl at-spi2-core libglib2.0-bin iproute2
  # the same under a Wayland compositor: sway's headless backend, screenshots, and what
  # the lane's own keyboard helper is built from
  sway grim libwayland-dev libwayland-bin wayland-protocols libxkbcommon-dev
  # the desktop tests' session stand-in (a subreaper), and the window of another program over the app
  tini python3-gi gir1.2-gtk-4.0
  # keys pressed by keycode through XTEST on the X11 lane
  libxtst-dev
  # a sound server whose microphone the voice notes are recorded from, and the dictionaries the
  # page's spelling is checked with
  pulseaudio hunspell-ru hunspell-en-us
  # test certificates for the update check
  openssl ca-certificates
  # building the .deb (library dependencies) and checking its metadata
  dpkg-dev file appstream desktop-file-utils
)

case "${1:-all}" in
  run) packages=("${run_packages[@]}") ;;
  all) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: $0 [run|all]" >&2
    exit 2
    ;;
esac

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
