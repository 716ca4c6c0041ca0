// The figures as printed: the machine and versions before the runs, and after them one table of
// every contender, then for each build of the shell its ratios, readiness and goals.
import { execFileSync } from "node:child_process";
import os from "node:os";
import { which } from "./contenders.mjs";

// Of the finite values only (a figure a run could not take is left out).
const median = (xs) => {
    const s = xs.filter((x) => x != null && Number.isFinite(x)).sort((a, b) => a - b);
    const n = s.length;
    return n === 0 ? NaN : n % 2 ? s[(n - 1) / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
};
const pct = (xs, p) => {
    const s = [...xs].sort((a, b) => a - b);
    return s[Math.min(s.length - 1, Math.ceil((p / 100) * s.length) - 1)];
};
// Median (min–max) of the finite values.
const fmt = (xs, digits) => {
    const v = xs.filter((x) => x != null && Number.isFinite(x));
    if (!v.length) return "—";
    return `${median(v).toFixed(digits)} (${Math.min(...v).toFixed(digits)}–${Math.max(...v).toFixed(digits)})`;
};

export function machineLine() {
    const [l1, l5, l15] = os.loadavg();
    return `load ${l1.toFixed(2)} ${l5.toFixed(2)} ${l15.toFixed(2)}`;
}

export function versions() {
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

export function printSummary(list, results, opts) {
    const counted = (name) => results.filter((r) => r.contender === name && r.mode === "load" && r.counted && !r.failed);
    console.log("");
    console.log(`| contender | runs | exec → first paint (s) | exec → loaded (s) | CPU to load (s) | RSS (MB) | PSS (MB) | held (MB) | idle CPU, ${opts.idleSeconds} s (ms) | idle % core | UI wake-ups /${opts.idleSeconds} s | bus services PSS (MB) |`);
    console.log(`|---|---|---|---|---|---|---|---|---|---|---|---|`);
    for (const c of list) {
        const rs = counted(c.name);
        console.log(
            `| ${c.name} | ${rs.length} | ${fmt(rs.map((r) => r.firstPaint), 3)} | ${fmt(rs.map((r) => r.execToLoaded), 3)} | ${fmt(rs.map((r) => r.cpuToLoadMs / 1000), 2)} | ${fmt(rs.map((r) => r.rssMB), 0)} | ${fmt(rs.map((r) => r.pssMB), 0)} | ${fmt(rs.map((r) => r.heldMB), 0)} | ${fmt(rs.map((r) => r.idleCpuMs), 0)} | ${fmt(rs.map((r) => r.idleCpuPct), 2)} | ${fmt(rs.map((r) => r.shellWakeups), 0)} | ${fmt(rs.map((r) => r.busServicesPssMB), 0)} |`,
        );
    }
    console.log("");
    console.log("first paint: the first frame with content on the display (the shell's loading page; the page itself for the others).");
    console.log("held: every page the tree maps, each once; unlike PSS it does not depend on what else runs on the machine.");
    for (const c of list.filter((c) => c.ownServer)) {
        const rs = counted(c.name);
        const step = (f) => fmt(rs.map((r) => r.sampleSteps?.[f]), 3);
        console.log(
            `${c.name} (its own server, from its log; medians): exec → server listening ${step("listening")} s, → probe answered ${step("probeAnswered")} s, ` +
                `→ page requested ${step("pageRequested")} s, → loaded ${fmt(rs.map((r) => r.execToLoaded), 3)} s`,
        );
    }
    printSteps(list, counted);
    for (const shell of list.filter((c) => c.shell)) printShell(shell, list, results, counted, opts);
}

// With --steps: each step's median time from exec, then the stretches that decide the page request.
const STEPS = ["main", "web process started", "window presented", "probe arrived", "probe answered", "page asked for", "page requested"];
function printSteps(list, counted) {
    const withSteps = list.filter((c) => counted(c.name).some((r) => r.steps));
    if (!withSteps.length) return;
    const at = (rs, step) => median(rs.map((r) => r.steps?.[step]));
    const ms = (x) => (Number.isFinite(x) ? x.toFixed(0) : "—");
    console.log("");
    console.log(`| steps, ms from exec (medians) | ${STEPS.join(" | ")} | loaded | probe answered → page asked for | probe answered → page requested | web process started → page requested |`);
    console.log(`|---|${STEPS.map(() => "---").join("|")}|---|---|---|---|`);
    for (const c of withSteps) {
        const rs = counted(c.name);
        const gap = (from, to) => median(rs.map((r) => (r.steps?.[to] ?? NaN) - (r.steps?.[from] ?? NaN)));
        console.log(`| ${c.name} | ${STEPS.map((s) => ms(at(rs, s))).join(" | ")} | ${ms(median(rs.map((r) => r.execToLoaded * 1000)))} | ` +
            `${ms(gap("probe answered", "page asked for"))} | ${ms(gap("probe answered", "page requested"))} | ${ms(gap("web process started", "page requested"))} |`);
    }
}

function printShell(shell, list, results, counted, opts) {
    const s = counted(shell.name);
    console.log("");
    console.log(`| ${shell.name} / contender (medians) | first paint | exec → loaded | PSS | held | idle CPU |`);
    console.log(`|---|---|---|---|---|---|`);
    for (const c of list) {
        if (c === shell || c.ownServer) continue;
        const o = counted(c.name);
        const ratio = (f) => (median(s.map(f)) / median(o.map(f))).toFixed(2);
        console.log(`| ${c.name} | ${ratio((r) => r.firstPaint)} | ${ratio((r) => r.execToLoaded)} | ${ratio((r) => r.pssMB)} | ${ratio((r) => r.heldMB)} | ${ratio((r) => r.idleCpuMs)} |`);
    }
    const gap = s.map((r) => r.probeToPageLoaded).filter((x) => x != null);
    if (gap.length) {
        console.log("");
        console.log(`${shell.name} with the page already served: probe answered → page requested, ${gap.length} runs: p50 ${(median(gap) * 1000).toFixed(0)} ms, ` +
            `min ${(Math.min(...gap) * 1000).toFixed(0)} ms, max ${(Math.max(...gap) * 1000).toFixed(0)} ms`);
    }
    const ready = results.filter((r) => r.contender === shell.name && r.mode === "ready");
    const lat = ready.map((r) => r.readinessLatency).filter((x) => x != null);
    if (ready.length) {
        console.log("");
        console.log(
            `${shell.name} readiness (server listens 2 s after the shell; listen → page request), ${lat.length}/${ready.length} runs: ` +
                `p50 ${median(lat).toFixed(3)} s, p90 ${pct(lat, 90).toFixed(3)} s, p100 ${Math.max(...lat).toFixed(3)} s, min ${Math.min(...lat).toFixed(3)} s`,
        );
        // With the server late, the loading page is what the shell paints first.
        const paint = ready.map((r) => r.firstPaint).filter((x) => x != null);
        if (paint.length) console.log(`  exec → first paint (the loading page), ${paint.length} runs: p50 ${median(paint).toFixed(3)} s, max ${Math.max(...paint).toFixed(3)} s`);
        const tail = ready.map((r) => r.probeToPage).filter((x) => x != null);
        if (tail.length) console.log(`  of which last probe → page request: p50 ${median(tail).toFixed(3)} s, max ${Math.max(...tail).toFixed(3)} s`);
        // The same step in the bare floor program: WebKit told to load the page as the port listens.
        const floor = results.filter((r) => r.contender === "floor-navigate" && r.mode === "ready").map((r) => r.readinessLatency).filter((x) => x != null);
        if (floor.length) console.log(`  the floor of that step (floor-navigate, told to load as the port listens → page request), ${floor.length} runs: p50 ${median(floor).toFixed(3)} s, max ${Math.max(...floor).toFixed(3)} s`);
    }
    // The goals, restated as figures from this run (printed for reading, never asserted).
    const peers = list.filter((c) => !c.shell && !c.ownServer && !c.name.startsWith("floor"));
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
    line("held", (r) => r.heldMB, " MB", 0);
    console.log(`  idle: tree ${median(s.map((r) => r.idleCpuPct)).toFixed(2)} % of a core (max ${Math.max(...s.map((r) => r.idleCpuPct)).toFixed(2)} %); shell process ${median(s.map((r) => r.shellCpuMs)).toFixed(0)} ms CPU and ${median(s.map((r) => r.shellWakeups))} main-thread wake-ups per ${opts.idleSeconds} s`);
    const top = s.at(-1);
    if (top) {
        console.log("");
        console.log(`${shell.name} process tree in its last run (PSS MB): ${top.processes.map((p) => `${p.comm} ${(p.pssKB / 1024).toFixed(0)}`).join(", ")}`);
    }
}
