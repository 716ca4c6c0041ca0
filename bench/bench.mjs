// Startup, memory and idle benchmark of the shell against the WebKitGTK floor and peers; prints figures only.
import { spawn, execFileSync, spawnSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { performance } from "node:perf_hooks";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const PORT = 3001;
const URL_ = `http://127.0.0.1:${PORT}/`;
const PAGE = fs.readFileSync(path.join(here, "page.html"));
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const now = () => performance.now();

// ---------- options ----------
const opts = {
    runs: 7,
    warmup: 1,
    readyRuns: 20,
    idleSeconds: 10,
    sampleAfter: 2,
    lorvane: process.env.LORVANE_BIN || "",
    only: "",
    extra: [],
    commands: [],
    out: "",
};
for (let i = 2; i < process.argv.length; i++) {
    const a = process.argv[i];
    const v = () => process.argv[++i];
    if (a === "--runs") opts.runs = Number(v());
    else if (a === "--warmup") opts.warmup = Number(v());
    else if (a === "--ready-runs") opts.readyRuns = Number(v());
    else if (a === "--idle") opts.idleSeconds = Number(v());
    else if (a === "--lorvane") opts.lorvane = v();
    // Another build of the shell measured as its own contender (e.g. before/after a change).
    else if (a === "--also") {
        const [name, bin] = v().split("=");
        opts.extra.push({ name, bin });
    } else if (a === "--variant") {
        // The main build again under extra environment, e.g. lorvane-cairo:GSK_RENDERER=cairo
        const [name, ...vars] = v().split(":");
        opts.extra.push({ name, bin: null, env: Object.fromEntries(vars.map((kv) => [kv.slice(0, kv.indexOf("=")), kv.slice(kv.indexOf("=") + 1)])) });
    } else if (a === "--only") opts.only = v();
    else if (a === "--ready-for") opts.readyFor = v();
    else if (a === "--cold-bus") opts.coldBus = true;
    else if (a === "--sample-after") opts.sampleAfter = Number(v());
    else if (a === "--out") opts.out = v();
    // Any other program as a contender; the page's URL is appended to its command line.
    else if (a === "--cmd") {
        const spec = v();
        const eq = spec.indexOf("=");
        opts.commands.push({ name: spec.slice(0, eq), command: spec.slice(eq + 1) });
    }
    // Diagnosis only: when each process of the tree first appears (polling costs CPU, so figures
    // from such a run are not comparable).
    else if (a === "--timeline") opts.timeline = true;
    else {
        console.error(`unknown option ${a}`);
        process.exit(2);
    }
}

// ---------- process bookkeeping: everything started here is ended by PID and checked gone ----------
function readProc(pid, file) {
    try {
        return fs.readFileSync(`/proc/${pid}/${file}`, "utf8");
    } catch {
        return null;
    }
}

function statOf(pid) {
    const s = readProc(pid, "stat");
    if (!s) return null;
    const close = s.lastIndexOf(")");
    const f = s.slice(close + 2).split(" ");
    // Fields after the command name: state ppid ... utime(12) stime(13)
    return { pid, comm: s.slice(s.indexOf("(") + 1, close), state: f[0], ppid: Number(f[1]), cpu: Number(f[11]) + Number(f[12]) };
}

function allStats() {
    const out = new Map();
    for (const name of fs.readdirSync("/proc")) {
        if (!/^\d+$/.test(name)) continue;
        const st = statOf(Number(name));
        if (st) out.set(st.pid, st);
    }
    return out;
}

// The tree: the started process, its descendants, and anything carrying this run's marker in its
// environment (helpers that detach from their parent still inherit it).
// `marker` is a whole NAME=value entry of the environment.
function treeOf(rootPid, marker) {
    const stats = allStats();
    const children = new Map();
    for (const st of stats.values()) {
        if (!children.has(st.ppid)) children.set(st.ppid, []);
        children.get(st.ppid).push(st.pid);
    }
    const found = new Set();
    const stack = [rootPid];
    while (stack.length) {
        const p = stack.pop();
        if (found.has(p) || !stats.has(p)) continue;
        found.add(p);
        for (const c of children.get(p) || []) stack.push(c);
    }
    if (marker) {
        for (const st of stats.values()) {
            if (found.has(st.pid)) continue;
            const env = readProc(st.pid, "environ");
            if (env && env.split("\0").includes(marker)) {
                found.add(st.pid);
                for (const c of children.get(st.pid) || []) stack.push(c);
                while (stack.length) {
                    const p = stack.pop();
                    if (found.has(p) || !stats.has(p)) continue;
                    found.add(p);
                    for (const c of children.get(p) || []) stack.push(c);
                }
            }
        }
    }
    return [...found].map((p) => stats.get(p)).filter((s) => s && s.state !== "Z");
}

function memoryOf(pid) {
    const s = readProc(pid, "smaps_rollup");
    if (!s) return { rss: 0, pss: 0 };
    const kb = (key) => Number((s.match(new RegExp(`^${key}:\\s+(\\d+) kB`, "m")) || [0, 0])[1]);
    return { rss: kb("Rss"), pss: kb("Pss") };
}

// Voluntary context switches of the main thread: each one is the main loop going to sleep, so over
// an idle window they count its wake-ups (timers, polls, repaints).
function mainThreadWakeups(pid) {
    const s = readProc(pid, `task/${pid}/status`);
    if (!s) return null;
    return Number((s.match(/^voluntary_ctxt_switches:\s+(\d+)/m) || [0, 0])[1]);
}

function isGone(pid) {
    const st = statOf(pid);
    return !st || st.state === "Z" || st.state === "X";
}

const started = new Set(); // every PID the harness started, for the final check

async function endProcesses(pids, label, graceMs = 3000) {
    pids = pids.filter((p) => !isGone(p));
    for (const pid of pids) {
        try {
            process.kill(pid, "SIGTERM");
        } catch {}
    }
    const deadline = now() + graceMs;
    while (now() < deadline && !pids.every(isGone)) await sleep(50);
    const left = pids.filter((p) => !isGone(p));
    for (const pid of left) {
        try {
            process.kill(pid, "SIGKILL");
        } catch {}
    }
    const killDeadline = now() + 3000;
    while (now() < killDeadline && !pids.every(isGone)) await sleep(50);
    const stuck = pids.filter((p) => !isGone(p));
    if (stuck.length) throw new Error(`${label}: processes still running after SIGKILL: ${stuck.join(" ")}`);
    return left.length;
}

function startProcess(argv, env, logFile, extra = {}) {
    const log = fs.openSync(logFile, "a");
    const child = spawn(argv[0], argv.slice(1), { env, stdio: ["ignore", log, log], ...extra });
    fs.closeSync(log);
    started.add(child.pid);
    child.on("error", () => {});
    return child;
}

// ---------- page server: one per run, holding the port only while a contender is measured ----------
function pageServer() {
    const events = [];
    const waiters = [];
    const server = http.createServer((req, res) => {
        const ev = { t: now(), url: req.url, ua: req.headers["user-agent"] || "" };
        events.push(ev);
        for (const w of waiters.splice(0)) w();
        if (req.url === "/__loaded") {
            res.writeHead(204, { "Cache-Control": "no-store" });
            res.end();
        } else if (req.url === "/" || req.url.startsWith("/?")) {
            res.writeHead(200, { "Content-Type": "text/html; charset=utf-8", "Cache-Control": "no-store", "Content-Length": PAGE.length });
            res.end(PAGE);
        } else {
            res.writeHead(404, { "Content-Type": "text/plain" });
            res.end("not found");
        }
    });
    server.keepAliveTimeout = 1000;
    const api = {
        events,
        listen: () =>
            new Promise((resolve, reject) => {
                server.once("error", reject);
                server.listen(PORT, "127.0.0.1", () => {
                    server.off("error", reject);
                    resolve(now());
                });
            }),
        close: () =>
            new Promise((resolve) => {
                server.closeAllConnections?.();
                server.close(() => resolve());
            }),
        // Resolves with the first event matching `pred`, or null after `ms`.
        waitFor: async (pred, ms) => {
            const deadline = now() + ms;
            for (;;) {
                const ev = events.find(pred);
                if (ev) return ev;
                const left = deadline - now();
                if (left <= 0) return null;
                await new Promise((r) => {
                    const t = setTimeout(r, left);
                    waiters.push(() => {
                        clearTimeout(t);
                        r();
                    });
                });
            }
        },
    };
    return api;
}

function portFree() {
    return new Promise((resolve) => {
        const s = http.createServer();
        s.once("error", () => resolve(false));
        s.listen(PORT, "127.0.0.1", () => s.close(() => resolve(true)));
    });
}

// Other programs on this machine may use the port between runs; wait for it rather than fight.
async function waitPortFree() {
    const deadline = now() + 120000;
    while (!(await portFree())) {
        if (now() > deadline) throw new Error(`port ${PORT} stayed busy for 2 minutes`);
        await sleep(500);
    }
}

// ---------- the display, shared by every run ----------
async function startXvfb(workDir) {
    const child = spawn("Xvfb", ["-displayfd", "3", "-screen", "0", "1920x1080x24", "-nolisten", "tcp", "-noreset"], {
        stdio: ["ignore", "ignore", fs.openSync(path.join(workDir, "xvfb.log"), "a"), "pipe"],
    });
    started.add(child.pid);
    const display = await new Promise((resolve, reject) => {
        let buf = "";
        const t = setTimeout(() => reject(new Error("Xvfb did not report a display")), 10000);
        child.stdio[3].on("data", (d) => {
            buf += d;
            if (buf.includes("\n")) {
                clearTimeout(t);
                resolve(`:${buf.trim()}`);
            }
        });
        child.on("exit", () => reject(new Error("Xvfb exited")));
    });
    return { child, display };
}

// ---------- one run ----------
let runCounter = 0;

function runEnv(runDir, display, marker, extraEnv) {
    const d = (name) => {
        const p = path.join(runDir, name);
        fs.mkdirSync(p, { recursive: true, mode: 0o700 });
        return p;
    };
    return {
        PATH: process.env.PATH || "/usr/local/bin:/usr/bin:/bin",
        LANG: "C.UTF-8",
        DISPLAY: display,
        HOME: d("home"),
        XDG_DATA_HOME: d("data"),
        XDG_STATE_HOME: d("state"),
        XDG_CACHE_HOME: d("cache"),
        XDG_CONFIG_HOME: d("config"),
        XDG_RUNTIME_DIR: d("runtime"),
        BENCH_RUN_MARKER: marker,
        ...extraEnv,
    };
}

async function startBus(env, runDir) {
    const child = spawn("dbus-daemon", ["--session", "--nofork", "--print-address=1"], {
        env,
        stdio: ["ignore", "pipe", fs.openSync(path.join(runDir, "dbus.log"), "a")],
    });
    started.add(child.pid);
    const address = await new Promise((resolve, reject) => {
        let buf = "";
        const t = setTimeout(() => reject(new Error("dbus-daemon did not print an address")), 5000);
        child.stdout.on("data", (d) => {
            buf += d;
            if (buf.includes("\n")) {
                clearTimeout(t);
                resolve(buf.split("\n")[0].trim());
            }
        });
    });
    return { child, address };
}

// A desktop session already runs the portal and the accessibility bus; on a bare private bus the
// first GTK call to them would start them and wait, which no user pays at launch.
async function warmBus(env, runDir) {
    const calls = [
        ["org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "org.freedesktop.DBus.Peer.Ping"],
        ["org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
    ];
    for (const [dest, objectPath, method] of calls) {
        const child = startProcess(["dbus-send", "--session", "--print-reply", `--reply-timeout=10000`, `--dest=${dest}`, objectPath, method], env, path.join(runDir, "dbus-send.log"));
        const exited = new Promise((resolve) => child.on("exit", resolve));
        await Promise.race([exited, sleep(11000)]);
        await endProcesses([child.pid], "dbus-send", 100);
    }
}

async function measureRun(contender, ctx, mode, warmup = false) {
    const id = ++runCounter;
    const runStart = now();
    const runDir = path.join(ctx.workDir, `run-${String(id).padStart(3, "0")}-${contender.name}`);
    fs.mkdirSync(runDir, { recursive: true });
    const markerValue = `bench-${process.pid}-${id}`;
    const marker = `BENCH_RUN_MARKER=${markerValue}`;
    const env = runEnv(runDir, ctx.display, markerValue, contender.env || {});

    const server = pageServer();
    let listenAt = null;
    for (;;) {
        await waitPortFree();
        if (mode === "ready") break;
        try {
            listenAt = await server.listen();
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
    const t0 = now();
    const child = startProcess(argv, env, path.join(runDir, "out.log"), { cwd: env.HOME });
    let tree = [];
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
        if (mode === "ready") {
            // The page server comes up late, as a slow server would; the shell must notice within a poll.
            await sleep(2000);
            try {
                listenAt = await server.listen();
            } catch {
                // Someone else took the port meanwhile; the shell may be talking to them, so the run is void.
                result.void = true;
                return result;
            }
            const page = await server.waitFor((e) => e.url === "/" && /Mozilla/.test(e.ua), 10000);
            result.readinessLatency = page ? (page.t - listenAt) / 1000 : null;
            const probe = server.events.find((e) => e.t >= listenAt);
            result.requests = server.events.map((e) => ({ t: (e.t - t0) / 1000, url: e.url, ua: e.ua.slice(0, 40) }));
            result.listenAfterExec = (listenAt - t0) / 1000;
            result.firstRequestAfterListen = probe ? (probe.t - listenAt) / 1000 : null;
            // The part after the successful probe: the shell's own hop and WebKit starting the load.
            const lastProbe = page ? server.events.filter((e) => e.t <= page.t && !/Mozilla/.test(e.ua)).at(-1) : null;
            result.probeToPage = lastProbe ? (page.t - lastProbe.t) / 1000 : null;
            if (page) await server.waitFor((e) => e.url === "/__loaded", 5000);
            tree = treeOf(child.pid, marker);
        } else {
            let exitedEarly = false;
            child.once("exit", () => (exitedEarly = true));
            const loaded = await Promise.race([
                server.waitFor((e) => e.url === "/__loaded", 30000),
                new Promise((resolve) => child.once("exit", () => resolve(null))),
            ]);
            if (!loaded) {
                const why = exitedEarly ? "exited before the page loaded" : "no load event within 30 s";
                throw new Error(`${contender.name}: ${why} (output kept in ${ctx.workDir})`);
            }
            result.execToLoaded = (loaded.t - t0) / 1000;
            // CPU spent by the tree up to the load event: unlike wall time, it hardly depends on
            // what else the machine is doing, so it shows where the start-up work goes.
            const atLoad = treeOf(child.pid, marker);
            result.cpuToLoadMs = (atLoad.reduce((a, st) => a + st.cpu, 0) / ctx.clockTicks) * 1000;
            result.cpuToLoadByProcess = atLoad.filter((st) => st.cpu > 0).map((st) => ({ comm: st.comm, ms: (st.cpu / ctx.clockTicks) * 1000 }));
            result.requests = server.events.map((e) => ({ t: (e.t - t0) / 1000, url: e.url, ua: e.ua.slice(0, 40) }));
            // A warm-up run only brings files into the page cache; it ends at the load event.
            if (warmup) return result;
            await sleep(Math.max(0, loaded.t + opts.sampleAfter * 1000 - now()));
            tree = treeOf(child.pid, marker);
            if (process.env.BENCH_SHOTS) {
                // For checking by eye what each contender shows; off by default.
                spawnSync("import", ["-display", ctx.display, "-window", "root", path.join(process.env.BENCH_SHOTS, `${contender.name}-${id}.png`)]);
                spawnSync("sh", ["-c", `xwininfo -display ${ctx.display} -root -tree > ${path.join(process.env.BENCH_SHOTS, `${contender.name}-${id}.txt`)}`]);
            }
            if (process.env.BENCH_SMAPS) {
                // Diagnosis: the full memory maps of every process of the tree at the sample time.
                for (const st of tree) fs.writeFileSync(path.join(process.env.BENCH_SMAPS, `${contender.name}-${id}-${st.comm}-${st.pid}.smaps`), readProc(st.pid, "smaps") || "");
            }
            let rss = 0,
                pss = 0;
            const procs = [];
            for (const st of tree) {
                const m = memoryOf(st.pid);
                rss += m.rss;
                pss += m.pss;
                procs.push({ pid: st.pid, comm: st.comm, rssKB: m.rss, pssKB: m.pss });
            }
            const busServices = treeOf(bus.child.pid, busMarker).filter((s) => s.pid !== bus.child.pid);
            result.busServicesPssMB = busServices.reduce((a, s) => a + memoryOf(s.pid).pss, 0) / 1024;
            result.busServices = busServices.map((s) => s.comm);
            result.rssMB = rss / 1024;
            result.pssMB = pss / 1024;
            result.processes = procs;
            // Idle CPU: per PID, ticks at the end minus ticks at the start (new processes count whole).
            const cpu0 = new Map(tree.map((s) => [s.pid, s.cpu]));
            const wake0 = mainThreadWakeups(child.pid);
            const idleStart = now();
            await sleep(opts.idleSeconds * 1000);
            const idleMs = now() - idleStart;
            const tree1 = treeOf(child.pid, marker);
            const wake1 = mainThreadWakeups(child.pid);
            const hz = ctx.clockTicks;
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
    } finally {
        if (poller) {
            clearInterval(poller);
            result.timeline = [...firstSeen.values()].concat((result.requests || []).map((r) => ({ t: r.t, comm: `GET ${r.url} ${r.ua.startsWith("Mozilla") ? "(web)" : "(probe)"}` })));
            result.timeline.sort((a, b) => a.t - b.t);
            console.log(`    ${contender.name}: ${result.timeline.map((e) => `${e.t.toFixed(3)} ${e.comm}`).join(" | ")}`);
        }
        if (resizer) await endProcesses([resizer.pid, ...treeOf(resizer.pid, null).map((s) => s.pid)], "xdotool", 100);
        // The started process first (it ends its own helpers), then anything of its tree still there.
        const late = treeOf(child.pid, marker);
        const pids = [...new Set([child.pid, ...tree.map((s) => s.pid), ...late.map((s) => s.pid)])];
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

// ---------- contenders ----------
function which(cmd) {
    const r = spawnSync("sh", ["-c", `command -v ${cmd}`], { encoding: "utf8" });
    return r.status === 0 ? r.stdout.trim() : null;
}

// A copy of the shell whose bundled server steps aside (the harness already serves the page) and
// with no voice worker, which the shell tolerates.
function benchBundle(workDir, name, bin) {
    const root = path.join(workDir, `bundle-${name}`);
    fs.mkdirSync(path.join(root, "bin"), { recursive: true });
    fs.copyFileSync(bin, path.join(root, "bin/lorvane"));
    fs.chmodSync(path.join(root, "bin/lorvane"), 0o755);
    const share = path.join(root, "share/lorvane");
    fs.mkdirSync(path.join(share, "runtime"), { recursive: true });
    fs.mkdirSync(path.join(share, "server"), { recursive: true });
    fs.symlinkSync(process.execPath, path.join(share, "runtime/node"));
    fs.writeFileSync(path.join(share, "server/server.mjs"), "// Steps aside: the benchmark's own server answers on the port.\n");
    return path.join(root, "bin/lorvane");
}

function buildFloor(workDir) {
    const out = path.join(workDir, "floor");
    const flags = execFileSync("pkg-config", ["--cflags", "--libs", "gtk4", "webkitgtk-6.0"], { encoding: "utf8" }).trim().split(/\s+/);
    execFileSync("gcc", ["-O2", "-o", out, path.join(here, "floor.c"), ...flags], { stdio: "inherit" });
    return out;
}

function contenders(workDir) {
    const list = [];
    if (!opts.lorvane || !fs.existsSync(opts.lorvane)) throw new Error("no lorvane binary: pass --lorvane PATH or set LORVANE_BIN");
    for (const c of [{ name: "lorvane", bin: opts.lorvane }, ...opts.extra]) {
        const bin = benchBundle(workDir, c.name, c.bin || opts.lorvane);
        list.push({ name: c.name, shell: true, argv: () => [bin], env: c.env || {} });
    }
    const floor = buildFloor(workDir);
    list.push({ name: "floor-gl", argv: () => [floor, URL_] });
    list.push({ name: "floor-cairo", argv: () => [floor, URL_], env: { GSK_RENDERER: "cairo" } });
    for (const c of opts.commands) list.push({ name: c.name, argv: () => ["sh", "-c", `exec ${c.command} "$0"`, URL_] });
    const chromium = which("chromium");
    if (chromium) {
        list.push({
            name: "chromium-app",
            argv: (runDir) => [
                chromium,
                `--app=${URL_}`,
                `--user-data-dir=${path.join(runDir, "chromium-profile")}`,
                ...(process.getuid() === 0 ? ["--no-sandbox"] : []),
                "--window-size=1440,900",
                "--no-first-run",
                "--no-default-browser-check",
                "--disable-background-networking",
                "--disable-component-update",
                "--disable-sync",
                "--disable-default-apps",
                "--disable-domain-reliability",
                "--disable-features=Translate,MediaRouter,OptimizationHints",
                "--password-store=basic",
            ],
        });
    } else console.log("# chromium not found: skipped");
    const surf = which("surf");
    // surf has no size option and opens at 800 x 600; its window is brought to 1440 x 900 as soon as
    // it maps (there is no window manager), so that every contender paints the same area.
    if (surf) list.push({ name: "surf", argv: () => [surf, URL_], resizeWindow: true });
    else console.log("# surf not found: skipped");
    const epiphany = which("epiphany-browser") || which("epiphany");
    if (epiphany && process.env.BENCH_EPIPHANY === "1") {
        list.push({ name: "epiphany", argv: (runDir) => [epiphany, "--private-instance", `--profile=${path.join(runDir, "epiphany")}`, URL_] });
    }
    return opts.only ? list.filter((c) => opts.only.split(",").includes(c.name)) : list;
}

// ---------- figures ----------
const median = (xs) => {
    const s = [...xs].sort((a, b) => a - b);
    const n = s.length;
    return n === 0 ? NaN : n % 2 ? s[(n - 1) / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
};
const pct = (xs, p) => {
    const s = [...xs].sort((a, b) => a - b);
    return s[Math.min(s.length - 1, Math.ceil((p / 100) * s.length) - 1)];
};
const fmt = (xs, digits, unit = "") => {
    const v = xs.filter((x) => x != null && Number.isFinite(x));
    if (!v.length) return "—";
    return `${median(v).toFixed(digits)}${unit} (${Math.min(...v).toFixed(digits)}–${Math.max(...v).toFixed(digits)})`;
};

function machineLine() {
    const [l1, l5, l15] = os.loadavg();
    return `load ${l1.toFixed(2)} ${l5.toFixed(2)} ${l15.toFixed(2)}`;
}

function versions() {
    const v = (argv) => {
        try {
            return execFileSync(argv[0], argv.slice(1), { encoding: "utf8", stdio: ["ignore", "pipe", "pipe"] }).trim().split("\n")[0];
        } catch (e) {
            return (e.stderr || "").toString().trim().split("\n")[0] || "?";
        }
    };
    const out = [`WebKitGTK ${v(["pkg-config", "--modversion", "webkitgtk-6.0"])}`, `GTK ${v(["pkg-config", "--modversion", "gtk4"])}`];
    if (which("chromium")) out.push(v(["chromium", "--version"]));
    if (which("surf")) out.push(v(["surf", "-v"]));
    return out.join(", ");
}

async function main() {
    const workDir = fs.mkdtempSync(path.join(os.tmpdir(), "lorvane-bench-"));
    const ctx = { workDir, clockTicks: Number(execFileSync("getconf", ["CLK_TCK"], { encoding: "utf8" }).trim()) || 100 };
    const list = contenders(workDir);
    const started_at = new Date().toISOString();
    const loadBefore = machineLine();
    console.log(`# ${started_at}  ${os.cpus().length} cores  ${loadBefore}`);
    console.log(`# ${versions()}`);
    console.log(`# contenders: ${list.map((c) => c.name).join(", ")}; ${opts.warmup} warm-up + ${opts.runs} counted rounds; readiness ${opts.readyRuns} runs`);

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
        // Rounds alternate the contenders (A B C D, A B C D, ...) so that drift in the machine's
        // load spreads over all of them alike.
        for (let round = 0; round < opts.warmup + opts.runs && !interrupted; round++) {
            for (const c of list) {
                if (interrupted) break;
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
                        ? `  run ${round}: ${c.name.padEnd(18)} ${r.execToLoaded.toFixed(3)} s  PSS ${r.pssMB.toFixed(0)} MB  idle ${r.idleCpuMs.toFixed(0)} ms  wake-ups ${r.shellWakeups}\n`
                        : `  warm-up: ${c.name.padEnd(18)} ${r.execToLoaded.toFixed(3)} s\n`,
                );
            }
        }
        for (const c of list.filter((c) => c.shell && (!opts.readyFor || opts.readyFor.split(",").includes(c.name)))) {
            let done = 0;
            for (let attempt = 0; done < opts.readyRuns && attempt < opts.readyRuns * 3 && !interrupted; attempt++) {
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
    } finally {
        await endProcesses([xvfb.child.pid], "Xvfb");
        const alive = [...started].filter((p) => !isGone(p));
        if (alive.length) console.log(`# STILL RUNNING (started here): ${alive.join(" ")}`);
        else console.log(`# all ${started.size} processes started by the harness are gone`);
    }

    const loadAfter = machineLine();
    const outFile = opts.out || path.join(workDir, "results.json");
    fs.writeFileSync(outFile, JSON.stringify({ started_at, loadBefore, loadAfter, opts, results }, null, 1));

    const counted = (name) => results.filter((r) => r.contender === name && r.mode === "load" && r.counted && !r.failed);
    console.log("");
    console.log(`| contender | runs | exec → loaded (s) | CPU to load (s) | RSS (MB) | PSS (MB) | idle CPU, 10 s (ms) | idle % core | UI wake-ups /10 s | bus services PSS (MB) |`);
    console.log(`|---|---|---|---|---|---|---|---|---|---|`);
    for (const c of list) {
        const rs = counted(c.name);
        console.log(
            `| ${c.name} | ${rs.length} | ${fmt(rs.map((r) => r.execToLoaded), 3)} | ${fmt(rs.map((r) => r.cpuToLoadMs / 1000), 2)} | ${fmt(rs.map((r) => r.rssMB), 0)} | ${fmt(rs.map((r) => r.pssMB), 0)} | ${fmt(rs.map((r) => r.idleCpuMs), 0)} | ${fmt(rs.map((r) => r.idleCpuPct), 2)} | ${fmt(rs.map((r) => r.shellWakeups), 0)} | ${fmt(rs.map((r) => r.busServicesPssMB), 0)} |`,
        );
    }
    for (const shell of list.filter((c) => c.shell)) {
        const s = counted(shell.name);
        console.log("");
        console.log(`| ${shell.name} / contender (medians) | exec → loaded | PSS | idle CPU |`);
        console.log(`|---|---|---|---|`);
        for (const c of list) {
            if (c === shell) continue;
            const o = counted(c.name);
            const ratio = (f) => (median(s.map(f)) / median(o.map(f))).toFixed(2);
            console.log(`| ${c.name} | ${ratio((r) => r.execToLoaded)} | ${ratio((r) => r.pssMB)} | ${ratio((r) => r.idleCpuMs)} |`);
        }
        const ready = results.filter((r) => r.contender === shell.name && r.mode === "ready");
        const lat = ready.map((r) => r.readinessLatency).filter((x) => x != null);
        if (ready.length) {
            console.log("");
            console.log(
                `${shell.name} readiness (server listens 2 s after the shell; listen → page request), ${lat.length}/${ready.length} runs: ` +
                    `p50 ${median(lat).toFixed(3)} s, p90 ${pct(lat, 90).toFixed(3)} s, p100 ${Math.max(...lat).toFixed(3)} s, min ${Math.min(...lat).toFixed(3)} s`,
            );
            const tail = ready.map((r) => r.probeToPage).filter((x) => x != null);
            if (tail.length) console.log(`  of which last probe → page request: p50 ${median(tail).toFixed(3)} s, max ${Math.max(...tail).toFixed(3)} s`);
        }
        // The goals, restated as figures from this run (printed for reading, never asserted).
        const peers = list.filter((c) => !c.shell && !c.name.startsWith("floor"));
        const floors = list.filter((c) => c.name.startsWith("floor"));
        const best = (cs, f) => {
            const m = cs.map((c) => ({ name: c.name, v: median(counted(c.name).map(f)) })).filter((x) => Number.isFinite(x.v));
            return m.sort((a, b) => a.v - b.v)[0];
        };
        const line = (label, f, unit, digits) => {
            const mine = median(s.map(f));
            const p = best(peers, f);
            const fl = best(floors, f);
            const parts = [];
            if (p) parts.push(`best peer ${p.name} ${p.v.toFixed(digits)}${unit} → ×${(mine / p.v).toFixed(2)}`);
            if (fl) parts.push(`best floor ${fl.name} ${fl.v.toFixed(digits)}${unit} → ×${(mine / fl.v).toFixed(2)}`);
            console.log(`  ${label}: ${shell.name} ${mine.toFixed(digits)}${unit}; ${parts.join("; ")}`);
        };
        console.log("");
        console.log(`${shell.name} against the goals (≤ best peer and ≤ 1.05 × best floor; idle ≤ 1 % of a core):`);
        line("exec → loaded", (r) => r.execToLoaded, " s", 3);
        line("PSS", (r) => r.pssMB, " MB", 0);
        console.log(`  idle: tree ${median(s.map((r) => r.idleCpuPct)).toFixed(2)} % of a core (max ${Math.max(...s.map((r) => r.idleCpuPct)).toFixed(2)} %); shell process ${median(s.map((r) => r.shellCpuMs)).toFixed(0)} ms CPU and ${median(s.map((r) => r.shellWakeups))} main-thread wake-ups per ${opts.idleSeconds} s`);
        const top = counted(shell.name).at(-1);
        if (top) {
            console.log("");
            console.log(`${shell.name} process tree in its last run (PSS MB): ${top.processes.map((p) => `${p.comm} ${(p.pssKB / 1024).toFixed(0)}`).join(", ")}`);
        }
    }
    console.log("");
    console.log(`# before: ${loadBefore}; after: ${loadAfter}; ${((Date.now() - Date.parse(started_at)) / 60000).toFixed(1)} min; raw figures: ${outFile}`);
}

main().catch((e) => {
    console.error(e.stack || String(e));
    process.exit(1);
});
