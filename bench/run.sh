#!/usr/bin/env bash
# Builds the shell if needed and runs the benchmark harness; figures are printed, nothing is asserted.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD:-$repo/build-bench}"

missing=()
for tool in node gcc pkg-config Xvfb dbus-daemon cmake; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
    echo "missing: ${missing[*]} (apt-get install nodejs gcc pkg-config xvfb dbus cmake)" >&2
    exit 1
fi
command -v chromium >/dev/null || echo "# chromium is not installed (apt-get install chromium): it will be skipped" >&2
command -v surf >/dev/null || echo "# surf is not installed (apt-get install surf): it will be skipped" >&2

# A release build unless one is given: the figures are about the shipped app.
if [[ -z "${LORVANE_BIN:-}" ]]; then
    if [[ ! -x "$build/bin/lorvane" ]]; then
        cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    cmake --build "$build" -j"$(nproc)" --target lorvane >/dev/null
    export LORVANE_BIN="$build/bin/lorvane"
fi

exec node "$repo/bench/bench.mjs" "$@"
