#!/bin/sh
# The .deb as a package manager meets it, without installing it: built from the build tree, it
# depends on node and on the libraries the binary links, recommends a sound server and the
# dictionaries, holds the desktop files and the bundle, and ships a stripped binary and the
# bundle's own runtime script (not a link into the building machine).
# Usage: check_deb.sh <cpack> <build dir> <bundle dir>
set -eu
cpack=$1 build=$2 bundle=$3
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "check_deb: $*" >&2; exit 1; }

"$cpack" --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$out"/*.deb)
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
for package in nodejs libwebkitgtk-6.0-4 libgtk-4-1 libsoup-3.0-0 libglib2.0-0 liburiparser1 libc6; do
  echo "$depends" | grep -qx "$package" || fail "Depends lacks $package: $(dpkg-deb -f "$deb" Depends)"
done
dpkg-deb -f "$deb" Depends | grep -Eq 'nodejs \(>= [0-9.]+\)' || fail "nodejs has no lowest version"
dpkg-deb -f "$deb" Recommends | grep -q 'pulseaudio | pipewire-pulse' || fail "no sound server recommended"

dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$out/files"
for file in /usr/bin/lorvane /usr/share/applications/app.lorvane.Lorvane.desktop \
    /usr/share/metainfo/app.lorvane.Lorvane.metainfo.xml /usr/share/doc/lorvane/copyright \
    /usr/share/icons/hicolor/256x256/apps/app.lorvane.Lorvane.png /usr/share/lorvane/runtime/node \
    /usr/share/lorvane/server/server.mjs /usr/share/lorvane/voice-worker/src/server.mjs; do
  grep -qx "$file" "$out/files" || fail "the package lacks $file"
done

dpkg-deb -x "$deb" "$out/root"
file -b "$out/root/usr/bin/lorvane" | grep -q ', stripped' || fail "the binary is not stripped"
[ -f "$out/root/usr/share/lorvane/runtime/node" ] && [ ! -L "$out/root/usr/share/lorvane/runtime/node" ] \
  || fail "runtime/node is not a regular file"
cmp -s "$out/root/usr/share/lorvane/runtime/node" "$bundle/runtime/node" || fail "runtime/node is not the bundle's"
echo "check_deb: $(basename "$deb") is sound"
