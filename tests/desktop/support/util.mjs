// Processes as the tests meet them: started, run or stopped by pid, read from /proc, waited for;
// and the app's fixed ports. The desktop suite and the service tests share these.
import { execFile, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import readline from 'node:readline';

export const APP_PORT = 3001;
export const VOICE_PORT = 6061;

// The bundle this run tests; ctest passes it, a manual run may fall back to the sources.
export const BUNDLE_DIR = process.env.LORVANE_BUNDLE_DIR
  ?? (process.env.LORVANE_BUILD_DIR ? path.join(process.env.LORVANE_BUILD_DIR, 'share/lorvane')
    : new URL('../../../resources', import.meta.url).pathname);

// Polls the outside world until `probe` returns something truthy; the deadline turns a hang into a
// failure that names what was awaited and what was seen last.
export async function waitFor(what, probe, { timeout = 10_000, interval = 100 } = {}) {
  const deadline = Date.now() + timeout;
  for (;;) {
    const last = await Promise.resolve().then(probe).catch((err) => err);
    if (last && !(last instanceof Error)) return last;
    if (Date.now() > deadline) throw new Error(`timed out after ${timeout} ms waiting for ${what} (last: ${last?.message ?? JSON.stringify(last)})`);
    await new Promise((resolve) => setTimeout(resolve, interval));
  }
}

export const portOpen = (port) => new Promise((resolve) => {
  const socket = net.connect({ host: '127.0.0.1', port });
  socket.once('connect', () => { socket.destroy(); resolve(true); });
  socket.once('error', () => resolve(false));
});

const portsFree = async (ports) => !(await Promise.all(ports.map(portOpen))).includes(true);

// The app's ports are fixed, so a leftover listener from an earlier test would be mistaken for
// this test's service: refuse to start instead.
export async function assertPortsFree(ports = [APP_PORT, VOICE_PORT]) {
  if (!(await portsFree(ports))) throw new Error(`a port of ${ports} is already taken; an earlier test left a process behind`);
}

export const waitPortsFree = (ports = [APP_PORT, VOICE_PORT], timeout = 5000) =>
  waitFor(`ports ${ports} to be free`, () => portsFree(ports), { timeout });

// Who a child runs as: options.as is the display lane's { uid, gid }, or absent for the test's own user.
const asUser = ({ as, ...options }) => (as ? { ...options, uid: as.uid, gid: as.gid } : options);

// Runs a command to its end: { code, stdout, stderr }, stdout as bytes with encoding 'buffer'.
export const run = (command, args, options = {}) => new Promise((resolve) => {
  execFile(command, args, { timeout: 20_000, maxBuffer: 64 << 20, ...asUser(options) }, (err, stdout, stderr) =>
    resolve({ code: err ? (err.code ?? 1) : 0, stdout, stderr: String(stderr) }));
});

// As run(), but a failure is an error that says what the command said, and the answer is its stdout.
export const runChecked = (command, args, options) => run(command, args, options).then(({ code, stdout, stderr }) => {
  if (code !== 0) throw new Error(`${command} ${args.join(' ')} failed: ${stderr.trim()}`);
  return stdout;
});

// A child this test started, its output kept for failure messages. ask(line) writes a line to a
// child started with stdin piped and resolves to the next line it prints, or says why none came.
export function startProcess(command, args, options = {}) {
  const child = spawn(command, args, { stdio: ['ignore', 'pipe', 'pipe'], ...asUser(options) });
  const output = { stdout: '', stderr: '' };
  for (const name of ['stdout', 'stderr']) child[name]?.on('data', (d) => { output[name] += d; });
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })).once('error', (error) => resolve({ error })));
  const lines = child.stdin && readline.createInterface({ input: child.stdout })[Symbol.asyncIterator]();
  // The timer also keeps the test process waiting for a child whose streams it does not hold open.
  const ask = async (line) => {
    if (line) child.stdin.write(`${line}\n`);
    let timer;
    const late = new Promise((resolve) => { timer = setTimeout(resolve, 20_000, { value: 'no answer within 20 s' }); });
    const ended = exited.then(() => ({ value: `${command} ended: ${output.stderr.trim()}` }));
    const { value } = await Promise.race([lines.next(), late, ended]);
    clearTimeout(timer);
    return value;
  };
  return { child, pid: child.pid, exited, stdout: () => output.stdout, stderr: () => output.stderr, ask };
}

// Ends one process we started, by its pid; SIGKILL only if it ignores the polite request.
export async function stopProcess(handle, { signal = 'SIGTERM', timeout = 5000 } = {}) {
  if (!handle || handle.child.exitCode !== null || handle.child.signalCode !== null) return handle?.exited;
  handle.child.kill(signal);
  const timer = setTimeout(() => handle.child.kill('SIGKILL'), timeout);
  return handle.exited.finally(() => clearTimeout(timer));
}

export const readText = (file, encoding = 'utf8') => { try { return fs.readFileSync(file, encoding); } catch { return ''; } };

// Neither gone nor a zombie; the state follows the command name, which may hold spaces.
export const isRunning = (pid) => /^[^ZX]/.test(readText(`/proc/${pid}/stat`).split(') ').at(-1));

// Running processes whose environment carries `marker` (name=value): everything an app started,
// found even after the app has gone.
export const processesWithMarker = (marker) => fs.readdirSync('/proc').filter((e) => /^\d+$/.test(e)).map(Number)
  .filter((pid) => pid !== process.pid && isRunning(pid))
  .filter((pid) => readText(`/proc/${pid}/environ`, 'latin1').split('\0').includes(marker));
