#!/usr/bin/env bash
# Prints the reliability figures: fuzz executions and crashes per target, then each desktop test
# file looped a number of times as ctest runs it (its own display, bus and network each time),
# with every row's passes and failures and the slowest run, then the sanitizer build's findings.
# The tests themselves assert plainly; the loops and the counting are here.
#   scripts/reliability.sh [fuzz-runs-per-target]   (default 20000)
#   LORVANE_CYCLES=20 (default) runs per desktop file; LORVANE_FILES="quit_paths faults" (default);
#   LORVANE_LANE=x11 (default) or wayland; LORVANE_SKIP_FUZZ=1, LORVANE_SKIP_SANITIZERS=1
set -uo pipefail
cd "$(dirname "$0")/.."
fuzz_runs=${1:-20000}
cycles=${LORVANE_CYCLES:-20}
files=${LORVANE_FILES:-quit_paths faults}
lane=${LORVANE_LANE:-x11}
build=${LORVANE_BUILD_DIR:-build}
jobs=$(nproc)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

scripts/install-deps.sh >/dev/null || exit 1
cmake -S . -B "$build" -DLORVANE_WERROR=ON -DLORVANE_TESTS=ON >"$out/configure.log" 2>&1 \
  && cmake --build "$build" -j"$jobs" >"$out/build.log" 2>&1 || { tail -30 "$out/configure.log" "$out/build.log"; exit 1; }

echo "== Fuzzing: $fuzz_runs runs per target (scripts/fuzz.sh) =="
if [ "${LORVANE_SKIP_FUZZ:-0}" != 1 ]; then
  scripts/fuzz.sh "$fuzz_runs" 2>"$out/fuzz.err" || echo "fuzzing failed or found crashes: $(tail -1 "$out/fuzz.err")"
else
  echo skipped
fi

echo
echo "== Desktop files on the $lane lane: $cycles runs each =="
failures=0
for file in $files; do
  slowest=0
  for ((i = 1; i <= cycles; i++)); do
    started=$SECONDS
    ctest --test-dir "$build" -R "^desktop_${lane}_${file}\$" -V >"$out/$file.$i.log" 2>&1
    (( SECONDS - started > slowest )) && slowest=$((SECONDS - started))
  done
  echo "$file (slowest run ${slowest} s):"
  # The top-level TAP lines of every run, tallied by row.
  cat "$out/$file".*.log | sed -nE 's/^[0-9]+: (not ok|ok) [0-9]+ - (.*)$/\1\t\2/p' | awk -F'\t' '
    { rows[$2] = 1; if ($1 == "ok") passed[$2]++; else failed[$2]++ }
    END { for (row in rows) printf "  %4d passed %4d failed  %s\n", passed[row], failed[row], row }'
  failures=$((failures + $(cat "$out/$file".*.log | grep -cE '^[0-9]+: not ok [0-9]+ ')))
done

echo
echo "== Sanitizers (ASan + UBSan; unit and real-process tests) =="
if [ "${LORVANE_SKIP_SANITIZERS:-0}" != 1 ]; then
  asan="${build}-sanitizers"
  cmake -S . -B "$asan" -DLORVANE_WERROR=ON -DLORVANE_DESKTOP=OFF -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
    >"$out/asan-configure.log" 2>&1 && cmake --build "$asan" -j"$jobs" >"$out/asan-build.log" 2>&1
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$asan" --output-on-failure --timeout 600 -j"$jobs" >"$out/asan.log" 2>&1
  grep -E 'tests passed|tests failed' "$out/asan.log" | tail -1
  printf 'findings: %s\n' "$(grep -cE 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' "$out/asan.log")"
else
  echo skipped
fi
[ "$failures" -eq 0 ]
