// The display a test file runs on, as a person meets it: windows, keys, the clipboard and the screen.
//
// LORVANE_LANE picks the lane: X11 on a private Xvfb with openbox, or Wayland on sway's headless
// backend, run with the app and every tool as an unprivileged user. Both offer the same operations,
// so one test body serves both. The lane and a session bus of its own start when a test file
// imports this module and end with it; where this machine cannot run the lane, the file exits with
// ctest's skip status and says why.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { run, runChecked, startProcess, stopProcess, waitFor } from './util.mjs';

const kind = process.env.LORVANE_LANE ?? 'x11';
const LANE_USER = 'lorvane-wl';
// The lane's own folder: its bus, and on Wayland the compositor's runtime folder and the tools its
// user runs, so that nothing of the build tree need be open to that user.
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'lorvane-lane-'));
const tool = (file) => (kind === 'wayland' ? path.join(dir, path.basename(file)) : file);
const COVER = new URL('./cover.py', import.meta.url).pathname;
const KEYBOARD = `${process.env.LORVANE_DESKTOP_HELPERS}/lorvane_${kind}_keyboard`;

// What the lane started lives as long as the tests need it, without holding the test process open,
// and ends with it however it ends.
const owned = [];
const own = (handle) => {
  for (const item of [handle.child, handle.child.stdin, handle.child.stdout, handle.child.stderr]) item?.unref?.();
  return owned.push(handle) && handle;
};
process.on('exit', () => {
  for (const handle of owned) handle.child.kill('SIGKILL');
  fs.rmSync(dir, { recursive: true, force: true });
});
for (const signal of ['SIGTERM', 'SIGINT']) process.on(signal, () => process.exit(1));

const x11 = {
  launchVariable: 'DESKTOP_STARTUP_ID',
  // The windows openbox manages, with their pid, title and frame, and which has the keyboard.
  async views() {
    const active = parseInt(/# (0x[0-9a-f]+)/.exec((await run('xprop', ['-root', '_NET_ACTIVE_WINDOW'])).stdout)?.[1], 16);
    return (await run('wmctrl', ['-lpG'])).stdout.split('\n').filter(Boolean).map((line) => {
      const [id, , pid, x, y, width, height, , ...title] = line.split(/\s+/);
      return { id: parseInt(id, 16), pid: +pid, x: +x, y: +y, width: +width, height: +height, name: title.join(' '), focused: parseInt(id, 16) === active };
    });
  },
  focus: (id) => run('wmctrl', ['-i', '-a', `0x${id.toString(16)}`]),
  // Keys go through XTEST by a helper of ours: xdotool locks the first layout group around every key.
  press: (chords) => runChecked(KEYBOARD, chords),
  setLayout: (layouts) => runChecked('setxkbmap', ['-layout', layouts]),
  clipboard: async () => (await run('xclip', ['-o', '-selection', 'clipboard'])).stdout,
  screen: ({ x, y, width, height }) => runChecked('import', ['-window', 'root', '-crop', `${width}x${height}+${x}+${y}`, '-depth', '8', 'ppm:-'], { encoding: 'buffer' }),
};

async function startX11() {
  // Xvfb takes the number's lock file itself and says on descriptor 3 once it takes clients (a
  // number chosen by -displayfd alone goes by the sockets it can bind, and in a private network
  // another run's socket is out of sight). Without -noreset it would start afresh whenever its
  // last client leaves, refusing the next app meanwhile.
  for (let number = 200 + (process.pid % 500); !process.env.DISPLAY; number += 1) {
    const xvfb = startProcess('Xvfb', [`:${number}`, '-displayfd', '3', '-screen', '0', '1920x1080x24', '-nolisten', 'tcp', '-noreset'],
      { stdio: ['ignore', 'ignore', 'pipe', 'pipe'] });
    if (await new Promise((resolve) => { xvfb.child.stdio[3].once('data', resolve); xvfb.child.once('exit', () => resolve(false)); })) {
      own(xvfb).child.stdio[3].unref();
      process.env.DISPLAY = `:${number}`;
    } else if (!/already active|lock/i.test(xvfb.stderr())) throw new Error(`Xvfb :${number} ended at start: ${xvfb.stderr()}`);
  }
  const wm = own(startProcess('openbox', ['--sm-disable'], { env: { ...process.env, HOME: dir, XDG_CONFIG_HOME: dir } }));
  await waitFor('openbox to manage the display', () => (wm.child.exitCode !== null ? new Error(`openbox ended: ${wm.stderr()}`)
    : run('wmctrl', ['-m']).then((r) => r.code === 0)), { timeout: 20_000 });
  return x11;
}

const swaymsg = (...args) => runChecked('swaymsg', args, { as: wayland.user });
const wayland = {
  launchVariable: 'XDG_ACTIVATION_TOKEN',
  // sway's windows, found in its tree.
  async views() {
    const found = [];
    const walk = (node) => {
      if (node.pid && ['con', 'floating_con'].includes(node.type)) found.push({ ...node.rect, id: node.id, pid: node.pid, name: node.name, focused: node.focused });
      [...node.nodes, ...node.floating_nodes].forEach(walk);
    };
    walk(JSON.parse(await swaymsg('-t', 'get_tree', '-r')));
    return found;
  },
  focus: (id) => swaymsg(`[con_id=${id}]`, 'focus'),
  async press(chords) {
    const answer = await wayland.keyboard.ask(chords.join(' '));
    if (answer !== 'ok') throw new Error(`pressing ${chords} failed: ${answer}`);
  },
  // The new keyboard comes before the old one goes: a seat without a keyboard tells no window
  // that it has the focus, and one that comes later does not make up for it.
  async setLayout(layouts) {
    const keyboard = own(startProcess(tool(KEYBOARD), [layouts], { as: wayland.user, stdio: ['pipe', 'pipe', 'pipe'] }));
    const ready = await keyboard.ask();
    if (ready !== 'ready') throw new Error(`the virtual keyboard did not start: ${ready}`);
    wayland.keyboard?.child.stdin.end();
    wayland.keyboard = keyboard;
  },
  screen: ({ x, y, width, height }) => runChecked('grim', ['-t', 'ppm', '-g', `${x},${y} ${width}x${height}`, '-'], { as: wayland.user, encoding: 'buffer' }),
};

async function startWayland() {
  // sway refuses to run as root: a root run gets a system user of its own, made once and kept.
  if (process.getuid() === 0 && (await run('id', [LANE_USER])).code !== 0) {
    await run('useradd', ['--system', '--no-create-home', '--home-dir', '/nonexistent', '--shell', '/usr/sbin/nologin', '--user-group', LANE_USER]);
  }
  const id = async (flag) => Number(await runChecked('id', [flag, LANE_USER]).catch(() => NaN));
  wayland.user = process.getuid() === 0 ? { uid: await id('-u'), gid: await id('-g') } : { uid: process.getuid(), gid: process.getgid() };
  if (Number.isNaN(wayland.user.uid)) return `the unprivileged user ${LANE_USER} that sway needs under root cannot be made`;
  // A valid activation token gives its window the keyboard, as GNOME and KDE do.
  fs.writeFileSync(path.join(dir, 'sway.config'), 'output HEADLESS-1 resolution 1920x1080\nxwayland disable\nfocus_on_window_activation focus\n');
  for (const file of [KEYBOARD, COVER]) fs.copyFileSync(file, tool(file));
  for (const entry of ['', ...fs.readdirSync(dir)]) fs.chownSync(path.join(dir, entry), wayland.user.uid, wayland.user.gid);
  fs.chmodSync(dir, 0o700);
  Object.assign(process.env, { XDG_RUNTIME_DIR: dir, WLR_BACKENDS: 'headless', WLR_LIBINPUT_NO_DEVICES: '1', WLR_RENDERER: 'pixman' });
  delete process.env.DISPLAY;
  const sway = own(startProcess('sway', ['-c', path.join(dir, 'sway.config')], { as: wayland.user, cwd: dir, env: { ...process.env, HOME: dir } }));
  const [display, ipc] = await waitFor('sway to listen', () => {
    const sockets = [/^wayland-\d+$/, /^sway-ipc\..*\.sock$/].map((name) => fs.readdirSync(dir).find((n) => name.test(n)));
    return sway.child.exitCode === null ? sockets.every(Boolean) && sockets : new Error(`sway ended: ${sway.stderr()}`);
  }, { timeout: 20_000 });
  Object.assign(process.env, { WAYLAND_DISPLAY: display, SWAYSOCK: path.join(dir, ipc) });
  await wayland.setLayout('us');
  return wayland;
}

export const lane = await (kind === 'wayland' ? startWayland() : startX11());
if (typeof lane === 'string') {
  process.stderr.write(`SKIPPED, this machine cannot run the ${kind} lane: ${lane}\n`);
  process.exit(77);
}

// The session bus of every app the file starts, its user's own.
process.env.DBUS_SESSION_BUS_ADDRESS = `unix:path=${dir}/bus`;
const bus = own(startProcess('dbus-daemon', ['--session', '--nofork', `--address=${process.env.DBUS_SESSION_BUS_ADDRESS}`], { as: lane.user }));
await waitFor('the session bus', () => (bus.child.exitCode === null ? fs.existsSync(`${dir}/bus`) : new Error(bus.stderr())));

// Keys by name as X keycodes of a pc105 keyboard (the evdev code plus 8): the key, whatever the layout.
const KEYS = { tab: 23, q: 24, return: 36, ctrl: 37, a: 38, shift: 50, c: 54, v: 55, alt: 64, space: 65, f4: 70 };

// Presses chords one after the other, each keys joined by '+' ('ctrl+q', '64+50+55'): names or keycodes.
export const press = (...chords) => lane.press(chords.map((chord) => String(chord).split('+').map((k) => KEYS[k] ?? k).join('+')));

export const view = async (id) => (await lane.views()).find((v) => v.id === id);

// What a window shows, selected and copied as a person quoting a page does, once `predicate` holds.
export const waitForText = (what, id, predicate, timeout = 20_000) => waitFor(what, async () => {
  await lane.focus(id);
  await press('ctrl+a', 'ctrl+c');
  const text = await lane.clipboard();
  return predicate(text) ? text : new Error(`the window shows ${JSON.stringify(text.slice(0, 300))}`);
}, { timeout, interval: 300 });

// The pixels of a part of the screen, row by row, as [r, g, b] triples.
export async function pixelsIn(rect) {
  const ppm = await lane.screen(rect);
  const header = /^P6\s+\d+\s+\d+\s+\d+\s/.exec(ppm.toString('latin1', 0, 32))[0].length;
  return Array.from({ length: (ppm.length - header) / 3 }, (_, i) => [...ppm.subarray(header + 3 * i, header + 3 * i + 3)]);
}

// Another program's window, with the keyboard. Returns what a launcher started from it hands the
// program it starts: an activation token on Wayland, a startup id on X11, each vouched for by the
// person's last key there.
export async function coverWindow(t) {
  const cover = startProcess('/usr/bin/python3', [tool(COVER)], { as: lane.user, stdio: ['pipe', 'pipe', 'pipe'] });
  t.after(() => stopProcess(cover));
  await waitFor('the covering window to get the keyboard', async () => (await lane.views()).find((v) => v.name === 'cover' && v.focused));
  await press('shift');
  const answer = await cover.ask('token');
  if (!answer.startsWith('token ')) throw new Error(`no activation token: ${answer}`);
  return { [lane.launchVariable]: answer.slice('token '.length) };
}
