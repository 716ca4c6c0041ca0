// The programs measured: the shell (and any other builds or variants of it), the floor, and the
// programs a user would pick instead, each as a command line that opens the page.
import { execFileSync, spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { URL_ } from "./environment.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));

export function which(cmd) {
    const r = spawnSync("sh", ["-c", `command -v ${cmd}`], { encoding: "utf8" });
    return r.status === 0 ? r.stdout.trim() : null;
}

// A copy of the shell with its icons, whose bundled server steps aside (the harness already serves
// the page) and with no voice worker, which the shell tolerates.
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
    // The icons the build laid out beside its binary, as an installed shell has them.
    const icons = path.join(path.dirname(bin), "../share/icons");
    if (fs.existsSync(icons)) fs.cpSync(icons, path.join(root, "share/icons"), { recursive: true });
    return path.join(root, "bin/lorvane");
}

function buildFloor(workDir, name = "floor") {
    const out = path.join(workDir, name);
    const flags = execFileSync("pkg-config", ["--cflags", "--libs", "gtk4", "webkitgtk-6.0"], { encoding: "utf8" }).trim().split(/\s+/);
    execFileSync("gcc", ["-O2", "-o", out, path.join(here, `${name}.c`), ...flags], { stdio: "inherit" });
    return out;
}

// Each contender: its name, `argv(runDir)`, extra environment, `shell` for builds of the shell and
// `resizeWindow` for programs that cannot be told their window size. `--only` picks by name.
export function contenders(workDir, opts) {
    const list = [];
    if (!opts.lorvane || !fs.existsSync(opts.lorvane)) throw new Error("no lorvane binary: pass --lorvane PATH or set LORVANE_BIN");
    for (const c of [{ name: "lorvane", bin: opts.lorvane }, ...opts.extra]) {
        const bin = benchBundle(workDir, c.name, c.bin || opts.lorvane);
        list.push({ name: c.name, shell: true, argv: () => [bin], env: c.env || {} });
    }
    const floor = buildFloor(workDir);
    list.push({ name: "floor-gl", argv: () => [floor, URL_] });
    list.push({ name: "floor-cairo", argv: () => [floor, URL_], env: { GSK_RENDERER: "cairo" } });
    // Both GTK and WebKit painting with the CPU: what the shell picks on a machine without a GPU.
    const cpu = { GSK_RENDERER: "cairo", WEBKIT_SKIA_ENABLE_CPU_RENDERING: "1" };
    list.push({ name: "floor-cpu", argv: () => [floor, URL_], env: cpu });
    // The same as a single-instance app with a menu bar, which is what the shell is (floor_app.c).
    const floorApp = buildFloor(workDir, "floor_app");
    list.push({ name: "floor-cpu-app", argv: () => [floorApp, URL_], env: cpu });
    // Not a contender of the load rounds: the floor of the shell's last readiness step, told to
    // load the URL the moment the port listens.
    list.push({ name: "floor-navigate", navigateOnSignal: true, argv: () => [floor, "--on-usr1", URL_], env: cpu });
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
