// Processes as the desktop tests meet them: started, run or stopped by pid, read from /proc, waited for.
import { execFile, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import readline from 'node:readline';

export const APP_PORTS = [3001, 6061];

// Polls the outside world until `probe` returns something truthy; the deadline turns a hang into a
// failure that names what was awaited and what was seen last.
export async function waitFor(what, probe, { timeout = 10_000, interval = 100 } = {}) {
  const deadline = Date.now() + timeout;
  for (;;) {
    let last;
    try {
      last = await probe();
    } catch (err) {
      last = err;
    }
    if (last && !(last instanceof Error)) return last;
    if (Date.now() > deadline) {
      throw new Error(`timed out after ${timeout} ms waiting for ${what} (last: ${last?.message ?? JSON.stringify(last)})`);
    }
    await new Promise((resolve) => setTimeout(resolve, interval));
  }
}

// Who a child runs as: `user` is the display lane's { uid, gid }, or null for the test's own.
const as = (user) => (user ? { uid: user.uid, gid: user.gid } : {});

// Runs a command to its end: { code, stdout, stderr }, stdout as bytes with `binary`.
export function run(command, args, { user, binary, ...options } = {}) {
  const settings = { timeout: 20_000, maxBuffer: 64 << 20, encoding: binary ? 'buffer' : 'utf8', ...as(user), ...options };
  return new Promise((resolve) => {
    execFile(command, args, settings, (err, stdout, stderr) => resolve({ code: err ? err.code ?? 1 : 0, stdout, stderr: String(stderr) }));
  });
}

// As run(), but a failure is an error that says what the command said.
export async function runChecked(command, args, options) {
  const result = await run(command, args, options);
  if (result.code !== 0) throw new Error(`${command} ${args.join(' ')} failed: ${result.stderr.trim()}`);
  return result.stdout;
}

// A child this test started, its output kept for failure messages. ask(line) writes a line to a
// child started with stdin piped and resolves to the next line it prints.
export function start(command, args, { user, ...options } = {}) {
  const child = spawn(command, args, { stdio: ['ignore', 'pipe', 'pipe'], ...as(user), ...options });
  const out = { stdout: '', stderr: '' };
  child.stdout?.on('data', (d) => { out.stdout += d; });
  child.stderr?.on('data', (d) => { out.stderr += d; });
  const exited = new Promise((resolve) => {
    child.once('exit', (code, signal) => resolve({ code, signal }));
    child.once('error', (error) => resolve({ code: null, signal: null, error }));
  });
  const lines = child.stdin && readline.createInterface({ input: child.stdout })[Symbol.asyncIterator]();
  const ask = async (line) => {
    if (line) child.stdin.write(`${line}\n`);
    let timer;
    const late = new Promise((resolve) => { timer = setTimeout(resolve, 20_000, { value: 'no answer within 20 s' }); });
    const ended = exited.then(() => ({ value: `${command} ended: ${out.stderr.trim()}` }));
    try {
      return (await Promise.race([lines.next(), late, ended])).value;
    } finally {
      clearTimeout(timer);
    }
  };
  return { child, pid: child.pid, exited, out, ask };
}

// Ends a child of ours by its pid: SIGTERM, then SIGKILL should it still run `timeout` ms later.
export async function stop(handle, timeout = 5000) {
  if (!handle || handle.child.exitCode !== null || handle.child.signalCode !== null) return handle?.exited;
  handle.child.kill('SIGTERM');
  const timer = setTimeout(() => handle.child.kill('SIGKILL'), timeout);
  await handle.exited;
  clearTimeout(timer);
  return handle.exited;
}

const read = (file, encoding = 'utf8') => {
  try {
    return fs.readFileSync(file, encoding);
  } catch {
    return null;
  }
};

// 'running', 'zombie' or 'gone'; the state follows the command name, which may hold spaces.
export function processState(pid) {
  const stat = read(`/proc/${pid}/stat`);
  if (!stat) return 'gone';
  return /^[ZX]/.test(stat.slice(stat.lastIndexOf(')') + 2)) ? 'zombie' : 'running';
}

export const residentKiB = (pid) => Number(/VmRSS:\s+(\d+)/.exec(read(`/proc/${pid}/status`) ?? '')?.[1] ?? 0);

// Running processes whose environment carries `marker` (name=value): everything an app started,
// found even after the app has gone.
export const processesWithMarker = (marker) => fs.readdirSync('/proc').filter((e) => /^\d+$/.test(e)).map(Number)
  .filter((pid) => pid !== process.pid && processState(pid) === 'running')
  .filter((pid) => (read(`/proc/${pid}/environ`, 'latin1') ?? '').split('\0').includes(marker));

const portOpen = (port) => new Promise((resolve) => {
  const socket = net.connect({ host: '127.0.0.1', port });
  socket.once('connect', () => { socket.destroy(); resolve(true); });
  socket.once('error', () => resolve(false));
});

export const waitPortsFree = (ports = APP_PORTS, timeout = 5000) => waitFor(`ports ${ports} to be free`, async () => {
  for (const port of ports) if (await portOpen(port)) return false;
  return true;
}, { timeout });
