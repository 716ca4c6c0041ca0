// Process, port and polling helpers shared by the desktop tests.
import { spawn, execFile } from 'node:child_process';
import net from 'node:net';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const APP_PORT = 3001;
export const VOICE_PORT = 6061;

const here = path.dirname(fileURLToPath(import.meta.url));
export const SOURCE_DIR = path.resolve(here, '../../..');

// The build tree this run tests; ctest passes it, a manual run may fall back to the sources.
export const BUILD_DIR = process.env.LORVANE_BUILD_DIR ?? '';
export const BUNDLE_DIR = process.env.LORVANE_BUNDLE_DIR
  ?? (BUILD_DIR ? path.join(BUILD_DIR, 'share/lorvane') : path.join(SOURCE_DIR, 'resources'));

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls the outside world until `probe` returns something truthy; the deadline turns a hang into
// a failure that names what was awaited and the last thing seen.
export async function waitFor(description, probe, { timeout = 10_000, interval = 100 } = {}) {
  const deadline = Date.now() + timeout;
  let last;
  for (;;) {
    try {
      last = await probe();
      if (last) return last;
    } catch (err) {
      last = err;
    }
    if (Date.now() > deadline) {
      const seen = last instanceof Error ? last.message : JSON.stringify(last);
      throw new Error(`timed out after ${timeout} ms waiting for ${description} (last: ${seen})`);
    }
    await sleep(interval);
  }
}

export function portOpen(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    socket.once('connect', () => { socket.destroy(); resolve(true); });
    socket.once('error', () => resolve(false));
  });
}

// The app's ports are fixed, so a leftover listener from an earlier test would be mistaken for
// this test's service: refuse to start instead.
export async function assertPortsFree(ports = [APP_PORT, VOICE_PORT]) {
  for (const port of ports) {
    if (await portOpen(port)) throw new Error(`port ${port} is already taken; an earlier test left a process behind`);
  }
}

export async function waitPortsFree(ports = [APP_PORT, VOICE_PORT], timeout = 5000) {
  await waitFor(`ports ${ports.join(', ')} to be free`, async () => {
    for (const port of ports) if (await portOpen(port)) return false;
    return true;
  }, { timeout });
}

// Who a child runs as: options.as = { uid, gid } (the display lane's user), or the test's own user.
function asUser({ as, ...options }) {
  return as ? { ...options, uid: as.uid, gid: as.gid } : options;
}

// A child process this test started, with its output kept for failure messages.
export function startProcess(command, args, options = {}) {
  const child = spawn(command, args, { stdio: ['ignore', 'pipe', 'pipe'], ...asUser(options) });
  let stdout = '';
  let stderr = '';
  child.stdout?.on('data', (d) => { stdout += d; });
  child.stderr?.on('data', (d) => { stderr += d; });
  const exited = new Promise((resolve) => {
    child.once('exit', (code, signal) => resolve({ code, signal }));
    child.once('error', (err) => resolve({ code: null, signal: null, error: err }));
  });
  return { child, pid: child.pid, exited, stdout: () => stdout, stderr: () => stderr };
}

// Ends one process we started, by its pid; SIGKILL only if it ignores the polite request.
export async function stopProcess(handle, { signal = 'SIGTERM', timeout = 5000 } = {}) {
  if (!handle || handle.child.exitCode !== null || handle.child.signalCode !== null) return handle?.exited;
  try { process.kill(handle.pid, signal); } catch { return handle.exited; }
  const timer = new Promise((resolve) => setTimeout(resolve, timeout, 'timeout'));
  if ((await Promise.race([handle.exited, timer])) === 'timeout') {
    try { process.kill(handle.pid, 'SIGKILL'); } catch { /* already gone */ }
  }
  return handle.exited;
}

export function run(command, args, options = {}) {
  return new Promise((resolve) => {
    execFile(command, args, { timeout: 20_000, ...asUser(options) }, (err, stdout, stderr) => {
      const text = options.encoding === 'buffer' ? stdout : String(stdout);
      resolve({ code: err ? (err.code ?? 1) : 0, stdout: text, stderr: String(stderr) });
    });
  });
}

export function readJson(file) {
  try {
    return JSON.parse(fs.readFileSync(file, 'utf8'));
  } catch {
    return null;
  }
}
