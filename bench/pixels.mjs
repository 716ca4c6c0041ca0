// What two builds (or environments) of the shell show, compared pixel by pixel: the loading page,
// the launch-error page and the sample app, each on the same display with the same folders.
// Prints the number of differing pixels per page (ImageMagick `compare -metric AE`); asserts nothing.
//
//   node bench/pixels.mjs before=/path/to/lorvane after=/path/to/lorvane[:VAR=value...] [--out DIR]
//
// The launch-error page comes after the readiness time limit (30 s), so a run takes about two minutes.
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { startXvfb, runEnv, startBus, warmBus, waitPortFree } from "./environment.mjs";
import { shellBundle, sampleLogTime } from "./bundles.mjs";
import { buildFirstFrame } from "./contenders.mjs";
import { sleep, now, started, isGone, treeOf, startProcess, endProcesses } from "./procs.mjs";

const args = process.argv.slice(2);
const outAt = args.indexOf("--out");
const sides = args.filter((a, i) => a.includes("=") && i !== outAt + 1).map((spec) => {
    const [name, rest] = [spec.slice(0, spec.indexOf("=")), spec.slice(spec.indexOf("=") + 1)];
    const [bin, ...vars] = rest.split(":");
    return { name, bin, env: Object.fromEntries(vars.map((kv) => [kv.slice(0, kv.indexOf("=")), kv.slice(kv.indexOf("=") + 1)])) };
});
if (sides.length !== 2 || sides.some((s) => !fs.existsSync(s.bin))) {
    console.error("usage: node bench/pixels.mjs NAME=LORVANE[:VAR=value...] NAME=LORVANE[:VAR=value...] [--out DIR]");
    process.exit(2);
}

const workDir = fs.mkdtempSync(path.join(os.tmpdir(), "lorvane-pixels-"));
const out = outAt >= 0 ? args[outAt + 1] : path.join(workDir, "shots");
fs.mkdirSync(out, { recursive: true });
const firstFrame = buildFirstFrame(workDir);

const shoot = (display, file) => {
    const r = spawnSync("import", ["-display", display, "-window", "root", file]);
    if (r.status !== 0) throw new Error(`screenshot failed: ${r.stderr}`);
};

// One launch of one side with one bundle; `shots` says when to take which screenshot.
async function launch(display, side, services, shots) {
    // The same folder paths for both sides: the launch-error page shows the log's path.
    const runDir = path.join(workDir, "run");
    fs.rmSync(runDir, { recursive: true, force: true });
    fs.mkdirSync(runDir);
    const marker = `pixels-${process.pid}-${side.name}-${services}`;
    const env = runEnv(runDir, display, marker, side.env);
    await waitPortFree();
    const { BENCH_RUN_MARKER: _m, ...busEnv } = env;
    const bus = await startBus(busEnv, runDir);
    env.DBUS_SESSION_BUS_ADDRESS = bus.address;
    await warmBus({ ...busEnv, DBUS_SESSION_BUS_ADDRESS: bus.address }, runDir);
    const watcher = startProcess([firstFrame], env, path.join(runDir, "first-frame.log"), { stdio: ["ignore", "pipe", "ignore"] });
    await new Promise((resolve) => watcher.stdout.once("data", resolve));
    const painted = new Promise((resolve) => watcher.stdout.once("data", resolve));
    const bin = shellBundle(workDir, `${side.name}-${services}`, side.bin, services);
    const t0 = now();
    const child = startProcess([bin], env, path.join(runDir, "out.log"), { cwd: env.HOME });
    try {
        for (const shot of shots) {
            await shot.when({ env, painted, t0 });
            // The frame after the one that was seen, whatever was still on its way.
            await sleep(1500);
            shoot(display, path.join(out, `${shot.page}-${side.name}.png`));
        }
    } finally {
        const tree = treeOf(child.pid, `BENCH_RUN_MARKER=${marker}`).map((s) => s.pid);
        await endProcesses([child.pid], "shell");
        await endProcesses(tree.filter((p) => !isGone(p)), "shell tree", 1000);
        await endProcesses([watcher.pid, bus.child.pid], "watcher and bus", 1000);
        const strays = treeOf(-1, `BENCH_RUN_MARKER=${marker}`);
        if (strays.length) await endProcesses(strays.map((s) => s.pid), "strays", 1000);
    }
}

async function until(what, test, ms) {
    for (const deadline = now() + ms; now() < deadline; await sleep(50)) if (test()) return;
    throw new Error(`no ${what} within ${ms / 1000} s`);
}

const xvfb = await startXvfb(workDir);
try {
    for (const side of sides) {
        console.log(`# ${side.name}: loading and launch-error pages`);
        await launch(xvfb.display, side, "silent", [
            { page: "loading", when: ({ painted }) => painted },
            { page: "launch-error", when: ({ t0 }) => sleep(Math.max(0, t0 + 32000 - now())) },
        ]);
        console.log(`# ${side.name}: the sample app`);
        await launch(xvfb.display, side, "sample", [
            { page: "sample-app", when: ({ env }) => until("sample app load", () => sampleLogTime(env, / GET \/api\/state /) != null, 30000) },
        ]);
    }
} finally {
    await endProcesses([xvfb.child.pid], "Xvfb");
    const alive = [...started].filter((p) => !isGone(p));
    if (alive.length) console.log(`# STILL RUNNING (started here): ${alive.join(" ")}`);
}

console.log("");
console.log(`| page | differing pixels (${sides[0].name} / ${sides[1].name}) | of |`);
console.log("|---|---|---|");
for (const page of ["loading", "launch-error", "sample-app"]) {
    const [a, b] = sides.map((s) => path.join(out, `${page}-${s.name}.png`));
    const r = spawnSync("compare", ["-metric", "AE", a, b, path.join(out, `${page}-difference.png`)], { encoding: "utf8" });
    const size = spawnSync("identify", ["-format", "%w×%h", a], { encoding: "utf8" }).stdout;
    console.log(`| ${page} | ${r.stderr.trim()} | ${size} |`);
}
console.log("");
console.log(`# screenshots and difference images: ${out}`);
fs.rmSync(path.join(workDir, "run"), { recursive: true, force: true });
