#!/usr/bin/env bash
# Installs what is missing to build and run, builds, and runs Lorvane with the bundled sample services.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh run
build=${LORVANE_BUILD_DIR:-build}
# The tests need packages of their own (scripts/test.sh installs them and turns the tests back on).
cmake -S . -B "$build" -DLORVANE_TESTS=OFF
cmake --build "$build" -j"$(nproc)" --target lorvane lorvane_bundle
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$build/bin/lorvane"
fi
echo "No display found: running on a virtual screen (xvfb-run); see README for a screenshot recipe." >&2
exec xvfb-run -a -s "-screen 0 1920x1080x24" dbus-run-session -- "$build/bin/lorvane"
