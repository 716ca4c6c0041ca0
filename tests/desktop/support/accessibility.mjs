// Reads the app's windows the way a screen reader does, over the accessibility bus with gdbus.
//
// Alert texts are plain labels that cannot be selected or copied, so this is how a test reads
// what an alert says.
import { run, waitFor } from './util.mjs';
import { lane } from './desktop.mjs';

async function gdbus(address, dest, objectPath, method, ...args) {
  const result = await run('gdbus', ['call', '--address', address, '--dest', dest, '--object-path', objectPath, '--method', method, ...args], { timeout: 5000, as: lane().user });
  if (result.code !== 0) throw new Error(`gdbus ${method} on ${dest}${objectPath}: ${result.stderr.trim()}`);
  return result.stdout.trim();
}

// gdbus prints GVariant text: ('label',) or (<'Доступно обновление'>,), with \' or "…" for quotes.
function parseString(text) {
  const match = /^\(<?(['"])([\s\S]*)\1>?,\)$/.exec(text);
  if (!match) return text;
  return match[2].replace(/\\(.)/g, '$1');
}

function parseChildren(text) {
  return [...text.matchAll(/\('([^']+)', (?:objectpath )?'([^']+)'\)/g)].map((m) => ({ bus: m[1], path: m[2] }));
}

export async function accessibilityBus(sessionBus) {
  const answer = await gdbus(sessionBus, 'org.a11y.Bus', '/org/a11y/bus', 'org.a11y.Bus.GetAddress');
  return parseString(answer);
}

async function describe(address, ref) {
  const [role, name] = await Promise.all([
    gdbus(address, ref.bus, ref.path, 'org.a11y.atspi.Accessible.GetRoleName').then(parseString),
    gdbus(address, ref.bus, ref.path, 'org.freedesktop.DBus.Properties.Get', 'org.a11y.atspi.Accessible', 'Name').then(parseString),
  ]);
  return { role, name };
}

async function childrenOf(address, ref) {
  return parseChildren(await gdbus(address, ref.bus, ref.path, 'org.a11y.atspi.Accessible.GetChildren'));
}

async function subtree(address, ref, depth = 0) {
  const [self, children] = await Promise.all([describe(address, ref), childrenOf(address, ref)]);
  const kids = depth > 12 ? [] : await Promise.all(children.map((c) => subtree(address, c, depth + 1)));
  return { ...self, children: kids };
}

// The application whose process is `pid` on the accessibility bus, or null if it has not
// registered (yet).
async function application(sessionBus, pid) {
  const address = await accessibilityBus(sessionBus);
  const apps = await childrenOf(address, { bus: 'org.a11y.atspi.Registry', path: '/org/a11y/atspi/accessible/root' });
  for (const app of apps) {
    const owner = await gdbus(address, 'org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus.GetConnectionUnixProcessID', app.bus).catch(() => '');
    if (owner === `(uint32 ${pid},)`) return { address, ref: app };
  }
  return null;
}

function flatten(tree, out = []) {
  out.push(tree);
  for (const child of tree.children) flatten(child, out);
  return out;
}

// The app's windows other than the main one (titled "Lorvane"), each with its label and button
// texts in order. The main window's subtree is not walked: it is large and of no interest here.
export async function dialogs(sessionBus, pid) {
  const app = await application(sessionBus, pid);
  if (!app) return [];
  const windows = await childrenOf(app.address, app.ref);
  const found = [];
  for (const ref of windows) {
    const { role, name } = await describe(app.address, ref);
    if (role !== 'window' || name === 'Lorvane') continue;
    const all = flatten(await subtree(app.address, ref));
    found.push({
      labels: all.filter((n) => n.role === 'label' && !all.some((b) => b.role === 'button' && b.children.includes(n))).map((n) => n.name),
      buttons: all.filter((n) => n.role === 'button').map((n) => n.name),
    });
  }
  return found;
}

export async function waitForDialog(sessionBus, pid, description, timeout = 15_000) {
  return waitFor(description, async () => {
    const open = await dialogs(sessionBus, pid);
    return open.length > 0 ? open : false;
  }, { timeout, interval: 250 });
}

// The items of the menu open in the app's main window, each with whether it can be chosen
// (AT-SPI's "sensitive" state, bit 24: a greyed-out item lacks it).
export async function openMenuItems(sessionBus, pid) {
  const app = await application(sessionBus, pid);
  if (!app) return [];
  const items = [];
  const walk = async (ref, inMenu) => {
    const { role, name } = await describe(app.address, ref);
    if (role === 'menu item' && inMenu) {
      const [low] = /uint32 (\d+)/.exec(await gdbus(app.address, ref.bus, ref.path, 'org.a11y.atspi.Accessible.GetState')).slice(1).map(Number);
      items.push({ name, sensitive: (low & (1 << 24)) !== 0 });
    }
    for (const child of await childrenOf(app.address, ref)) await walk(child, inMenu || role === 'menu');
  };
  for (const ref of await childrenOf(app.address, app.ref)) {
    if ((await describe(app.address, ref)).name === 'Lorvane') await walk(ref, false);
  }
  return items;
}
