// What a contender runs in: the display shared by every run, and per run a page server, fresh
// folders and a private session bus.
import { spawn } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { now, sleep, started, startProcess, endProcesses } from "./procs.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
export const PORT = 3001;
export const URL_ = `http://127.0.0.1:${PORT}/`;
const PAGE = fs.readFileSync(path.join(here, "page.html"));

// ---------- page server: one per run, holding the port only while a contender is measured ----------
export function pageServer() {
    const events = [];
    const waiters = [];
    const server = http.createServer((req, res) => {
        // `mono`: CLOCK_MONOTONIC in ms, the clock of the contenders' step notes (--steps).
        events.push({ t: now(), mono: Number(process.hrtime.bigint() / 1000n) / 1000, url: req.url, ua: req.headers["user-agent"] || "" });
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
    return {
        events,
        // Resolves with the time the port was bound.
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
}

function portFree() {
    return new Promise((resolve) => {
        const s = http.createServer();
        s.once("error", () => resolve(false));
        s.listen(PORT, "127.0.0.1", () => s.close(() => resolve(true)));
    });
}

// Other programs on this machine may use the port between runs; wait for it rather than fight.
export async function waitPortFree() {
    const deadline = now() + 120000;
    while (!(await portFree())) {
        if (now() > deadline) throw new Error(`port ${PORT} stayed busy for 2 minutes`);
        await sleep(500);
    }
}

// ---------- the display, shared by every run ----------
export async function startXvfb(workDir) {
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

// ---------- per run: folders, environment and session bus ----------
export function runEnv(runDir, display, marker, extraEnv) {
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

export async function startBus(env, runDir) {
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
export async function warmBus(env, runDir) {
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
