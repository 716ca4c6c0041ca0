// The X display as a user meets it: windows, keys, the clipboard and screenshots.
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { run, waitFor } from './util.mjs';

export const SHOT_DIR = process.env.LORVANE_E2E_SHOTS ?? '/tmp/lorvane-e2e-shots';

export function requireDisplay() {
  if (!process.env.DISPLAY) throw new Error('no DISPLAY: run the desktop tests under xvfb-run (ctest does)');
}

async function xdotool(args) {
  const result = await run('xdotool', args, { timeout: 10_000 });
  return result.code === 0 ? result.stdout.trim() : '';
}

// Visible top-level windows of one process, found through _NET_WM_PID.
export async function windowsOf(pid) {
  const out = await xdotool(['search', '--onlyvisible', '--pid', String(pid)]);
  return out ? out.split('\n').map(Number) : [];
}

export async function windowsNamed(pattern) {
  const out = await xdotool(['search', '--onlyvisible', '--name', pattern]);
  return out ? out.split('\n').map(Number) : [];
}

export async function windowName(id) {
  return xdotool(['getwindowname', String(id)]);
}

// The sizes of the icon the window hands the window manager, e.g. ['16x16', '48x48'].
export async function windowIconSizes(id) {
  const { stdout } = await run('xprop', ['-id', String(id), '_NET_WM_ICON']);
  return [...stdout.matchAll(/Icon \((\d+) x (\d+)\)/g)].map((m) => `${m[1]}x${m[2]}`);
}

export async function windowGeometry(id) {
  const out = await xdotool(['getwindowgeometry', '--shell', String(id)]);
  return Object.fromEntries(out.split('\n').filter(Boolean).map((line) => {
    const [k, v] = line.split('=');
    return [k, Number(v)];
  }));
}

// Without a window manager X gives the keyboard to the window under the pointer, so point at
// the window as well as asking for focus.
export async function focusWindow(id) {
  const g = await windowGeometry(id);
  await xdotool(['mousemove', String(g.X + Math.floor(g.WIDTH / 2)), String(g.Y + Math.floor(g.HEIGHT / 2))]);
  await xdotool(['windowfocus', String(id)]);
}

// With a window manager, focus only sticks once it manages the window; ask until it does.
export async function focusManagedWindow(id) {
  await waitFor('the window manager to focus the window', async () => {
    if (!(await stackingOrder()).includes(id)) return false;
    await focusWindow(id);
    return Number(await xdotool(['getwindowfocus'])) === id;
  }, { timeout: 10_000, interval: 200 });
}

export async function key(...keys) {
  const result = await run('xdotool', ['key', '--delay', '60', ...keys], { timeout: 10_000 });
  if (result.code !== 0) throw new Error(`xdotool key ${keys.join(' ')} failed: ${result.stderr}`);
}

export async function clipboard() {
  const result = await run('xclip', ['-o', '-selection', 'clipboard'], { timeout: 5_000 });
  return result.code === 0 ? result.stdout : '';
}

// Selects everything in the focused window and copies it, as a user would to quote a page.
export async function copyAllText(windowId) {
  if (windowId) await focusWindow(windowId);
  await key('ctrl+a', 'ctrl+c');
  return clipboard();
}

export async function waitForText(description, windowId, predicate, timeout = 20_000) {
  return waitFor(description, async () => {
    const text = await copyAllText(windowId);
    return predicate(text) ? text : false;
  }, { timeout, interval: 300 });
}

async function screenHash() {
  const result = await run('import', ['-window', 'root', '-depth', '8', 'rgb:-'], { timeout: 20_000, encoding: 'buffer', maxBuffer: 64 * 1024 * 1024 });
  return crypto.createHash('sha1').update(result.stdout).digest('hex');
}

// Software rendering draws a change a few frames late: the picture is taken once the screen
// has stopped changing, or after a few seconds in any case.
export async function screenshot(name) {
  fs.mkdirSync(SHOT_DIR, { recursive: true });
  const file = path.join(SHOT_DIR, `${name}.png`);
  const deadline = Date.now() + 5000;
  let previous = await screenHash();
  while (Date.now() < deadline) {
    await new Promise((resolve) => setTimeout(resolve, 250));
    const current = await screenHash();
    if (current === previous) break;
    previous = current;
  }
  const result = await run('import', ['-window', 'root', file], { timeout: 20_000 });
  if (result.code !== 0) throw new Error(`screenshot ${name} failed: ${result.stderr}`);
  return file;
}

// The stacking order the window manager publishes, bottom first.
export async function stackingOrder() {
  const result = await run('xprop', ['-root', '_NET_CLIENT_LIST_STACKING']);
  const ids = result.stdout.split('#')[1] ?? '';
  return ids.split(',').map((s) => s.trim()).filter(Boolean).map((s) => Number.parseInt(s, 16));
}

export async function windowManagerRunning() {
  const result = await run('xprop', ['-root', '_NET_SUPPORTING_WM_CHECK']);
  return result.code === 0 && /window id/.test(result.stdout);
}

// The average colour of a screen area, as [r, g, b] in 0..255.
export async function areaColour(x, y, width = 32, height = 32) {
  const result = await run('convert', ['x:root', '-crop', `${width}x${height}+${x}+${y}`, '-scale', '1x1!', '-depth', '8', 'txt:-'], { timeout: 20_000 });
  const match = /\((\d+),(\d+),(\d+)/.exec(result.stdout.split('\n')[1] ?? '');
  return match ? match.slice(1, 4).map(Number) : null;
}

// Software rendering can take seconds for a first frame; wait until the area shows the colour.
export async function waitForColour(description, x, y, rgb, timeout = 20_000) {
  return waitFor(description, async () => {
    const seen = await areaColour(x, y);
    return seen && seen.every((c, i) => Math.abs(c - rgb[i]) <= 6) ? seen : false;
  }, { timeout, interval: 300 });
}
