// One run of one contender: fresh folders, the page served on the port, a private bus, the contender
// started and measured, then everything it started ended by PID and the folders deleted.
//
// A "load" run times exec → the page's load request, then samples the tree's memory and its CPU over
// the idle window. A "ready" run starts the page server 2 s after the contender and times how soon
// the page is requested once the port listens.
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { now, sleep, readProc, treeOf, memoryOf, heldMB, mainThreadWakeups, isGone, endProcesses, startProcess } from "./procs.mjs";
import { pageServer, waitPortFree, runEnv, startBus, warmBus } from "./environment.mjs";
import { sampleLogTime, sampleLogTimes } from "./bundles.mjs";

let runCounter = 0;

const requestsOf = (server, t0) => server.events.map((e) => ({ t: (e.t - t0) / 1000, url: e.url, ua: e.ua.slice(0, 40) }));

export async function measureRun(contender, ctx, mode, warmup = false) {
    const opts = ctx.opts;
    const id = ++runCounter;
    const runStart = now();
    const runDir = path.join(ctx.workDir, `run-${String(id).padStart(3, "0")}-${contender.name}`);
    fs.mkdirSync(runDir, { recursive: true });
    const markerValue = `bench-${process.pid}-${id}`;
    const marker = `BENCH_RUN_MARKER=${markerValue}`;
    const env = runEnv(runDir, ctx.display, markerValue, contender.env || {});
    const stepsLog = ctx.stepsShim && (contender.shell || contender.name.startsWith("floor")) ? path.join(runDir, "steps.log") : null;

    const server = pageServer();
    for (;;) {
        await waitPortFree();
        if (mode === "ready" || contender.ownServer) break;
        try {
            await server.listen();
            break;
        } catch {
            // Taken between the check and the bind: wait for it again.
        }
    }
    // The bus has no run marker: services it activates (portals, accessibility) are shared by every
    // app on a real desktop, so they are reported beside the tree, not in it. They detach from the
    // bus process, so they are found by the bus's own marker.
    const { BENCH_RUN_MARKER: _m, ...busEnv } = env;
    busEnv.BENCH_BUS_MARKER = `bench-bus-${process.pid}-${id}`;
    const busMarker = `BENCH_BUS_MARKER=${busEnv.BENCH_BUS_MARKER}`;
    const bus = await startBus(busEnv, runDir);
    env.DBUS_SESSION_BUS_ADDRESS = bus.address;
    if (!opts.coldBus) await warmBus({ ...busEnv, DBUS_SESSION_BUS_ADDRESS: bus.address }, runDir);

    const result = { contender: contender.name, mode, run: id };

    const argv = contender.argv(runDir);
    // First paint is seen by a watcher of the display that is ready before the contender starts.
    const watcher = await startFirstFrameWatcher(ctx, env, runDir);
    const t0 = now();
    const t0Monotonic = process.hrtime.bigint();
    const t0Wall = Date.now();
    // The step notes are the contender's alone: not the bus's, not the watcher's.
    const childEnv = stepsLog ? { ...env, LD_PRELOAD: ctx.stepsShim, BENCH_STEPS_LOG: stepsLog } : env;
    const child = startProcess(argv, childEnv, path.join(runDir, "out.log"), { cwd: env.HOME });
    // `tree` is every process measured, so that cleanup ends them all.
    const run = { id, contender, ctx, opts, env, server, child, t0, t0Wall, t0Monotonic, marker, bus, busMarker, stepsLog, tree: [] };
    let resizer = null;
    const firstSeen = new Map();
    const poller = opts.timeline
        ? setInterval(() => {
              for (const st of treeOf(child.pid, marker)) if (!firstSeen.has(st.pid)) firstSeen.set(st.pid, { t: (now() - t0) / 1000, comm: st.comm });
          }, 25)
        : null;
    try {
        if (contender.resizeWindow) {
            const find = `xdotool search --sync --onlyvisible --pid ${child.pid}`;
            resizer = startProcess(["sh", "-c", `id=$(${find} | head -n1) && exec xdotool windowsize "$id" 1440 900`], env, path.join(runDir, "xdotool.log"));
        }
        if (mode === "ready") await measureReadiness(run, result);
        else await measureLoad(run, result, warmup);
        if (watcher) {
            // Long seen by now if it came at all (the window may never have shown content).
            const ns = await Promise.race([watcher.firstFrame, sleep(200).then(() => null)]);
            if (ns != null) result.firstPaint = Number(ns - t0Monotonic) / 1e9;
        }
    } finally {
        if (watcher) await endProcesses([watcher.child.pid], "first-frame watcher", 100);
        if (poller) {
            clearInterval(poller);
            result.timeline = [...firstSeen.values()].concat((result.requests || []).map((r) => ({ t: r.t, comm: `GET ${r.url} ${r.ua.startsWith("Mozilla") ? "(web)" : "(probe)"}` })));
            result.timeline.sort((a, b) => a.t - b.t);
            console.log(`    ${contender.name}: ${result.timeline.map((e) => `${e.t.toFixed(3)} ${e.comm}`).join(" | ")}`);
        }
        if (resizer) await endProcesses([resizer.pid, ...treeOf(resizer.pid, null).map((s) => s.pid)], "xdotool", 100);
        // The started process first (it ends its own helpers), then anything of its tree still there.
        const late = treeOf(child.pid, marker);
        const pids = [...new Set([child.pid, ...run.tree.map((s) => s.pid), ...late.map((s) => s.pid)])];
        result.killed = await endProcesses([child.pid], contender.name);
        result.killed += await endProcesses(pids.filter((p) => !isGone(p)), `${contender.name} tree`, 1000);
        const busTree = treeOf(bus.child.pid, busMarker).map((s) => s.pid);
        await endProcesses([bus.child.pid], "dbus-daemon", 1000);
        await endProcesses(busTree, "bus services", 1000);
        const strays = treeOf(-1, busMarker).concat(treeOf(-1, marker));
        if (strays.length) await endProcesses(strays.map((s) => s.pid), "strays", 1000);
        await server.close();
        // Fresh profile and data folders each run; the folder goes once the run is over, but the
        // output of a run that saw no page load is kept for reading.
        if (result.execToLoaded == null && result.readinessLatency == null && !result.void) {
            try {
                fs.copyFileSync(path.join(runDir, "out.log"), path.join(ctx.workDir, `failed-${path.basename(runDir)}.log`));
            } catch {}
        }
        fs.rmSync(runDir, { recursive: true, force: true, maxRetries: 3 });
        result.wallSeconds = (now() - runStart) / 1000;
    }
    return result;
}

// The page server comes up late, as a slow server would; the shell must notice within a poll.
async function measureReadiness(run, result) {
    const { server, child, t0, marker } = run;
    await sleep(2000);
    let listenAt;
    try {
        listenAt = await server.listen();
        if (run.contender.navigateOnSignal) process.kill(child.pid, "SIGUSR1");
    } catch {
        // Someone else took the port meanwhile; the shell may be talking to them, so the run is void.
        result.void = true;
        return;
    }
    const page = await server.waitFor((e) => e.url === "/" && /Mozilla/.test(e.ua), 10000);
    result.readinessLatency = page ? (page.t - listenAt) / 1000 : null;
    const probe = server.events.find((e) => e.t >= listenAt);
    result.requests = requestsOf(server, t0);
    result.listenAfterExec = (listenAt - t0) / 1000;
    result.firstRequestAfterListen = probe ? (probe.t - listenAt) / 1000 : null;
    // The part after the successful probe: the shell's own hop and WebKit starting the load.
    const lastProbe = page ? server.events.filter((e) => e.t <= page.t && !/Mozilla/.test(e.ua)).at(-1) : null;
    result.probeToPage = lastProbe ? (page.t - lastProbe.t) / 1000 : null;
    if (page) await server.waitFor((e) => e.url === "/__loaded", 5000);
    run.tree = treeOf(child.pid, marker);
}

// When the contender reached each step, in ms from its exec: its own notes (steps_shim.c) and what
// the page server saw, both on CLOCK_MONOTONIC. The first note of each step counts.
function stepsOf(run, page) {
    const exec = Number(run.t0Monotonic / 1000n) / 1000;
    const steps = {};
    for (const line of fs.readFileSync(run.stepsLog, "utf8").split("\n").filter(Boolean)) {
        const at = line.indexOf(" ");
        steps[line.slice(at + 1)] ??= Number(line.slice(0, at)) - exec;
    }
    const probe = run.server.events.find((e) => !/Mozilla/.test(e.ua));
    if (probe) steps["probe arrived"] = probe.mono - exec;
    if (page) steps["page requested"] = page.mono - exec;
    return steps;
}

// Resolves with the watcher's CLOCK_MONOTONIC nanoseconds of the first frame with content, or
// null if it saw none before it was ended.
async function startFirstFrameWatcher(ctx, env, runDir) {
    const child = startProcess([ctx.firstFrame], env, path.join(runDir, "first-frame.log"), { stdio: ["ignore", "pipe", "ignore"] });
    let out = "";
    const lines = [];
    let wake = () => {};
    child.stdout.on("data", (d) => {
        out += d;
        const parts = out.split("\n");
        out = parts.pop();
        lines.push(...parts);
        wake();
    });
    child.once("exit", () => wake());
    const next = async () => {
        while (!lines.length && child.exitCode === null && child.signalCode === null) await new Promise((r) => (wake = r));
        return lines.shift() ?? null;
    };
    if ((await next()) !== "ready") throw new Error("the first-frame watcher did not start");
    return { child, firstFrame: next().then((line) => (line ? BigInt(line) : null)) };
}

// The page's load as the harness's page server sees it (the /__loaded request from its load
// handler), or, for the sample bundle, as the sample server logs it: the page's scripts ask for
// /api/state while they run, just before the load event.
async function waitLoaded(run) {
    const { contender, server, child, env, t0, t0Wall } = run;
    const exited = new Promise((resolve) => child.once("exit", () => resolve(null)));
    if (!contender.ownServer) {
        const loaded = await Promise.race([server.waitFor((e) => e.url === "/__loaded", 30000), exited]);
        return loaded && (loaded.t - t0) / 1000;
    }
    let gone = false;
    exited.then(() => (gone = true));
    for (const deadline = now() + 30000; now() < deadline && !gone; await sleep(20)) {
        const at = sampleLogTime(env, / GET \/api\/state /);
        if (at != null) return (at - t0Wall) / 1000;
    }
    return null;
}

// The sample bundle's readiness, from its server's log: when it listened, when the shell's probe
// got its answer and when the web view asked for the page (the second request for /).
function sampleSteps(run) {
    const { env, t0Wall } = run;
    const since = (at) => (at == null ? null : (at - t0Wall) / 1000);
    const times = sampleLogTimes(env, / GET \/ \d+$/);
    return { listening: since(sampleLogTime(env, / listening on /)), probeAnswered: since(times[0]), pageRequested: since(times[1]) };
}

async function measureLoad(run, result, warmup) {
    const { id, contender, ctx, opts, child, marker } = run;
    let exitedEarly = false;
    child.once("exit", () => (exitedEarly = true));
    const execToLoaded = await waitLoaded(run);
    if (execToLoaded == null) {
        const why = exitedEarly ? "exited before the page loaded" : "no load event within 30 s";
        throw new Error(`${contender.name}: ${why} (output kept in ${ctx.workDir})`);
    }
    result.execToLoaded = execToLoaded;
    if (contender.ownServer) result.sampleSteps = sampleSteps(run);
    // CPU spent by the tree up to the load event: unlike wall time, it hardly depends on
    // what else the machine is doing, so it shows where the start-up work goes.
    const atLoad = treeOf(child.pid, marker);
    result.cpuToLoadMs = (atLoad.reduce((a, st) => a + st.cpu, 0) / ctx.clockTicks) * 1000;
    result.cpuToLoadByProcess = atLoad.filter((st) => st.cpu > 0).map((st) => ({ comm: st.comm, ms: (st.cpu / ctx.clockTicks) * 1000 }));
    result.requests = requestsOf(run.server, run.t0);
    // With the page already served the first readiness probe is answered at once: how long after
    // it (answered the moment it arrives) the web view's request for the page comes.
    const page = run.server.events.find((e) => e.url === "/" && /Mozilla/.test(e.ua));
    const probe = page && run.server.events.filter((e) => e.t <= page.t && !/Mozilla/.test(e.ua)).at(-1);
    if (probe) result.probeToPageLoaded = (page.t - probe.t) / 1000;
    if (run.stepsLog) result.steps = stepsOf(run, page);
    // A warm-up run only brings files into the page cache; it ends at the load event.
    if (warmup) return;
    await sleep(Math.max(0, run.t0 + (execToLoaded + opts.sampleAfter) * 1000 - now()));
    const tree = treeOf(child.pid, marker);
    run.tree = tree;
    if (process.env.BENCH_SHOTS) {
        // For checking by eye what each contender shows; off by default.
        spawnSync("import", ["-display", ctx.display, "-window", "root", path.join(process.env.BENCH_SHOTS, `${contender.name}-${id}.png`)]);
        spawnSync("sh", ["-c", `xwininfo -display ${ctx.display} -root -tree > ${path.join(process.env.BENCH_SHOTS, `${contender.name}-${id}.txt`)}`]);
    }
    if (process.env.BENCH_SMAPS) {
        // Diagnosis: the full memory maps of every process of the tree at the sample time.
        for (const st of tree) fs.writeFileSync(path.join(process.env.BENCH_SMAPS, `${contender.name}-${id}-${st.comm}-${st.pid}.smaps`), readProc(st.pid, "smaps") || "");
    }
    sampleMemory(run, result, tree);
    await measureIdle(run, result, tree);
}

function sampleMemory(run, result, tree) {
    let rss = 0,
        pss = 0;
    const procs = [];
    for (const st of tree) {
        const m = memoryOf(st.pid);
        rss += m.rss;
        pss += m.pss;
        procs.push({ pid: st.pid, comm: st.comm, rssKB: m.rss, pssKB: m.pss });
    }
    const busServices = treeOf(run.bus.child.pid, run.busMarker).filter((s) => s.pid !== run.bus.child.pid);
    result.busServicesPssMB = busServices.reduce((a, s) => a + memoryOf(s.pid).pss, 0) / 1024;
    result.busServices = busServices.map((s) => s.comm);
    result.rssMB = rss / 1024;
    result.pssMB = pss / 1024;
    result.heldMB = heldMB(tree.map((st) => st.pid));
    result.processes = procs;
}

// Idle CPU: per PID, ticks at the end minus ticks at the start (new processes count whole).
// Processes that appear during the window join `tree`, so that cleanup ends them too.
async function measureIdle(run, result, tree) {
    const { child, marker, opts } = run;
    const cpu0 = new Map(tree.map((s) => [s.pid, s.cpu]));
    const wake0 = mainThreadWakeups(child.pid);
    const idleStart = now();
    await sleep(opts.idleSeconds * 1000);
    const idleMs = now() - idleStart;
    const tree1 = treeOf(child.pid, marker);
    const wake1 = mainThreadWakeups(child.pid);
    const hz = run.ctx.clockTicks;
    let ticks = 0,
        shellTicks = 0;
    for (const s of tree1) {
        const d = s.cpu - (cpu0.get(s.pid) ?? 0);
        ticks += d;
        if (s.pid === child.pid) shellTicks += d;
    }
    result.idleCpuMs = (ticks / hz) * 1000;
    result.idleCpuPct = (ticks / hz / (idleMs / 1000)) * 100;
    result.shellCpuMs = (shellTicks / hz) * 1000;
    result.shellWakeups = wake0 != null && wake1 != null ? wake1 - wake0 : null;
    const seen = new Set(tree.map((s) => s.pid));
    for (const s of tree1) if (!seen.has(s.pid)) tree.push(s);
}
