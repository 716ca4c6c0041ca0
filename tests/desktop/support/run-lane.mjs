// Runs a command on a display lane of its own: node run-lane.mjs x11|wayland -- command [argument...]
//
// Starts the lane's display (a private Xvfb, or sway's headless backend as an unprivileged user),
// runs the command with the environment that reaches it, and stops the display when the command
// is done. Exits with the command's status, or 77 (ctest's skip) with the reason on stderr where
// this machine cannot run the lane.
import { spawn } from 'node:child_process';
import os from 'node:os';
import { startX11Lane } from './lane-x11.mjs';
import { startWaylandLane } from './lane-wayland.mjs';

const SKIPPED = 77;
const starters = { x11: startX11Lane, wayland: startWaylandLane };

const [name, separator, command, ...args] = process.argv.slice(2);
if (!starters[name] || separator !== '--' || !command) {
  process.stderr.write('usage: node run-lane.mjs x11|wayland -- command [argument...]\n');
  process.exit(2);
}

let started;
try {
  started = await starters[name]();
} catch (err) {
  process.stderr.write(`run-lane: the ${name} lane did not start: ${err.message}\n`);
  process.exit(1);
}
if (started.skip) {
  process.stderr.write(`run-lane: SKIPPED, this machine cannot run the ${name} lane: ${started.skip}\n`);
  process.exit(SKIPPED);
}

const env = { ...process.env, ...started.env };
for (const variable of started.unset) delete env[variable];
const child = spawn(command, args, { stdio: 'inherit', env });
// ctest and a user at the terminal stop the run through us; the command must hear it too.
for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) process.on(signal, () => child.kill(signal));
const status = await new Promise((resolve) => {
  child.once('exit', (code, signal) => resolve(code ?? 128 + os.constants.signals[signal]));
  child.once('error', (err) => {
    process.stderr.write(`run-lane: cannot start ${command}: ${err.message}\n`);
    resolve(127);
  });
});
await started.stop();
process.exit(status);
