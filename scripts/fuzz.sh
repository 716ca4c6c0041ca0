#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer + ASan + UBSan) and runs each for a fixed number of
# executions from a copy of its committed corpus; prints executions and crashes per target.
#   scripts/fuzz.sh [runs-per-target]     (default 200000)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-200000}
build=${LORVANE_FUZZ_BUILD_DIR:-build-fuzz}

if ! command -v clang++ >/dev/null || ! dpkg-query -W libclang-rt-14-dev >/dev/null 2>&1; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -DLORVANE_DESKTOP=OFF -DLORVANE_FUZZ=ON >/dev/null
targets=(voice_public_url manifest launch_error_page)
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%-20s %12s %8s\n' target executions crashes
total_crashes=0
for t in "${targets[@]}"; do
  mkdir -p "$work/$t/corpus" "$work/$t/crashes"
  cp tests/fuzz/corpus/"$t"/* "$work/$t/corpus/"
  log="$work/$t/log"
  set +e
  "$build/tests/fuzz/fuzz_$t" -runs="$runs" -max_len=4096 -artifact_prefix="$work/$t/crashes/" \
    "$work/$t/corpus" >"$log" 2>&1
  set -e
  executions=$(grep -oE 'Done [0-9]+ runs' "$log" | grep -oE '[0-9]+' || echo "?")
  crashes=$(find "$work/$t/crashes" -type f | wc -l)
  total_crashes=$((total_crashes + crashes))
  printf '%-20s %12s %8s\n' "$t" "$executions" "$crashes"
  if [ "$crashes" -gt 0 ]; then
    mkdir -p fuzz-crashes && cp "$work/$t/crashes/"* fuzz-crashes/ && tail -20 "$log"
  fi
done
exit $((total_crashes > 0))
