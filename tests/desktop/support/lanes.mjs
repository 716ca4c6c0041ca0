// The display a test file runs on, as a person meets it: windows, keys, the clipboard and the screen.
//
// LORVANE_LANE picks the lane: X11 on a private Xvfb with openbox, or Wayland on sway's headless
// backend, run with the app and every tool as an unprivileged user. Both offer the same operations,
// so one test body serves both. The lane starts when a test file imports this module and ends with
// it; where this machine cannot run it, the file exits with ctest's skip status and says why.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { run, runChecked, startProcess, stopProcess, waitFor } from './util.mjs';

const HELPERS = process.env.LORVANE_DESKTOP_HELPERS;
const COVER = new URL('./cover.py', import.meta.url).pathname;
const [WIDTH, HEIGHT] = (process.env.LORVANE_SCREEN ?? '1920x1080').split('x').map(Number);

// What the lane started, ended with the test process however it ends.
const owned = [];
process.on('exit', () => {
  for (const item of owned) {
    if (typeof item === 'string') fs.rmSync(item, { recursive: true, force: true });
    else item.child.kill('SIGKILL');
  }
});
for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) process.on(signal, () => process.exit(128 + os.constants.signals[signal]));

// A lane process lives as long as the tests need it, without holding the test process open.
function own(handle) {
  for (const item of [handle.child, handle.child.stdin, handle.child.stdout, handle.child.stderr]) item?.unref?.();
  owned.push(handle);
  return handle;
}

const hex = (id) => `0x${id.toString(16)}`;

const x11 = {
  name: 'x11',
  user: null,
  // The windows the window manager manages, with their pid, title and frame, and which of them
  // has the keyboard.
  async views() {
    const active = parseInt(/# (0x[0-9a-f]+)/.exec((await run('xprop', ['-root', '_NET_ACTIVE_WINDOW'])).stdout)?.[1], 16);
    return (await run('wmctrl', ['-lpG'])).stdout.split('\n').filter(Boolean).map((line) => {
      const [id, , pid, x, y, width, height, , ...title] = line.split(/\s+/);
      const view = { id: parseInt(id, 16), pid: Number(pid), x: +x, y: +y, width: +width, height: +height };
      return { ...view, name: title.join(' '), focused: view.id === active };
    });
  },
  focus: (id) => run('wmctrl', ['-i', '-a', hex(id)]),
  resize: (id, width, height) => run('wmctrl', ['-i', '-r', hex(id), '-e', `0,-1,-1,${width},${height}`]),
  // Keys go through XTEST by a helper of ours: xdotool locks the first layout group around every key.
  press: (chords) => runChecked(`${HELPERS}/lorvane_x11_keyboard`, chords),
  async setLayout({ layout = 'us', options = '', group = 0 } = {}) {
    await runChecked('setxkbmap', ['-layout', layout, '-option', '', '-option', options]);
    await runChecked(`${HELPERS}/lorvane_x11_keyboard`, ['--group', String(group)]);
  },
  clipboard: async () => (await run('xclip', ['-o', '-selection', 'clipboard'])).stdout,
  screen: async ({ x, y, width, height }) => (await run('import', ['-window', 'root', '-crop', `${width}x${height}+${x}+${y}`,
    '-depth', '8', 'ppm:-'], { encoding: 'buffer' })).stdout,
  minimized: async (id) => /Iconic/.test((await run('xprop', ['-id', hex(id), 'WM_STATE'])).stdout),
  // The sizes of the icon a window hands the window manager, such as '48x48'.
  iconSizes: async (id) => (await run('xprop', ['-id', hex(id), '_NET_WM_ICON'])).stdout.match(/\d+ x \d+/g).map((s) => s.replace(' x ', 'x')),
  // An app's accessibility bus publishes its address on the root window, which outlives the app on
  // a server that is never reset: the next app would find the dead address there.
  beforeLaunch: () => run('xprop', ['-root', '-remove', 'AT_SPI_BUS']),
  launchVariable: 'DESKTOP_STARTUP_ID',
  tool: (file) => file,
};

async function startX11() {
  // Xvfb takes the number's lock file itself and says on descriptor 3 once it takes clients (a
  // number chosen by -displayfd alone goes by the sockets it can bind, and in a private network
  // another run's socket is out of sight). Without -noreset it would start afresh whenever its
  // last client leaves, refusing the next app meanwhile.
  for (let number = 200 + (process.pid % 500); ; number += 1) {
    const xvfb = startProcess('Xvfb', [`:${number}`, '-displayfd', '3', '-screen', '0', `${WIDTH}x${HEIGHT}x24`, '-nolisten', 'tcp', '-noreset'],
      { stdio: ['ignore', 'ignore', 'pipe', 'pipe'] });
    const up = await new Promise((resolve) => {
      xvfb.child.stdio[3].once('data', () => resolve(true));
      xvfb.child.once('exit', () => resolve(false));
    });
    if (up) {
      own(xvfb).child.stdio[3].unref();
      process.env.DISPLAY = `:${number}`;
      break;
    }
    if (!/already active|lock/i.test(xvfb.stderr())) throw new Error(`Xvfb :${number} ended at start: ${xvfb.stderr().trim()}`);
  }
  delete process.env.WAYLAND_DISPLAY;
  if (process.env.LORVANE_WINDOW_MANAGER === 'none') return x11;
  // Now and then on a loaded machine openbox quits at start without a word; a second start works.
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-wm-'));
  owned.push(home);
  for (let attempt = 1; ; attempt += 1) {
    const wm = own(startProcess('openbox', ['--sm-disable'], { env: { ...process.env, HOME: home, XDG_CONFIG_HOME: home } }));
    const managing = () => (wm.child.exitCode !== null ? 'ended' : run('wmctrl', ['-m']).then((r) => r.code === 0 && 'managing'));
    if (await waitFor('openbox to manage the display', managing, { timeout: 20_000 }) === 'managing') return x11;
    if (attempt === 3) throw new Error(`openbox ended at start: ${wm.stderr()}`);
  }
}

// Windows float at their own size, centred, without decorations, so sizes read as on X11; a valid
// activation token gives its window the keyboard, as GNOME and KDE do; Alt+F4 closes a window.
const SWAY_CONFIG = `output HEADLESS-1 resolution ${WIDTH}x${HEIGHT} position 0 0
xwayland disable
default_border none
default_floating_border none
for_window [app_id=".*"] floating enable
focus_on_window_activation focus
bindsym Mod1+F4 kill
`;
const LANE_USER = 'lorvane-wl';

const userId = (flag) => run('id', [flag, LANE_USER]).then((found) => (found.code === 0 ? Number(found.stdout) : null));

const wayland = {
  name: 'wayland',
  swaymsg: (...args) => runChecked('swaymsg', args, { as: wayland.user }),
  // sway's windows, found in its tree.
  async views() {
    const found = [];
    const walk = (node) => {
      if (node.pid && ['con', 'floating_con'].includes(node.type)) {
        found.push({ id: node.id, pid: node.pid, name: node.name ?? '', ...node.rect, focused: node.focused, appId: node.app_id });
      }
      for (const child of [...node.nodes, ...node.floating_nodes]) walk(child);
    };
    walk(JSON.parse(await wayland.swaymsg('-t', 'get_tree', '-r')));
    return found;
  },
  focus: (id) => wayland.swaymsg(`[con_id=${id}]`, 'focus'),
  resize: (id, width, height) => wayland.swaymsg(`[con_id=${id}]`, 'resize', 'set', 'width', `${width}px`, 'height', `${height}px`),
  async press(chords) {
    const answer = await wayland.keyboard.ask(chords.join(' '));
    if (answer !== 'ok') throw new Error(`pressing ${chords} failed: ${answer}`);
  },
  // The new keyboard comes before the old one goes: a seat without a keyboard tells no window
  // that it has the focus, and one that comes later does not make up for it.
  async setLayout({ layout = 'us', variant = '', options = '', group = 0 } = {}) {
    const keyboard = own(startProcess(wayland.tool('lorvane_wayland_keyboard'), [layout, variant, options, String(group)],
      { as: wayland.user, stdio: ['pipe', 'pipe', 'pipe'] }));
    const ready = await keyboard.ask();
    if (ready !== 'ready') throw new Error(`the virtual keyboard did not start: ${ready}`);
    wayland.keyboard?.child.stdin.end();
    wayland.keyboard = keyboard;
  },
  clipboard: async () => (await run('wl-paste', ['--no-newline'], { as: wayland.user })).stdout,
  screen: async ({ x, y, width, height }) => (await run('grim', ['-t', 'ppm', '-g', `${x},${y} ${width}x${height}`, '-'],
    { as: wayland.user, encoding: 'buffer' })).stdout,
  // sway keeps no minimised windows: the request is ignored and nothing shows it.
  minimized: async () => null,
  launchVariable: 'XDG_ACTIVATION_TOKEN',
  // The lane's tools run from its runtime folder, so nothing of the build tree need be open to its user.
  tool: (file) => path.join(process.env.XDG_RUNTIME_DIR, path.basename(file)),
};

async function startWayland() {
  for (const program of ['sway', 'swaymsg', 'grim', 'wl-paste']) {
    if ((await run('which', [program])).code !== 0) return `${program} is not installed (scripts/install-deps.sh installs it)`;
  }
  // sway refuses to run as root: a root run gets a system user of its own, made once and kept.
  if (process.getuid() === 0 && (await userId('-u')) === null) {
    await run('useradd', ['--system', '--no-create-home', '--home-dir', '/nonexistent', '--shell', '/usr/sbin/nologin', '--user-group', LANE_USER]);
  }
  wayland.user = process.getuid() === 0 ? { uid: await userId('-u'), gid: await userId('-g') } : { uid: process.getuid(), gid: process.getgid() };
  if (wayland.user.uid === null) return `the unprivileged user ${LANE_USER} that sway needs under root cannot be made`;
  const runtime = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-wayland-'));
  owned.push(runtime);
  fs.writeFileSync(path.join(runtime, 'sway.config'), SWAY_CONFIG);
  for (const file of [`${HELPERS}/lorvane_wayland_keyboard`, COVER]) fs.copyFileSync(file, path.join(runtime, path.basename(file)));
  for (const entry of ['', ...fs.readdirSync(runtime)]) fs.chownSync(path.join(runtime, entry), wayland.user.uid, wayland.user.gid);
  fs.chmodSync(runtime, 0o700);
  Object.assign(process.env, { XDG_RUNTIME_DIR: runtime, WLR_BACKENDS: 'headless', WLR_LIBINPUT_NO_DEVICES: '1', WLR_RENDERER: 'pixman' });
  delete process.env.DISPLAY;
  const sway = own(startProcess('sway', ['-c', path.join(runtime, 'sway.config')], { as: wayland.user, cwd: runtime, env: { ...process.env, HOME: runtime } }));
  const [display, ipc] = await waitFor('sway to listen', () => {
    const sockets = [/^wayland-\d+$/, /^sway-ipc\..*\.sock$/].map((name) => fs.readdirSync(runtime).find((n) => name.test(n)));
    return sway.child.exitCode === null ? sockets.every(Boolean) && sockets : new Error(`sway ended: ${sway.stderr().trim()}`);
  }, { timeout: 20_000 });
  Object.assign(process.env, { WAYLAND_DISPLAY: display, SWAYSOCK: path.join(runtime, ipc) });
  await wayland.setLayout();
  return wayland;
}

const kind = process.env.LORVANE_LANE ?? 'x11';
export const lane = await (kind === 'wayland' ? startWayland() : startX11());
if (typeof lane === 'string') {
  process.stderr.write(`SKIPPED, this machine cannot run the ${kind} lane: ${lane}\n`);
  process.exit(77);
}

// Keys by name as X keycodes of a pc105 keyboard (the evdev code plus 8): the key, whatever the layout.
const KEYS = {
  esc: 9, tab: 23, q: 24, return: 36, ctrl: 37, a: 38, h: 43, shift: 50, z: 52, x: 53, c: 54, v: 55, m: 58, alt: 64, space: 65, f4: 70,
  f10: 76, right: 114, down: 116,
};

// Presses chords one after the other, each keys joined by '+' ('ctrl+q', '64+50+55'): names or keycodes.
export const press = (...chords) => lane.press(chords.map((chord) => String(chord).split('+').map((k) => KEYS[k] ?? k).join('+')));

// The keyboard layout for one test, switched as a person switches it, and back to "us" after it.
export async function layoutForTest(t, layout) {
  t.after(() => lane.setLayout());
  await lane.setLayout(layout);
}

export const view = async (id) => (await lane.views()).find((v) => v.id === id);

// Selects all in a window and copies it, as a person quoting a page does.
export async function copyText(id) {
  await lane.focus(id);
  await press('ctrl+a', 'ctrl+c');
  return lane.clipboard();
}

export const waitForText = (what, id, predicate, timeout = 20_000) => waitFor(what, async () => {
  const text = await copyText(id);
  return predicate(text) ? text : new Error(`the window shows ${JSON.stringify(text.slice(0, 400))}`);
}, { timeout, interval: 300 });

// The pixels of a part of the screen, row by row, as [r, g, b] triples.
export async function pixelsIn(rect) {
  const ppm = await lane.screen(rect);
  const header = /^P6\s+\d+\s+\d+\s+\d+\s/.exec(ppm.toString('latin1', 0, 32))[0].length;
  const pixels = [];
  for (let i = header; i + 2 < ppm.length; i += 3) pixels.push([ppm[i], ppm[i + 1], ppm[i + 2]]);
  return pixels;
}

// How many colours the middle of a window shows: one where nothing has been painted on the background.
export async function coloursIn({ x, y, width, height }) {
  const pixels = await pixelsIn({ x: x + width / 2 - 200, y: y + height / 2 - 100, width: 400, height: 200 });
  return new Set(pixels.map(([r, g, b]) => (r << 16) | (g << 8) | b)).size;
}

// How many pixels of `rect` pass `test(r, g, b)`, and of how many.
export async function countPixels(rect, test) {
  const pixels = await pixelsIn(rect);
  return { count: pixels.filter(([r, g, b]) => test(r, g, b)).length, of: pixels.length };
}

// Another program's window over the app, with the keyboard, as if the person had switched to it.
// launchEnvironment() is what a launcher started from it hands the program it starts: an
// activation token on Wayland, a startup id on X11, each vouched for by the person's last key.
export async function coverWindow(t) {
  const cover = startProcess('/usr/bin/python3', [lane.tool(COVER)], { as: lane.user, stdio: ['pipe', 'pipe', 'pipe'] });
  t.after(() => stopProcess(cover));
  const found = await waitFor('the covering window to get the keyboard', async () => (await lane.views()).find((v) => v.name === 'cover' && v.focused));
  await press('shift');
  return {
    ...found,
    async launchEnvironment() {
      const answer = await cover.ask('token');
      if (!answer.startsWith('token ')) throw new Error(`no activation token: ${answer}`);
      return { [lane.launchVariable]: answer.slice('token '.length) };
    },
  };
}
