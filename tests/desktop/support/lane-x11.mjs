// The X11 lane: a private Xvfb, openbox where a window manager is wanted, xdotool, xclip and ImageMagick.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { BUILD_DIR, run, startProcess, stopProcess, waitFor } from './util.mjs';

// One Xvfb on display `number`, or null when another server holds that number. The server takes
// the number's lock file itself, atomically, and writes the number to descriptor 3 once it
// accepts clients. (-displayfd alone would pick a number by the sockets it can bind, and in a
// private network namespace that test cannot see another run's abstract socket, so two runs can
// end up on one number.) Without -noreset the server starts afresh whenever its last client
// leaves, refusing the next app that connects meanwhile.
async function startXvfb(number, size) {
  const server = spawn('Xvfb', [`:${number}`, '-displayfd', '3', '-screen', '0', `${size}x24`, '-nolisten', 'tcp', '-noreset'],
    { stdio: ['ignore', 'ignore', 'pipe', 'pipe'] });
  let stderr = '';
  server.stderr.on('data', (d) => { stderr += d; });
  const ready = await new Promise((resolve, reject) => {
    server.stdio[3].on('data', () => resolve(true));
    server.once('error', reject);
    server.once('exit', () => resolve(false));
  });
  if (ready) return server;
  if (/already active|lock/i.test(stderr)) return null;
  throw new Error(`Xvfb :${number} exited before it took clients: ${stderr.trim().split('\n').slice(-3).join(' / ')}`);
}

// Starts the display for one test run, on the first free number from one picked by process id,
// away from the numbers other programs start at.
export async function startX11Lane(size = '1920x1080') {
  const first = 200 + (process.pid % 500);
  for (let number = first; number < first + 100; number += 1) {
    const server = await startXvfb(number, size);
    if (!server) continue;
    const exited = new Promise((resolve) => server.once('exit', resolve));
    return {
      env: { LORVANE_LANE: 'x11', DISPLAY: `:${number}` },
      unset: ['WAYLAND_DISPLAY'],
      stop: () => stopProcess({ child: server, pid: server.pid, exited }),
    };
  }
  throw new Error(`no free display number from :${first} on`);
}

const KEYBOARD = path.join(process.env.LORVANE_DESKTOP_HELPERS ?? path.join(BUILD_DIR, 'tests/desktop'), 'lorvane_x11_keyboard');

async function xdotool(args) {
  const result = await run('xdotool', args, { timeout: 10_000 });
  return result.code === 0 ? result.stdout.trim() : '';
}

const ids = (out) => (out ? out.split('\n').map(Number) : []);

export class X11Lane {
  name = 'x11';

  // Who runs the app and the tools: the test's own user.
  user = null;

  // openbox raises the window it gives the focus to.
  raisesActivatedWindows = true;

  // The accessibility bus of the app before publishes its address on the root window, which
  // outlives it on a server that is never reset; an app that found the dead address there would
  // talk to no bus at all.
  async prepareLaunch() {
    await run('xprop', ['-root', '-remove', 'AT_SPI_BUS']);
  }

  async windowsOf(pid) {
    return ids(await xdotool(['search', '--onlyvisible', '--pid', String(pid)]));
  }

  async windowsNamed(pattern) {
    return ids(await xdotool(['search', '--onlyvisible', '--name', pattern]));
  }

  async windowName(id) {
    return xdotool(['getwindowname', String(id)]);
  }

  async windowGeometry(id) {
    const out = await xdotool(['getwindowgeometry', '--shell', String(id)]);
    return Object.fromEntries(out.split('\n').filter(Boolean).map((line) => {
      const [k, v] = line.split('=');
      return [k, Number(v)];
    }));
  }

  // The sizes of the icon the window hands the window manager, e.g. ['16x16', '48x48'].
  async windowIconSizes(id) {
    const { stdout } = await run('xprop', ['-id', String(id), '_NET_WM_ICON']);
    return [...stdout.matchAll(/Icon \((\d+) x (\d+)\)/g)].map((m) => `${m[1]}x${m[2]}`);
  }

  // X11 has no app id; the window manager groups windows by WM_CLASS instead.
  async windowAppId() {
    return null;
  }

  async resize(id, width, height) {
    await run('xdotool', ['windowsize', String(id), String(width), String(height)]);
  }

  // Without a window manager X gives the keyboard to the window under the pointer, so point at
  // the window as well as asking for focus.
  async focus(id) {
    const g = await this.windowGeometry(id);
    await xdotool(['mousemove', String(g.X + Math.floor(g.WIDTH / 2)), String(g.Y + Math.floor(g.HEIGHT / 2))]);
    await xdotool(['windowfocus', String(id)]);
  }

  async focused() {
    return Number(await xdotool(['getwindowfocus']));
  }

  // The stacking order the window manager publishes, bottom first.
  async stackingOrder() {
    const result = await run('xprop', ['-root', '_NET_CLIENT_LIST_STACKING']);
    const list = result.stdout.split('#')[1] ?? '';
    return list.split(',').map((s) => s.trim()).filter(Boolean).map((s) => Number.parseInt(s, 16));
  }

  // A window manager names a window of its own on the root window; the name outlives a window
  // manager that has quit (the server is never reset), the window does not.
  async windowManagerRunning() {
    const result = await run('xprop', ['-root', '_NET_SUPPORTING_WM_CHECK']);
    const id = /window id # (0x[0-9a-f]+)/.exec(result.stdout)?.[1];
    return Boolean(id) && (await run('xprop', ['-id', id, '_NET_SUPPORTING_WM_CHECK'])).code === 0;
  }

  // openbox with a private configuration folder; returns its handle, to be stopped by the caller.
  // Seen once in a while on a loaded machine: openbox quits at start with status 1 and no
  // message. A second start has always worked.
  async startWindowManager() {
    if (await this.windowManagerRunning()) throw new Error('a window manager is already running on this display');
    const home = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-wm-'));
    for (let attempt = 1; ; attempt += 1) {
      const wm = startProcess('openbox', ['--sm-disable'], { env: { ...process.env, HOME: home, XDG_CONFIG_HOME: home } });
      wm.exited.then(() => fs.rmSync(home, { recursive: true, force: true }));
      try {
        await waitFor('openbox to manage the display', async () => {
          if (wm.child.exitCode !== null) throw Object.assign(new Error(`openbox exited (${wm.child.exitCode}): ${wm.stdout()}${wm.stderr()}`), { exited: true });
          return this.windowManagerRunning();
        }, { timeout: 20_000 });
        return wm;
      } catch (err) {
        await stopProcess(wm);
        if (wm.child.exitCode === null || attempt === 3) throw err;
        process.stderr.write(`# ${err.message.split('\n')[0]}; starting it again\n`);
      }
    }
  }

  // Chords of keysym names (ctrl+q, alt+shift+v, F10) or of X keycodes (64+50+55), pressed
  // through XTEST, so the X server applies its own keymap as it does to a keyboard's keys.
  // Keycodes go through a helper of ours: xdotool locks the first layout group around every key.
  async key(...chords) {
    const byKeycode = chords.every((chord) => /^\d+(\+\d+)*$/.test(chord));
    const [program, args] = byKeycode ? [KEYBOARD, chords] : ['xdotool', ['key', '--delay', '60', ...chords]];
    const result = await run(program, args, { timeout: 10_000 });
    if (result.code !== 0) throw new Error(`pressing ${chords.join(' ')} failed: ${result.stderr}`);
  }

  // `group` locks a layout group (from 0), as a layout switcher does.
  async setKeyboardLayout({ layout = 'us', variant = '', options = '', group = 0 } = {}) {
    const result = await run('setxkbmap', ['-layout', layout, '-variant', variant, '-option', '', '-option', options]);
    if (result.code !== 0) throw new Error(`setxkbmap ${layout} ${options} failed: ${result.stderr}`);
    const locked = await run(KEYBOARD, ['--group', String(group)]);
    if (locked.code !== 0) throw new Error(`locking layout group ${group} failed: ${locked.stderr}`);
  }

  // Whether the window manager has minimised the window (ICCCM's iconic state).
  async minimized(id) {
    return /window state: Iconic/.test((await run('xprop', ['-id', String(id), 'WM_STATE'])).stdout);
  }

  async restore(id) {
    await xdotool(['windowactivate', String(id)]);
    await waitFor('the window to be restored', async () => !(await this.minimized(id)));
  }

  async type(text) {
    await run('xdotool', ['type', '--delay', '40', text], { timeout: 30_000 });
  }

  async clipboard() {
    const result = await run('xclip', ['-o', '-selection', 'clipboard'], { timeout: 5_000 });
    return result.code === 0 ? result.stdout : '';
  }

  // The screen, or an area of it, as a binary PPM image.
  async screenPpm(area) {
    const crop = area ? ['-crop', `${area.width}x${area.height}+${area.x}+${area.y}`, '+repage'] : [];
    const result = await run('convert', ['x:root', ...crop, '-depth', '8', 'ppm:-'], { timeout: 20_000, encoding: 'buffer', maxBuffer: 64 * 1024 * 1024 });
    if (result.code !== 0) throw new Error(`reading the screen failed: ${result.stderr}`);
    return result.stdout;
  }

  async screenshotPng() {
    const result = await run('import', ['-window', 'root', 'png:-'], { timeout: 20_000, encoding: 'buffer', maxBuffer: 64 * 1024 * 1024 });
    if (result.code !== 0) throw new Error(`screenshot failed: ${result.stderr}`);
    return result.stdout;
  }

  // Another program's window over the screen's top left corner, as if the user had switched away.
  // X11 startup notification needs no token from it: a second launch is raised all the same.
  async coverWindow({ width, height }) {
    const handle = startProcess('xmessage', ['-geometry', `${width}x${height}+0+0`, '-name', 'cover', 'cover']);
    const [id] = await waitFor('the covering window', async () => {
      const found = await this.windowsNamed('^cover$');
      return found.length ? found : false;
    });
    return { id, launchEnvironment: async () => ({}), stop: () => stopProcess(handle) };
  }

  // A screen of another size: a display of its own, which the app and the tools use from now on;
  // 1920 x 1080 goes back to the lane's own.
  async setScreenSize(width, height) {
    if (this.ownScreen) {
      await this.ownScreen.stop();
      process.env.DISPLAY = this.laneDisplay;
      this.ownScreen = null;
    }
    if (width === 1920 && height === 1080) return;
    this.laneDisplay = process.env.DISPLAY;
    this.ownScreen = await startX11Lane(`${width}x${height}`);
    process.env.DISPLAY = this.ownScreen.env.DISPLAY;
  }

  // Whether the display still answers a new client.
  async answers() {
    const probe = await run('xdotool', ['getdisplaygeometry'], { timeout: 5_000 });
    return probe.code === 0 ? null : probe.stderr.trim().split('\n').at(-1);
  }
}
