// The programs measured: the shell (and any other builds or variants of it), the floor, and the
// programs a user would pick instead, each as a command line that opens the page.
import { execFileSync, spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { URL_ } from "./environment.mjs";
import { shellBundle } from "./bundles.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));

export function which(cmd) {
    const r = spawnSync("sh", ["-c", `command -v ${cmd}`], { encoding: "utf8" });
    return r.status === 0 ? r.stdout.trim() : null;
}

function buildC(workDir, name, packages) {
    const out = path.join(workDir, name);
    const flags = execFileSync("pkg-config", ["--cflags", "--libs", ...packages], { encoding: "utf8" }).trim().split(/\s+/);
    execFileSync("gcc", ["-O2", "-o", out, path.join(here, `${name}.c`), ...flags], { stdio: "inherit" });
    return out;
}
const buildFloor = (workDir, name = "floor") => buildC(workDir, name, ["gtk4", "webkitgtk-6.0"]);

// With --steps: the preloaded library that notes when the contender reaches each start-up step.
export function buildStepsShim(workDir) {
    const out = path.join(workDir, "steps_shim.so");
    const flags = execFileSync("pkg-config", ["--cflags", "--libs", "gtk4", "webkitgtk-6.0", "libsoup-3.0"], { encoding: "utf8" }).trim().split(/\s+/);
    execFileSync("gcc", ["-O2", "-shared", "-fPIC", "-o", out, path.join(here, "steps_shim.c"), ...flags, "-ldl"], { stdio: "inherit" });
    return out;
}

// The watcher of the display that times first paint (first_frame.c).
export const buildFirstFrame = (workDir) => buildC(workDir, "first_frame", ["x11", "xdamage"]);

// How GDK is told to leave GL alone, as the shell does on a machine without a GPU: GDK_DEBUG up to
// GTK 4.14, GDK_DISABLE from 4.16.
function glOffSwitch() {
    const minor = Number(execFileSync("pkg-config", ["--modversion", "gtk4"], { encoding: "utf8" }).trim().split(".")[1]);
    return minor >= 16 ? { GDK_DISABLE: "gl" } : { GDK_DEBUG: "gl-disable" };
}

// Each contender: its name, `argv(runDir)`, extra environment, `shell` for builds of the shell and
// `resizeWindow` for programs that cannot be told their window size. `--only` picks by name.
export function contenders(workDir, opts) {
    const list = [];
    if (!opts.lorvane || !fs.existsSync(opts.lorvane)) throw new Error("no lorvane binary: pass --lorvane PATH or set LORVANE_BIN");
    for (const c of [{ name: "lorvane", bin: opts.lorvane }, ...opts.extra]) {
        const bin = shellBundle(workDir, c.name, c.bin || opts.lorvane);
        list.push({ name: c.name, shell: true, argv: () => [bin], env: c.env || {} });
    }
    // The shell with the real sample bundle: its own Node server on the port and its voice worker,
    // readiness included. Not a build of its own: no readiness runs, no ratios.
    const sample = shellBundle(workDir, "lorvane-sample", opts.lorvane, "sample");
    list.push({ name: "lorvane-sample", ownServer: true, argv: () => [sample] });
    const floor = buildFloor(workDir);
    list.push({ name: "floor-gl", argv: () => [floor, URL_] });
    list.push({ name: "floor-cairo", argv: () => [floor, URL_], env: { GSK_RENDERER: "cairo" } });
    // Both GTK and WebKit painting with the CPU: what the shell picks on a machine without a GPU.
    const cpu = { GSK_RENDERER: "cairo", WEBKIT_SKIA_ENABLE_CPU_RENDERING: "1" };
    list.push({ name: "floor-cpu", argv: () => [floor, URL_], env: cpu });
    // The same as a single-instance app with a menu bar, which is what the shell is (floor_app.c).
    const floorApp = buildFloor(workDir, "floor_app");
    list.push({ name: "floor-cpu-app", argv: () => [floorApp, URL_], env: cpu });
    // And with GL off in GDK too, which the shell also does there: WebKit then keeps its web process
    // off hardware acceleration. The floor of what the shell can reach on such a machine.
    const glOff = { ...cpu, ...glOffSwitch() };
    list.push({ name: "floor-gl-off", argv: () => [floor, URL_], env: glOff });
    list.push({ name: "floor-gl-off-app", argv: () => [floorApp, URL_], env: glOff });
    // Not a contender of the load rounds: the floor of the shell's last readiness step, told to
    // load the URL the moment the port listens.
    list.push({ name: "floor-navigate", navigateOnSignal: true, argv: () => [floor, "--on-usr1", URL_], env: glOff });
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
