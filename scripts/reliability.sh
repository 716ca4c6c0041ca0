#!/usr/bin/env bash
# Prints the reliability figures in one table: fuzz executions and crashes per target, fault-matrix
# rows passed, launch/quit cycles and leftovers per quit path, descriptor and environment hygiene,
# and sanitizer findings. The desktop figures come from the desktop suite's own files, run as ctest
# runs them, with more cycles.
#   scripts/reliability.sh [fuzz-runs-per-target]   (default 20000)
#   LORVANE_QUIT_CYCLES=50 (default) cycles per quit path; LORVANE_SKIP_FUZZ=1, LORVANE_SKIP_SANITIZERS=1
#   LORVANE_DISPLAY_LANE=x11 (default) or wayland: the display the desktop tests run on
#   LORVANE_RELIABILITY_OUT=<folder> keeps the raw results there; with LORVANE_REPORT_ONLY=1 the
#   table is printed again from such a folder without running anything.
set -uo pipefail
cd "$(dirname "$0")/.."
fuzz_runs=${1:-20000}
cycles=${LORVANE_QUIT_CYCLES:-50}
build=${LORVANE_BUILD_DIR:-build}
jobs=$(nproc)
if [ -n "${LORVANE_RELIABILITY_OUT:-}" ]; then
  out=$LORVANE_RELIABILITY_OUT
  mkdir -p "$out"
else
  out=$(mktemp -d)
  trap 'rm -rf "$out"' EXIT
fi
figures="$out/figures.jsonl"
suites=(faults update quit_paths)
[ -f "$out/cycles" ] && [ "${LORVANE_REPORT_ONLY:-0}" = 1 ] && cycles=$(cat "$out/cycles") && fuzz_runs=$(cat "$out/fuzz_runs")

if [ "${LORVANE_REPORT_ONLY:-0}" != 1 ]; then
echo "$cycles" >"$out/cycles"; echo "$fuzz_runs" >"$out/fuzz_runs"
scripts/install-deps.sh || exit 1
cmake -S . -B "$build" -DLORVANE_WERROR=ON >"$out/configure.log" 2>&1 && cmake --build "$build" -j"$jobs" >"$out/build.log" 2>&1 \
  || { tail -30 "$out/configure.log" "$out/build.log"; exit 1; }
build=$(cd "$build" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

# 1. Fuzzing, through scripts/fuzz.sh (it builds its own clang tree).
if [ "${LORVANE_SKIP_FUZZ:-0}" != 1 ]; then
  echo "fuzzing, $fuzz_runs runs per target..." >&2
  scripts/fuzz.sh "$fuzz_runs" >"$out/fuzz.txt" 2>"$out/fuzz.err"
fi

# 2. The desktop suite's fault rows, update rows and quit paths, each file under the same wrapper as
# ctest (a subreaper standing in for the session, a private network), with the full cycle count.
: >"$figures"
# run_suite <suite> <tap name> [test-name pattern]
run_suite() {
  local pattern=()
  [ -n "${3:-}" ] && pattern=(--test-name-pattern="$3")
  echo "running $2..." >&2
  env LORVANE_BUILD_DIR="$build" LORVANE_BUNDLE_DIR="$build/share/lorvane" \
    LORVANE_DESKTOP_HELPERS="$build/tests/desktop" LORVANE_RELIABILITY_FIGURES="$figures" \
    LORVANE_QUIT_CYCLES="$cycles" LORVANE_LANE="${LORVANE_DISPLAY_LANE:-x11}" LORVANE_VERSION="$version" \
    tini -s -- sh tests/desktop/support/isolate.sh \
    node --test-reporter=tap "${pattern[@]}" "tests/desktop/$1.test.mjs" \
    >"$out/$2.tap" 2>"$out/$2.err"
}
quit_lanes=("^(menu quit|window close)," "^(SIGTERM|SIGINT)," "^(SIGHUP|SIGKILL|second request),")
if unshare --net -- true 2>/dev/null; then
  # Every run has its own loopback network, display and bus, so the quit paths run in groups
  # beside the fault matrix.
  (for suite in "${suites[@]:0:2}"; do run_suite "$suite" "$suite"; done) &
  for i in "${!quit_lanes[@]}"; do run_suite quit_paths "quit_paths.$i" "${quit_lanes[$i]}" & done
  wait
else
  for suite in "${suites[@]}"; do run_suite "$suite" "$suite"; done
fi

# 3. Sanitizers: the core's unit and real-process tests built with ASan and UBSan, as scripts/test.sh does.
if [ "${LORVANE_SKIP_SANITIZERS:-0}" != 1 ]; then
  echo "building and running the sanitizer tests..." >&2
  asan="${build}-sanitizers"
  cmake -S . -B "$asan" -DLORVANE_WERROR=ON -DLORVANE_DESKTOP=OFF -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
    >"$out/asan-configure.log" 2>&1 && cmake --build "$asan" -j"$jobs" >"$out/asan-build.log" 2>&1
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$asan" --output-on-failure --timeout 600 -j"$jobs" >"$out/asan.log" 2>&1
fi
fi

# The table.
echo
echo "== Fuzzing: $fuzz_runs runs per target (scripts/fuzz.sh) =="
if [ -s "$out/fuzz.txt" ]; then cat "$out/fuzz.txt"; else echo "skipped or failed to build: $(tail -1 "$out/fuzz.err" 2>/dev/null)"; fi

echo
echo "== Fault rows, update rows and quit paths on the ${LORVANE_DISPLAY_LANE:-x11} lane: rows (top-level tests) =="
printf '%-18s %6s %6s %6s %12s\n' suite rows passed failed known-fault
total_rows=0; total_passed=0
for suite in "${suites[@]}"; do
  # Top-level test lines of the suite's runs; rows left out by a lane's name pattern are skipped.
  lines=$(cat "$out/$suite.tap" "$out/$suite".[0-9].tap 2>/dev/null | grep -E '^(not )?ok [0-9]+ ' | grep -v '# SKIP')
  rows=$(grep -c . <<<"$lines")
  todo=$(grep -c '# TODO' <<<"$lines")
  failed=$(grep -E '^not ok' <<<"$lines" | grep -vc '# TODO')
  passed=$((rows - failed - todo))
  total_rows=$((total_rows + rows)); total_passed=$((total_passed + passed))
  printf '%-18s %6s %6s %6s %12s\n' "$suite" "$rows" "$passed" "$failed" "$todo"
  grep -E '^not ok' <<<"$lines" | sed 's/^/    /'
done
printf '%-18s %6s %6s\n' total "$total_rows" "$total_passed"

echo
echo "== Quit paths: $cycles launch/quit cycles each =="
echo "   (server: ends on SIGTERM, with a grandchild; worker: ignores SIGTERM, with a grandchild that ignores it too;"
echo "    *-left: still running 4 s after the quit (the 3 s grace + 1 s); after-next-start: what the next start's sweep left)"
printf '%-15s %7s %14s %6s %10s %8s %11s %9s %18s %17s %18s %17s %15s %16s %14s %15s\n' path cycles launch-failed clean leftovers zombies ports-busy logs-bad launcher-survived grandchildren-left term-ignoring-left after-next-start server-stop-ms slowest-stop-ms slowest-exit-ms window-gone-ms
node -e '
  const lines = require("fs").readFileSync(process.argv[1], "utf8").split("\n").filter(Boolean).map(JSON.parse);
  for (const q of lines.filter((l) => l.kind === "quit")) {
    console.log([q.path.padEnd(15), String(q.cycles).padStart(7), String(q.launchFailed).padStart(14), String(q.clean).padStart(6), String(q.leftovers).padStart(10),
      String(q.zombies).padStart(8), String(q.portsBusy).padStart(11), String(q.logsBad).padStart(9), String(q.launcherSurvived).padStart(18),
      String(q.grandchildrenLeft ?? "-").padStart(17), String(q.termIgnoringLeft ?? "-").padStart(18), String(q.leftAfterNextStart ?? "-").padStart(17),
      String(q.slowestServerStopMs ?? "-").padStart(15), String(q.slowestStopMs ?? "-").padStart(16), String(q.slowestExitMs ?? "-").padStart(14),
      String(q.slowestWindowGoneMs ?? "-").padStart(15)].join(" "));
  }
  const manifest = lines.filter((l) => l.kind === "manifest");
  if (manifest.length) {
    const worst = manifest.reduce((a, b) => (b.growthKiB > a.growthKiB ? b : a));
    console.log(`\n== Update check: shell memory growth while refusing a 100 MB manifest (${manifest.length} rows) ==\nlargest: ${worst.growthKiB} KiB (${worst.row}); limit 65536 KiB`);
  }
  const hygiene = lines.filter((l) => l.kind === "hygiene");
  if (hygiene.length) {
    const sum = (key) => hygiene.reduce((total, h) => total + h[key], 0);
    console.log(`\n== Hygiene: ${hygiene[0].children} children (server, voice worker, launcher), ${hygiene.length} launches ==\ndescriptors beyond 0-2 at exec: ${sum("extraDescriptors")}\nenvironment entries off the tables: ${sum("environmentDifferences")}`);
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

failures=$(cat "$out"/*.tap | grep -E '^not ok [0-9]+ ' | grep -v '# TODO' | grep -vc '# SKIP')
[ "$failures" -eq 0 ]
