// Reads the app's windows the way a screen reader does, over the accessibility bus with gdbus.
//
// Alert texts are plain labels that cannot be selected or copied, so this is how a test reads
// what an alert says.
import { run, waitFor } from './util.mjs';

async function gdbus(address, dest, objectPath, method, ...args) {
  const result = await run('gdbus', ['call', '--address', address, '--dest', dest, '--object-path', objectPath, '--method', method, ...args], { timeout: 5000 });
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

async function node(address, ref, depth) {
  const [role, name, children] = await Promise.all([
    gdbus(address, ref.bus, ref.path, 'org.a11y.atspi.Accessible.GetRoleName').then(parseString),
    gdbus(address, ref.bus, ref.path, 'org.freedesktop.DBus.Properties.Get', 'org.a11y.atspi.Accessible', 'Name').then(parseString),
    gdbus(address, ref.bus, ref.path, 'org.a11y.atspi.Accessible.GetChildren').then(parseChildren),
  ]);
  const kids = depth > 12 ? [] : await Promise.all(children.map((c) => node(address, c, depth + 1)));
  return { role, name, children: kids };
}

// The accessible tree of the application whose process is `pid`, or null if it has not
// registered (yet).
export async function applicationTree(sessionBus, pid) {
  const address = await accessibilityBus(sessionBus);
  const apps = parseChildren(await gdbus(address, 'org.a11y.atspi.Registry', '/org/a11y/atspi/accessible/root', 'org.a11y.atspi.Accessible.GetChildren'));
  for (const app of apps) {
    const owner = await gdbus(address, 'org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus.GetConnectionUnixProcessID', app.bus).catch(() => '');
    if (owner === `(uint32 ${pid},)`) return node(address, app, 0);
  }
  return null;
}

function flatten(tree, out = []) {
  out.push(tree);
  for (const child of tree.children) flatten(child, out);
  return out;
}

// The app's windows other than the main one (titled "Lorvane"), each with its label and button
// texts in order.
export async function dialogs(sessionBus, pid) {
  const tree = await applicationTree(sessionBus, pid);
  if (!tree) return [];
  return tree.children
    .filter((w) => w.role === 'window' && w.name !== 'Lorvane')
    .map((w) => {
      const all = flatten(w);
      return {
        labels: all.filter((n) => n.role === 'label' && !all.some((b) => b.role === 'button' && b.children.includes(n))).map((n) => n.name),
        buttons: all.filter((n) => n.role === 'button').map((n) => n.name),
      };
    });
}

export async function waitForDialog(sessionBus, pid, description, timeout = 15_000) {
  return waitFor(description, async () => {
    const open = await dialogs(sessionBus, pid);
    return open.length > 0 ? open : false;
  }, { timeout, interval: 250 });
}
