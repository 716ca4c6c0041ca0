// Processes as /proc shows them: a contender's tree, its memory and CPU, and the bookkeeping by which
// everything the harness starts is ended by PID and checked gone.
import { spawn } from "node:child_process";
import fs from "node:fs";
import { performance } from "node:perf_hooks";

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
export const now = () => performance.now();

export function readProc(pid, file) {
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
// environment (helpers that detach from their parent still inherit it), with their descendants.
// `marker` is a whole NAME=value entry of the environment.
export function treeOf(rootPid, marker) {
    const stats = allStats();
    const children = new Map();
    for (const st of stats.values()) {
        if (!children.has(st.ppid)) children.set(st.ppid, []);
        children.get(st.ppid).push(st.pid);
    }
    const found = new Set();
    const descend = (pid) => {
        const stack = [pid];
        while (stack.length) {
            const p = stack.pop();
            if (found.has(p) || !stats.has(p)) continue;
            found.add(p);
            for (const c of children.get(p) || []) stack.push(c);
        }
    };
    descend(rootPid);
    if (marker) {
        for (const st of stats.values()) {
            if (found.has(st.pid)) continue;
            const env = readProc(st.pid, "environ");
            if (env && env.split("\0").includes(marker)) descend(st.pid);
        }
    }
    return [...found].map((p) => stats.get(p)).filter((s) => s && s.state !== "Z");
}

export function memoryOf(pid) {
    const s = readProc(pid, "smaps_rollup");
    if (!s) return { rss: 0, pss: 0 };
    const kb = (key) => Number((s.match(new RegExp(`^${key}:\\s+(\\d+) kB`, "m")) || [0, 0])[1]);
    return { rss: kb("Rss"), pss: kb("Pss") };
}

// Memory the processes hold together: every physical page any of them maps, a page shared
// between them counted once, a page shared with other programs counted whole. Unlike PSS it does
// not change with what else runs on the machine (PSS splits a library's pages among every process
// that maps it, other programs' WebKit processes included). Needs root, which the kernel shows page
// frames to; null without it.
export function heldMB(pids) {
    const frames = new Set();
    const entry = Buffer.alloc(8 * 4096);
    for (const pid of pids) {
        const smaps = readProc(pid, "smaps");
        let pagemap;
        try {
            pagemap = fs.openSync(`/proc/${pid}/pagemap`, "r");
        } catch {
            continue;
        }
        try {
            let start = 0,
                end = 0;
            for (const line of (smaps || "").split("\n")) {
                const range = line.match(/^([0-9a-f]+)-([0-9a-f]+) /);
                if (range) {
                    start = parseInt(range[1], 16) / 4096;
                    end = parseInt(range[2], 16) / 4096;
                    continue;
                }
                // Only regions with pages in memory are read: the address space is mostly reserved.
                if (!line.startsWith("Rss:") || Number(line.split(/\s+/)[1]) === 0) continue;
                for (let page = start; page < end; page += 4096) {
                    const count = Math.min(4096, end - page);
                    const read = fs.readSync(pagemap, entry, 0, count * 8, page * 8);
                    for (let i = 0; i < read / 8; i++) {
                        const high = entry.readUInt32LE(i * 8 + 4);
                        if (!(high & 0x80000000)) continue;
                        const frame = (high & 0x7fffff) * 2 ** 32 + entry.readUInt32LE(i * 8);
                        if (frame === 0) return null;
                        frames.add(frame);
                    }
                }
            }
        } finally {
            fs.closeSync(pagemap);
        }
    }
    return (frames.size * 4096) / 2 ** 20;
}

// Voluntary context switches of the main thread: each one is the main loop going to sleep, so over
// an idle window they count its wake-ups (timers, polls, repaints).
export function mainThreadWakeups(pid) {
    const s = readProc(pid, `task/${pid}/status`);
    if (!s) return null;
    return Number((s.match(/^voluntary_ctxt_switches:\s+(\d+)/m) || [0, 0])[1]);
}

export function isGone(pid) {
    const st = statOf(pid);
    return !st || st.state === "Z" || st.state === "X";
}

export const started = new Set(); // every PID the harness started, for the final check

// SIGTERM, a grace period, then SIGKILL for what is left; throws if anything survives that.
// Returns how many needed SIGKILL.
export async function endProcesses(pids, label, graceMs = 3000) {
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

export function startProcess(argv, env, logFile, extra = {}) {
    const log = fs.openSync(logFile, "a");
    const child = spawn(argv[0], argv.slice(1), { env, stdio: ["ignore", log, log], ...extra });
    fs.closeSync(log);
    started.add(child.pid);
    child.on("error", () => {});
    return child;
}
