// The display as a user meets it, on this run's lane (X11 or Wayland): windows, keys, the clipboard, the screen.
//
// A lane is started by support/run-lane.mjs around the test file; these functions reach it the
// same way on both lanes, so one test body serves both.
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { X11Lane } from './lane-x11.mjs';
import { WaylandLane } from './lane-wayland.mjs';
import { waitFor } from './util.mjs';

let current = null;

// This run's lane; its kind comes from the lane runner's LORVANE_LANE.
export function lane() {
  if (current) return current;
  const kind = process.env.LORVANE_LANE ?? (process.env.DISPLAY ? 'x11' : '');
  if (kind === 'x11' && process.env.DISPLAY) current = new X11Lane();
  else if (kind === 'wayland' && process.env.WAYLAND_DISPLAY) current = new WaylandLane();
  else throw new Error('no display lane: run the desktop tests through support/run-lane.mjs (ctest does)');
  return current;
}

export const requireDisplay = () => lane();

export const SHOT_DIR = process.env.LORVANE_E2E_SHOTS ?? '/tmp/lorvane-e2e-shots';

export const windowsOf = (pid) => lane().windowsOf(pid);
export const windowsNamed = (pattern) => lane().windowsNamed(pattern);
export const windowName = (id) => lane().windowName(id);
export const windowGeometry = (id) => lane().windowGeometry(id);
export const windowIconSizes = (id) => lane().windowIconSizes(id);
export const windowAppId = (id) => lane().windowAppId(id);
export const resizeWindow = (id, width, height) => lane().resize(id, width, height);
export const focusWindow = (id) => lane().focus(id);
export const focusedWindow = () => lane().focused();
export const stackingOrder = () => lane().stackingOrder();
export const windowManagerRunning = () => lane().windowManagerRunning();
export const key = (...chords) => lane().key(...chords);
export const typeText = (text) => lane().type(text);
export const clipboard = () => lane().clipboard();
export const coverWindow = (size) => lane().coverWindow(size);

// A screen of another size for one test, back to 1920 x 1080 at its end.
export async function screenSizeForTest(t, width, height) {
  t.after(() => lane().setScreenSize(1920, 1080));
  await lane().setScreenSize(width, height);
}

// The keyboard layout for one test, as a person sets it on the desktop, back to "us" at its end.
export async function keyboardLayoutForTest(t, layout) {
  t.after(() => lane().setKeyboardLayout({}));
  await lane().setKeyboardLayout(layout);
}

// With a window manager, focus only sticks once it manages the window; ask until it does.
export async function focusManagedWindow(id) {
  await waitFor('the window manager to focus the window', async () => {
    if (!(await stackingOrder()).includes(id)) return false;
    await focusWindow(id);
    return (await focusedWindow()) === id;
  }, { timeout: 10_000, interval: 200 });
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

// A binary PPM (P6, 8 bits) as { width, height, pixels }.
function parsePpm(buffer) {
  const header = /^P6\s+(\d+)\s+(\d+)\s+(\d+)\s/.exec(buffer.subarray(0, 64).toString('latin1'));
  if (!header) throw new Error('not a binary PPM image');
  return { width: Number(header[1]), height: Number(header[2]), pixels: buffer.subarray(header[0].length) };
}

// Software rendering draws a change a few frames late: the picture is taken once the screen
// has stopped changing, or after a few seconds in any case.
export async function screenshot(name) {
  const hash = async () => crypto.createHash('sha1').update(await lane().screenPpm()).digest('hex');
  const deadline = Date.now() + 5000;
  let previous = await hash();
  while (Date.now() < deadline) {
    await new Promise((resolve) => setTimeout(resolve, 250));
    const now = await hash();
    if (now === previous) break;
    previous = now;
  }
  const dir = path.join(SHOT_DIR, lane().name);
  fs.mkdirSync(dir, { recursive: true });
  const file = path.join(dir, `${name}.png`);
  fs.writeFileSync(file, await lane().screenshotPng());
  return file;
}

// The average colour of a screen area, as [r, g, b] in 0..255.
export async function areaColour(x, y, width = 32, height = 32) {
  const { pixels } = parsePpm(await lane().screenPpm({ x, y, width, height }));
  const sum = [0, 0, 0];
  for (let i = 0; i + 2 < pixels.length; i += 3) for (let c = 0; c < 3; c += 1) sum[c] += pixels[i + c];
  const count = Math.max(1, Math.floor(pixels.length / 3));
  return sum.map((s) => Math.round(s / count));
}

// Software rendering can take seconds for a first frame; wait until the area (a square of `size`
// pixels from x, y) shows the colour.
export async function waitForColour(description, x, y, rgb, timeout = 20_000, size = 32) {
  return waitFor(description, async () => {
    const seen = await areaColour(x, y, size, size);
    return seen.every((c, i) => Math.abs(c - rgb[i]) <= 6) ? seen : false;
  }, { timeout, interval: 300 });
}
