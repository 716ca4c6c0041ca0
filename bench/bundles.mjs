// Copies of the shell laid out as an installed app (the binary, its icons, share/lorvane with a
// Node runtime), each with the services a measurement needs.
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";

const repo = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "..");

// What share/lorvane holds besides the runtime:
//   "steps-aside"  a server script that exits at once (the harness serves the page), no voice worker
//   "silent"       a server that never listens: the loading page stays until the time limit, then
//                  the launch-error page shows
//   "sample"       the real sample bundle from resources/: runtime wrapper, server and voice worker
const SERVERS = {
    "steps-aside": "// Steps aside: the benchmark's own server answers on the port.\n",
    silent: "// Never listens: the shell shows its loading page, then its launch-error page.\nsetInterval(() => {}, 1 << 30);\n",
};

export function shellBundle(workDir, name, bin, services = "steps-aside") {
    const root = path.join(workDir, `bundle-${name}`);
    fs.rmSync(root, { recursive: true, force: true });
    fs.mkdirSync(path.join(root, "bin"), { recursive: true });
    fs.copyFileSync(bin, path.join(root, "bin/lorvane"));
    fs.chmodSync(path.join(root, "bin/lorvane"), 0o755);
    const share = path.join(root, "share/lorvane");
    fs.mkdirSync(path.join(share, "runtime"), { recursive: true });
    if (services === "sample") {
        // The bundle as shipped, its runtime wrapper (which finds the machine's node) included.
        for (const dir of ["runtime", "server", "voice-worker"]) fs.cpSync(path.join(repo, "resources", dir), path.join(share, dir), { recursive: true });
    } else {
        fs.symlinkSync(process.execPath, path.join(share, "runtime/node"));
        fs.mkdirSync(path.join(share, "server"), { recursive: true });
        fs.writeFileSync(path.join(share, "server/server.mjs"), SERVERS[services]);
    }
    // The icons the build laid out beside its binary, as an installed shell has them.
    const icons = path.join(path.dirname(bin), "../share/icons");
    if (fs.existsSync(icons)) fs.cpSync(icons, path.join(root, "share/icons"), { recursive: true });
    return path.join(root, "bin/lorvane");
}

// The sample server's log in a run's state folder; each line starts with an ISO time.
export const sampleServerLog = (env) => path.join(env.XDG_STATE_HOME, "Lorvane/server.log");

// Wall-clock milliseconds of every line of the sample server's log matching `pattern`.
export function sampleLogTimes(env, pattern) {
    let text;
    try {
        text = fs.readFileSync(sampleServerLog(env), "utf8");
    } catch {
        return [];
    }
    return text
        .split("\n")
        .filter((l) => pattern.test(l))
        .map((l) => Date.parse(l.slice(0, l.indexOf(" "))));
}

export const sampleLogTime = (env, pattern) => sampleLogTimes(env, pattern)[0] ?? null;
