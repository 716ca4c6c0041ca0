// Startup, memory and idle benchmark of the shell against the WebKitGTK floor and peers; prints figures only.
//
//   options.mjs      the command line
//   procs.mjs        process trees, memory and CPU from /proc; ending what was started
//   environment.mjs  the display, the page server, per-run folders and session bus
//   bundles.mjs      the shell laid out as an installed app, with the services a run needs
//   contenders.mjs   what is measured and how each is started
//   measure.mjs      one run of one contender
//   report.mjs       the printed figures
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { parseOptions } from "./options.mjs";
import { started, isGone, endProcesses } from "./procs.mjs";
import { PORT, startXvfb } from "./environment.mjs";
import { contenders, buildFirstFrame, buildStepsShim } from "./contenders.mjs";
import { measureRun } from "./measure.mjs";
import { machineLine, versions, printSummary } from "./report.mjs";

const opts = parseOptions(process.argv.slice(2));

// Rounds alternate the contenders (A B C D, A B C D, ...) so that drift in the machine's load
// spreads over all of them alike.
async function loadRounds(list, ctx, results, interrupted) {
    for (let round = 0; round < opts.warmup + opts.runs && !interrupted(); round++) {
        for (const c of list) {
            if (interrupted()) break;
            const counted = round >= opts.warmup;
            let r;
            try {
                r = await measureRun(c, ctx, "load", !counted);
            } catch (e) {
                // One contender failing a run (a crash, no load event) leaves the others' figures standing.
                console.log(`  ${c.name}: run failed: ${e.message}`);
                results.push({ contender: c.name, mode: "load", failed: true, error: e.message });
                continue;
            }
            r.counted = counted;
            results.push(r);
            process.stdout.write(
                counted
                    ? `  run ${round}: ${c.name.padEnd(18)} ${r.execToLoaded.toFixed(3)} s  first paint ${r.firstPaint?.toFixed(3) ?? "—"} s  PSS ${r.pssMB.toFixed(0)} MB  idle ${r.idleCpuMs.toFixed(0)} ms  wake-ups ${r.shellWakeups}\n`
                    : `  warm-up: ${c.name.padEnd(18)} ${r.execToLoaded.toFixed(3)} s\n`,
            );
        }
    }
}

// Readiness runs of the shells only; a run whose port another program took is void and run again.
async function readinessRuns(list, ctx, results, interrupted) {
    for (const c of list.filter((c) => (c.shell || c.navigateOnSignal) && (!opts.readyFor || opts.readyFor.split(",").includes(c.name)))) {
        let done = 0;
        for (let attempt = 0; done < opts.readyRuns && attempt < opts.readyRuns * 3 && !interrupted(); attempt++) {
            const r = await measureRun(c, ctx, "ready");
            if (r.void) {
                console.log(`  readiness run void: port ${PORT} taken by another program`);
                continue;
            }
            results.push(r);
            done++;
            process.stdout.write(`  readiness ${done}: ${c.name.padEnd(18)} ${r.readinessLatency == null ? "no page request" : `${r.readinessLatency.toFixed(3)} s`}\n`);
        }
    }
}

async function main() {
    const workDir = fs.mkdtempSync(path.join(os.tmpdir(), "lorvane-bench-"));
    const ctx = { opts, workDir, clockTicks: Number(execFileSync("getconf", ["CLK_TCK"], { encoding: "utf8" }).trim()) || 100 };
    ctx.firstFrame = buildFirstFrame(workDir);
    if (opts.steps) ctx.stepsShim = buildStepsShim(workDir);
    const all = contenders(workDir, opts);
    const list = all.filter((c) => !c.navigateOnSignal);
    const started_at = new Date().toISOString();
    const loadBefore = machineLine();
    console.log(`# ${started_at}  ${os.cpus().length} cores  ${loadBefore}`);
    console.log(`# ${versions()}`);
    console.log(`# contenders: ${all.map((c) => c.name).join(", ")}; ${opts.warmup} warm-up + ${opts.runs} counted rounds; readiness ${opts.readyRuns} runs`);

    const xvfb = await startXvfb(workDir);
    ctx.display = xvfb.display;
    const results = [];
    let interrupted = false;
    const onSignal = () => {
        interrupted = true;
    };
    process.on("SIGINT", onSignal);
    process.on("SIGTERM", onSignal);
    try {
        await loadRounds(list, ctx, results, () => interrupted);
        await readinessRuns(all, ctx, results, () => interrupted);
    } finally {
        await endProcesses([xvfb.child.pid], "Xvfb");
        const alive = [...started].filter((p) => !isGone(p));
        if (alive.length) console.log(`# STILL RUNNING (started here): ${alive.join(" ")}`);
        else console.log(`# all ${started.size} processes started by the harness are gone`);
    }

    const loadAfter = machineLine();
    const outFile = opts.out || path.join(workDir, "results.json");
    fs.writeFileSync(outFile, JSON.stringify({ started_at, loadBefore, loadAfter, opts, results }, null, 1));

    printSummary(list, results, opts);
    console.log("");
    console.log(`# before: ${loadBefore}; after: ${loadAfter}; ${((Date.now() - Date.parse(started_at)) / 60000).toFixed(1)} min; raw figures: ${outFile}`);
}

main().catch((e) => {
    console.error(e.stack || String(e));
    process.exit(1);
});
