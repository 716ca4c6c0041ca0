#!/usr/bin/env bash
# Prints the reliability figures in one table: fuzz executions and crashes per target, fault-matrix
# rows passed, launch/quit cycles and leftovers per quit path, descriptor and environment hygiene,
# and sanitizer findings.
#   scripts/reliability.sh [fuzz-runs-per-target]   (default 20000)
#   LORVANE_QUIT_CYCLES=50 (default) cycles per quit path; LORVANE_SKIP_FUZZ=1, LORVANE_SKIP_SANITIZERS=1
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
fuzz_runs=${1:-20000}
cycles=${LORVANE_QUIT_CYCLES:-50}
build=${LORVANE_BUILD_DIR:-build}
jobs=$(nproc)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

scripts/install-deps.sh || exit 1
cmake -S . -B "$build" -DLORVANE_WERROR=ON >"$out/configure.log" 2>&1 && cmake --build "$build" -j"$jobs" >"$out/build.log" 2>&1 \
  || { tail -30 "$out/configure.log" "$out/build.log"; exit 1; }
build=$(cd "$build" && pwd)

# 1. Fuzzing, through the lead's script (it builds its own clang tree).
if [ "${LORVANE_SKIP_FUZZ:-0}" != 1 ]; then
  echo "fuzzing, $fuzz_runs runs per target..." >&2
  scripts/fuzz.sh "$fuzz_runs" >"$out/fuzz.txt" 2>"$out/fuzz.err"
fi

# 2. The reliability suite, each file under the same wrapper as ctest, with the full cycle count.
figures="$out/figures.jsonl"
: >"$figures"
suites=(server_faults file_faults manifest_faults media_faults quit_paths hygiene)
for suite in "${suites[@]}"; do
  echo "running $suite..." >&2
  env LORVANE_BUILD_DIR="$build" LORVANE_BUNDLE_DIR="$build/share/lorvane" \
    LORVANE_RELIABILITY_HELPERS="$build/tests/reliability" LORVANE_RELIABILITY_FIGURES="$figures" \
    LORVANE_QUIT_CYCLES="$cycles" \
    "$build/tests/reliability/lorvane_session_reaper" sh tests/e2e/support/isolate.sh \
    xvfb-run -a -s "-screen 0 1920x1080x24" dbus-run-session -- \
    node --test --test-concurrency=1 --test-reporter=tap "tests/reliability/$suite.test.mjs" \
    >"$out/$suite.tap" 2>"$out/$suite.err"
done

# 3. Sanitizers: the core's unit and real-process tests built with ASan and UBSan, as scripts/test.sh does.
if [ "${LORVANE_SKIP_SANITIZERS:-0}" != 1 ]; then
  echo "building and running the sanitizer tests..." >&2
  asan="$root/build-sanitizers"
  cmake -S . -B "$asan" -DLORVANE_WERROR=ON -DLORVANE_DESKTOP=OFF -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
    >"$out/asan-configure.log" 2>&1 && cmake --build "$asan" -j"$jobs" >"$out/asan-build.log" 2>&1
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$asan" --output-on-failure --timeout 600 -j"$jobs" >"$out/asan.log" 2>&1
fi

# The table.
echo
echo "== Fuzzing: $fuzz_runs runs per target (scripts/fuzz.sh) =="
if [ -s "$out/fuzz.txt" ]; then cat "$out/fuzz.txt"; else echo "skipped or failed to build: $(tail -1 "$out/fuzz.err" 2>/dev/null)"; fi

echo
echo "== Fault matrix and hygiene under Xvfb: rows (top-level tests) =="
printf '%-18s %6s %6s %6s %12s\n' suite rows passed failed known-fault
total_rows=0; total_passed=0
for suite in "${suites[@]}"; do
  tap="$out/$suite.tap"
  rows=$(grep -cE '^(not )?ok [0-9]+ ' "$tap")
  todo=$(grep -E '^(not )?ok [0-9]+ .*# TODO' "$tap" | wc -l)
  failed=$(grep -E '^not ok [0-9]+ ' "$tap" | grep -vc '# TODO')
  passed=$((rows - failed - todo))
  total_rows=$((total_rows + rows)); total_passed=$((total_passed + passed))
  printf '%-18s %6s %6s %6s %12s\n' "$suite" "$rows" "$passed" "$failed" "$todo"
  grep -E '^not ok [0-9]+ ' "$tap" | sed 's/^/    /'
done
printf '%-18s %6s %6s\n' total "$total_rows" "$total_passed"

echo
echo "== Quit paths: $cycles launch/quit cycles each =="
printf '%-12s %7s %6s %10s %8s %11s %9s %18s\n' path cycles clean leftovers zombies ports-busy logs-bad launcher-survived
node -e '
  const lines = require("fs").readFileSync(process.argv[1], "utf8").split("\n").filter(Boolean).map(JSON.parse);
  for (const q of lines.filter((l) => l.kind === "quit")) {
    console.log([q.path.padEnd(12), String(q.cycles).padStart(7), String(q.clean).padStart(6), String(q.leftovers).padStart(10),
      String(q.zombies).padStart(8), String(q.portsBusy).padStart(11), String(q.logsBad).padStart(9), String(q.launcherSurvived).padStart(18)].join(" "));
  }
  for (const h of lines.filter((l) => l.kind === "hygiene")) {
    console.log(`\n== Hygiene: ${h.children} children (server, voice worker, launcher) ==\ndescriptors beyond 0-2 at exec: ${h.extraDescriptors}\nenvironment entries off the tables: ${h.environmentDifferences}`);
  }
' "$figures"

echo
echo "== Sanitizers (ASan + UBSan; unit and real-process tests) =="
if [ -s "$out/asan.log" ]; then
  grep -E 'tests passed|tests failed' "$out/asan.log" | tail -1
  printf 'findings: %s\n' "$(grep -cE 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' "$out/asan.log")"
else
  echo "skipped"
fi

failures=$(cat "$out"/*.tap | grep -E '^not ok [0-9]+ ' | grep -vc '# TODO')
[ "$failures" -eq 0 ]
