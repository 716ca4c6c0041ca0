// The Wayland lane: sway's headless backend, run with the app and every tool as an unprivileged user.
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { BUILD_DIR, run, startProcess, stopProcess, waitFor } from './util.mjs';

const LANE_USER = 'lorvane-wl';
const HELPERS = ['lorvane_wayland_keyboard', 'lorvane_wayland_window'];

// Windows are placed as a stacking desktop places them (floating, centred, at their own size)
// and drawn without decorations, so sizes and positions read the same as on the X11 lane. A
// valid activation token focuses its window, as GNOME and KDE do (sway's default only marks it
// urgent). Alt+F4 closes the focused window, as on the X11 lane's openbox.
const CONFIG = `output HEADLESS-1 resolution 1920x1080 position 0 0
xwayland disable
default_border none
default_floating_border none
for_window [app_id=".*"] floating enable
focus_on_window_activation focus
bindsym Mod1+F4 kill
`;

function installed(program) {
  return (process.env.PATH ?? '').split(':').some((dir) => fs.existsSync(path.join(dir, program)));
}

function idOf(flag, name) {
  try {
    return Number(execFileSync('id', [flag, name], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] }).trim());
  } catch {
    return null;
  }
}

// sway refuses to run as root, so a root run gets a system user of its own, made once and never
// removed; anybody else runs everything as themselves.
function laneUser() {
  if (process.getuid() !== 0) return { uid: process.getuid(), gid: process.getgid() };
  if (idOf('-u', LANE_USER) === null) {
    try {
      execFileSync('useradd', ['--system', '--no-create-home', '--home-dir', '/nonexistent', '--shell', '/usr/sbin/nologin',
        '--user-group', LANE_USER], { stdio: 'ignore' });
    } catch {
      // Another lane may have made it a moment ago; asked again below.
    }
  }
  const uid = idOf('-u', LANE_USER);
  return uid === null ? null : { uid, gid: idOf('-g', LANE_USER) };
}

// Starts the compositor for one test run, or says why this machine cannot run it.
export async function startWaylandLane() {
  const missing = ['sway', 'swaymsg', 'grim', 'wl-paste', 'wtype'].filter((p) => !installed(p));
  if (missing.length) return { skip: `${missing.join(', ')} not installed (scripts/install-deps.sh installs them)` };
  const user = laneUser();
  if (!user) return { skip: `cannot create the unprivileged user ${LANE_USER} that sway needs when the tests run as root` };

  // The lane's own runtime folder (0700, the user's), holding the sockets, the configuration
  // and copies of the helpers, so that nothing of the build tree needs to be open to the user.
  const runtime = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-wayland-'));
  const bin = path.join(runtime, 'bin');
  fs.mkdirSync(bin);
  const helpers = process.env.LORVANE_DESKTOP_HELPERS ?? path.join(BUILD_DIR, 'tests/desktop');
  for (const helper of HELPERS) {
    if (fs.existsSync(path.join(helpers, helper))) fs.copyFileSync(path.join(helpers, helper), path.join(bin, helper));
  }
  fs.writeFileSync(path.join(runtime, 'sway.config'), CONFIG);
  for (const entry of [runtime, bin, ...fs.readdirSync(bin).map((h) => path.join(bin, h)), path.join(runtime, 'sway.config')]) {
    fs.chownSync(entry, user.uid, user.gid);
  }
  fs.chmodSync(runtime, 0o700);

  const env = {
    PATH: process.env.PATH, HOME: runtime, XDG_RUNTIME_DIR: runtime,
    WLR_BACKENDS: 'headless', WLR_LIBINPUT_NO_DEVICES: '1', WLR_RENDERER: 'pixman',
  };
  const sway = startProcess('sway', ['-c', path.join(runtime, 'sway.config')], { env, cwd: runtime, as: user });
  const stop = async () => {
    await stopProcess(sway);
    fs.rmSync(runtime, { recursive: true, force: true });
  };
  try {
    const sockets = await waitFor('sway to listen', () => {
      if (sway.child.exitCode !== null) throw new Error(`sway exited (${sway.child.exitCode}): ${sway.stderr().trim().split('\n').slice(-5).join(' / ')}`);
      const names = fs.readdirSync(runtime);
      const display = names.find((n) => /^wayland-\d+$/.test(n));
      const ipc = names.find((n) => n.startsWith('sway-ipc.') && n.endsWith('.sock'));
      return display && ipc ? { display, ipc: path.join(runtime, ipc) } : false;
    }, { timeout: 20_000 });
    return {
      env: {
        LORVANE_LANE: 'wayland', LORVANE_LANE_USER: `${user.uid}:${user.gid}`, LORVANE_WAYLAND_TOOLS: bin,
        WAYLAND_DISPLAY: sockets.display, XDG_RUNTIME_DIR: runtime, SWAYSOCK: sockets.ipc,
      },
      // GTK picks Wayland when it finds WAYLAND_DISPLAY; nothing of X may be left to pick.
      unset: ['DISPLAY'],
      stop,
    };
  } catch (err) {
    await stop();
    throw err;
  }
}

// Reads a child's output one line at a time.
function lines(stream) {
  let buffered = '';
  const waiting = [];
  const ready = [];
  stream.setEncoding('utf8');
  stream.on('data', (d) => {
    buffered += d;
    for (let at = buffered.indexOf('\n'); at >= 0; at = buffered.indexOf('\n')) {
      const line = buffered.slice(0, at);
      buffered = buffered.slice(at + 1);
      if (waiting.length) waiting.shift()(line); else ready.push(line);
    }
  });
  return (description, timeout = 10_000) => (ready.length ? Promise.resolve(ready.shift()) : new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`timed out after ${timeout} ms waiting for ${description}`)), timeout);
    waiting.push((line) => { clearTimeout(timer); resolve(line); });
  }));
}

// A helper that answers commands on stdin line by line, kept from holding the test process open.
function commandHelper(program, args, as) {
  const child = spawn(program, args, { stdio: ['pipe', 'pipe', 'pipe'], uid: as.uid, gid: as.gid });
  let stderr = '';
  child.stderr.on('data', (d) => { stderr += d; });
  const next = lines(child.stdout);
  const hold = (held) => {
    for (const item of [child, child.stdin, child.stdout, child.stderr]) (held ? item.ref : item.unref).call(item);
  };
  hold(false);
  process.once('exit', () => child.kill());
  return {
    child,
    stderr: () => stderr,
    async read(description, timeout) {
      hold(true);
      try {
        return await next(description, timeout);
      } catch (err) {
        throw new Error(`${err.message} from ${path.basename(program)}${stderr ? `: ${stderr.trim()}` : ''}`);
      } finally {
        hold(false);
      }
    },
    async ask(line, description) {
      child.stdin.write(`${line}\n`);
      return this.read(description);
    },
  };
}

function views(node, out = []) {
  if (node.pid && (node.type === 'con' || node.type === 'floating_con')) out.push(node);
  for (const child of [...(node.nodes ?? []), ...(node.floating_nodes ?? [])]) views(child, out);
  return out;
}

export class WaylandLane {
  name = 'wayland';

  // sway 1.7 gives an activated floating window the keyboard but leaves it where it lies in the
  // stack; only its own focus command raises one.
  raisesActivatedWindows = false;

  constructor() {
    const [uid, gid] = (process.env.LORVANE_LANE_USER ?? '').split(':').map(Number);
    // Who runs the app and the tools: the lane's user, whose runtime folder holds the compositor.
    this.user = { uid, gid };
    this.tools = process.env.LORVANE_WAYLAND_TOOLS;
    this.layout = {};
  }

  // A seat without a keyboard tells no window that it has the focus, and a keyboard that comes
  // later does not make up for it: the keyboard is there before the first window.
  async prepareLaunch() {
    await this.keyboard();
  }

  async swaymsg(...args) {
    const result = await run('swaymsg', args, { as: this.user, timeout: 10_000 });
    if (result.code !== 0) throw new Error(`swaymsg ${args.join(' ')} failed: ${result.stderr.trim() || result.stdout.trim()}`);
    return result.stdout;
  }

  async views() {
    return views(JSON.parse(await this.swaymsg('-t', 'get_tree', '-r')));
  }

  async windowsOf(pid) {
    return (await this.views()).filter((v) => v.pid === pid).map((v) => v.id);
  }

  async windowsNamed(pattern) {
    const re = new RegExp(pattern);
    return (await this.views()).filter((v) => re.test(v.name ?? '')).map((v) => v.id);
  }

  async view(id) {
    const found = (await this.views()).find((v) => v.id === id);
    if (!found) throw new Error(`no window ${id} on the compositor`);
    return found;
  }

  async windowName(id) {
    return (await this.view(id)).name ?? '';
  }

  async windowGeometry(id) {
    const { rect } = await this.view(id);
    return { X: rect.x, Y: rect.y, WIDTH: rect.width, HEIGHT: rect.height };
  }

  // Wayland windows hand no icon over; the compositor finds it by the app id.
  async windowIconSizes() {
    return null;
  }

  async windowAppId(id) {
    return (await this.view(id)).app_id ?? null;
  }

  async resize(id, width, height) {
    await this.swaymsg(`[con_id=${id}]`, 'resize', 'set', 'width', `${width}px`, 'height', `${height}px`);
  }

  async focus(id) {
    await this.swaymsg(`[con_id=${id}]`, 'focus');
  }

  async focused() {
    return (await this.views()).find((v) => v.focused)?.id ?? null;
  }

  async urgent(id) {
    return (await this.view(id)).urgent;
  }

  // Bottom first: a workspace's tiled windows, then its floating ones, the last raised on top.
  async stackingOrder() {
    const workspaces = [];
    const walk = (node) => {
      if (node.type === 'workspace') workspaces.push(node);
      for (const child of node.nodes ?? []) walk(child);
    };
    walk(JSON.parse(await this.swaymsg('-t', 'get_tree', '-r')));
    return workspaces.flatMap((ws) => [...views({ nodes: ws.nodes }), ...views({ nodes: ws.floating_nodes })].map((v) => v.id));
  }

  // The compositor manages the windows itself.
  async windowManagerRunning() {
    return true;
  }

  async startWindowManager() {
    return null;
  }

  // The lane's keyboard: one virtual keyboard for the test run, with the layout last set.
  keyboard() {
    if (!this.keys) {
      const { layout = 'us', variant = '', options = '', group = 0 } = this.layout;
      const program = path.join(this.tools, 'lorvane_wayland_keyboard');
      const args = ['--layout', layout, '--variant', variant, '--options', options, '--group', String(group)];
      const helper = commandHelper(program, args, this.user);
      this.keys = helper.read('the virtual keyboard to start').then((line) => {
        if (line !== 'ready') throw new Error(`the virtual keyboard did not start: ${line} ${helper.stderr()}`);
        return helper;
      });
    }
    return this.keys;
  }

  // Chords of keysym names (ctrl+q, alt+shift+v, F10) or X keycodes (64+50+55), pressed as the
  // physical keys of a keyboard with the lane's layout. (wtype uploads a keymap of its own for
  // the keysyms it types, which is not what a person's keyboard sends.)
  async key(...chords) {
    const helper = await this.keyboard();
    const answer = await helper.ask(`press ${chords.join(' ')}`, `the keys ${chords.join(' ')} to be pressed`);
    if (answer !== 'ok') throw new Error(`pressing ${chords.join(' ')} failed: ${answer}`);
  }

  // The new keyboard comes before the old one goes, so that the seat never stands without one.
  async setKeyboardLayout(layout = {}) {
    const old = this.keys;
    this.keys = null;
    this.layout = layout;
    await this.keyboard();
    if (old) {
      const helper = await old;
      helper.child.stdin.end();
      await new Promise((resolve) => (helper.child.exitCode !== null ? resolve() : helper.child.once('exit', resolve)));
    }
  }

  // sway has no minimised windows: it ignores the request, and nothing shows whether one was made.
  async minimized() {
    return null;
  }

  // Text, with a keymap made for its characters: what wtype is for.
  async type(text) {
    const result = await run('wtype', ['-d', '20', text], { as: this.user, timeout: 30_000 });
    if (result.code !== 0) throw new Error(`wtype failed: ${result.stderr}`);
  }

  async clipboard() {
    const result = await run('wl-paste', ['--no-newline'], { as: this.user, timeout: 5_000 });
    return result.code === 0 ? result.stdout : '';
  }

  // The screen, or an area of it, as a binary PPM image.
  async screenPpm(area) {
    const geometry = area ? ['-g', `${area.x},${area.y} ${area.width}x${area.height}`] : [];
    const result = await run('grim', ['-t', 'ppm', ...geometry, '-'], { as: this.user, timeout: 20_000, encoding: 'buffer', maxBuffer: 64 * 1024 * 1024 });
    if (result.code !== 0) throw new Error(`reading the screen failed: ${result.stderr}`);
    return result.stdout;
  }

  async screenshotPng() {
    const result = await run('grim', ['-t', 'png', '-'], { as: this.user, timeout: 20_000, encoding: 'buffer', maxBuffer: 64 * 1024 * 1024 });
    if (result.code !== 0) throw new Error(`screenshot failed: ${result.stderr}`);
    return result.stdout;
  }

  // Another program's window, focused over the app as if the user had switched to it. Its
  // launchEnvironment() is what a launcher hands a program the user starts from there: an
  // activation token tied to this window and the user's last input in it.
  async coverWindow({ width, height }) {
    await this.keyboard();
    const program = path.join(this.tools, 'lorvane_wayland_window');
    const helper = commandHelper(program, ['--title', 'cover', '--app-id', 'lorvane.test.cover', '--size', `${width}x${height}`], this.user);
    await helper.read('the covering window to get the keyboard', 20_000);
    const id = await waitFor('the covering window', async () => (await this.views()).find((v) => v.app_id === 'lorvane.test.cover' && v.focused)?.id ?? false);
    return {
      id,
      launchEnvironment: async () => {
        const answer = await helper.ask('token', 'an activation token');
        if (!answer.startsWith('token ')) throw new Error(`no activation token: ${answer}`);
        return { XDG_ACTIVATION_TOKEN: answer.slice('token '.length) };
      },
      stop: async () => {
        helper.child.kill();
        if (helper.child.exitCode === null) await new Promise((resolve) => helper.child.once('exit', resolve));
      },
    };
  }

  async setScreenSize(width, height) {
    await this.swaymsg('output', 'HEADLESS-1', 'resolution', `${width}x${height}`);
  }

  // Whether the compositor still answers a new client.
  async answers() {
    return this.swaymsg('-t', 'get_version').then(() => null, (err) => err.message);
  }
}
